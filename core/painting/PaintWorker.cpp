#include "core/painting/PaintWorker.h"

#include "core/painting/PaintDatabaseSide.h"
#include "core/painting/StrokeJournalThread.h"
#include "core/picture/OpeningStop.h"
#include "core/presence/PresenceBoard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <cstdio>
#include <unistd.h>

std::atomic<int> PaintWorker::FirstRetryMs{5000};

namespace {
// Ends the thread it runs on once its queue has come this far.
void quitHere()
{
    QThread::currentThread()->quit();
}
} // namespace

PaintWorker::PaintWorker(QObject *parent)
    : QObject(parent), journalBusy_(std::make_shared<std::atomic<int>>(0)), presence_(new PresenceBoard(this))
{
    qRegisterMetaType<PaintDelivery>();
    qRegisterMetaType<PaintRequest>();
    journalThread_ = new QThread;
    journalThread_->setObjectName(QStringLiteral("journal"));
    journal_ = new StrokeJournalThread;
    journal_->moveToThread(journalThread_);
    connect(journal_, &StrokeJournalThread::Written, this, &PaintWorker::written, Qt::QueuedConnection);
    connect(journal_, &StrokeJournalThread::Synced, this, [this](quint64 ticket) {
        auto it = afterJournal_.find(ticket);
        if (it == afterJournal_.end())
            return;
        auto then = std::move(it->second);
        afterJournal_.erase(it);
        then();
    }, Qt::QueuedConnection);
    connect(journal_, &StrokeJournalThread::Peeked, this, &PaintWorker::JournalPeeked, Qt::QueuedConnection);
    connect(journalThread_, &QThread::finished, journal_, &QObject::deleteLater);
    connect(journalThread_, &QThread::finished, journalThread_, &QObject::deleteLater);
    journalThread_->start();
}

PaintWorker::~PaintWorker()
{
    Stop();
    // Behind the entries still being written: they are all made first.
    QMetaObject::invokeMethod(journal_, [j = journal_] {
        j->Settle();
        quitHere();
    }, Qt::QueuedConnection);
}

PaintWorker::Database &PaintWorker::databaseOf(const QString &path)
{
    auto it = databases_.find(path);
    if (it != databases_.end())
        return it->second;
    Database &d = databases_[path];
    d.busy = std::make_shared<std::atomic<int>>(0);
    d.thread = new QThread;
    d.thread->setObjectName(QStringLiteral("paint-db %1").arg(databases_.size()));
    d.side = new PaintDatabaseSide(path, d.busy);
    d.side->moveToThread(d.thread);
    connect(d.side, &PaintDatabaseSide::Deliver, this, [this](const PaintDelivery &what) { what(*this); },
            Qt::QueuedConnection);
    connect(journal_, &StrokeJournalThread::Forward, d.side, &PaintDatabaseSide::Forwarded,
            Qt::QueuedConnection);
    connect(d.thread, &QThread::finished, d.side, &QObject::deleteLater);
    connect(d.thread, &QThread::finished, d.thread, &QObject::deleteLater);
    d.thread->start();
    return d;
}

void PaintWorker::post(const QString &database, std::function<void(PaintDatabaseSide &)> request)
{
    if (stopped_)
        return;
    Database &d = databaseOf(database);
    PaintDatabaseSide::Post(d.side, d.busy, std::move(request));
}

int PaintWorker::Open(const QString &database, int imageNo)
{
    const int id = nextSession_++;
    waiting_[id] = {database, 0};
    pictures_[id] = {database, imageNo, 0, QString()};
    auto stop = std::make_shared<OpeningStop>();
    openingStops_[id] = stop;
    post(database, [id, imageNo, stop](PaintDatabaseSide &s) { s.open(id, imageNo, stop); });
    return id;
}

void PaintWorker::Close(int session)
{
    lost_.remove(session);
    // Its opening ends now, whatever its database's thread is doing.
    if (auto stop = openingStops_.find(session); stop != openingStops_.end()) {
        stop->second->Stop();
        openingStops_.erase(stop);
    }
    auto it = pictures_.find(session);
    if (it == pictures_.end() || stopped_)
        return;
    // Behind the strokes still on their way through the journal thread.
    Database &d = databaseOf(it->second.database);
    ++*d.busy;
    const QString database = it->second.database;
    pictures_.erase(it);
    QMetaObject::invokeMethod(journal_, [j = journal_, database, session] {
        j->Pass(database, [session](PaintDatabaseSide &s) { s.close(session); });
    }, Qt::QueuedConnection);
}

void PaintWorker::Refresh(int session)
{
    auto it = pictures_.find(session);
    if (it != pictures_.end())
        post(it->second.database, [session](PaintDatabaseSide &s) { s.refresh(session); });
}

void PaintWorker::Store(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points)
{
    hand(session, tag, user, pen, std::move(points), false);
}

void PaintWorker::Begin(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points)
{
    hand(session, tag, user, pen, std::move(points), true);
}

void PaintWorker::Extend(int session, quint64 tag, std::vector<QPoint> points, bool last)
{
    auto it = pictures_.find(session);
    if (it == pictures_.end() || stopped_)
        return;
    const int n = static_cast<int>(points.size());
    if (n > 0) {
        auto &w = waiting_[session];
        w.points += n;
        w.posted += n;
        emit WaitingChanged();
        if (auto j = inJournal_.find({session, tag}); j != inJournal_.end())
            j->second += n;
        if (auto u = unjournaled_.find(session); u != unjournaled_.end() && u->second.count(tag)) {
            u->second[tag] += n;
            emit JournalTroubleChanged();
        }
    }
    const QString database = it->second.database;
    Database &d = databaseOf(database);
    ++*d.busy; // counted until the paint thread has taken it
    // Behind the stroke's beginning, which goes through the journal thread.
    QMetaObject::invokeMethod(journal_, [j = journal_, database, session, tag, points = std::move(points), last] {
        j->Append(session, tag, points, last, database,
                  [session, tag, points, last](PaintDatabaseSide &s) { s.extend(session, tag, points, last); });
    }, Qt::QueuedConnection);
}

void PaintWorker::hand(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points, bool open)
{
    auto it = pictures_.find(session);
    if (it == pictures_.end() || stopped_)
        return;
    const Picture &p = it->second;
    auto &w = waiting_[session];
    w.points += static_cast<int>(points.size());
    w.posted += static_cast<int>(points.size());
    emit WaitingChanged();
    JournalStroke j;
    j.database = p.database;
    j.imageNo = p.imageNo;
    j.user = user;
    j.penType = pen.type;
    j.penSize = pen.size;
    j.penColor = pen.color;
    j.points = points;
    j.anchorN = p.anchorN;
    j.anchorRow = p.anchorRow;
    j.open = open;
    inJournal_[{session, tag}] = static_cast<int>(points.size());
    Database &d = databaseOf(p.database);
    ++*d.busy; // counted until the paint thread has taken it
    auto stroke = std::make_shared<StrokeStore::Stroke>(
        StrokeStore::Stroke{tag, user, pen, std::move(points), nullptr, open});
    QMetaObject::invokeMethod(journal_, [jt = journal_, session, tag, j = std::move(j), stroke] {
        jt->Write(session, tag, j, [session, stroke](std::unique_ptr<JournalEntry> entry) -> PaintRequest {
            // The entry moves to the paint thread with the stroke and is touched there only.
            stroke->journal = std::move(entry);
            return [session, stroke](PaintDatabaseSide &s) { s.store(session, std::move(*stroke)); };
        });
    }, Qt::QueuedConnection);
}

void PaintWorker::RecoverJournal(const QString &database)
{
    post(database, [](PaintDatabaseSide &s) { s.recover(); });
}

void PaintWorker::DiscardOrphans(const QString &database, int imageNo)
{
    post(database, [imageNo](PaintDatabaseSide &s) { s.discard(imageNo); });
}

void PaintWorker::KeepOrphans(const QString &database, int imageNo)
{
    post(database, [imageNo](PaintDatabaseSide &s) { s.discard(imageNo, true); });
}

void PaintWorker::written(int session, quint64 tag, const QString &why, qint64 syncedNs)
{
    const auto key = std::make_pair(session, tag);
    const int points = inJournal_.count(key) ? inJournal_[key] : 0;
    inJournal_.erase(key);
    if (!why.isEmpty())
        unjournaled_[session][tag] = points;
    const bool changed = journalTrouble_ != why || !why.isEmpty();
    journalTrouble_ = why;
    emit Journaled(session, tag, why, syncedNs);
    if (changed)
        emit JournalTroubleChanged();
}

void PaintWorker::storedAt(int session, quint64 tag)
{
    auto it = unjournaled_.find(session);
    if (it != unjournaled_.end() && it->second.erase(tag) > 0) {
        if (it->second.empty())
            unjournaled_.erase(it);
        emit JournalTroubleChanged();
    }
    emit Stored(session, tag);
}

void PaintWorker::rowsFor(int session, const QVector<StrokeRow> &rows)
{
    auto it = pictures_.find(session);
    if (it != pictures_.end()) {
        for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
            if (r->n > it->second.anchorN) {
                it->second.anchorN = r->n;
                it->second.anchorRow = RowContent(*r);
                break;
            }
        }
    }
    emit Rows(session, rows);
}

void PaintWorker::clearedAt(int session)
{
    auto it = pictures_.find(session);
    if (it != pictures_.end()) {
        it->second.anchorN = 0;
        it->second.anchorRow.clear();
    }
    emit Cleared(session);
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

int PaintWorker::UnjournaledPoints() const
{
    int n = 0;
    for (const auto &[session, strokes] : unjournaled_)
        n += UnjournaledPoints(session);
    return n;
}

int PaintWorker::UnjournaledPoints(int session) const
{
    auto it = unjournaled_.find(session);
    if (it == unjournaled_.end())
        return 0;
    int n = 0;
    for (const auto &[tag, points] : it->second)
        n += points;
    // A stroke stored in part counts only its points that wait.
    return std::min(n, WaitingPoints(session));
}

StrokeStore *PaintWorker::StoreOf(int session) const
{
    auto it = pictures_.find(session);
    if (it == pictures_.end() || stopped_)
        return nullptr;
    auto d = databases_.find(it->second.database);
    if (d == databases_.end())
        return nullptr;
    // Asked on its thread; the answer is kept alive by whichever side ends last.
    struct Answer {
        std::atomic<bool> done{false};
        StrokeStore *store = nullptr;
    };
    auto answer = std::make_shared<Answer>();
    QMetaObject::invokeMethod(d->second.side, [side = d->second.side, session, answer] {
        answer->store = side->storeOf(session);
        answer->done.store(true);
    }, Qt::QueuedConnection);
    QDeadlineTimer deadline(5000);
    while (!answer->done.load() && !deadline.hasExpired())
        QThread::msleep(1);
    return answer->done.load() ? answer->store : nullptr;
}

QStringList PaintWorker::ThreadNames() const
{
    QStringList out{journalThread_->objectName()};
    for (const auto &[path, d] : databases_)
        out << d.thread->objectName();
    return out;
}

bool PaintWorker::Listening(const QString &database) const
{
    auto d = databases_.find(database);
    return d != databases_.end() && !stopped_ && d->second.side->listening();
}

void PaintWorker::PeekJournal()
{
    QMetaObject::invokeMethod(journal_, [jt = journal_] { jt->Peek(); }, Qt::QueuedConnection);
}

bool PaintWorker::WaitIdle(int ms)
{
    QDeadlineTimer deadline(ms);
    auto busy = [this] {
        for (const auto &[path, d] : databases_)
            if (d.busy->load() > 0)
                return true;
        return false;
    };
    while (busy()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (busy())
            QThread::msleep(1);
    }
    // What the last piece of work delivered was posted before it counted itself done.
    QCoreApplication::processEvents();
    return true;
}

void PaintWorker::Stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    presence_->Stop();
    for (auto &[session, stop] : openingStops_)
        stop->Stop();
    openingStops_.clear();
    for (auto &[path, d] : databases_) {
        // A call hanging on the network would hold the thread: cut it (the side lives
        // until its thread has ended, which is after the request below).
        d.side->CancelCall();
        // Behind the strokes still on their way through the journal thread, so that each
        // lets its entry go; the thread then ends by itself, joined by nobody.
        ++*d.busy;
        QMetaObject::invokeMethod(journal_, [j = journal_, database = path] {
            j->Pass(database, [](PaintDatabaseSide &s) {
                s.shutDown();
                quitHere();
            });
        }, Qt::QueuedConnection);
    }
}

void PaintWorker::ExitWhenJournaled(int rc)
{
    QMetaObject::invokeMethod(journal_, [j = journal_, rc] {
        j->Settle();
        std::fflush(nullptr);
        ::_exit(rc);
    }, Qt::QueuedConnection);
}

void PaintWorker::WhenJournaled(std::function<void()> then)
{
    const quint64 ticket = nextTicket_++;
    afterJournal_[ticket] = std::move(then);
    QMetaObject::invokeMethod(journal_, [j = journal_, ticket] {
        j->Settle();
        emit j->Synced(ticket);
    },
                              Qt::QueuedConnection);
}
