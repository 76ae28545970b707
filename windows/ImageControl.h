#pragma once
// Image1, the painting window's canvas control.

#include <QImage>
#include <QWidget>

class QMouseEvent;
class QPaintEvent;

// Image1: shows the window's bitmap and hands its mouse events to the window.
class TImageControl : public QWidget {
    Q_OBJECT
public:
    TImageControl(QImage &image, QWidget *parent = nullptr);
    // Sizes the control to the bitmap.
    void Fit();

signals:
    void MouseDown(Qt::MouseButton button, Qt::MouseButtons buttons, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::MouseButtons buttons, int x, int y);

protected:
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    QImage &image_;
};
