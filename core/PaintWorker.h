#pragma once
// The painting windows' database work, on one thread of its own: the replay on
// opening, the 5-second refresh, the storing of strokes, and the storing of strokes
// a run before left in the journal. The worker holds one attachment per database
// it serves (its own, not the main window's), so the window's thread never waits
// for the network: it posts requests here and draws the rows that come back.
//
// Threads: PaintWorker lives on the window's thread and is the only door; the
// sessions, stores and attachments live on the worker thread (see PaintWorker.cpp)
// and come back to this object only through queued calls.

#include "core/StrokeStore.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <memory>
#include <unordered_map>
#include <vector>

class QThread;
class WorkerSide;

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
    // Stores a stroke drawn in the session's window; `journal` is its durable copy.
    void Store(int session, quint64 tag, int user, const PenTip &pen, std::vector<QPoint> points,
               std::unique_ptr<JournalEntry> journal);
    // Stores the journal's strokes of `database` that no running program holds.
    void RecoverJournal(const QString &database);
    // The user gave up the journal's strokes of a picture that is gone.
    void DiscardOrphans(const QString &database, int imageNo);

    // Points that wait to be stored, by database.
    QMap<QString, int> WaitingPoints() const;
    int WaitingPoints(int session) const
    {
        auto it = waiting_.find(session);
        return it == waiting_.end() ? 0 : it->second.points;
    }
    bool Lost(int session) const { return lost_.value(session); }

    // Cuts every call in progress and ends the thread, waiting at most `ms` for it.
    // What is not stored by then stays in the journal for the next run.
    void Stop(int ms = 2000);

    // Tests: processes events until every request posted so far is done and its
    // results delivered; false when `ms` pass first.
    bool WaitIdle(int ms = 20000);
    // Tests only, while idle: the session's store, which lives on the worker thread.
    StrokeStore *StoreOf(int session) const;

    // Rows handed to a window at once.
    static constexpr int BatchRows = 4096;
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
    // The session's database is reachable (false) or lost (true).
    void LostChanged(int session, bool lost);
    // A stroke was refused again and again for a reason other than the network.
    void LastingFailure(int session, const QString &reason);
    // Journal strokes whose picture (table or list row) is gone in `database`.
    void Orphans(const QString &database, int imageNo, int points);
    // WaitingPoints() changed.
    void WaitingChanged();

private:
    friend class WorkerSide;
    void post(std::function<void(WorkerSide &)> job);
    void jobDone();
    void setPending(int session, const QString &database, int points);

    QThread *thread_ = nullptr;
    WorkerSide *side_ = nullptr;
    int nextSession_ = 1;
    quint64 posted_ = 0;
    quint64 done_ = 0;
    struct Waiting {
        QString database;
        int points = 0;
        int posted = 0; // points of a window's strokes handed to the worker so far
    };
    int posted_points(int session) const;
    std::unordered_map<int, Waiting> waiting_;
    QMap<int, bool> lost_;
    bool stopped_ = false;
};
