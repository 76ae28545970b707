// What keeps a database's windows up to date: the events of its pictures, the quick
// refresh while they do not come, the timer's retries, and the folding of serves asked for
// while one waits.

#include "core/painting/PaintDatabaseSide.h"

#include "core/painting/EventChannel.h"
#include "core/painting/PaintDatabaseSession.h"
#include "core/painting/PaintWorker.h"
#include "core/presence/PresenceBoard.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

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
        if (s->store->StorableStrokes() == 0 && (s->opened || !s->window) && !s->store->OpeningWanted())
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

// The channel watches the tables the windows show, and nothing else; and for the
// presence line, who opens or closes those pictures.
void PaintDatabaseSide::watchTables()
{
    QSet<QString> tables;
    for (auto &[id, s] : sessions_)
        if (s->window) {
            tables += s->table;
            tables += PresenceMark::EventOf(s->imageNo);
        }
    if (tables == watched_ || !events_)
        return;
    watched_ = tables;
    QMetaObject::invokeMethod(events_, [c = events_, tables] { c->watch(tables); }, Qt::QueuedConnection);
}

void PaintDatabaseSide::eventCame(const QString &table, int posts)
{
    if (PresenceMark::ImageOfEvent(table) > 0) {
        deliver([path = path_](PaintWorker &f) { f.Presence().EventCame(path); });
        return;
    }
    for (auto &[id, s] : sessions_) {
        if (!s->window || s->table != table)
            continue;
        s->announced = true;
        s->unannounced = false;
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
    // Without events the presence line reads more often.
    deliver([path = path_, working](PaintWorker &f) { f.Presence().EventsWorking(path, working); });
    if (working) {
        // Rows stored before the waits were armed were announced to nobody; the posts of
        // ours the old line still owed us never come, and the refresh below draws them.
        for (auto &[id, s] : sessions_) {
            s->announced = true;
            s->ownPosts = 0;
        }
        quick_->stop();
        // What was stored between the last refresh and the first wait.
        quickRefresh();
    } else if (!stopped_) {
        quickAgain(true);
    }
}

// A refresh found rows of a picture whose events count as working, and no event told of
// them. Its event may still be on its way; if none comes, the events line went silent
// without its connection noticing (cut under an armed wait): it is asked for again, and
// the windows refreshed every QuickRefreshMs until it works.
void PaintDatabaseSide::unannouncedRows(Session &s)
{
    if (s.unannounced || !events_)
        return;
    s.unannounced = true;
    QTimer::singleShot(EventGraceMs, this, [this, id = s.id] {
        auto it = sessions_.find(id);
        if (it == sessions_.end() || !std::exchange(it->second->unannounced, false) || !eventsOk_ || !events_)
            return;
        // It says it no longer works (the quick refresh starts), then works again.
        QMetaObject::invokeMethod(events_, [c = events_] { c->reask(); }, Qt::QueuedConnection);
    });
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
