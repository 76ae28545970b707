#include "core/settings/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

QImage ProgramIconImage()
{
    // A palette with three paint spots and a brush, in the 16 colours of old.
    QImage im(16, 16, QImage::Format_ARGB32);
    im.fill(Qt::transparent);
    QPainter p(&im);
    p.setPen(QColor(128, 64, 0));
    p.setBrush(QColor(255, 255, 192));
    p.drawEllipse(0, 2, 14, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::red);
    p.drawRect(3, 5, 2, 2);
    p.setBrush(Qt::blue);
    p.drawRect(7, 4, 2, 2);
    p.setBrush(Qt::green);
    p.drawRect(10, 7, 2, 2);
    p.setPen(QColor(0, 0, 128));
    p.drawLine(15, 0, 7, 11);
    p.setPen(Qt::black);
    p.drawLine(8, 11, 6, 13);
    p.end();
    return im;
}

QIcon ProgramIcon()
{
    return QIcon(QPixmap::fromImage(ProgramIconImage()));
}
