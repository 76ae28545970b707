// The stroke under the mouse: its points drawn at once, handed to the painting worker a
// slice at a time while the button is held (each is on disk within the slice and a sync,
// whatever the database does), and the rest at mouse-up.
#include "windows/PaintWindow.h"

#include "windows/HistoryBar.h"
#include "windows/PresencePanel.h"

#include "core/painting/PaintWorker.h"
#include "core/settings/SharedSettings.h"

#include <QCoreApplication>
#include <QTimer>

void PaintWindow::Image1MouseDown(Qt::MouseButton, Qt::MouseButtons shift, int x, int y)
{
    // While the history shows the past, nothing is drawn on it.
    if (!(shift & Qt::LeftButton) || DrawMode <= 0 || Drawing || History->Active())
        return;
    Timer1->stop();
    DrawPoint(CurPenType, CurPenSize, CurPenColor, x, y);
    Drawing = true;
    LastX = x;
    LastY = y;
    PointCount = 1;
    PointX = {x};
    PointY = {y};
    liveTag_ = 0;
    sentPoints_ = 0;
    sendTimer_->start();
    holdEveryMove(true);
    Timer1->start();
}

void PaintWindow::Image1MouseMove(Qt::MouseButtons shift, int x, int y)
{
    if (!(shift & Qt::LeftButton) || DrawMode <= 0 || !Drawing)
        return;
    Timer1->stop();
    DrawPoint(CurPenType, CurPenSize, CurPenColor, x, y);
    if (x != LastX || y != LastY) {
        ++PointCount;
        PointX.append(x);
        PointY.append(y);
        LastX = x;
        LastY = y;
    }
    Timer1->start();
}

void PaintWindow::Image1MouseUp(Qt::MouseButton, Qt::MouseButtons, int, int)
{
    Timer1->stop();
    sendTimer_->stop();
    holdEveryMove(false);
    if (DrawMode > 0 && Drawing) {
        Drawing = false;
        storeStroke();
        PointCount = 0;
        PointX.clear();
        PointY.clear();
    }
    Timer1->start();
}

void PaintWindow::KeepStrokeInProgress()
{
    if (!Drawing || DrawMode <= 0)
        return;
    sendTimer_->stop();
    holdEveryMove(false);
    Drawing = false;
    storeStroke();
    PointCount = 0;
    PointX.clear();
    PointY.clear();
}

void PaintWindow::storeStroke()
{
    // Mouse-up sends what is left at once, behind a block still on its way.
    sendBlock(true);
    liveTag_ = 0;
    sentPoints_ = 0;
}

void PaintWindow::sendTimerTimer()
{
    if (!Drawing || sentPoints_ >= PointCount)
        return;
    sendBlock(false);
}

void PaintWindow::holdEveryMove(bool on)
{
    if (on == holdingMoves_)
        return;
    holdingMoves_ = on;
    PresenceStrip->HoldPlace(on);
    // Read per event by the platform (xcb merges queued moves when it is on); off only while
    // a stroke is held, so that hovering and resizing stay light.
    if (on)
        compressedBefore_ = QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents);
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, on ? false : compressedBefore_);
}

void PaintWindow::sendBlock(bool last)
{
    if (!worker_)
        return;
    std::vector<QPoint> points;
    for (int i = sentPoints_; i < PointCount && i < PointX.size() && i < PointY.size(); ++i)
        points.emplace_back(PointX[i], PointY[i]);
    sentPoints_ += static_cast<int>(points.size());
    if (liveTag_ != 0) {
        for (Sent &s : unstored_)
            if (s.tag == liveTag_) {
                s.points.insert(s.points.end(), points.begin(), points.end());
                s.atMs = clock_.elapsed(); // waiting counts from its latest block
            }
        if (points.empty() && !last)
            return;
        worker_->Extend(session_, liveTag_, std::move(points), last);
        showUnstoredMark();
        return;
    }
    if (points.empty())
        return;
    const PenTip pen{CurPenType, CurPenSize, CurPenColor};
    // The journal thread makes it durable before storing starts: whatever happens to the
    // program from then on, the next run stores what went out of the stroke.
    const quint64 tag = nextTag_++;
    unstored_.push_back({tag, pen, points, clock_.elapsed(), true});
    if (last) {
        worker_->Store(session_, tag, PcUserNo, pen, std::move(points));
    } else {
        liveTag_ = tag;
        worker_->Begin(session_, tag, PcUserNo, pen, std::move(points));
    }
    showUnstoredMark();
}
