#include "db/CallWatchdog.h"

#include <ibase.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace isc {

static int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The calls in progress. Left alive at exit (never destroyed), so that a call still
// running on another thread then never meets a destroyed mutex.
class CallRegistry {
public:
    static CallRegistry &Instance()
    {
        static CallRegistry *registry = new CallRegistry;
        return *registry;
    }

    bool Add(CallGuard *g)
    {
        std::lock_guard lock(mutex_);
        for (CallGuard *other : calls_)
            if (other->owner_ == g->owner_)
                return false;
        calls_.push_back(g);
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        wake_.notify_one();
        return true;
    }

    void Remove(CallGuard *g)
    {
        std::lock_guard lock(mutex_);
        calls_.erase(std::remove(calls_.begin(), calls_.end(), g), calls_.end());
    }

    bool CancelOwner(const void *owner)
    {
        std::lock_guard lock(mutex_);
        bool found = false;
        for (CallGuard *g : calls_)
            if (g->owner_ == owner) {
                cut(g);
                found = true;
            }
        return found;
    }

    int CancelAll()
    {
        std::lock_guard lock(mutex_);
        for (CallGuard *g : calls_)
            cut(g);
        return static_cast<int>(calls_.size());
    }

    void Cap(int64_t limitNs)
    {
        std::lock_guard lock(mutex_);
        capNs_ = limitNs;
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        wake_.notify_one();
    }

    bool OwnerCut(const void *owner)
    {
        std::lock_guard lock(mutex_);
        for (CallGuard *g : calls_)
            if (g->owner_ == owner)
                return g->cut_.load();
        return false;
    }

private:
    CallRegistry() = default;

    // Under the mutex, so the guard (and with it the attachment) is still there. The abort
    // only closes the socket: it does not wait for the call's own lock.
    static void cut(CallGuard *g)
    {
        if (g->cut_.exchange(true))
            return;
        ISC_STATUS_ARRAY status{};
        isc_db_handle handle = g->handle_;
        fb_cancel_operation(status, &handle, fb_cancel_abort);
    }

    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            const int64_t now = nowNs();
            int64_t next = -1;
            for (CallGuard *g : calls_) {
                if (g->cut_.load())
                    continue;
                const int64_t limit = capNs_ > 0 ? std::min(capNs_, g->limitNs_) : g->limitNs_;
                const int64_t due = g->lastAnswerNs_.load() + limit;
                if (due <= now)
                    cut(g);
                else if (next < 0 || due < next)
                    next = due;
            }
            if (next < 0)
                wake_.wait(lock);
            else
                wake_.wait_for(lock, std::chrono::nanoseconds(next - now));
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<CallGuard *> calls_;
    int64_t capNs_ = 0;
    std::thread thread_;
};

CallGuard::CallGuard(const void *owner, unsigned int handle, std::chrono::milliseconds limit)
    : owner_(owner), handle_(handle),
      limitNs_(std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count()),
      lastAnswerNs_(nowNs())
{
    if (handle_)
        registered_ = CallRegistry::Instance().Add(this);
}

CallGuard::~CallGuard()
{
    if (registered_)
        CallRegistry::Instance().Remove(this);
}

void CallGuard::Touch()
{
    lastAnswerNs_.store(nowNs());
}

bool CancelOwner(const void *owner)
{
    return CallRegistry::Instance().CancelOwner(owner);
}

int CancelAll()
{
    return CallRegistry::Instance().CancelAll();
}

void CapAllCalls(std::chrono::milliseconds limit)
{
    CallRegistry::Instance().Cap(std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count());
}

bool OwnerCallWasCut(const void *owner)
{
    return CallRegistry::Instance().OwnerCut(owner);
}

} // namespace isc
