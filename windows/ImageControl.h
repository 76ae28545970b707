#pragma once
// Image1, the painting window's canvas control.

#include <QImage>
#include <QWidget>

class QMouseEvent;
class QPaintEvent;

// Image1: shows the window's bitmap and hands its mouse events to the window. With Ctrl
// held and no button down, the mouse asks who drew what lies under it instead of drawing.
class TImageControl : public QWidget {
    Q_OBJECT
public:
    TImageControl(QImage &image, QWidget *parent = nullptr);
    // Sizes the control to the bitmap.
    void Fit();
    // Shows `other` (of the bitmap's size) instead of the bitmap, until called with null.
    void ShowOther(const QImage *other);

signals:
    void MouseDown(Qt::MouseButton button, Qt::MouseButtons buttons, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::MouseButtons buttons, int x, int y);
    void AskAuthor(int x, int y);

protected:
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    QImage &image_;
    const QImage *other_ = nullptr;
};
