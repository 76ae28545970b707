#pragma once
// The painting windows' one door to the database and the journal. Each database has
// a thread of its own ("paint-db <n>", core/painting/PaintDatabaseSide) for the replay on
// opening (read on a "paint-open" thread of its own, core/painting/PaintOpening), the
// refresh (at each event its pictures' writers post, every second while
// those events do not come, and every 5 s),
// the storing of strokes and of those a run before left in the journal; one
// "journal" thread (core/painting/StrokeJournalThread) makes each stroke's journal entry.
// The window's thread never waits for the network or the disk: it posts requests
// and draws the rows that come back.
//
// Threads: PaintWorker lives on the window's thread. Requests go by queued calls;
// answers come back by queued signals to it, so Qt drops those it can no longer take.

#include "core/painting/StrokeStore.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class QThread;
class OpeningStop;
class PaintDatabaseSide;
class PresenceBoard;
class StrokeJournalThread;

class PaintWorker : public QObject {
    Q_OBJECT
public:
    explicit PaintWorker(QObject *parent = nullptr);
    ~PaintWorker() override;

    // Picture `imageNo` on `database` for a painting window: it is drawn from its
    // table (made when missing) and refreshed on request. Returns the session's number.
    int Open(const QString &database, int imageNo);
    // The window is gone: its strokes not yet stored go on being stored.
    void Close(int session);
    // Draws what others stored (and stores what waits) on the session's picture.
    void Refresh(int session);
    // Stores a stroke drawn in the session's window: its journal entry is made first,
    // on the journal thread; Journaled tells how that went.
    void Store(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points);
    // As Store, for a stroke still being drawn: its further points come by Extend, the
    // last of them with `last`. Each block is stored as it comes, all with one DN; blocks
    // that queue up meanwhile go as one. Taken tells when the side has tried a block.
    void Begin(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points);
    void Extend(int session, quint64 tag, std::vector<QPoint> points, bool last);
    // Stores the journal's strokes of `database` that no running program holds.
    void RecoverJournal(const QString &database);
    // The user gave up the journal's strokes of a picture that is gone, or kept them for a
    // later run (they no longer count as waiting).
    void DiscardOrphans(const QString &database, int imageNo);
    void KeepOrphans(const QString &database, int imageNo);

    // Points that wait to be stored, by database.
    QMap<QString, int> WaitingPoints() const;
    int WaitingPoints(int session) const
    {
        auto it = waiting_.find(session);
        return it == waiting_.end() ? 0 : it->second.points;
    }
    bool Lost(int session) const { return lost_.value(session); }
    // Of the waiting points, those no journal entry holds (it could not be written):
    // lost if the program ends before they are stored. By session (closed windows too).
    int UnjournaledPoints() const;
    int UnjournaledPoints(int session) const;
    // Why the last journal entry could not be written; empty once one could.
    QString JournalTrouble() const { return journalTrouble_; }

    // Cuts every call in progress and lets the database threads end by themselves; never
    // waits. What is not stored by then stays in the journal for the next run.
    void Stop();
    // The process ends with _exit(rc) on the journal thread, once every stroke handed
    // over before this call is in the journal (synced). Never waits either.
    void ExitWhenJournaled(int rc);
    // `then` runs on this thread once every stroke handed over before is in the journal.
    void WhenJournaled(std::function<void()> then);

    // Tests: processes events until every request posted so far, and the work the
    // timers and events began, is done and its results delivered; false when `ms` pass first.
    bool WaitIdle(int ms = 20000);
    // Tests only, while idle: the session's store, which lives on its database's thread
    // (asked there; null when it did not answer within a few seconds).
    StrokeStore *StoreOf(int session) const;
    // Tests and benchmarks: the threads' names, and whether a database's events reach us
    // (its "paint-events" thread has its waits armed).
    QStringList ThreadNames() const;
    bool Listening(const QString &database) const;

    // Who has which picture open, per database: the windows tell it what they show.
    PresenceBoard &Presence() { return *presence_; }

    // Reads which strokes of other databases wait in the journal, on the journal thread;
    // JournalPeeked answers.
    void PeekJournal();

    // Rows handed to a window at once.
    static constexpr int BatchRows = 4096;
    // A window hands the points of a stroke under the mouse over this often (Extend),
    // whether or not a block of it is on its way: each is on disk within this and a sync.
    static constexpr int SliceMs = 20;
    // The first wait before a refused stroke is tried again; it doubles with each refusal
    // up to 16 times, and the user is told after the fourth. Tests shorten it.
    static std::atomic<int> FirstRetryMs;

signals:
    // Rows to draw, in N order, for one session.
    void Rows(int session, const QVector<StrokeRow> &rows);
    // The picture is drawn again from scratch: clear it first.
    void Cleared(int session);
    // The opening's replay: rows drawn so far; `done` once it has finished.
    void Loading(int session, int rows, bool done);
    // A stroke is wholly stored.
    void Stored(int session, quint64 tag);
    // What was handed over of an open stroke has been tried: stored, or waiting for the
    // connection or a retry. The window sends its next block after this.
    void Taken(int session, quint64 tag);
    // A stroke's journal entry is on disk (why empty) or could not be written;
    // `syncedNs`: when, on std::chrono::steady_clock.
    void Journaled(int session, quint64 tag, const QString &why, qint64 syncedNs);
    // JournalTrouble() or UnjournaledPoints() changed.
    void JournalTroubleChanged();
    // The session's database is reachable (false) or lost (true).
    void LostChanged(int session, bool lost);
    // A stroke was refused again and again for a reason other than the network.
    void LastingFailure(int session, const QString &reason);
    // Journal strokes whose picture is gone in `database`: its table or list row
    // (remade false), or the rows they were drawn on, the picture's strokes deleted and
    // perhaps drawn anew (remade true).
    void Orphans(const QString &database, int imageNo, int points, bool remade);
    // The journal's strokes that a run before left for a picture are stored now.
    void Recovered(const QString &database, int imageNo, int points);
    // WaitingPoints() changed.
    void WaitingChanged();
    // The answer to PeekJournal: points in entries no running program holds, by database.
    void JournalPeeked(const QMap<QString, int> &points);

private:
    friend class PaintDatabaseSide;
    struct Database {
        QThread *thread = nullptr;
        PaintDatabaseSide *side = nullptr;
        std::shared_ptr<std::atomic<int>> busy;
    };
    Database &databaseOf(const QString &path);
    void post(const QString &database, std::function<void(PaintDatabaseSide &)> request);
    void setPending(int session, const QString &database, int points);
    void hand(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points, bool open);
    int posted_points(int session) const;
    void rowsFor(int session, const QVector<StrokeRow> &rows);
    void clearedAt(int session);
    void storedAt(int session, quint64 tag);
    void written(int session, quint64 tag, const QString &why, qint64 syncedNs);

    std::map<QString, Database> databases_;
    QThread *journalThread_ = nullptr;
    StrokeJournalThread *journal_ = nullptr;
    std::shared_ptr<std::atomic<int>> journalBusy_;
    int nextSession_ = 1;
    struct Waiting {
        QString database;
        int points = 0;
        int posted = 0; // points of a window's strokes handed to the worker so far
    };
    std::unordered_map<int, Waiting> waiting_;
    struct Picture {
        QString database;
        int imageNo = 0;
        // The highest row handed to the window: the picture's identity for the journal.
        qint64 anchorN = 0;
        QString anchorRow;
    };
    std::unordered_map<int, Picture> pictures_;
    // What ends each open window's opening at once (its close).
    std::unordered_map<int, std::shared_ptr<OpeningStop>> openingStops_;
    // Strokes whose entry could not be written, until they are stored: session -> tag -> points.
    std::unordered_map<int, std::map<quint64, int>> unjournaled_;
    // Strokes on their way through the journal thread: (session, tag) -> points.
    std::map<std::pair<int, quint64>, int> inJournal_;
    std::map<quint64, std::function<void()>> afterJournal_;
    quint64 nextTicket_ = 1;
    QString journalTrouble_;
    QMap<int, bool> lost_;
    PresenceBoard *presence_ = nullptr;
    bool stopped_ = false;
};
