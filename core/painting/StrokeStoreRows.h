#pragma once
// What the stroke store's files share: a row as text (fetched, or to compare) and the
// clock of the store's waits.

#include "core/StrokeRow.h"
#include "core/TextRoutines.h"
#include "db/Tables.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <chrono>

namespace StrokeStoreRows {

inline qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int kRowColumns = ImageTable::ColumnCount;

// A row without its number, to compare the row at a number with the one drawn there.
inline QString rowContent(const QStringList &row)
{
    return row.mid(1, kRowColumns - 1).join(QLatin1Char(','));
}

inline StrokeRow rowOf(const QStringList &row)
{
    using namespace ImageTable;
    return {TextToInt(row.value(N)),    TextToInt(row.value(MN)),   TextToInt(row.value(DN)),
            TextToInt(row.value(PTYP)), TextToInt(row.value(PSIZ)), TextToInt(row.value(PCOL)),
            TextToInt(row.value(X)),    TextToInt(row.value(Y))};
}

inline QStringList valuesOf(qint64 n, int user, int dn, const PenTip &pen, QPoint p)
{
    return {QString::number(n),        QString::number(user),     QString::number(dn),
            QString::number(pen.type), QString::number(pen.size), QString::number(pen.color),
            QString::number(p.x()),    QString::number(p.y())};
}

inline QString num(qint64 v) { return QString::number(v); }

} // namespace StrokeStoreRows
