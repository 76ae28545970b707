#pragma once
// The words every room of core/ shares about a picture: a pen tip and a stored row.

#include <QString>
#include <QtGlobal>

struct PenTip {
    int type = 0;
    int size = 1;
    int color = 0;
};

// One row of a stroke table as drawn; n = 0 for a point drawn here and not yet stored.
// `own`: the tag of the window's stroke this row stores (0: a row to draw); with n = 0,
// a point of that stroke stored in a table that was then drawn again from scratch.
// `nulls`: bit c set when column c (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) is NULL, which is
// drawn as 0 but compared as NULL.
struct StrokeRow {
    qint64 n = 0;
    int mn = 0, dn = 0, type = 0, size = 1, color = 0, x = 0, y = 0;
    quint64 own = 0;
    quint8 nulls = 0;
};

// A row without its number as "MN,DN,PTYP,PSIZ,PCOL,X,Y", a NULL as nothing between its
// commas: how a row is compared with the row found at its number.
inline QString RowContent(const StrokeRow &r)
{
    const int values[] = {r.mn, r.dn, r.type, r.size, r.color, r.x, r.y};
    QString out;
    for (int c = 0; c < 7; ++c) {
        if (c > 0)
            out += QLatin1Char(',');
        if (!(r.nulls & (1u << (c + 1))))
            out += QString::number(values[c]);
    }
    return out;
}
