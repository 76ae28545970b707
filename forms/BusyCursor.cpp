#include "forms/BusyCursor.h"

#include <QApplication>
#include <QCursor>
#include <QFont>
#include <QPainter>
#include <QPixmap>

static QCursor makeBusyCursor()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    // Hourglass: two triangles meeting at the waist.
    const QPoint top[] = {{4, 1}, {20, 1}, {12, 10}};
    const QPoint bottom[] = {{12, 10}, {20, 19}, {4, 19}};
    p.drawPolygon(top, 3);
    p.drawPolygon(bottom, 3);
    p.fillRect(QRect(8, 15, 9, 3), Qt::black);
    QFont f;
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 20, 26, 11), Qt::AlignCenter, QStringLiteral("SQL"));
    p.end();
    return QCursor(pm, 12, 10);
}

void BeginBusyCursor()
{
    static const QCursor busy = makeBusyCursor();
    QApplication::setOverrideCursor(busy);
}

void EndBusyCursor()
{
    QApplication::restoreOverrideCursor();
}
