#pragma once
// The painting window: one picture, drawn with the mouse, stored point by point.

#include "forms/ChildForm.h"
#include "core/StrokeStore.h"

#include <QImage>
#include <QVector>
#include <memory>

class QScrollArea;
class QStatusBar;
class QTimer;
class QToolButton;
class QWidget;

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

class PaintWindow : public ChildForm {
    Q_OBJECT
public:
    explicit PaintWindow(QWidget *parent = nullptr);
    ~PaintWindow() override;

    QString TableName;
    int ImageWidth = 0;
    int ImageHeight = 0;
    int CurPenType = 0;
    int CurPenSize = 1;
    int CurPenColor = 0;
    int DrawMode = 0;
    bool Drawing = false;
    int LastX = 0;
    int LastY = 0;
    QVector<int> PointX;
    QVector<int> PointY;
    int PointCount = 0;
    int ReadCount = 0;
    int ImageNo = 0;

    // The picture; Image1 shows it.
    QImage Bitmap;

    QStatusBar *StatusBar1 = nullptr;
    QWidget *Panel1 = nullptr;
    QToolButton *SpeedButton1 = nullptr;
    QToolButton *SpeedButton2 = nullptr;
    QToolButton *SpeedButton3 = nullptr;
    QToolButton *SpeedButton4 = nullptr;
    QScrollArea *ScrollBox1 = nullptr;
    TImageControl *Image1 = nullptr;
    QTimer *Timer1 = nullptr;

    // Initial folder of the save dialog, taken from SaveDir on opening.
    QString SaveDialogDir;

    // The database side; null until the window has opened on a connection owner.
    StrokeStore *Store() const { return store_.get(); }

    void DrawPoint(int type, int size, int color, int x, int y);

    // Points drawn here that the database has not taken yet (server away).
    int UnstoredPoints() const;
    // Stores the unstored points now if the connection is there, then draws what
    // others stored; as the refresh does, but at once.
    void StoreKeptPoints();

public slots:
    void FormShow() override;
    void FormClose() override;
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void Image1MouseDown(Qt::MouseButton button, Qt::MouseButtons shift, int x, int y);
    void Image1MouseMove(Qt::MouseButtons shift, int x, int y);
    void Image1MouseUp(Qt::MouseButton button, Qt::MouseButtons shift, int x, int y);
    void Timer1Timer();

protected:
    // Asks before unstored points are let go; the user may keep the window open.
    void closeEvent(QCloseEvent *e) override;
    // The save dialog: the chosen file name, empty when cancelled.
    virtual QString ExecuteSaveDialog();
    // The colour chooser preset with `color`; false when cancelled.
    virtual bool ExecuteColorDialog(int &color);

private:
    void storeStroke();
    // The caption as the opener set it, with a mark while points are unstored.
    void showUnstoredMark();
    QString caption_;
    bool closing_ = false;
    std::unique_ptr<StrokeStore> store_;
};
