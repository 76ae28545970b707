#pragma once
// A picture's opening on a thread and attachment of its own ("paint-open <n>"): its rows,
// the local copy's check and the extra readers never hold the database's thread or the
// attachment that stores strokes, so every window of the database goes on storing while a
// large picture opens. The rows go to the database's thread in batches, then the outcome.
// Its OpeningStop (the window closed) ends it at once: its calls and its readers' are cut,
// and its attachment is closed before it says it is done.
//
// Threads: started from the database's thread (PaintDatabaseSide); what it hands over goes
// there as queued requests, counted in the side's busy until they have run.

#include "core/painting/PaintDatabaseSide.h"
#include "core/picture/PictureOpening.h"

#include <QObject>
#include <atomic>
#include <memory>

class PaintOpening : public QObject {
    Q_OBJECT
public:
    // Opens `options.table` of `side`'s database; returns at once. `rows`: its rows are
    // handed over (a window shows them). The side hears PaintDatabaseSide::openingRows and
    // then openingDone, with `session` and `serial`.
    static void Start(PaintDatabaseSide &side, const QString &path, const std::shared_ptr<std::atomic<int>> &busy,
                      PictureOpening::Options options, bool rows, int session, quint64 serial);
    // Openings of the process still at work, stopped or not, their attachment included.
    static int AtWork();

signals:
    void Request(const QString &database, const PaintRequest &request);

private:
    PaintOpening() = default;
    void run();
    void send(PaintRequest request, bool counted);

    QString path_;
    std::shared_ptr<std::atomic<int>> busy_;
    PictureOpening::Options options_;
    bool rows_ = false;
    int session_ = 0;
    quint64 serial_ = 0;
};
