#pragma once
// The "journal" thread (one per program): makes the journal entry of each stroke handed
// over at mouse-up (a write and two syncs of a file in the home folder, which may be on
// NFS), then forwards the stroke with its entry to its database's paint thread. The
// window thread thus never waits for the disk, and each stroke is durable before its
// first row is sent. A crash between mouse-up and the sync loses what is still queued
// here (the strokes of the last few milliseconds). The points of a stroke sent while it is
// drawn are noted here too, so a signal that ends the process behind them loses none; the
// slices that queue up while a sync runs go into one note and one sync.
// Threads: made on the window thread and moved to its own; reached by queued calls only.

#include "core/painting/PaintDatabaseSide.h"
#include "core/journal/StrokeJournal.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <map>
#include <utility>
#include <vector>

class StrokeJournalThread : public QObject {
    Q_OBJECT
public:
    StrokeJournalThread() = default;

    // Journal thread: writes the entry of `stroke` into the folder of the moment and
    // forwards the request `then(entry)` to the database's paint thread.
    void Write(int session, quint64 tag, const JournalStroke &stroke,
               std::function<PaintRequest(std::unique_ptr<JournalEntry>)> then);
    // Journal thread: reads the entries no running program holds; Peeked answers.
    void Peek();
    // Journal thread: notes the points drawn since of an open stroke (and its end, `last`)
    // in its entry, then forwards `then` (which hands them to the store) to its database's thread.
    // Slices handed over while this thread is busy are noted together, once it is free.
    void Append(int session, quint64 tag, const std::vector<QPoint> &points, bool last, const QString &database,
                const PaintRequest &then);
    // Journal thread: passes a request on behind the strokes handed over before it.
    void Pass(const QString &database, const PaintRequest &request)
    {
        Settle();
        emit Forward(database, request);
    }
    // Journal thread: notes and forwards the slices handed over so far, now. Whatever must
    // come after them (a new entry, a request passed on, the end of the process) calls it first.
    void Settle();

private:
    // The entries of the open strokes: (session, tag) -> appender.
    std::map<std::pair<int, quint64>, JournalAppender> appenders_;
    struct Slice {
        int session;
        quint64 tag;
        std::vector<QPoint> points;
        bool last;
        QString database;
        PaintRequest then;
    };
    // Handed over, not yet noted, in the order they came.
    std::vector<Slice> slices_;
    bool settleQueued_ = false;

signals:
    // To the paint threads: the request is for the one serving `database`.
    void Forward(const QString &database, const PaintRequest &request);
    // To the front: the stroke's entry is on disk (why empty) or could not be written,
    // `syncedNs` on the steady clock.
    void Written(int session, quint64 tag, const QString &why, qint64 syncedNs);
    // To the front: points in the entries no running program holds, by database.
    void Peeked(const QMap<QString, int> &points);
    // To the front: every entry asked for before the ticket is on disk (or failed).
    void Synced(quint64 ticket);
};
