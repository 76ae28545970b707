// The opening of a picture (from the local copy once the server confirms it, the rest from
// the server, a large table on extra readers too), and the catching-up with rows stored
// since, which draws the picture again when the table no longer holds what was drawn.

#include "core/painting/StrokeStore.h"

#include "core/painting/StrokeStoreRows.h"
#include "core/picture/PictureCache.h"
#include "core/picture/RangeReaders.h"
#include "db/DataAccess.h"

#include <algorithm>
#include <map>
#include <utility>

using namespace StrokeStoreRows;

namespace {
// The table's relation id as a value of a SELECT: a table dropped and made again gets a new one.
QString relationIdOf(const QString &table)
{
    return QStringLiteral("(SELECT RDB$RELATION_ID FROM RDB$RELATIONS WHERE RDB$RELATION_NAME='%1')").arg(table.toUpper());
}

bool sameRow(const StrokeRow &a, const StrokeRow &b)
{
    return a.n == b.n && a.mn == b.mn && a.dn == b.dn && a.type == b.type && a.size == b.size && a.color == b.color
           && a.x == b.x && a.y == b.y;
}
} // namespace

void StrokeStore::load(bool createMissing)
{
    readCount_ = 0;
    drawnUpTo_ = 0;
    highestDn_.clear();
    watermarkRow_.clear();
    ownAbove_.clear();
    lastOpening_ = {};
    const bool exists = db_.TableExists(table_);
    openingPending_ = createMissing && (!db_.IsConnected() || db_.TableListFailed());
    if (!exists) {
        if (createMissing && db_.IsConnected() && !db_.TableListFailed())
            db_.CreateImageTable(table_);
        else if (db_.IsConnected() && !db_.TableListFailed())
            fail(Failure::TableGone);
        return;
    }
    // Rows are drawn as they arrive; what came before a failure is a gapless start of the
    // table and stays drawn, the rest comes with the next refresh.
    std::vector<StrokeRow> copyRows; // what the new local copy holds
    // The last row and its NULLs, for the text of the row at the watermark.
    StrokeRow last;
    bool lastNulls[kRowColumns] = {};
    bool lastKnown = false;
    const auto take = [&](const StrokeRow &r, const bool *nulls) {
        takeRow(r);
        ++readCount_;
        drawnUpTo_ = std::max<qint64>(r.n, 0);
        last = r;
        lastKnown = nulls != nullptr;
        if (nulls)
            std::copy(nulls, nulls + kRowColumns, lastNulls);
        if (cached_)
            copyRows.push_back(r);
    };
    const QString key = cached_ ? PictureCache::KeyOf(db_.DatabasePath(), table_) : QString();
    int relationId = 0;
    if (cached_) {
        PictureCache::Copy copy = PictureCache::Read(key);
        if (!copy.rows.empty()) {
            const CopyCheck check = checkCopy(copy.rows, copy.relationId);
            if (check == CopyCheck::Same) {
                for (const StrokeRow &r : copy.rows) {
                    takeRow(r);
                    ++readCount_;
                }
                drawnUpTo_ = copy.rows.back().n;
                lastOpening_.fromCopy = readCount_;
                relationId = copy.relationId;
                copyRows = std::move(copy.rows);
            } else if (check == CopyCheck::Differs) {
                PictureCache::Remove(key);
                lastOpening_.copyRefused = true;
            }
        }
    }
    bool ok = true;
    if (lastOpening_.fromCopy > 0) {
        db_.ForEachIntegerRow(QStringLiteral("*"), table_, QStringLiteral("N>") + num(drawnUpTo_), QStringLiteral("N"),
                              [&](const qint64 *values, const bool *nulls) {
                                  take(RangeReaders::RowOf(values), nulls);
                                  return true;
                              });
        ok = !readFailed();
    } else {
        relationId = db_.RelationIdOf(table_);
        ok = readWhole(take);
    }
    lastOpening_.fromServer = readCount_ - lastOpening_.fromCopy;
    if (readCount_ > 0 && lastKnown) {
        QStringList row = valuesOf(last.n, last.mn, last.dn, {last.type, last.size, last.color}, {last.x, last.y});
        for (int i = 0; i < kRowColumns; ++i)
            if (lastNulls[i])
                row[i].clear();
        watermarkRow_ = rowContent(row);
    }
    // Otherwise not known: the next refresh takes it from the row at the watermark.
    if (cached_ && ok && relationId > 0 && lastOpening_.fromServer > 0) {
        auto copy = std::make_shared<PictureCache::Copy>();
        copy->relationId = relationId;
        copy->rows = std::move(copyRows);
        PictureCache::WriteLater(key, std::move(copy));
    }
}

StrokeStore::CopyCheck StrokeStore::checkCopy(const std::vector<StrokeRow> &rows, int relationId)
{
    // The first, the last and a few between, chosen afresh each time.
    std::map<qint64, const StrokeRow *> sample;
    const size_t last = rows.size() - 1;
    sample[rows.front().n] = &rows.front();
    sample[rows.back().n] = &rows.back();
    for (int i = 0; i < 6 && last > 1; ++i) {
        const size_t at = 1 + std::uniform_int_distribution<size_t>(0, last - 2)(random_);
        sample[rows[at].n] = &rows[at];
    }
    QStringList numbers;
    for (const auto &[n, row] : sample)
        numbers << num(n);
    int same = 0;
    bool otherTable = false;
    db_.ForEachRow(QStringLiteral("T.*, ") + relationIdOf(table_), table_ + QStringLiteral(" T"),
                   QStringLiteral("T.N IN (") + numbers.join(QLatin1Char(',')) + QLatin1Char(')'),
                   QStringLiteral("T.N"), [&](const QStringList &row) {
                       const StrokeRow r = rowOf(row);
                       auto it = sample.find(r.n);
                       if (TextToInt(row.value(kRowColumns)) != relationId)
                           otherTable = true;
                       else if (it != sample.end() && sameRow(r, *it->second))
                           ++same;
                   });
    if (readFailed())
        return CopyCheck::Unknown;
    return !otherTable && same == int(sample.size()) ? CopyCheck::Same : CopyCheck::Differs;
}

bool StrokeStore::readWhole(const std::function<void(const StrokeRow &, const bool *nulls)> &each)
{
    // Read here from the first row on; a large table's rows further on come from extra
    // readers, planned while these are read.
    std::unique_ptr<RangeReaders> readers;
    const int extras = RangeReaders::Extras.load();
    const qint64 startAfter = RangeReaders::StartAfter.load();
    qint64 stopAt = 0;
    bool stopped = false;
    db_.ForEachIntegerRow(QStringLiteral("*"), table_, QString(), QStringLiteral("N"),
                          [&](const qint64 *values, const bool *nulls) {
                              const StrokeRow r = RangeReaders::RowOf(values);
                              if (readers) {
                                  if (stopAt == 0)
                                      stopAt = readers->PlannedFrom();
                                  if (stopAt > 0 && r.n >= stopAt) {
                                      stopped = true;
                                      return false;
                                  }
                                  if ((r.n & 255) == 0)
                                      readers->At(r.n);
                              } else if (extras > 0 && r.n >= startAfter) {
                                  readers = std::make_unique<RangeReaders>(db_.DatabasePath(), table_);
                                  readers->At(r.n);
                              }
                              each(r, nulls);
                              return true;
                          });
    if (!stopped)
        return !readFailed();
    const bool ok = readers->Read(db_, each);
    lastOpening_.fromExtras = readers->RowsFromExtras();
    if (!ok)
        return false;
    // What was stored above the ranges meanwhile.
    db_.ForEachIntegerRow(QStringLiteral("*"), table_, QStringLiteral("N>") + num(readers->PlannedTo()),
                          QStringLiteral("N"), [&](const qint64 *values, const bool *nulls) {
                              each(RangeReaders::RowOf(values), nulls);
                              return true;
                          });
    return !readFailed();
}

void StrokeStore::redraw(bool asOpening)
{
    if (clear_)
        clear_();
    // A table deleted from the image list stays deleted until someone opens the
    // picture again; the unstored points wait for it.
    load(asOpening);
    // Unstored points stay on the picture; they get numbers and a stroke number
    // of the table as it is now when they are stored.
    for (PendingStroke &s : pending_) {
        if (s.sendingN == 0) {
            s.dn = 0;
            s.numbered = false;
        }
        if (draw_ && !s.orphan)
            for (const QPoint &p : s.points)
                draw_({0, s.user, 0, s.pen.type, s.pen.size, s.pen.color, p.x(), p.y()});
    }
    redrawn_ = true;
}

bool StrokeStore::watermarkRowGone()
{
    // An empty answer may also be a failed query: only a table that is gone, or
    // one that can be read and lacks the row, counts.
    if (!db_.IsConnected())
        return false;
    const bool exists = db_.TableExists(table_);
    if (db_.TableListFailed() || !db_.IsConnected())
        return false;
    return !exists || db_.SelectAll(table_, QStringLiteral("N=") + num(drawnUpTo_)) == 0;
}

int StrokeStore::catchUp()
{
    if (openingPending_ && db_.IsConnected()) {
        redraw(true);
        return std::max(readCount_, 1);
    }
    // From the row at the watermark on, so that a table that no longer holds it
    // (dropped, re-created, another database) shows.
    const bool check = drawnUpTo_ > 0;
    bool first = true;
    bool gone = false;
    bool gap = false;
    int drawn = 0;
    const auto take = [&](const QStringList &row, bool gapsAllowed) {
        const qint64 n = TextToInt(row.value(ImageTable::N));
        if (check && std::exchange(first, false)) {
            gone = n != drawnUpTo_ || (!watermarkRow_.isEmpty() && rowContent(row) != watermarkRow_);
            if (watermarkRow_.isEmpty() && !gone)
                watermarkRow_ = rowContent(row);
            return !gone;
        }
        // A statement commits all its rows at once and every writer numbers above the
        // highest committed N, so the committed rows are gapless. A read-committed read sees
        // each row as it passes it, though: a statement committed between two of them shows
        // its rows without the one just passed. Such a gap is read again in a snapshot.
        if (!gapsAllowed && n != drawnUpTo_ + 1) {
            gap = true;
            return false;
        }
        takeRow(row);
        drawnUpTo_ = n;
        watermarkRow_ = rowContent(row);
        ++drawn;
        return true;
    };
    const int m = db_.ForEachRowFrom(table_, check ? drawnUpTo_ : drawnUpTo_ + 1,
                                     [&](const QStringList &row) { return take(row, false); });
    if (gap && !gone) {
        first = false;
        db_.ForEachRow(QStringLiteral("*"), table_, QStringLiteral("N>") + num(drawnUpTo_), QStringLiteral("N"),
                       [&](const QStringList &row) { return take(row, true); });
    }
    if (check && m == 0)
        gone = watermarkRowGone();
    if (gone) {
        redraw(false);
        return std::max(readCount_, 1);
    }
    readCount_ += drawn;
    return drawn;
}

int StrokeStore::Refresh()
{
    lastFailure_ = Failure::None;
    return catchUp();
}
