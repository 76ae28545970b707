#pragma once
// The main window attached through a relay that lets a change's commit reach the server
// and cuts the connection before its answer comes back: the change is stored, and the
// program only learns that the connection is gone.

#include "DelayRelay.h"

class TestDatabase;

class CommitCut {
public:
    // Attaches the main window to `database` through the relay; false when it could not.
    bool Attach(const TestDatabase &database);
    // The answer to the next change's commit (else: to its statement) is cut. `reads`: the
    // main-db requests a command asks, one after the other, before its change (0 or 1);
    // the cut is armed once they have run. Call right after the command's handler for 1,
    // right before it for 0.
    void CutNextCommit(int reads, bool commit = true);
    int64_t Cuts() const { return relay_.cuts(); }

private:
    DelayRelay relay_;
};
