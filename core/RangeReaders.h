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
// state, under a mutex.

#include "core/StrokeStore.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class DataAccess;

class RangeReaders {
public:
    // Starts the extra readers for the rows of `table` with N from 1 to lastN, when there
    // are enough of them to be worth it.
    RangeReaders(const QString &path, const QString &table, qint64 lastN);
    ~RangeReaders();
    RangeReaders(const RangeReaders &) = delete;
    RangeReaders &operator=(const RangeReaders &) = delete;

    // Hands every row with N from 1 to lastN to `each`, in N order, with its columns' NULL
    // flags when it was read on `db` (this thread's attachment; nullptr: not known). False
    // when a read on `db` failed: what was handed over is then a gapless start of the table.
    using Each = std::function<void(const StrokeRow &, const bool *nulls)>;
    bool Read(DataAccess &db, const Each &each);
    // A row of a stroke table's columns as read.
    static StrokeRow RowOf(const qint64 *values);

    // Rows the extra readers brought (benchmarks).
    qint64 RowsFromExtras() const;

    // Extra attachments per opening (0: none).
    static std::atomic<int> Extras;
    // A table with fewer rows is read on the opening's attachment alone.
    static std::atomic<int> MinRows;
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
