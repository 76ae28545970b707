#include "db/EventWatcher.h"

#include "db/CallWatchdog.h"
#include "db/DataAccess.h"
#include "db/Isc.h"

#include <chrono>
#include <cstring>
#include <mutex>

struct EventWatcher::Shared {
    std::mutex m;
    std::function<void()> onEvent; // empty once the watcher is gone
    ISC_UCHAR *events = nullptr;
    ISC_UCHAR *result = nullptr;
    short length = 0;
    bool armed = false;
    bool delivered = false; // the result holds counts not yet taken
    bool orphaned = false;

    ~Shared()
    {
        if (events)
            isc_free(reinterpret_cast<ISC_SCHAR *>(events));
        if (result)
            isc_free(reinterpret_cast<ISC_SCHAR *>(result));
    }
};

namespace {
// The client library's event thread.
void delivered(void *arg, ISC_USHORT length, const ISC_UCHAR *updated)
{
    auto *s = static_cast<EventWatcher::Shared *>(arg);
    bool drop = false;
    {
        std::lock_guard<std::mutex> lock(s->m);
        s->armed = false;
        if (updated && length > 0) {
            std::memcpy(s->result, updated, std::min<size_t>(length, size_t(s->length)));
            s->delivered = true;
        }
        if (s->orphaned)
            drop = true;
        else if (s->onEvent)
            s->onEvent();
    }
    if (drop)
        delete s;
}
} // namespace

EventWatcher::EventWatcher(DataAccess &db, const QByteArray &name, std::function<void()> onEvent)
    : db_(db), shared_(new Shared)
{
    shared_->onEvent = std::move(onEvent);
    shared_->length = static_cast<short>(
        isc_event_block(&shared_->events, &shared_->result, 1, name.constData()));
}

EventWatcher::~EventWatcher()
{
    bool armed;
    {
        std::lock_guard<std::mutex> lock(shared_->m);
        shared_->onEvent = nullptr;
        armed = shared_->armed;
        // A delivery already on its way frees it; one that never comes costs these bytes.
        shared_->orphaned = armed;
    }
    if (armed && db_.IsConnected()) {
        isc::CallGuard guard(&db_, *db_.db_.handle(), std::chrono::seconds(DataAccess::ReplyTimeoutSeconds));
        ISC_STATUS_ARRAY st{};
        ISC_LONG id = static_cast<ISC_LONG>(id_);
        isc::ClientCall waiting;
        isc_cancel_events(st, db_.db_.handle(), &id);
    }
    if (!armed)
        delete shared_;
}

bool EventWatcher::Armed() const
{
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->armed;
}

bool EventWatcher::Arm()
{
    if (!db_.IsConnected()) {
        error_ = QStringLiteral("not connected");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(shared_->m);
        if (shared_->armed)
            return true;
        // Takes the counts delivered so far, so the next wait is for a new post (only
        // after a delivery: the client library refuses a block counted before its first wait).
        if (shared_->delivered) {
            ISC_ULONG counts[15] = {};
            isc_event_counts(counts, shared_->length, shared_->events, shared_->result);
            shared_->delivered = false;
        }
        shared_->armed = true;
    }
    isc::CallGuard guard(&db_, *db_.db_.handle(), std::chrono::seconds(DataAccess::ReplyTimeoutSeconds));
    ISC_STATUS_ARRAY st{};
    ISC_LONG id = 0;
    isc::ClientCall waiting;
    isc_que_events(st, db_.db_.handle(), &id, shared_->length, shared_->events, delivered, shared_);
    if (st[0] == 1 && st[1] != 0) {
        isc::Status status;
        std::memcpy(status.vector, st, sizeof st);
        error_ = status.text();
        std::lock_guard<std::mutex> lock(shared_->m);
        shared_->armed = false;
        return false;
    }
    id_ = id;
    error_.clear();
    return true;
}
