#pragma once
// The database a benchmark measures on, and a large picture in it.

#include "db/DataAccess.h"

#include <algorithm>
#include <cstdio>

namespace measure {

// Creates the database at `path`, attached on `db`; false, saying why, when it cannot.
inline bool CreateBenchDatabase(DataAccess &db, const QString &path)
{
    db.CreateDatabase(path);
    if (db.IsConnected())
        return true;
    std::fprintf(stderr, "cannot create %s (is the server up?): %s\n", qPrintable(path),
                 qPrintable(db.LastErrorText()));
    return false;
}

// `rows` points in `table` (IMG_1 by default), 1,000 to a stroke, filled on the server by a
// cross join of two counters in parts, each well within the reply deadline on a busy
// machine. False when a part failed.
inline bool FillBigPicture(DataAccess &db, int rows, const QString &table = QStringLiteral("IMG_1"))
{
    const int side = 1000;
    db.CreateImageTable(table);
    bool filled = true;
    for (int from = 0; filled && from < rows; from += 100000) {
        const int to = std::min(rows, from + 100000);
        filled = db.ExecuteSql(
            {"INSERT INTO " + table + " (N, MN, DN, PTYP, PSIZ, PCOL, X, Y)",
             "WITH RECURSIVE R (I) AS (SELECT 0 FROM RDB$DATABASE UNION ALL",
             "  SELECT I + 1 FROM R WHERE I < " + QString::number(side - 1) + ")",
             "SELECT A.I * " + QString::number(side) + " + B.I + 1, 1, A.I, MOD(B.I, 6), 1 + MOD(B.I, 9),",
             "  A.I * 7919, B.I, A.I FROM R A CROSS JOIN R B",
             "WHERE A.I * " + QString::number(side) + " + B.I >= " + QString::number(from) + " AND A.I * "
                 + QString::number(side) + " + B.I < " + QString::number(to)});
    }
    return filled;
}

} // namespace measure
