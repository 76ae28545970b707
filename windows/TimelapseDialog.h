#pragma once
// Asks how to save a picture's history as a timelapse: a frame every how many strokes, the
// frames' size and how long each shows, with the frames and the length it makes; then
// where, in Qt's own save dialog (a name without ".webp" gets it).

#include "core/picture/TimelapseWriter.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QSpinBox;

class TimelapseDialog : public QDialog {
    Q_OBJECT
public:
    // For a history of `strokes` strokes of a picture of `picture` pixels.
    TimelapseDialog(int strokes, QSize picture, QWidget *parent = nullptr);

    int Stride() const;
    TimelapseOptions Options() const;

    QSpinBox *StrideBox = nullptr;
    QComboBox *SizeBox = nullptr;
    QComboBox *FrameBox = nullptr;
    QLabel *Summary = nullptr;

    // The dialog, then the file's name (in `folder` first); false when either is cancelled.
    static bool Ask(QWidget *parent, int strokes, QSize picture, const QString &folder, QString &path, int &stride,
                    TimelapseOptions &options);

private:
    void summarise();
    int strokes_;
    QSize picture_;
};
