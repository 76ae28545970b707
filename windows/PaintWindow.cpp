// The painting window's frame: its tool buttons, pen and colour, opening and closing,
// and the 5-second refresh.
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
#include "windows/HistoryBar.h"
#include "windows/PenTipDialog.h"
#include "windows/PresencePanel.h"
#include "core/presence/PresenceBoard.h"

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

QIcon historyIcon()
{
    QPixmap pm = blankGlyph();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 128), 1.5));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.drawLine(QPointF(8, 8), QPointF(8, 4));
    p.drawLine(QPointF(8, 8), QPointF(11, 10));
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

} // namespace

PaintWindow::PaintWindow(QWidget *parent) : ChildForm(parent)
{
    setWindowTitle(QStringLiteral("お絵描きテスト"));

    QWidget *c = client();
    auto *outer = new QVBoxLayout(c);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    PresenceStrip = new PresencePanel(c);
    outer->addWidget(PresenceStrip);
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
    HistoryButton = makeToolButton(Panel1, historyIcon(), 2, 98);
    HistoryButton->setCheckable(true);
    HistoryButton->setToolTip(QStringLiteral("履歴（描かれてきた順に見る・動画保存）"));

    ScrollBox1 = new QScrollArea(c);
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = new TImageControl(Bitmap);
    Image1->Fit();
    ScrollBox1->setWidget(Image1);
    row->addWidget(ScrollBox1, 1);

    History = new HistoryBar(picture_, c);
    outer->addWidget(History);

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
    connect(HistoryButton, &QToolButton::clicked, this, &PaintWindow::HistoryButtonClick);
    connect(History, &HistoryBar::Changed, Image1, qOverload<const QRect &>(&QWidget::update));
    connect(History, &HistoryBar::CloseAsked, this, &PaintWindow::leaveHistory);
    connect(Image1, &TImageControl::MouseDown, this, &PaintWindow::Image1MouseDown);
    connect(Image1, &TImageControl::MouseMove, this, &PaintWindow::Image1MouseMove);
    connect(Image1, &TImageControl::MouseUp, this, &PaintWindow::Image1MouseUp);
    connect(Image1, &TImageControl::AskAuthor, this, &PaintWindow::showAuthor);
    connect(Timer1, &QTimer::timeout, this, &PaintWindow::Timer1Timer);
    sendTimer_ = new QTimer(this);
    sendTimer_->setInterval(PaintWorker::SliceMs);
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
        connectPresence();
    }
    Timer1->setInterval(5000);
    Timer1->start();
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

void PaintWindow::HistoryButtonClick()
{
    if (History->Active()) {
        leaveHistory();
        return;
    }
    // A stroke under the mouse is stored as if released before its picture turns to the past.
    KeepStrokeInProgress();
    History->Enter();
    HistoryButton->setChecked(true);
    Image1->ShowOther(History->Picture());
}

void PaintWindow::leaveHistory()
{
    Image1->ShowOther(nullptr);
    History->Leave();
    HistoryButton->setChecked(false);
}

void PaintWindow::FormClose()
{
    leaveHistory();
    Timer1->stop();
    sendTimer_->stop();
    holdEveryMove(false);
    // What went out of a stroke under the mouse stays; the rest is dropped, as is a
    // stroke closed before its first block.
    if (worker_ && Drawing && liveTag_ != 0)
        worker_->Extend(session_, liveTag_, {}, true);
    liveTag_ = 0;
    if (worker_) {
        worker_->Close(session_);
        worker_->Presence().Hide(database_, ImageNo);
    }
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

bool PaintWindow::ExecuteColorDialog(int &color)
{
    const QColor chosen = QColorDialog::getColor(QColor(PenColorToRgb(color)), this);
    if (!chosen.isValid())
        return false;
    color = RgbToPenColor(chosen.rgb());
    return true;
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

void PaintWindow::Timer1Timer()
{
    Timer1->stop();
    if (worker_)
        worker_->Refresh(session_); // kept points go first, then what others stored
    showUnstoredMark();
    Timer1->setInterval(5000);
    Timer1->start();
}
