// Rows read four to a fetched row: whatever holes the table has, each row of the range
// comes once, in N order, with its NULL flags, as a plain read row by row brings it.
#include "DelayRelay.h"
#include "TestDatabase.h"

#include "core/picture/StrokeRowsRead.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

#include <array>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Row = std::array<qint64, 9>; // the columns and, last, which of them were NULL as bits

Row rowOf(const qint64 *values, const bool *nulls)
{
    Row r{};
    for (int i = 0; i < ImageTable::ColumnCount; ++i) {
        r[size_t(i)] = values[i];
        r[8] |= qint64(nulls[i]) << i;
    }
    return r;
}

// N = 1..count, every column made from N, then the rows `holes` removed.
void fill(DataAccess &db, const QString &table, int count, const QString &holes)
{
    ASSERT_TRUE(db.CreateImageTable(table));
    const QString i = QStringLiteral("(A.I * 200 + B.I + 1)");
    ASSERT_TRUE(db.ExecuteSql({"INSERT INTO " + table + " (N, MN, DN, PTYP, PSIZ, PCOL, X, Y)",
                               "WITH RECURSIVE R (I) AS (SELECT 0 FROM RDB$DATABASE UNION ALL",
                               "  SELECT I + 1 FROM R WHERE I < 199)",
                               "SELECT " + i + ", 1 + MOD(" + i + ", 3), " + i + " / 7, MOD(" + i + ", 6), 1 + MOD(" + i
                                   + ", 5), " + i + " * 977, MOD(" + i + ", 300), " + i,
                               "FROM R A CROSS JOIN R B WHERE " + i + " <= " + QString::number(count)}));
    if (!holes.isEmpty()) {
        ASSERT_TRUE(db.ExecuteSql({"DELETE FROM " + table + " WHERE " + holes}));
    }
}

std::vector<Row> plainRead(DataAccess &db, const QString &table, qint64 lo, qint64 hi)
{
    std::vector<Row> rows;
    db.ForEachIntegerRow("*", table, QStringLiteral("N>=%1 AND N<=%2").arg(lo).arg(hi), "N",
                         [&](const qint64 *v, const bool *nulls) {
                             rows.push_back(rowOf(v, nulls));
                             return true;
                         });
    return rows;
}

} // namespace

TEST(StrokeRowsRead, EveryRowOfTheRangeOnceInOrderWhateverTheHoles)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    DataAccess db;
    db.ConnectDatabase(t.serverPath());
    ASSERT_TRUE(db.IsConnected());
    struct Case {
        const char *what;
        int count;
        QString holes; // rows removed
        qint64 lo, hi;
        size_t stopAfter = 0; // `each` says no more after this many (0: never)
    };
    const Case cases[] = {
        {"gapless", 41, "", 1, 41},
        {"a range inside the table", 60, "", 7, 40},
        {"rows the others are joined to missing", 40, "N IN (1, 5, 13, 14)", 1, 40},
        {"joined rows missing", 40, "N IN (2, 3, 8, 20)", 1, 40},
        {"a hole at the start", 40, "N < 6", 1, 40},
        {"a hole at the end", 40, "N IN (37, 40)", 1, 40},
        {"the range past the table's end", 30, "", 1, 50},
        {"more holes than are read again (the rest row by row)", 90, "MOD(N, 3) = 0", 1, 90},
        {"NULLs in a row", 20, "", 1, 20},
        {"no rows", 20, "N > 0", 1, 20},
        {"stopped by the caller", 40, "N = 6", 1, 40, 10},
    };
    int i = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString table = ImageTable::NameOf(++i);
        fill(db, table, c.count, c.holes);
        if (QString(c.what).startsWith("NULLs")) {
            ASSERT_TRUE(db.ExecuteSql({"UPDATE " + table + " SET MN = NULL, Y = NULL WHERE N IN (4, 9)"}));
        }
        std::vector<Row> want = plainRead(db, table, c.lo, c.hi);
        if (c.stopAfter)
            want.resize(c.stopAfter);
        std::vector<Row> got;
        EXPECT_TRUE(ReadStrokeRows(db, table, c.lo, c.hi, [&](const qint64 *v, const bool *nulls) {
            got.push_back(rowOf(v, nulls));
            return got.size() != c.stopAfter;
        }));
        EXPECT_EQ(got, want);
    }
}

// The line cut while the rows come: a failure, and what came is a gapless start of the range.
TEST(StrokeRowsRead, ALineCutMidReadFailsAfterAGaplessStart)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    DelayRelay relay;
    ASSERT_TRUE(relay.start(0));
    DataAccess db;
    db.ConnectDatabase(t.pathVia(relay.port()));
    ASSERT_TRUE(db.IsConnected());
    fill(db, "IMG_1", 30000, "");
    std::vector<qint64> got;
    EXPECT_FALSE(ReadStrokeRows(db, "IMG_1", 1, 30000, [&](const qint64 *v, const bool *) {
        got.push_back(v[ImageTable::N]);
        if (got.size() == 100)
            relay.cutAll();
        return true;
    }));
    EXPECT_LT(got.size(), 30000u);
    for (size_t k = 0; k < got.size(); ++k)
        ASSERT_EQ(got[k], qint64(k + 1));
}
