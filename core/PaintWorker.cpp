#include "core/PaintWorker.h"

#include "core/TextRoutines.h"
#include "db/BlockingServerCheck.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <map>

namespace {
// Milliseconds between tries of a lost database, and how long its handshake may take.
constexpr int ReconnectMs = 2500;
constexpr int HandshakeSeconds = 2;
// A picture's rows reach its window at least this often while it is replayed.
constexpr int FlushMs = 50;
// A stroke refused for a lasting reason is tried again after 5, 10, 20 and 40 s; then
// the user is told, and it is tried every 80 s.
constexpr int RefusalsBeforeTelling = 4;
// A lock held by another PC: the stroke is tried again after this (at the next tick of
// the worker's timer), not at once.
constexpr int LockedWaitMs = 300;
// Tries (each waiting out the server's lock wait) before a lasting lock is told.
constexpr int LocksBeforeTelling = 4;
} // namespace

// Everything here runs on the worker thread, except where a comment says otherwise.
class WorkerSide : public QObject {
public:
    explicit WorkerSide(PaintWorker *front) : front_(front) {}

    struct Link {
        QString path;
        DataAccess db;
        bool lost = false;      // the connection broke, or the first attach failed
        qint64 nextTryMs = 0;   // no attach before this
    };

    struct Session {
        int id = 0;
        Link *link = nullptr;
        QString table;
        int imageNo = 0;
        bool window = true;     // a window shows it; false: strokes only, drawn nowhere
        bool opened = false;    // its picture was drawn (or its table found, for the journal's)
        std::unique_ptr<StrokeStore> store;
        QVector<StrokeRow> batch;
        QElapsedTimer sinceFlush;
        int loadedRows = 0;
        bool loading = false;
        qint64 retryAtMs = 0;   // after a refusal or a lock
        int refusals = 0;
        bool lostShown = false;
        bool told = false;      // the user was told that its picture is gone
        int added = 0;          // points the window handed over so far
        int recovered = 0;      // points a run before left in the journal, stored by this one
        int locks = 0;          // stores in a row that met a lock, or could not note in the journal
    };

    void start()
    {
        clock_.start();
        timer_ = new QTimer(this);
        // Often enough for the retries; each link is tried only every ReconnectMs.
        timer_->setInterval(500);
        connect(timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_->start();
    }

    void open(int id, const QString &path, int imageNo)
    {
        Session &s = newSession(id, path, imageNo, true);
        serve(s);
    }

    void close(int id)
    {
        auto it = sessions_.find(id);
        if (it == sessions_.end())
            return;
        it->second->window = false;
        it->second->batch.clear();
        dropIfDone(id);
    }

    void refresh(int id)
    {
        auto it = sessions_.find(id);
        if (it != sessions_.end())
            serve(*it->second);
    }

    void store(int id, StrokeStore::Stroke stroke)
    {
        auto it = sessions_.find(id);
        if (it == sessions_.end())
            return;
        Session &s = *it->second;
        s.added += static_cast<int>(stroke.points.size());
        s.store->Add(std::move(stroke));
        serve(s);
    }

    void recover(const QString &path)
    {
        // Claimed before any attach: with nothing in the journal, no attachment is made.
        auto entries = JournalEntry::ClaimUnheld(StrokeJournalFolder(), path);
        if (entries.empty())
            return;
        Link &link = linkOf(path);
        for (auto &e : entries) {
            const JournalStroke &j = e->Stroke();
            Session &s = backgroundSession(link, j.imageNo);
            std::vector<QPoint> rest(j.points.begin() + std::min<size_t>(j.stored, j.points.size()),
                                     j.points.end());
            s.store->Add({0, j.user, {j.penType, j.penSize, j.penColor}, std::move(rest), std::move(e)});
        }
        // Serving may end a session: not while iterating over them.
        std::vector<int> ids;
        for (auto &[id, s] : sessions_)
            if (!s->window && s->link == &link)
                ids.push_back(id);
        for (int id : ids)
            refresh(id);
    }

    void discard(const QString &path, int imageNo)
    {
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            Session &s = *it->second;
            if (!s.window && s.link && s.link->path == path && s.imageNo == imageNo) {
                s.store->DiscardPending();
                report(s);
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Tests only, while idle (the caller waited for the worker first).
    StrokeStore *storeOf(int id) const
    {
        auto it = sessions_.find(id);
        return it == sessions_.end() ? nullptr : it->second->store.get();
    }

    void shutDown()
    {
        if (timer_)
            timer_->stop();
        sessions_.clear(); // journal entries are let go, not removed: the next run stores them
        for (auto &[path, link] : links_)
            link->db.DisconnectDatabase();
        links_.clear();
    }

private:
    qint64 now() const { return clock_.elapsed(); }

    Link &linkOf(const QString &path)
    {
        std::unique_ptr<Link> &l = links_[path];
        if (!l) {
            l = std::make_unique<Link>();
            l->path = path;
            Link *raw = l.get();
            // Runs inside a failed call on this thread; the detach waits until it is over.
            l->db.onConnectionLost = [raw] { raw->lost = true; };
        }
        return *l;
    }

    Session &newSession(int id, const QString &path, int imageNo, bool window)
    {
        auto s = std::make_unique<Session>();
        s->id = id;
        s->link = &linkOf(path);
        s->table = ImageTable::NameOf(imageNo);
        s->imageNo = imageNo;
        s->window = window;
        Session *raw = s.get();
        s->store = std::make_unique<StrokeStore>(
            s->link->db, [this, raw](const StrokeRow &r) { rowDrawn(*raw, r); },
            [this, raw] { cleared(*raw); });
        s->store->SetTable(s->table);
        s->store->onStored = [this, raw](quint64 tag, int rows) {
            if (!raw->window)
                raw->recovered += rows;
            if (raw->window && tag != 0)
                deliver([id = raw->id, tag](PaintWorker &f) { emit f.Stored(id, tag); });
        };
        // A stroke of a picture deleted and made again under the same number.
        s->store->onOrphaned = [this, raw](int points) {
            deliver([path = raw->link->path, no = raw->imageNo, points](PaintWorker &f) {
                emit f.Orphans(path, no, points);
            });
        };
        Session &ref = *s;
        sessions_[id] = std::move(s);
        return ref;
    }

    Session &backgroundSession(Link &link, int imageNo)
    {
        for (auto &[id, s] : sessions_)
            if (!s->window && s->link == &link && s->imageNo == imageNo)
                return *s;
        return newSession(--nextBackground_, link.path, imageNo, false);
    }

    // True when the link is attached, attaching now if it is lost and its time has come.
    bool connected(Link &link)
    {
        if (link.db.IsConnected() && !link.lost)
            return true;
        if (link.lost) {
            link.db.DisconnectDatabase();
            link.lost = false;
            link.nextTryMs = now() + 500;
            markLost(link, true);
            return false;
        }
        if (now() < link.nextTryMs)
            return false;
        link.nextTryMs = now() + ReconnectMs;
        if (!isc::HandshakeAnswers(ToCp932(link.path), HandshakeSeconds)) {
            markLost(link, true);
            return false;
        }
        link.db.ConnectDatabase(link.path);
        if (!link.db.IsConnected()) {
            // Spaced from the end of a try: an attach may take its whole time limit.
            link.nextTryMs = now() + ReconnectMs;
            markLost(link, true);
            return false;
        }
        markLost(link, false);
        // Strokes a run before left for this database go first.
        QTimer::singleShot(0, this, [this, path = link.path] { recover(path); });
        return true;
    }

    void markLost(Link &link, bool lost)
    {
        for (auto &[id, s] : sessions_) {
            if (s->link != &link || !s->window || s->lostShown == lost)
                continue;
            s->lostShown = lost;
            deliver([id = s->id, lost](PaintWorker &f) {
                f.lost_[id] = lost;
                emit f.LostChanged(id, lost);
            });
        }
    }

    void serve(Session &s)
    {
        if (!connected(*s.link)) {
            report(s);
            return;
        }
        if (!s.opened) {
            s.loading = s.window;
            s.loadedRows = 0;
            s.sinceFlush.start();
            if (s.window) {
                s.store->Load(true);
            } else if (!pictureThere(s)) {
                s.link->db.EndQuery();
                report(s);
                return;
            }
            s.opened = !s.link->lost;
            s.loading = false;
            flush(s);
            if (s.window)
                deliver([id = s.id, n = s.loadedRows](PaintWorker &f) { emit f.Loading(id, n, true); });
        }
        if (s.store->PendingStrokes() > 0 && now() >= s.retryAtMs) {
            s.store->StorePending();
            afterStore(s);
        } else if (s.window) {
            s.store->Refresh();
        }
        flush(s);
        // Another connection of this program (the image list's delete) must not wait for
        // a read transaction of ours left open between refreshes.
        s.link->db.EndQuery();
        if (s.link->lost)
            connected(*s.link); // detaches and marks the windows
        report(s);
        dropIfDone(s.id);
    }

    // The journal's strokes are stored only into the picture they were drawn in.
    bool pictureThere(Session &s)
    {
        DataAccess &db = s.link->db;
        const bool table = db.TableExists(s.table);
        if (db.TableListFailed() || s.link->lost)
            return false;
        const bool row = table && db.SelectAll(QStringLiteral("IMGLIST"),
                                               QStringLiteral("N=") + QString::number(s.imageNo)) > 0;
        db.CloseQuery();
        if (s.link->lost)
            return false;
        if (!row) {
            if (!s.told) {
                s.told = true;
                deliver([path = s.link->path, no = s.imageNo, n = s.store->PendingPoints()](PaintWorker &f) {
                    emit f.Orphans(path, no, n);
                });
            }
            return false;
        }
        s.store->Load(false);
        return true;
    }

    void afterStore(Session &s)
    {
        switch (s.store->LastFailure()) {
        case StrokeStore::Failure::None:
            s.refusals = 0;
            s.locks = 0;
            s.retryAtMs = 0;
            break;
        case StrokeStore::Failure::ConnectionLost:
            break; // the link's tries bring it back
        case StrokeStore::Failure::Locked:
            // Each try waits for the lock on the server; told once when it lasts.
            s.retryAtMs = now() + LockedWaitMs;
            if (++s.locks == LocksBeforeTelling && s.window)
                deliver([id = s.id, why = s.store->LastFailureText()](PaintWorker &f) {
                    emit f.LastingFailure(id, why);
                });
            break;
        case StrokeStore::Failure::JournalUnwritable:
            // Nothing is sent unnoted: tried again as the journal may be written again.
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

    void rowDrawn(Session &s, const StrokeRow &r)
    {
        if (!s.window)
            return;
        s.batch.push_back(r);
        if (s.loading)
            ++s.loadedRows;
        if (s.batch.size() >= PaintWorker::BatchRows || (s.loading && s.sinceFlush.elapsed() >= FlushMs))
            flush(s);
    }

    void cleared(Session &s)
    {
        if (!s.window)
            return;
        s.batch.clear();
        deliver([id = s.id](PaintWorker &f) { emit f.Cleared(id); });
    }

    void flush(Session &s)
    {
        if (s.loading)
            deliver([id = s.id, n = s.loadedRows](PaintWorker &f) { emit f.Loading(id, n, false); });
        s.sinceFlush.restart();
        if (s.batch.isEmpty())
            return;
        deliver([id = s.id, rows = std::move(s.batch)](PaintWorker &f) { emit f.Rows(id, rows); });
        s.batch = {};
    }

    void report(Session &s)
    {
        // A window counts what it handed over less what is stored: strokes still queued
        // for this thread are not in the store yet.
        const int pending = s.store->PendingPoints();
        const int stored = s.window ? s.added - pending : -1;
        deliver([id = s.id, path = s.link->path, pending, stored](PaintWorker &f) {
            f.setPending(id, path, stored >= 0 ? f.posted_points(id) - stored : pending);
        });
    }

    void dropIfDone(int id)
    {
        auto it = sessions_.find(id);
        if (it == sessions_.end() || it->second->window || it->second->store->PendingStrokes() > 0)
            return;
        deliver([id](PaintWorker &f) { f.setPending(id, QString(), 0); });
        if (const Session &done = *it->second; done.recovered > 0)
            deliver([path = done.link->path, no = done.imageNo, n = done.recovered](PaintWorker &f) {
                emit f.Recovered(path, no, n);
            });
        Link *link = it->second->link;
        sessions_.erase(it);
        // An attachment nothing uses any more goes: it would keep the database open.
        for (auto &[other, s] : sessions_)
            if (s->link == link)
                return;
        link->db.DisconnectDatabase();
        links_.erase(link->path);
    }

    // The lost links are tried again, and strokes that wait for a retry are stored.
    void tick()
    {
        for (auto &[id, s] : sessions_) {
            const bool waits = s->store->PendingStrokes() > 0;
            if (!waits)
                continue;
            if (!connected(*s->link)) {
                report(*s);
                continue;
            }
            if (now() >= s->retryAtMs)
                serveLater(id);
        }
    }

    // Serving may end or add sessions: not while iterating over them.
    void serveLater(int id)
    {
        QTimer::singleShot(0, this, [this, id] { refresh(id); });
    }

    void deliver(std::function<void(PaintWorker &)> what)
    {
        PaintWorker *f = front_;
        QMetaObject::invokeMethod(f, [f, what = std::move(what)] { what(*f); }, Qt::QueuedConnection);
    }

    PaintWorker *front_;
    QElapsedTimer clock_;
    QTimer *timer_ = nullptr;
    std::map<QString, std::unique_ptr<Link>> links_;
    std::map<int, std::unique_ptr<Session>> sessions_;
    int nextBackground_ = 0;
};

// ---- the window thread's side ----

std::atomic<int> PaintWorker::FirstRetryMs{5000};

PaintWorker::PaintWorker(QObject *parent) : QObject(parent)
{
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("paint-db"));
    side_ = new WorkerSide(this);
    side_->moveToThread(thread_);
    connect(thread_, &QThread::started, side_, [s = side_] { s->start(); });
    connect(thread_, &QThread::finished, side_, &QObject::deleteLater);
    thread_->start();
}

PaintWorker::~PaintWorker()
{
    Stop();
}

void PaintWorker::post(std::function<void(WorkerSide &)> job)
{
    if (stopped_)
        return;
    ++posted_;
    WorkerSide *s = side_;
    QMetaObject::invokeMethod(
        s,
        [this, s, job = std::move(job)] {
            job(*s);
            QMetaObject::invokeMethod(this, [this] { jobDone(); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void PaintWorker::jobDone()
{
    ++done_;
}

int PaintWorker::Open(const QString &database, int imageNo)
{
    const int id = nextSession_++;
    waiting_[id] = {database, 0};
    post([id, database, imageNo](WorkerSide &s) { s.open(id, database, imageNo); });
    return id;
}

void PaintWorker::Close(int session)
{
    lost_.remove(session);
    post([session](WorkerSide &s) { s.close(session); });
}

void PaintWorker::Refresh(int session)
{
    post([session](WorkerSide &s) { s.refresh(session); });
}

void PaintWorker::Store(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points,
                        std::unique_ptr<JournalEntry> journal)
{
    auto &w = waiting_[session];
    w.points += static_cast<int>(points.size());
    w.posted += static_cast<int>(points.size());
    emit WaitingChanged();
    // The entry moves to the worker with the stroke and is touched there only.
    auto stroke = std::make_shared<StrokeStore::Stroke>(
        StrokeStore::Stroke{tag, user, pen, std::move(points), std::move(journal)});
    post([session, stroke](WorkerSide &s) { s.store(session, std::move(*stroke)); });
}

void PaintWorker::RecoverJournal(const QString &database)
{
    post([database](WorkerSide &s) { s.recover(database); });
}

void PaintWorker::DiscardOrphans(const QString &database, int imageNo)
{
    post([database, imageNo](WorkerSide &s) { s.discard(database, imageNo); });
}

int PaintWorker::posted_points(int session) const
{
    auto it = waiting_.find(session);
    return it == waiting_.end() ? 0 : it->second.posted;
}

void PaintWorker::setPending(int session, const QString &database, int points)
{
    if (points == 0 && database.isEmpty()) {
        waiting_.erase(session);
    } else {
        Waiting &w = waiting_[session];
        if (!database.isEmpty())
            w.database = database;
        w.points = points;
    }
    emit WaitingChanged();
}

QMap<QString, int> PaintWorker::WaitingPoints() const
{
    QMap<QString, int> out;
    for (const auto &[id, w] : waiting_)
        if (w.points > 0)
            out[w.database] += w.points;
    return out;
}

StrokeStore *PaintWorker::StoreOf(int session) const
{
    return side_ ? side_->storeOf(session) : nullptr;
}

bool PaintWorker::WaitIdle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (done_ < posted_) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done_ < posted_)
            QThread::msleep(1);
    }
    // What the last job delivered was posted before its done: handled by now.
    QCoreApplication::processEvents();
    return true;
}

void PaintWorker::Stop(int ms)
{
    if (stopped_)
        return;
    stopped_ = true;
    // A call hanging on the network would hold the thread: cut it.
    DataAccess::CancelAllCalls();
    WorkerSide *s = side_;
    QMetaObject::invokeMethod(s, [s] { s->shutDown(); }, Qt::QueuedConnection);
    side_ = nullptr;
    thread_->quit();
    if (thread_->wait(ms)) {
        delete thread_;
    } else {
        // The process ends soon anyway; the journal keeps what was not stored.
        thread_->setParent(nullptr);
    }
    thread_ = nullptr;
}
