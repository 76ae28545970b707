#include "db/CallWatchdog.h"

#include <ibase.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <utility>
#include <vector>

namespace isc {

static int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The guarded operation of this thread, for its ClientCalls.
static thread_local CallGuard *threadGuard = nullptr;

static void abortCall(unsigned int h)
{
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = h;
    fb_cancel_operation(status, &handle, fb_cancel_abort);
}

// The operations in progress. Left alive at exit (never destroyed), so that a call still
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
        startThread();
        wake_.notify_one();
        return true;
    }

    // Waits for a cut of this guard running outside the mutex: it still uses the handle.
    void Remove(CallGuard *g)
    {
        std::unique_lock lock(mutex_);
        unpinned_.wait(lock, [g] { return g->pins_ == 0; });
        calls_.erase(std::remove(calls_.begin(), calls_.end(), g), calls_.end());
    }

    bool CancelOwner(const void *owner)
    {
        std::unique_lock lock(mutex_);
        std::vector<CallGuard *> cuts;
        bool found = false;
        for (CallGuard *g : calls_)
            if (g->owner_ == owner) {
                found = true;
                request(g, cuts);
            }
        cutOutside(lock, cuts);
        return found;
    }

    int CancelAll()
    {
        std::unique_lock lock(mutex_);
        std::vector<CallGuard *> cuts;
        for (CallGuard *g : calls_)
            request(g, cuts);
        const int n = static_cast<int>(calls_.size());
        cutOutside(lock, cuts);
        return n;
    }

    void Cap(int64_t limitNs)
    {
        std::lock_guard lock(mutex_);
        capNs_ = limitNs;
        startThread();
        wake_.notify_one();
    }

    bool OwnerCut(const void *owner)
    {
        std::lock_guard lock(mutex_);
        for (CallGuard *g : calls_)
            if (g->owner_ == owner)
                return g->WasCut();
        return false;
    }

private:
    CallRegistry() = default;

    void startThread()
    {
        if (started_)
            return;
        started_ = true;
        std::thread([this] {
            pthread_setname_np(pthread_self(), "watchdog");
            run();
        }).detach();
    }

    // Under the mutex. A call in progress is taken for cutting now (unless its answer
    // has just come); between calls the next one cuts itself as it starts.
    static void request(CallGuard *g, std::vector<CallGuard *> &cuts)
    {
        g->cutWanted_.store(true);
        take(g, cuts);
    }

    static void take(CallGuard *g, std::vector<CallGuard *> &cuts)
    {
        int inCall = CallGuard::InCall;
        if (g->state_.compare_exchange_strong(inCall, CallGuard::Cutting)) {
            ++g->pins_;
            cuts.push_back(g);
        }
    }

    // The aborts run without the mutex every call takes; the pinned guards wait for them.
    void cutOutside(std::unique_lock<std::mutex> &lock, const std::vector<CallGuard *> &cuts)
    {
        if (cuts.empty())
            return;
        std::vector<unsigned int> handles;
        for (CallGuard *g : cuts)
            handles.push_back(g->handle_);
        lock.unlock();
        for (unsigned int h : handles)
            abortCall(h);
        lock.lock();
        for (CallGuard *g : cuts) {
            g->state_.store(CallGuard::Cut);
            --g->pins_;
        }
        unpinned_.notify_all();
    }

    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            const int64_t now = nowNs();
            int64_t next = -1;
            std::vector<CallGuard *> cuts;
            for (CallGuard *g : calls_) {
                const int state = g->state_.load();
                if (state >= CallGuard::Cutting)
                    continue;
                const int64_t limit = capNs_ > 0 ? std::min(capNs_, g->limitNs_) : g->limitNs_;
                // Between calls nothing can hang; a call that starts later has its full time.
                const int64_t due = state == CallGuard::InCall ? g->lastAnswerNs_.load() + limit : now + limit;
                if (due <= now)
                    take(g, cuts);
                else if (next < 0 || due < next)
                    next = due;
            }
            cutOutside(lock, cuts);
            if (!cuts.empty())
                continue;
            if (next < 0)
                wake_.wait(lock);
            else
                wake_.wait_for(lock, std::chrono::nanoseconds(next - now));
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable unpinned_;
    std::vector<CallGuard *> calls_;
    int64_t capNs_ = 0;
    bool started_ = false;
};

CallGuard::CallGuard(const void *owner, unsigned int handle, std::chrono::milliseconds limit)
    : owner_(owner), handle_(handle),
      limitNs_(std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count()),
      lastAnswerNs_(nowNs())
{
    if (handle_)
        registered_ = CallRegistry::Instance().Add(this);
    if (registered_) {
        outer_ = threadGuard;
        threadGuard = this;
    }
}

CallGuard::~CallGuard()
{
    if (!registered_)
        return;
    threadGuard = outer_;
    CallRegistry::Instance().Remove(this);
}

void CallGuard::Touch()
{
    lastAnswerNs_.store(nowNs());
}

// On the guard's own thread, before a call: nobody else cuts it then.
void CallGuard::cutHere()
{
    int idle = Idle;
    if (state_.compare_exchange_strong(idle, Cut))
        abortCall(handle_);
}

ClientCall::ClientCall() : guard_(threadGuard)
{
    if (!guard_)
        return;
    if (guard_->cutWanted_.load()) {
        guard_->cutHere();
        return;
    }
    guard_->lastAnswerNs_.store(nowNs());
    int idle = CallGuard::Idle;
    guard_->state_.compare_exchange_strong(idle, CallGuard::InCall);
}

ClientCall::~ClientCall()
{
    if (!guard_)
        return;
    // Fails only when a cut took the call first: it stays cut.
    int inCall = CallGuard::InCall;
    if (guard_->state_.compare_exchange_strong(inCall, CallGuard::Idle))
        guard_->lastAnswerNs_.store(nowNs());
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
