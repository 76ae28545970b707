#pragma once
// The deadline of every call on an established attachment. A guard registers the
// operation in progress; each client library call inside it is marked (ClientCall), and
// one thread for the whole process cuts a call that has had no answer for too long with
// fb_cancel_abort, which makes the blocked call return at once.
// A call whose answer came first is never cut: the cut is decided by one atomic step
// against the call's own return, so a late cut leaves a good connection alone.
// Threads: a guard and its ClientCalls are made and ended on the thread that makes the
// calls; the watchdog thread and Cancel*() (any thread) read the registry under its
// mutex and cut outside it, while the guard is pinned (its end waits for the cut).

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
    bool WasCut() const { return state_.load() >= Cutting; }

private:
    friend class CallRegistry;
    friend class ClientCall;
    enum State { Idle, InCall, Cutting, Cut };
    void cutHere();
    const void *owner_;
    unsigned int handle_;
    int64_t limitNs_;
    std::atomic<int64_t> lastAnswerNs_;
    std::atomic<int> state_{Idle};
    // A cut was asked for between two calls: the next call is cut as it starts.
    std::atomic<bool> cutWanted_{false};
    int pins_ = 0; // under the registry's mutex: cuts running outside it
    bool registered_ = false;
    CallGuard *outer_ = nullptr; // the thread's guard before this one
};

// Marks one client library call of the thread's guarded operation (if any): only inside
// such a call does the deadline run, and only there can a cut land.
class ClientCall {
public:
    ClientCall();
    ~ClientCall();
    ClientCall(const ClientCall &) = delete;
    ClientCall &operator=(const ClientCall &) = delete;

private:
    CallGuard *guard_;
};

// Cuts the call in progress of that owner now (or its next call, between two); false
// when it has no guarded operation.
bool CancelOwner(const void *owner);
// Cuts every guarded operation in the process; returns how many.
int CancelAll();
// From now on no call gets more than `limit` without an answer (the end of the process).
void CapAllCalls(std::chrono::milliseconds limit);
// True while the owner has a guarded call that was cut (for the owner's own thread).
bool OwnerCallWasCut(const void *owner);

} // namespace isc
