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
    // Hovering with Ctrl asks who drew; a move without a button draws nothing.
    setMouseTracking(true);
}

void TImageControl::Fit()
{
    setFixedSize(qMax(0, image_.width()), qMax(0, image_.height()));
}

void TImageControl::ShowOther(const QImage *other)
{
    other_ = other;
    update();
}

void TImageControl::paintEvent(QPaintEvent *e)
{
    QPainter p(this);
    const QImage &shown = other_ ? *other_ : image_;
    if (shown.isNull()) {
        p.fillRect(e->rect(), palette().window());
        return;
    }
    p.drawImage(e->rect(), shown, e->rect());
}

void TImageControl::mousePressEvent(QMouseEvent *e)
{
    if ((e->modifiers() & Qt::ControlModifier) && e->buttons() == e->button()) {
        emit AskAuthor(floorCoordinate(e->position().x()), floorCoordinate(e->position().y()));
        return;
    }
    emit MouseDown(e->button(), e->buttons(), floorCoordinate(e->position().x()),
                   floorCoordinate(e->position().y()));
}

void TImageControl::mouseMoveEvent(QMouseEvent *e)
{
    if ((e->modifiers() & Qt::ControlModifier) && e->buttons() == Qt::NoButton)
        emit AskAuthor(floorCoordinate(e->position().x()), floorCoordinate(e->position().y()));
    emit MouseMove(e->buttons(), floorCoordinate(e->position().x()),
                   floorCoordinate(e->position().y()));
}

void TImageControl::mouseReleaseEvent(QMouseEvent *e)
{
    emit MouseUp(e->button(), e->buttons(), floorCoordinate(e->position().x()),
                 floorCoordinate(e->position().y()));
}
