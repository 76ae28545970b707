#pragma once
// Reads a stroke table's rows in ranges of N on a few extra attachments while the opening
// reads on its own, and hands them over in N order. Through a slow line the fetch is bound
// by round trips (the client asks for about a thousand rows at a time, whatever their size),
// so several attachments fetching at once bring the rows in that much sooner.
//
// The readers are only a speed-up: a range no reader has taken, and the rest of one whose
// reader failed (no attach, a lost line, an error) or handed nothing for StallMs, is read
// on the opening's own attachment. Each reader has its own thread and attachment, attached
// bounded as every attach is; nobody waits for it to end: it stops at its next rows once the
// opening is over and detaches by itself. Counted, never joined.
//
// Threads: made and read on the opening's thread; the readers share only the ranges'
// state, under a mutex. The opening's OpeningStop ends them too.

#include "core/StrokeRow.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class DataAccess;
class OpeningStop;

class RangeReaders {
public:
    // Starts the extra readers of `table`'s rows. The first of them to attach asks for the
    // highest N and plans the ranges: from the opening's row (see At) plus Lead on.
    RangeReaders(const QString &path, const QString &table, std::shared_ptr<OpeningStop> stop = {});
    ~RangeReaders();
    RangeReaders(const RangeReaders &) = delete;
    RangeReaders &operator=(const RangeReaders &) = delete;

    // The opening's own read has got to row n.
    void At(qint64 n);
    // The first N of the planned ranges, 0 while there is no plan: the opening reads up to
    // below it itself, then hands the ranges over with Read.
    qint64 PlannedFrom() const;
    // The last N of the planned ranges (rows above it are read after them).
    qint64 PlannedTo() const;

    // Hands every row of the planned ranges to `each`, in N order, with its record version.
    // False when a read on `db` (this thread's attachment) failed or the opening was
    // stopped: what was handed over is then a gapless start of the table.
    using Each = std::function<void(const StrokeRow &, qint64 version)>;
    bool Read(DataAccess &db, const Each &each);
    // A row of a stroke table's columns as read, with its NULLs.
    static StrokeRow RowOf(const qint64 *values, const bool *nulls);

    // Rows the extra readers brought (benchmarks).
    qint64 RowsFromExtras() const;

    // Extra attachments per opening (0: none).
    static std::atomic<int> Extras;
    // The opening starts the readers once it has read this many rows on its own; the
    // ranges begin this many rows past where it is then.
    static std::atomic<int> StartAfter;
    // A reader that hands over nothing for this long is done without.
    static std::atomic<int> StallMs;
    // Readers of the process still at work, given up or not.
    static int AtWork();
    // Tests: the path the extra readers attach to instead of the opening's (empty: the same).
    static void SetPathForTests(const QString &path);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
