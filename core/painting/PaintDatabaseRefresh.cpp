// What keeps a database's windows up to date: the events of its pictures, the quick
// refresh while they do not come, the timer's retries, and the folding of serves asked for
// while one waits.

#include "core/painting/PaintDatabaseSide.h"

#include "core/painting/EventChannel.h"
#include "core/painting/PaintDatabaseSession.h"
#include "core/painting/PaintWorker.h"
#include "db/DataAccess.h"

#include <QRandomGenerator>
#include <QTimer>
#include <utility>

namespace {
// The refresh's prepared statement is let go after this long without a refresh.
constexpr int RefreshKeptMs = 1500;
} // namespace

// The lost database is tried again, and strokes that wait for a retry are stored.
void PaintDatabaseSide::tick()
{
    // The refresh's statement keeps its table in use: let go once the refreshes pause, so
    // that a picture deleted elsewhere does not wait for it.
    if (db_->IsConnected() && db_->RefreshPrepared() && now() - lastRefreshMs_ >= RefreshKeptMs)
        db_->ReleaseRefresh();
    // The store's transaction kept for a stroke under the mouse that goes on no more, and
    // its blocks' prepared statements (they keep the table in use, as the refresh's does).
    if (db_->IsConnected() && now() - lastStoreMs_ >= RefreshKeptMs) {
        db_->EndRowRun();
        db_->ReleasePrepared();
    }
    for (auto &[id, s] : sessions_) {
        if (s->store->StorableStrokes() == 0 && (s->opened || !s->window))
            continue;
        if (!connected()) {
            report(*s);
            continue;
        }
        if (now() >= s->retryAtMs)
            serveLater(id);
    }
}

// Serving may end or add sessions: not while iterating over them.
void PaintDatabaseSide::serveLater(int id)
{
    ++*busy_;
    QTimer::singleShot(0, this, [this, id] {
        Counted done{*busy_};
        refresh(id);
    });
}

// The channel watches the tables the windows show, and nothing else.
void PaintDatabaseSide::watchTables()
{
    QSet<QString> tables;
    for (auto &[id, s] : sessions_)
        if (s->window)
            tables += s->table;
    if (tables == watched_ || !events_)
        return;
    watched_ = tables;
    QMetaObject::invokeMethod(events_, [c = events_, tables] { c->watch(tables); }, Qt::QueuedConnection);
}

void PaintDatabaseSide::eventCame(const QString &table, int posts)
{
    for (auto &[id, s] : sessions_) {
        if (!s->window || s->table != table)
            continue;
        // Every post since the event before was one of this window's blocks, whose rows it
        // has drawn (and the others' rows below them). A post of another's that one of ours
        // hides here shows at the delivery of ours, which then counts one post too many.
        if (posts <= s->ownPosts) {
            s->ownPosts -= posts;
            continue;
        }
        s->ownPosts = 0;
        serveSoon(*s);
    }
}

void PaintDatabaseSide::eventsWorking(bool working)
{
    eventsOk_ = working;
    if (working) {
        // A new line: the posts of ours the old one still owed us never come, and the
        // refresh below draws what came meanwhile.
        for (auto &[id, s] : sessions_)
            s->ownPosts = 0;
        quick_->stop();
        // What was stored between the last refresh and the first wait.
        quickRefresh();
    } else if (!stopped_) {
        quickAgain(true);
    }
}

// Many PCs lose their events at once (the server restarted, a firewall changed): each
// starts at a moment of its own and keeps drifting, so that they never refresh in step.
void PaintDatabaseSide::quickAgain(bool first)
{
    const int jitter = QuickRefreshMs / 10;
    quick_->start(first ? int(QRandomGenerator::global()->bounded(QuickRefreshMs))
                        : QuickRefreshMs - jitter + int(QRandomGenerator::global()->bounded(2 * jitter)));
}

// While events do not come, each window is refreshed every QuickRefreshMs: one
// statement that finds nothing when nothing is new.
void PaintDatabaseSide::quickRefresh()
{
    if (!db_->IsConnected() || lost_)
        return; // the reconnect's tries refresh once it is back
    for (auto &[id, s] : sessions_)
        if (s->window && s->opened)
            serveSoon(*s);
}

// One store and refresh at a time per picture: asked for meanwhile, it folds into the one
// queued, which also answers the open strokes whose blocks it took.
void PaintDatabaseSide::serveSoon(Session &s)
{
    if (s.serveQueued)
        return;
    s.serveQueued = true;
    ++*busy_;
    QTimer::singleShot(0, this, [this, id = s.id] {
        Counted done{*busy_};
        auto it = sessions_.find(id);
        if (it == sessions_.end())
            return;
        it->second->serveQueued = false;
        const std::set<quint64> tags = std::exchange(it->second->toAnswer, {});
        serve(*it->second); // may end the session
        for (quint64 tag : tags)
            deliver([id, tag](PaintWorker &f) { emit f.Taken(id, tag); });
    });
}
