#include "core/picture/OpeningStop.h"

#include "db/DataAccess.h"

#include <algorithm>

void OpeningStop::Stop()
{
    stopped_ = true;
    std::lock_guard lock(mutex_);
    for (DataAccess *db : watched_)
        db->CancelCall();
}

OpeningStop::Watching::Watching(OpeningStop *stop, DataAccess &db) : stop_(stop), db_(db)
{
    if (!stop_)
        return;
    std::lock_guard lock(stop_->mutex_);
    stop_->watched_.push_back(&db_);
}

OpeningStop::Watching::~Watching()
{
    if (!stop_)
        return;
    std::lock_guard lock(stop_->mutex_);
    stop_->watched_.erase(std::remove(stop_->watched_.begin(), stop_->watched_.end(), &db_), stop_->watched_.end());
}
