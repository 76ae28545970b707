#include "windows/PaintWindow.h"

#include "forms/FormUtil.h"
#include "forms/MainLink.h"
#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"
#include "forms/MessageBoxes.h"
#include "forms/BusyCursor.h"
#include "forms/ElidedLabel.h"
#include "core/catalogue/TableRequests.h"
#include "core/painting/PaintWorker.h"
#include "core/settings/DatabaseLabel.h"
#include "core/picture/Stamp.h"
#include "windows/PenTipDialog.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QScrollArea>
#include <QStatusBar>
#include <QTreeView>
#include <QHeaderView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace {

QPixmap blankGlyph()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}

QIcon floppyIcon()
{
    QPixmap pm = blankGlyph();
    QPainter p(&pm);
    p.setPen(QColor(0, 0, 64));
    p.setBrush(QColor(40, 40, 150));
    p.drawRect(1, 1, 13, 13);
    p.fillRect(4, 2, 8, 5, Qt::white);          // label
    p.fillRect(5, 10, 6, 4, QColor(192, 192, 192)); // shutter
    p.fillRect(9, 11, 1, 2, QColor(40, 40, 150));
    return QIcon(pm);
}

QIcon penTipIcon()
{
    QPixmap pm = blankGlyph();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(0, 0, 128));
    p.setBrush(QColor(0, 0, 255));
    p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    return QIcon(pm);
}

QIcon paletteIcon()
{
    static const QColor colours[9] = {Qt::red,   Qt::green, Qt::blue,  Qt::yellow, Qt::magenta,
                                      Qt::cyan,  Qt::black, Qt::white, QColor(255, 128, 0)};
    QPixmap pm = blankGlyph();
    QPainter p(&pm);
    for (int i = 0; i < 9; ++i) {
        const QRect r(1 + (i % 3) * 5, 1 + (i / 3) * 5, 4, 4);
        p.fillRect(r, colours[i]);
        p.setPen(Qt::gray);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    return QIcon(pm);
}

QIcon penStrokeIcon()
{
    QPixmap pm = blankGlyph();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path(QPointF(2, 13));
    path.cubicTo(QPointF(5, 2), QPointF(9, 15), QPointF(14, 3));
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(path);
    return QIcon(pm);
}

QToolButton *makeToolButton(QWidget *parent, const QIcon &icon, int x, int y)
{
    auto *b = new QToolButton(parent);
    b->setGeometry(x, y, 23, 22);
    b->setIcon(icon);
    b->setIconSize(QSize(16, 16));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

int floorCoordinate(qreal v)
{
    return static_cast<int>(std::floor(v));
}

} // namespace

// ---- Image1 ----

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

// ---- PaintWindow ----

PaintWindow::PaintWindow(QWidget *parent) : ChildForm(parent)
{
    setWindowTitle(QStringLiteral("お絵描きテスト"));

    QWidget *c = client();
    auto *outer = new QVBoxLayout(c);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    outer->addLayout(row, 1);

    Panel1 = new QWidget(c);
    Panel1->setFixedWidth(27);
    row->addWidget(Panel1);
    SpeedButton1 = makeToolButton(Panel1, floppyIcon(), 2, 2);
    SpeedButton2 = makeToolButton(Panel1, penTipIcon(), 2, 26);
    SpeedButton3 = makeToolButton(Panel1, paletteIcon(), 2, 50);
    SpeedButton4 = makeToolButton(Panel1, penStrokeIcon(), 2, 74);
    SpeedButton4->setCheckable(true);
    // An exclusive group of one: once down, a click does not raise it again.
    auto *group1 = new QButtonGroup(this);
    group1->setExclusive(true);
    group1->addButton(SpeedButton4, 1);

    ScrollBox1 = new QScrollArea(c);
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = new TImageControl(Bitmap);
    Image1->Fit();
    ScrollBox1->setWidget(Image1);
    row->addWidget(ScrollBox1, 1);

    StatusBar1 = new QStatusBar(c);
    StatusBar1->setFixedHeight(20);
    StatusBar1->setSizeGripEnabled(false);
    SetBackground(StatusBar1, QColor(192, 220, 192));
    outer->addWidget(StatusBar1);
    // Under the passing messages (loading), which hide it while they show.
    connectionState_ = new ElidedLabel(StatusBar1);
    StatusBar1->addWidget(connectionState_, 1);
    // Why points are not safe or not stored: elided like the above, whole in its tool tip.
    notice_ = new ElidedLabel(StatusBar1);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->hide();
    StatusBar1->addWidget(notice_, 1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(5000);

    connect(SpeedButton1, &QToolButton::clicked, this, &PaintWindow::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &PaintWindow::SpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &PaintWindow::SpeedButton3Click);
    connect(SpeedButton4, &QToolButton::clicked, this, &PaintWindow::SpeedButton4Click);
    connect(Image1, &TImageControl::MouseDown, this, &PaintWindow::Image1MouseDown);
    connect(Image1, &TImageControl::MouseMove, this, &PaintWindow::Image1MouseMove);
    connect(Image1, &TImageControl::MouseUp, this, &PaintWindow::Image1MouseUp);
    connect(Timer1, &QTimer::timeout, this, &PaintWindow::Timer1Timer);
    sendTimer_ = new QTimer(this);
    sendTimer_->setInterval(SendMs);
    connect(sendTimer_, &QTimer::timeout, this, &PaintWindow::sendTimerTimer);
}

PaintWindow::~PaintWindow()
{
    Timer1->stop();
}

void PaintWindow::DrawPoint(int type, int size, int color, int x, int y)
{
    // On top of everything stored until its row comes back with its number.
    picture_.AddOwn(drawingTag(), {type, size, color}, {x, y});
    const QRect changed = picture_.TakeChanged();
    if (!changed.isEmpty())
        Image1->update(changed);
}

void PaintWindow::FormShow()
{
    caption_ = windowTitle();
    ImageNo = CurrentImageNo;
    ImageWidth = CurrentImageWidth;
    ImageHeight = CurrentImageHeight;
    SetOuterSize(this, PaintWidth, PaintHeight);
    SaveDialogDir = SaveDir;
    CurPenType = PenType;
    CurPenSize = PenSize;
    CurPenColor = PenColor;
    TableName = ImageTableName(ImageNo);
    DrawMode = 0;
    Drawing = false;
    LastX = 0;
    LastY = 0;
    PointCount = 0;
    PointX.clear();
    PointY.clear();

    Bitmap = QImage();
    if (ImageWidth > 0 && ImageHeight > 0)
        Bitmap = QImage(ImageWidth, ImageHeight, QImage::Format_RGB32);
    ClearCanvas(Bitmap, ImageWidth, ImageHeight);
    picture_.Reset();
    Image1->Fit();
    Image1->update();

    ReadCount = 0;
    clock_.start();
    database_ = DatabasePath();
    loaded_ = !MainWindowLink();
    if (MainWindowLink()) {
        // The picture is drawn as its rows arrive; the window answers meanwhile.
        worker_ = &MainWindowLink()->Worker();
        connectWorker();
        session_ = worker_->Open(database_, ImageNo);
    }
    Timer1->setInterval(5000);
    Timer1->start();
}

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
    connect(worker_, &PaintWorker::Taken, this, [this](int id, quint64 tag) {
        if (id != session_ || tag != liveTag_)
            return;
        inFlight_ = false;
        // A block that took longer than the period is followed at once.
        if (clock_.elapsed() - lastSendMs_ >= SendMs)
            sendTimerTimer();
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

void PaintWindow::closeEvent(QCloseEvent *e)
{
    // Points in the journal are stored after the window has gone (or at the next start);
    // only points that no journal holds could be lost by closing.
    const int unsafe = UnjournaledPoints();
    if (unsafe > 0 && !(MainWindowLink() && MainWindowLink()->ExitAgreed())) {
        Timer1->stop();
        const bool close = ConfirmBox(QStringLiteral("保存されていない点が%1点あります。\n"
                                                     "%2\n"
                                                     "閉じても接続が戻れば保存しますが、それまでに終了すると失われます。閉じますか？\n"
                                                     "（「いいえ」で開いたままにすると、接続が戻り次第保存します）")
                                          .arg(unsafe)
                                          .arg(UnsafeText(worker_->JournalTrouble())),
                                      false);
        if (!close) {
            e->ignore();
            Timer1->start();
            return;
        }
    }
    closing_ = true;
    ChildForm::closeEvent(e);
}

void PaintWindow::FormClose()
{
    Timer1->stop();
    sendTimer_->stop();
    // What went out of a stroke under the mouse stays; the rest is dropped, as is a
    // stroke closed before its first block.
    if (worker_ && Drawing && liveTag_ != 0)
        worker_->Extend(session_, liveTag_, {}, true);
    liveTag_ = 0;
    if (worker_)
        worker_->Close(session_);
    worker_ = nullptr;
    Drawing = false;
    PointCount = 0;
    PointX.clear();
    PointY.clear();
    toDraw_.clear();
    Bitmap = QImage();
    picture_.Reset();
    const QSize outer = OuterSize(this);
    PaintWidth = outer.width();
    PaintHeight = outer.height();
    PenType = CurPenType;
    PenSize = CurPenSize;
    PenColor = CurPenColor;
}

QString PaintWindow::ExecuteSaveDialog()
{
    QFileDialog dlg(this, QString(), SaveDialogDir);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilter(QStringLiteral("ビットマップ (*.bmp)"));
    dlg.setDefaultSuffix(QStringLiteral("bmp"));
    dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
    // Qt's own dialog, whatever the desktop: it speaks the program's Japanese (a desktop's
    // dialog follows LANG), and its columns are made wide enough for whole dates and types.
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setViewMode(QFileDialog::Detail);
    dlg.setSizeGripEnabled(true);
    if (auto *view = dlg.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = view->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    dlg.resize(dlg.size().expandedTo(QSize(720, 440)));
    if (dlg.exec() != QDialog::Accepted)
        return QString();
    return dlg.selectedFiles().value(0);
}

bool PaintWindow::ExecuteColorDialog(int &color)
{
    const QColor chosen = QColorDialog::getColor(QColor(PenColorToRgb(color)), this);
    if (!chosen.isValid())
        return false;
    color = RgbToPenColor(chosen.rgb());
    return true;
}

void PaintWindow::SpeedButton1Click()
{
    Timer1->stop();
    // Part of a picture saved looks like the whole: the file would silently differ.
    if (!loaded_) {
        ShowMessage(QStringLiteral("画像を読み込んでいます（%1点）。\n読み込みが終わってから保存して下さい。")
                        .arg(ReadCount));
        Timer1->start();
        return;
    }
    const QString name = ExecuteSaveDialog();
    if (!name.isEmpty()) {
        const int slash = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
        RememberSaveDir(name.left(slash + 1));
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot > slash ? name.mid(dot) : QString();
        if (ext.toUpper() == QLatin1String(".BMP") && !Bitmap.isNull()) {
            // Rows that arrived while the dialog was open are drawn first.
            while (!toDraw_.empty() || picture_.Waiting())
                drawSome();
            // A file that cannot be written whole is not touched.
            QSaveFile file(name);
            file.setDirectWriteFallback(true); // a folder where only the file may be written
            QString why;
            if (!file.open(QIODevice::WriteOnly))
                why = file.errorString();
            else if (QImageWriter writer(&file, "BMP"); !writer.write(Bitmap))
                why = writer.errorString();
            else if (!file.commit())
                why = file.errorString();
            if (!why.isEmpty())
                ShowMessage(QStringLiteral("「%1」に保存できませんでした。\n理由: %2").arg(name, why));
        }
    }
    Timer1->start();
}

void PaintWindow::SpeedButton2Click()
{
    Timer1->stop();
    if (penTipDialog) {
        penTipDialog->TipType = CurPenType;
        penTipDialog->TipSize = CurPenSize;
        penTipDialog->exec();
        if (penTipDialog->Accepted) {
            CurPenType = penTipDialog->TipType;
            CurPenSize = penTipDialog->TipSize;
        }
    }
    Timer1->start();
}

void PaintWindow::SpeedButton3Click()
{
    Timer1->stop();
    int color = CurPenColor;
    if (ExecuteColorDialog(color))
        CurPenColor = color;
    Timer1->start();
}

void PaintWindow::SpeedButton4Click()
{
    Timer1->stop();
    SpeedButton4->setChecked(true);
    DrawMode = 1;
    Timer1->start();
}

void PaintWindow::Image1MouseDown(Qt::MouseButton, Qt::MouseButtons shift, int x, int y)
{
    if (!(shift & Qt::LeftButton) || DrawMode <= 0 || Drawing)
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
    inFlight_ = false;
    sendTimer_->start();
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
    inFlight_ = false;
}

void PaintWindow::sendTimerTimer()
{
    if (!Drawing || inFlight_ || sentPoints_ >= PointCount)
        return;
    sendBlock(false);
}

void PaintWindow::sendBlock(bool last)
{
    if (!worker_)
        return;
    lastSendMs_ = clock_.elapsed();
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
        inFlight_ = !last;
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
        inFlight_ = true;
        worker_->Begin(session_, tag, PcUserNo, pen, std::move(points));
    }
    showUnstoredMark();
}

QString PaintWindow::UnsafeText(const QString &why)
{
    return why.isEmpty() ? QStringLiteral("未保存の点はディスクに控えられていません。")
                         : QStringLiteral("未保存の点はディスクに控えられていません（%1）。").arg(why);
}

void PaintWindow::Timer1Timer()
{
    Timer1->stop();
    if (worker_)
        worker_->Refresh(session_); // kept points go first, then what others stored
    showUnstoredMark();
    Timer1->setInterval(5000);
    Timer1->start();
}
