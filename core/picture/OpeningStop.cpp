#include "core/picture/OpeningStop.h"

#include "db/DataAccess.h"

#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

void GiveWayToStores()
{
    // Linux keeps a nice value per thread: this one only.
    setpriority(PRIO_PROCESS, id_t(gettid()), 10);
}

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
    // One entry: the same attachment may be watched twice (the opening and its caller).
    auto it = std::find(stop_->watched_.begin(), stop_->watched_.end(), &db_);
    if (it != stop_->watched_.end())
        stop_->watched_.erase(it);
}
