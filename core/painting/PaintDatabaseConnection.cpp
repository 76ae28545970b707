// A database's attachment on its painting thread: a handshake first, the attach on a
// thread of its own under a deadline, and the tries of a lost database.

#include "core/painting/PaintDatabaseSide.h"

#include "core/connection/AsyncHandshakeProbe.h"
#include "core/connection/BackgroundAttach.h"
#include "core/painting/PaintDatabaseSession.h"
#include "core/painting/PaintWorker.h"
#include "core/TextRoutines.h"
#include "db/DataAccess.h"

#include <QTimer>

namespace {
// Milliseconds between tries of a lost database, and how long its handshake may take.
constexpr int ReconnectMs = 2500;
constexpr int HandshakeMs = 2000;
// An attach that has not ended by then is given up (its thread closes what it gets).
constexpr int AttachDeadlineMs = (DataAccess::ConnectTimeoutSeconds + 2) * 1000;
} // namespace

// True when attached; otherwise a connect is started if its time has come.
bool PaintDatabaseSide::connected()
{
    if (db_->IsConnected() && !lost_)
        return true;
    if (lost_) {
        dropConnection();
        nextTryMs_ = now() + 500;
        markLost(true);
        return false;
    }
    startConnect();
    return false;
}

void PaintDatabaseSide::dropConnection()
{
    lost_ = false;
    // The line goes first: nothing waits for a server that does not answer.
    db_->DropConnection();
}

void PaintDatabaseSide::startConnect()
{
    if (attaching_ || stopped_ || now() < nextTryMs_ || !probe_)
        return;
    attaching_ = true;
    // The first connect of a window is waited for like a call; a lost database's tries are not.
    if (!shownLost_ && !attachCounted_) {
        attachCounted_ = true;
        ++*busy_;
    }
    probe_->Start(ToCp932(path_), HandshakeMs);
}

void PaintDatabaseSide::handshakeDone(bool answered)
{
    if (!attaching_)
        return;
    if (!answered) {
        connectEnded(false);
        return;
    }
    attachDeadline_->start(AttachDeadlineMs);
    attach_->Start(path_);
}

void PaintDatabaseSide::attachDone(DataAccess &got)
{
    if (!attaching_)
        return;
    attachDeadline_->stop();
    if (got.IsConnected())
        db_->AdoptAttachment(got);
    connectEnded(db_->IsConnected());
}

void PaintDatabaseSide::connectEnded(bool ok)
{
    attaching_ = false;
    // Spaced from the end of a failed try: an attach may take its whole time limit.
    nextTryMs_ = ok ? 0 : now() + ReconnectMs;
    if (!ok) {
        markLost(true);
        for (auto &[id, s] : sessions_)
            report(*s);
    } else {
        markLost(false);
        // Strokes a run before left for this database go first, then what waits here.
        recover();
        std::vector<int> ids;
        for (auto &[id, s] : sessions_)
            ids.push_back(id);
        for (int id : ids)
            refresh(id);
    }
    if (attachCounted_) {
        attachCounted_ = false;
        --*busy_;
    }
}

void PaintDatabaseSide::markLost(bool lost)
{
    shownLost_ = lost;
    for (auto &[id, s] : sessions_) {
        if (!s->window || s->lostShown == lost)
            continue;
        s->lostShown = lost;
        deliver([id = s->id, lost](PaintWorker &f) {
            f.lost_[id] = lost;
            emit f.LostChanged(id, lost);
        });
    }
}
