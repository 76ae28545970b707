#include "core/picture/StrokeRowsRead.h"

#include "db/DataAccess.h"
#include "db/Tables.h"

namespace {

// Rows joined into one: past four, the bytes of a fetch bound it instead of its rows.
constexpr int Joined = 4;
// Gaps read again before the rest is read row by row (a hand-made table full of holes).
constexpr int MostGaps = 8;

bool failed(DataAccess &db)
{
    return db.LastErrorCode() != 0 || !db.IsConnected();
}

QString upTo(const QString &column, qint64 hi)
{
    return QStringLiteral(" AND %1<=%2").arg(column).arg(hi);
}

} // namespace

QString StrokeRowColumns(const QString &alias)
{
    return QStringLiteral("%1.*, %1.RDB$RECORD_VERSION").arg(alias);
}

bool ReadStrokeRows(DataAccess &db, const QString &table, qint64 lo, qint64 hi, const StrokeRowsEach &each)
{
    constexpr int ColumnCount = RowVersionColumn + 1;
    QString list = StrokeRowColumns(QStringLiteral("A"));
    QString joined = table + QStringLiteral(" A");
    for (int k = 1; k < Joined; ++k) {
        const QString b = QStringLiteral("B") + QString::number(k);
        list += QStringLiteral(", ") + StrokeRowColumns(b);
        joined += QStringLiteral(" LEFT JOIN %1 %2 ON %2.N=A.N+%3").arg(table, b).arg(k) + upTo(b + QStringLiteral(".N"), hi);
    }
    qint64 last = lo - 1; // the highest N handed over
    bool stopped = false;
    // Row by row, from last + 1 up to `to`.
    const auto narrow = [&](qint64 to) {
        db.ForEachIntegerRow(StrokeRowColumns(QStringLiteral("T")), table + QStringLiteral(" T"),
                             QStringLiteral("T.N>=%1").arg(last + 1) + upTo(QStringLiteral("T.N"), to), QStringLiteral("T.N"), [&](const qint64 *values, const bool *nulls) {
                                 last = values[ImageTable::N];
                                 stopped = !each(values, nulls);
                                 return !stopped;
                             });
        return !failed(db);
    };
    for (int gaps = 0; gaps <= MostGaps && last < hi; ++gaps) {
        const qint64 base = last + 1;
        std::optional<qint64> gapTo; // the N that came after a skipped one
        db.ForEachIntegerRow(list, joined,
                             QStringLiteral("A.N>=%1").arg(base) + upTo(QStringLiteral("A.N"), hi)
                                 + QStringLiteral(" AND MOD(A.N-%1,%2)=0").arg(base).arg(Joined),
                             QStringLiteral("A.N"), [&](const qint64 *values, const bool *nulls) {
                                 for (int k = 0; k < Joined; ++k) {
                                     const qint64 *row = values + k * ColumnCount;
                                     if (nulls[k * ColumnCount + ImageTable::N])
                                         continue; // no row joined there (N is NOT NULL)
                                     if (row[ImageTable::N] != last + 1) {
                                         gapTo = row[ImageTable::N];
                                         return false;
                                     }
                                     last = row[ImageTable::N];
                                     if (!each(row, nulls + k * ColumnCount)) {
                                         stopped = true;
                                         return false;
                                     }
                                 }
                                 return true;
                             });
        if (failed(db))
            return false;
        if (stopped)
            return true;
        if (!gapTo) // rows past a hole at the end would not have come
            return last >= hi || narrow(hi);
        if (!narrow(*gapTo - 1))
            return false;
        if (stopped)
            return true;
        last = *gapTo - 1;
    }
    return last >= hi || narrow(hi);
}
