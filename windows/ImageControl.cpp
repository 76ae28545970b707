// Image1, the canvas: shows the window's bitmap and hands its mouse on in picture pixels.
#include "windows/ImageControl.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {

int floorCoordinate(qreal v)
{
    return static_cast<int>(std::floor(v));
}

} // namespace

TImageControl::TImageControl(QImage &image, QWidget *parent) : QWidget(parent), image_(image)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImageControl::Fit()
{
    setFixedSize(qMax(0, image_.width()), qMax(0, image_.height()));
}

void TImageControl::paintEvent(QPaintEvent *e)
{
    QPainter p(this);
    if (image_.isNull()) {
        p.fillRect(e->rect(), palette().window());
        return;
    }
    p.drawImage(e->rect(), image_, e->rect());
}

void TImageControl::mousePressEvent(QMouseEvent *e)
{
    emit MouseDown(e->button(), e->buttons(), floorCoordinate(e->position().x()),
                   floorCoordinate(e->position().y()));
}

void TImageControl::mouseMoveEvent(QMouseEvent *e)
{
    emit MouseMove(e->buttons(), floorCoordinate(e->position().x()),
                   floorCoordinate(e->position().y()));
}

void TImageControl::mouseReleaseEvent(QMouseEvent *e)
{
    emit MouseUp(e->button(), e->buttons(), floorCoordinate(e->position().x()),
                 floorCoordinate(e->position().y()));
}
