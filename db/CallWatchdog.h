#pragma once
// The deadline of every call on an established attachment. A guard registers the call
// in progress; one thread for the whole process cuts a call that has had no answer
// for too long with fb_cancel_abort, which makes the blocked call return at once.
// Threads: a guard is made and ended on the thread that makes the call; the watchdog
// thread and Cancel*() (any thread) only read the registry and cut, under its mutex.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace isc {

class CallGuard {
public:
    // owner: what CancelOwner() names (a DataAccess); handle: its isc_db_handle.
    // An inner guard for an owner that already has one is a no-op.
    CallGuard(const void *owner, unsigned int handle, std::chrono::milliseconds limit);
    ~CallGuard();
    CallGuard(const CallGuard &) = delete;
    CallGuard &operator=(const CallGuard &) = delete;

    // An answer came (a row, a batch): the deadline starts again.
    void Touch();
    // The call was cut, by its deadline or on request: treat the connection as lost.
    bool WasCut() const { return cut_.load(); }

private:
    friend class CallRegistry;
    const void *owner_;
    unsigned int handle_;
    int64_t limitNs_;
    std::atomic<int64_t> lastAnswerNs_;
    std::atomic<bool> cut_{false};
    bool registered_ = false;
};

// Cuts the call in progress of that owner now; false when it has none.
bool CancelOwner(const void *owner);
// Cuts every call in progress in the process; returns how many.
int CancelAll();
// From now on no call gets more than `limit` without an answer (the end of the process).
void CapAllCalls(std::chrono::milliseconds limit);
// True while the owner has a guarded call that was cut (for the owner's own thread).
bool OwnerCallWasCut(const void *owner);

} // namespace isc
