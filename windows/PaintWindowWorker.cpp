// The painting worker's answers in the window: the rows drawn a few milliseconds at a
// time, the strokes stored, and what the caption and the status bar say meanwhile.
#include "windows/PaintWindow.h"

#include "windows/HistoryBar.h"

#include "core/painting/PaintWorker.h"
#include "core/settings/DatabaseLabel.h"
#include "forms/ElidedLabel.h"
#include "forms/MainLink.h"
#include "forms/MessageBoxes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

void PaintWindow::connectWorker()
{
    connect(worker_, &PaintWorker::Rows, this, [this](int id, const QVector<StrokeRow> &rows) {
        if (id != session_)
            return;
        for (const StrokeRow &r : rows) {
            // Unstored points (n = 0) are drawn here already; own rows come back to leave the top.
            if (r.n > 0 || r.own != 0)
                toDraw_.push_back(r);
            if (r.n > 0)
                ++ReadCount;
        }
        drawSome();
    });
    connect(worker_, &PaintWorker::Cleared, this, [this](int id) {
        if (id != session_)
            return;
        // Own points whose rows were on their way are stored: the table drawn again holds them.
        for (const StrokeRow &r : toDraw_)
            if (r.own != 0)
                picture_.OwnStored(r.own, {0, r.mn, r.dn, r.type, r.size, r.color, r.x, r.y, r.own});
        toDraw_.clear();
        ReadCount = 0;
        picture_.Reset();
        drawSome();
    });
    connect(worker_, &PaintWorker::Loading, this, [this](int id, int rows, bool done) {
        if (id != session_)
            return;
        if (done) {
            StatusBar1->clearMessage();
            loaded_ = true;
            drawSome();
        } else
            StatusBar1->showMessage(QStringLiteral("読込中… %1点").arg(rows));
    });
    connect(worker_, &PaintWorker::Stored, this, [this](int id, quint64 tag) {
        if (id != session_)
            return;
        for (auto it = unstored_.begin(); it != unstored_.end(); ++it) {
            if (it->tag == tag) {
                unstored_.erase(it);
                break;
            }
        }
        if (unstored_.empty()) {
            // Nothing left that the notices were about; a new trouble is told anew.
            journalTold_.clear();
            told_ = false;
            failureTold_.clear();
            showNotice();
        }
        showUnstoredMark();
    });
    connect(worker_, &PaintWorker::LostChanged, this, [this](int id, bool) {
        if (id != session_)
            return;
        showUnstoredMark();
        showConnection();
    });
    connect(worker_, &PaintWorker::Journaled, this, [this](int id, quint64 tag, const QString &why) {
        if (id != session_)
            return;
        for (Sent &s : unstored_)
            if (s.tag == tag)
                s.journaled = why.isEmpty();
        if (why.isEmpty() == journalTold_.isEmpty())
            return;
        // Told once per failure, and again once the journal works again.
        journalTold_ = why;
        showNotice();
    });
    connect(worker_, &PaintWorker::WaitingChanged, this, &PaintWindow::showConnection);
    connect(worker_, &PaintWorker::LastingFailure, this, [this](int id, const QString &why) {
        if (id != session_ || told_)
            return;
        told_ = true;
        failureTold_ = QStringLiteral("点を保存できません（%1）。時間をおいて再試行します。").arg(why);
        showNotice();
        ShowMessage(QStringLiteral("この画像の点を保存できません。\n理由: %1\n点は消さずに残し、時間をおいて再試行します。")
                        .arg(why));
    });
}

void PaintWindow::drawSome()
{
    // A large picture arrives in many batches; the window keeps answering between them.
    QElapsedTimer budget;
    budget.start();
    while (!toDraw_.empty() && budget.elapsed() < 8) {
        for (int i = 0; i < 256 && !toDraw_.empty(); ++i) {
            const StrokeRow r = toDraw_.front();
            toDraw_.pop_front();
            if (r.own != 0)
                picture_.OwnStored(r.own, r);
            else
                picture_.AddRow(r);
        }
    }
    // Rows that came below others are drawn again where they lie, in N order.
    picture_.Repaint([&budget] { return budget.elapsed() < 8; });
    const QRect dirty = picture_.TakeChanged();
    if (!dirty.isEmpty())
        Image1->update(dirty);
    History->RowsChanged();
    if ((!toDraw_.empty() || picture_.Waiting()) && !drawScheduled_) {
        drawScheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            drawScheduled_ = false;
            drawSome();
        });
    }
}

StrokeStore *PaintWindow::Store() const
{
    return worker_ ? worker_->StoreOf(session_) : nullptr;
}

bool PaintWindow::WaitIdle(int ms)
{
    if (!worker_)
        return true;
    QElapsedTimer t;
    t.start();
    if (!worker_->WaitIdle(ms))
        return false;
    while ((!toDraw_.empty() || picture_.Waiting()) && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return toDraw_.empty() && !picture_.Waiting();
}

int PaintWindow::UnstoredPoints() const
{
    return worker_ ? worker_->WaitingPoints(session_) : 0;
}

int PaintWindow::UnjournaledPoints() const
{
    return worker_ ? worker_->UnjournaledPoints(session_) : 0;
}

void PaintWindow::showUnstoredMark()
{
    // Ordinary storing takes a moment; only points that wait longer, or wait for a lost
    // connection, are worth a mark.
    int waiting = 0;
    bool young = false;
    const bool lost = worker_ && worker_->Lost(session_);
    for (const Sent &s : unstored_) {
        if (lost || clock_.elapsed() - s.atMs >= 1000)
            waiting += static_cast<int>(s.points.size());
        else
            young = true;
    }
    // A stroke stored in part counts only its points that wait.
    waiting = std::min(waiting, UnstoredPoints());
    setWindowTitle(waiting > 0 ? caption_ + QStringLiteral(" 【未保存 %1点】").arg(waiting) : caption_);
    if (young && !markTimer_) {
        markTimer_ = new QTimer(this);
        markTimer_->setInterval(250);
        connect(markTimer_, &QTimer::timeout, this, &PaintWindow::showUnstoredMark);
    }
    if (markTimer_) {
        if (young)
            markTimer_->start();
        else
            markTimer_->stop();
    }
}

void PaintWindow::showConnection()
{
    QString text;
    if (worker_ && worker_->Lost(session_)) {
        // Short enough for a window of the default size.
        const int waiting = UnstoredPoints();
        text = DatabaseLabel(database_)
               + (waiting > 0 ? QStringLiteral("との接続切れ：未保存 %1点は再接続後に保存します").arg(waiting)
                              : QStringLiteral("との接続が切れています。再接続を試みています…"));
    }
    connectionState_->SetFullText(text);
}

void PaintWindow::showNotice()
{
    QStringList parts;
    if (!journalTold_.isEmpty())
        parts << UnsafeText(journalTold_);
    if (!failureTold_.isEmpty())
        parts << failureTold_;
    notice_->SetFullText(parts.join(QStringLiteral("　")));
    notice_->setVisible(!parts.isEmpty());
}

QString PaintWindow::NoticeText() const
{
    return notice_->FullText();
}

QString PaintWindow::ConnectionStatusText() const
{
    return connectionState_->FullText();
}

void PaintWindow::StoreKeptPoints()
{
    if (worker_ && !closing_)
        worker_->Refresh(session_);
}

QString PaintWindow::UnsafeText(const QString &why)
{
    return why.isEmpty() ? QStringLiteral("未保存の点はディスクに控えられていません。")
                         : QStringLiteral("未保存の点はディスクに控えられていません（%1）。").arg(why);
}
