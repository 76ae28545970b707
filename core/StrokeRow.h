#pragma once
// The words every room of core/ shares about a picture: a pen tip and a stored row.

#include <QtGlobal>

struct PenTip {
    int type = 0;
    int size = 1;
    int color = 0;
};

// One row of a stroke table as drawn; n = 0 for a point drawn here and not yet stored.
// `own`: the tag of the window's stroke this row stores (0: a row to draw); with n = 0,
// a point of that stroke stored in a table that was then drawn again from scratch.
struct StrokeRow {
    qint64 n = 0;
    int mn = 0, dn = 0, type = 0, size = 1, color = 0, x = 0, y = 0;
    quint64 own = 0;
};
