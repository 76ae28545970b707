// A database's painting requests on its own thread: the windows' sessions, the serving of
// each (its opening, its stores, its refresh), and what goes back to the windows.

#include "core/painting/PaintDatabaseSide.h"

#include "core/connection/AsyncHandshakeProbe.h"
#include "core/connection/BackgroundAttach.h"
#include "core/painting/EventChannel.h"
#include "core/painting/PaintDatabaseSession.h"
#include "core/painting/PaintOpening.h"
#include "core/painting/PaintWorker.h"
#include "core/picture/PictureCache.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

#include <QThread>
#include <QTimer>
#include <utility>

namespace {
// A picture's rows reach its window at least this often while it is replayed.
constexpr int FlushMs = 50;
// A stroke refused for a lasting reason is tried again after 5, 10, 20 and 40 s; then
// the user is told, and it is tried every 80 s.
constexpr int RefusalsBeforeTelling = 4;
// A lock held by another PC: the stroke is tried again after this (at the next tick of
// the timer), not at once.
constexpr int LockedWaitMs = 300;
// Tries (each waiting out the server's lock wait) before a lasting lock is told.
constexpr int LocksBeforeTelling = 4;
} // namespace

std::atomic<int> PaintDatabaseSide::BlockFloorMs{20};

PaintDatabaseSide::PaintDatabaseSide(const QString &path, std::shared_ptr<std::atomic<int>> busy)
    : path_(path), busy_(std::move(busy)), db_(std::make_unique<DataAccess>())
{
    // Made on the window thread and moved: children are made once on this thread.
    QMetaObject::invokeMethod(this, [this] {
        clock_.start();
        timer_ = new QTimer(this);
        // Often enough for the retries; a lost database is tried only every ReconnectMs.
        timer_->setInterval(500);
        connect(timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_->start();
        probe_ = new AsyncHandshakeProbe(this);
        connect(probe_, &AsyncHandshakeProbe::Finished, this, &PaintDatabaseSide::handshakeDone);
        attach_ = new BackgroundAttach(this);
        connect(attach_, &BackgroundAttach::Finished, this, &PaintDatabaseSide::attachDone);
        attachDeadline_ = new QTimer(this);
        attachDeadline_->setSingleShot(true);
        connect(attachDeadline_, &QTimer::timeout, this, [this] {
            attach_->Cancel();
            connectEnded(false);
        });
        quick_ = new QTimer(this);
        quick_->setSingleShot(true);
        connect(quick_, &QTimer::timeout, this, [this] {
            quickAgain(false);
            quickRefresh();
        });
        quickAgain(true); // until events work
        if (EventChannel::Disabled())
            return;
        auto *thread = new QThread;
        thread->setObjectName(QThread::currentThread()->objectName().replace(QStringLiteral("paint-db"),
                                                                              QStringLiteral("paint-events")));
        events_ = new EventChannel(path_, busy_);
        events_->moveToThread(thread);
        connect(events_, &EventChannel::EventCame, this, [this](const QString &table, int posts) {
            Counted done{*busy_};
            eventCame(table, posts);
        });
        connect(events_, &EventChannel::Working, this, [this](bool working) {
            Counted done{*busy_};
            eventsWorking(working);
        });
        connect(thread, &QThread::finished, events_, &QObject::deleteLater);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        thread->start();
    }, Qt::QueuedConnection);
    // Runs inside a failed call on this thread; the line is cut once the call is over.
    db_->onConnectionLost = [this] { lost_ = true; };
}

PaintDatabaseSide::~PaintDatabaseSide()
{
    if (events_)
        QMetaObject::invokeMethod(events_, &EventChannel::shutDown, Qt::QueuedConnection);
}

void PaintDatabaseSide::Post(PaintDatabaseSide *side, const std::shared_ptr<std::atomic<int>> &busy,
                             PaintRequest request)
{
    ++*busy;
    // Runs on the side's thread; dropped with the side if it is gone by then.
    QMetaObject::invokeMethod(
        side,
        [side, busy, request = std::move(request)] {
            Counted done{*busy};
            request(*side);
        },
        Qt::QueuedConnection);
}

void PaintDatabaseSide::CancelCall()
{
    db_->CancelCall();
}

void PaintDatabaseSide::Forwarded(const QString &database, const PaintRequest &request)
{
    if (database != path_)
        return;
    Counted done{*busy_};
    request(*this);
}

void PaintDatabaseSide::open(int id, int imageNo, std::shared_ptr<OpeningStop> stop)
{
    Session &s = newSession(id, imageNo, true);
    if (stop)
        s.stop = std::move(stop);
    watchTables();
    serve(s);
}

void PaintDatabaseSide::close(int id)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    it->second->window = false;
    it->second->batch.clear();
    // Its opening ends now; the strokes it leaves go on from what was read, and an opening
    // they need later is not the window's to stop.
    it->second->stop->Stop();
    it->second->stop = std::make_shared<OpeningStop>();
    dropIfDone(id);
    watchTables();
}

void PaintDatabaseSide::refresh(int id)
{
    auto it = sessions_.find(id);
    if (it != sessions_.end())
        serve(*it->second);
}

void PaintDatabaseSide::store(int id, StrokeStore::Stroke stroke)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    Session &s = *it->second;
    s.added += static_cast<int>(stroke.points.size());
    const bool open = stroke.open;
    const quint64 tag = stroke.tag;
    s.store->Add(std::move(stroke));
    if (open)
        storeSoon(s, tag);
    else
        serve(s);
}

void PaintDatabaseSide::extend(int id, quint64 tag, const std::vector<QPoint> &points, bool last)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    Session &s = *it->second;
    s.added += static_cast<int>(points.size());
    s.store->Extend(tag, points, last);
    storeSoon(s, tag);
}

void PaintDatabaseSide::storeSoon(Session &s, quint64 tag)
{
    s.toAnswer.insert(tag);
    const qint64 wait = floorLeft(s);
    if (wait <= 0) {
        serveSoon(s);
        return;
    }
    // The block before went a moment ago: what comes meanwhile goes with the next.
    if (std::exchange(s.floorWait, true))
        return;
    ++*busy_;
    QTimer::singleShot(int(wait), this, [this, id = s.id] {
        Counted done{*busy_};
        auto it = sessions_.find(id);
        if (it == sessions_.end())
            return;
        it->second->floorWait = false;
        serveSoon(*it->second);
    });
}

qint64 PaintDatabaseSide::floorLeft(const Session &s) const
{
    // Only a held stroke's blocks are paced: a stroke ended goes at once.
    if (!s.store->OnlyOpenStrokesWait())
        return 0;
    return s.blockAtMs + BlockFloorMs.load() - now();
}

void PaintDatabaseSide::recover()
{
    // Claimed before any attach: with nothing in the journal, no attachment is made.
    auto entries = JournalEntry::ClaimUnheld(StrokeJournalFolder(), path_);
    if (entries.empty())
        return;
    for (auto &e : entries) {
        const JournalStroke &j = e->Stroke();
        Session &s = backgroundSession(j.imageNo);
        std::vector<QPoint> rest(j.points.begin() + std::min<size_t>(j.stored, j.points.size()),
                                 j.points.end());
        s.store->Add({0, j.user, {j.penType, j.penSize, j.penColor}, std::move(rest), std::move(e)});
    }
    // Serving may end a session: not while iterating over them.
    std::vector<int> ids;
    for (auto &[id, s] : sessions_)
        if (!s->window)
            ids.push_back(id);
    for (int id : ids)
        refresh(id);
}

void PaintDatabaseSide::discard(int imageNo, bool keep)
{
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session &s = *it->second;
        // Only the orphans the user was asked about: a closed window's strokes wait on.
        if (!s.window && s.imageNo == imageNo) {
            if (keep)
                s.store->KeepOrphans();
            else
                s.store->DiscardOrphans();
            report(s);
            if (s.store->PendingStrokes() == 0) {
                it = sessions_.erase(it);
                continue;
            }
        }
        ++it;
    }
}

StrokeStore *PaintDatabaseSide::storeOf(int id) const
{
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second->store.get();
}

void PaintDatabaseSide::shutDown()
{
    stopped_ = true;
    if (timer_)
        timer_->stop();
    if (attach_)
        attach_->Cancel();
    if (probe_)
        probe_->Cancel();
    if (attachDeadline_)
        attachDeadline_->stop();
    // Without a round trip: the server drops what goes away.
    db_->DropConnection();
    if (quick_)
        quick_->stop();
    if (events_) {
        QMetaObject::invokeMethod(events_, &EventChannel::shutDown, Qt::QueuedConnection);
        events_ = nullptr;
    }
    eventsOk_ = false;
    for (auto &[id, s] : sessions_)
        s->stop->Stop();
    sessions_.clear(); // journal entries are let go, not removed: the next run stores them
    if (attachCounted_) {
        attachCounted_ = false;
        --*busy_;
    }
}

PaintDatabaseSide::Session &PaintDatabaseSide::newSession(int id, int imageNo, bool window)
{
    auto s = std::make_unique<Session>();
    s->id = id;
    s->table = ImageTable::NameOf(imageNo);
    s->imageNo = imageNo;
    s->window = window;
    s->stop = std::make_shared<OpeningStop>();
    Session *raw = s.get();
    s->store = std::make_unique<StrokeStore>(
        *db_, [this, raw](const StrokeRow &r) { rowDrawn(*raw, r); }, [this, raw] { cleared(*raw); });
    s->store->SetTable(s->table);
    s->store->SetCached(window && PictureCache::Enabled.load());
    s->store->SetOpeningElsewhere(true);
    s->store->onOwnRow = [this, raw](const StrokeRow &r) { rowDrawn(*raw, r); };
    s->store->onStored = [this, raw](quint64 tag, int rows) {
        if (!raw->window)
            raw->recovered += rows;
        // Also after the window closed: the front counts its strokes without an entry.
        if (tag != 0)
            deliver([id = raw->id, tag](PaintWorker &f) { f.storedAt(id, tag); });
    };
    // A stroke of a picture deleted and made again under the same number.
    s->store->onOrphaned = [this, raw](int points) {
        deliver([path = path_, no = raw->imageNo, points](PaintWorker &f) { emit f.Orphans(path, no, points, true); });
    };
    Session &ref = *s;
    sessions_[id] = std::move(s);
    return ref;
}

PaintDatabaseSide::Session &PaintDatabaseSide::backgroundSession(int imageNo)
{
    for (auto &[id, s] : sessions_)
        if (!s->window && s->imageNo == imageNo && s->id < 0)
            return *s;
    return newSession(--nextBackground_, imageNo, false);
}

PaintDatabaseSide::Session *PaintDatabaseSide::olderStrokesOf(const Session &s)
{
    if (s.id < 0)
        return nullptr;
    for (auto &[id, other] : sessions_)
        if (other->id < 0 && other->imageNo == s.imageNo && other->store->StorableStrokes() > 0)
            return other.get();
    return nullptr;
}

void PaintDatabaseSide::serve(Session &s)
{
    if (!connected()) {
        if (s.window && !s.opened && !s.loading) {
            // Said at once, so the window shows it is at work, not empty.
            deliver([id = s.id](PaintWorker &f) { emit f.Loading(id, 0, false); });
            s.loading = true;
        }
        report(s);
        return;
    }
    if (!s.opened || s.store->AwaitsOpening()) {
        // Stored and refreshed once it is done.
        if (!startOpening(s))
            db_->EndQuery();
        report(s);
        return;
    }
    // The strokes a run before left for this picture are stored before the window's newer ones.
    Session *older = olderStrokesOf(s);
    if (older && now() >= older->retryAtMs && !lost_) {
        const int olderId = older->id;
        serve(*older);
        auto it = sessions_.find(olderId);
        older = it == sessions_.end() ? nullptr : olderStrokesOf(s);
    }
    if (s.store->StorableStrokes() > 0 && now() >= s.retryAtMs && !older && !lost_ && floorLeft(s) <= 0) {
        if (s.store->OnlyOpenStrokesWait())
            s.blockAtMs = now();
        s.store->StorePending();
        s.ownPosts += s.store->TakePosts();
        lastStoreMs_ = now();
        afterStore(s);
    } else if (s.window && !lost_) {
        if (s.store->Refresh() > 0 && eventsOk_ && !s.announced && !s.store->AwaitsOpening())
            unannouncedRows(s);
        s.announced = false;
        lastRefreshMs_ = now();
        // Refreshed every second while events do not come, the kept statement would never be
        // let go, and a picture deleted elsewhere would wait for it for as long.
        if (quick_ && quick_->isActive())
            db_->ReleaseRefresh();
    }
    // The table no longer holds what was drawn: it is opened again from scratch.
    if (s.store->OpeningWanted() && !lost_)
        startOpening(s);
    flush(s);
    // Another connection of this program (the image list's delete) must not wait for
    // a read transaction of ours left open between refreshes.
    db_->EndQuery();
    if (lost_)
        connected(); // drops the line and marks the windows
    report(s);
    dropIfDone(s.id);
}

bool PaintDatabaseSide::startOpening(Session &s)
{
    if (s.openingRunning || now() < s.retryAtMs)
        return true;
    if (!s.opened) {
        s.loading = s.window;
        s.loadedRows = 0;
        s.sinceFlush.start();
        if (s.window) {
            deliver([id = s.id](PaintWorker &f) { emit f.Loading(id, 0, false); });
            s.store->Load(true);
        } else if (!pictureThere(s)) {
            return false;
        }
    }
    if (!s.store->OpeningWanted())
        return true;
    PictureOpening::Options options = s.store->OpeningOptions();
    options.stop = s.stop;
    s.store->OpeningBegun();
    s.openingRunning = true;
    PaintOpening::Start(*this, path_, busy_, std::move(options), s.window, s.id, ++s.openingSerial);
    return true;
}

void PaintDatabaseSide::openingRows(int id, quint64 serial, const QVector<StrokeRow> &rows)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end() || it->second->openingSerial != serial || !it->second->window)
        return;
    for (const StrokeRow &r : rows)
        rowDrawn(*it->second, r);
}

void PaintDatabaseSide::openingDone(int id, quint64 serial, const PictureOpening::Result &result)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end() || it->second->openingSerial != serial)
        return;
    Session &s = *it->second;
    s.openingRunning = false;
    s.store->Opened(result);
    // Nothing could be read (no attachment, no table list): tried again after a pause.
    if (result.table == PictureOpening::Result::Table::Unknown && !s.stop->Stopped())
        s.retryAtMs = now() + ReconnectMs;
    if (!s.opened) {
        s.opened = true;
        s.loading = false;
        flush(s);
        if (s.window)
            deliver([id, n = s.loadedRows](PaintWorker &f) { emit f.Loading(id, n, true); });
    }
    // What waited for it: the strokes drawn meanwhile, the rows stored since.
    serve(s);
}

// The journal's strokes are stored only into the picture they were drawn in.
bool PaintDatabaseSide::pictureThere(Session &s)
{
    const bool table = db_->TableExists(s.table);
    if (db_->TableListFailed() || lost_)
        return false;
    const bool row = table && db_->SelectAll(QStringLiteral("IMGLIST"),
                                             QStringLiteral("N=") + QString::number(s.imageNo)) > 0;
    db_->CloseQuery();
    if (lost_)
        return false;
    if (!row) {
        if (!s.told) {
            s.told = true;
            // What the question names: all of it, and only that, goes if the user says so.
            deliver([path = path_, no = s.imageNo, n = s.store->MarkOrphans()](PaintWorker &f) {
                emit f.Orphans(path, no, n, false);
            });
        }
        return false;
    }
    s.store->Load(false);
    return true;
}

void PaintDatabaseSide::afterStore(Session &s)
{
    switch (s.store->LastFailure()) {
    case StrokeStore::Failure::None:
        s.refusals = 0;
        s.locks = 0;
        s.retryAtMs = 0;
        break;
    case StrokeStore::Failure::ConnectionLost:
        break; // the tries bring it back
    case StrokeStore::Failure::Locked:
        // Each try waits for the lock on the server; told once when it lasts.
        s.retryAtMs = now() + LockedWaitMs;
        if (++s.locks == LocksBeforeTelling && s.window)
            deliver([id = s.id, why = s.store->LastFailureText()](PaintWorker &f) {
                emit f.LastingFailure(id, why);
            });
        break;
    case StrokeStore::Failure::JournalUnwritable:
        // Nothing is sent unnoted: told once, tried again as the journal may be written again.
        s.retryAtMs = now() + PaintWorker::FirstRetryMs.load();
        if (++s.locks == 1 && s.window)
            deliver([id = s.id, why = s.store->LastFailureText()](PaintWorker &f) {
                emit f.LastingFailure(id, why);
            });
        break;
    case StrokeStore::Failure::Refused:
    case StrokeStore::Failure::TableGone: {
        ++s.refusals;
        const int exp = std::min(s.refusals - 1, RefusalsBeforeTelling);
        s.retryAtMs = now() + (qint64(PaintWorker::FirstRetryMs.load()) << exp);
        if (s.refusals == RefusalsBeforeTelling && s.window)
            deliver([id = s.id, why = s.store->LastFailureText()](PaintWorker &f) {
                emit f.LastingFailure(id, why);
            });
        break;
    }
    }
}

void PaintDatabaseSide::rowDrawn(Session &s, const StrokeRow &r)
{
    if (!s.window)
        return;
    s.batch.push_back(r);
    if (s.loading)
        ++s.loadedRows;
    if (s.batch.size() >= PaintWorker::BatchRows || (s.loading && s.sinceFlush.elapsed() >= FlushMs))
        flush(s);
}

void PaintDatabaseSide::cleared(Session &s)
{
    if (!s.window)
        return;
    // The window's own rows not handed over yet leave its points on top all the same; the
    // table drawn again shows them if it holds them.
    QVector<StrokeRow> own;
    for (StrokeRow r : std::as_const(s.batch))
        if (r.own != 0) {
            r.n = 0;
            own.push_back(r);
        }
    s.batch = std::move(own);
    deliver([id = s.id](PaintWorker &f) { f.clearedAt(id); });
}

void PaintDatabaseSide::flush(Session &s)
{
    if (s.loading)
        deliver([id = s.id, n = s.loadedRows](PaintWorker &f) { emit f.Loading(id, n, false); });
    s.sinceFlush.restart();
    if (s.batch.isEmpty())
        return;
    deliver([id = s.id, rows = std::move(s.batch)](PaintWorker &f) { f.rowsFor(id, rows); });
    s.batch = {};
}

void PaintDatabaseSide::report(Session &s)
{
    // A window counts what it handed over less what is stored: strokes still on their
    // way here are not in the store yet.
    const int pending = s.store->PendingPoints();
    const int stored = s.window ? s.added - pending : -1;
    deliver([id = s.id, path = path_, pending, stored](PaintWorker &f) {
        f.setPending(id, path, stored >= 0 ? f.posted_points(id) - stored : pending);
    });
}

void PaintDatabaseSide::dropIfDone(int id)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end() || it->second->window || it->second->store->PendingStrokes() > 0)
        return;
    deliver([id](PaintWorker &f) { f.setPending(id, QString(), 0); });
    if (const Session &done = *it->second; done.recovered > 0)
        deliver([path = path_, no = done.imageNo, n = done.recovered](PaintWorker &f) {
            emit f.Recovered(path, no, n);
        });
    sessions_.erase(it);
    // An attachment nothing uses any more goes: it would keep the database open.
    if (sessions_.empty() && db_->IsConnected())
        db_->DisconnectDatabase();
}
