#include "db/EventWatcher.h"

#include "db/CallWatchdog.h"
#include "db/DataAccess.h"
#include "db/Isc.h"

#include <atomic>
#include <climits>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

struct EventWatcher::Shared {
    std::mutex m;
    std::function<void(bool, int)> onEvent;
    ISC_UCHAR *events = nullptr;
    ISC_UCHAR *result = nullptr;
    short length = 0;
    bool armed = false;

    ~Shared()
    {
        if (events)
            isc_free(reinterpret_cast<ISC_SCHAR *>(events));
        if (result)
            isc_free(reinterpret_cast<ISC_SCHAR *>(result));
    }
};

namespace {
// Every watcher's state by key. The library keeps only the key: the state goes with its
// watcher, whatever the library still does or never does with the wait.
struct Registry {
    std::mutex m;
    std::map<quint64, std::shared_ptr<EventWatcher::Shared>> byKey;
    quint64 next = 1;
    static Registry &Instance()
    {
        // Left alive at exit: the library's event thread may still deliver then.
        static Registry *r = new Registry;
        return *r;
    }
    std::shared_ptr<EventWatcher::Shared> find(quint64 key)
    {
        std::lock_guard lock(m);
        auto it = byKey.find(key);
        return it == byKey.end() ? nullptr : it->second;
    }
};

// The client library's event thread.
void delivered(void *arg, ISC_USHORT length, const ISC_UCHAR *updated)
{
    const auto s = Registry::Instance().find(static_cast<quint64>(reinterpret_cast<std::uintptr_t>(arg)));
    if (!s)
        return;
    std::lock_guard<std::mutex> lock(s->m);
    if (!s->armed)
        return;
    s->armed = false;
    // Without counts the library tells that the events line is gone.
    const bool posted = updated && length > 0;
    ISC_ULONG counts[15] = {};
    if (posted) {
        std::memcpy(s->result, updated, std::min<size_t>(length, size_t(s->length)));
        // The posts since the counts taken last; the next wait is for a new post.
        isc_event_counts(counts, s->length, s->events, s->result);
    }
    if (s->onEvent)
        s->onEvent(posted, int(std::min<ISC_ULONG>(counts[0], INT_MAX)));
}
} // namespace

EventWatcher::EventWatcher(DataAccess &db, const QByteArray &name, std::function<void(bool)> onEvent)
    : EventWatcher(db, name, [onEvent = std::move(onEvent)](bool posted, int) { onEvent(posted); })
{
}

EventWatcher::EventWatcher(DataAccess &db, const QByteArray &name, std::function<void(bool, int)> onEvent)
    : db_(db)
{
    auto s = std::make_shared<Shared>();
    s->onEvent = std::move(onEvent);
    s->length = static_cast<short>(isc_event_block(&s->events, &s->result, 1, name.constData()));
    Registry &r = Registry::Instance();
    std::lock_guard lock(r.m);
    key_ = r.next++;
    r.byKey[key_] = std::move(s);
}

EventWatcher::~EventWatcher()
{
    Registry &r = Registry::Instance();
    std::shared_ptr<Shared> s;
    {
        std::lock_guard lock(r.m);
        auto it = r.byKey.find(key_);
        s = std::move(it->second);
        r.byKey.erase(it);
    }
    bool armed;
    {
        std::lock_guard<std::mutex> lock(s->m);
        s->onEvent = nullptr;
        armed = s->armed;
        s->armed = false;
    }
    // A line already dropped has no waits left to cancel: the library's handle is gone.
    if (armed && db_.IsConnected()) {
        isc::CallGuard guard(&db_, *db_.db_.handle(), std::chrono::seconds(DataAccess::ReplyTimeoutSeconds));
        ISC_STATUS_ARRAY st{};
        ISC_LONG id = static_cast<ISC_LONG>(id_);
        isc::ClientCall waiting;
        isc_cancel_events(st, db_.db_.handle(), &id);
    }
}

int EventWatcher::Alive()
{
    Registry &r = Registry::Instance();
    std::lock_guard lock(r.m);
    return static_cast<int>(r.byKey.size());
}

bool EventWatcher::Armed() const
{
    const auto s = Registry::Instance().find(key_);
    std::lock_guard<std::mutex> lock(s->m);
    return s->armed;
}

bool EventWatcher::Arm()
{
    if (!db_.IsConnected()) {
        error_ = QStringLiteral("not connected");
        return false;
    }
    const auto s = Registry::Instance().find(key_);
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->armed)
            return true;
        s->armed = true;
    }
    isc::CallGuard guard(&db_, *db_.db_.handle(), std::chrono::seconds(DataAccess::ReplyTimeoutSeconds));
    ISC_STATUS_ARRAY st{};
    ISC_LONG id = 0;
    isc::ClientCall waiting;
    isc_que_events(st, db_.db_.handle(), &id, s->length, s->events, delivered,
                   reinterpret_cast<void *>(static_cast<std::uintptr_t>(key_)));
    if (st[0] == 1 && st[1] != 0) {
        isc::Status status;
        std::memcpy(status.vector, st, sizeof st);
        error_ = status.text();
        std::lock_guard<std::mutex> lock(s->m);
        s->armed = false;
        return false;
    }
    id_ = id;
    error_.clear();
    return true;
}
