// The main window: the frame of the child windows, its menus and their commands, its
// showing and its end.
#include "app/MainWindow.h"
#include "app/EndProcess.h"
#include "core/journal/StrokeJournal.h"

#include "core/connection/BackgroundAttach.h"
#include "core/connection/ConnectionKeeper.h"
#include "core/settings/DatabaseLabel.h"
#include "forms/FormUtil.h"
#include "core/settings/SettingsFile.h"
#include "windows/DatabaseSettingsDialog.h"
#include "windows/PcUserDialog.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"
#include "forms/BusyCursor.h"
#include "forms/ElidedLabel.h"
#include "forms/ProgramFont.h"
#include "windows/ImageRecordEditor.h"
#include "core/catalogue/TableRequests.h"
#include "windows/ImageList.h"
#include "windows/PaintWindow.h"
#include "windows/PenTipDialog.h"
#include "windows/SectionRegister.h"
#include "windows/MemberRegister.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QDir>
#include <QLabel>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QStatusBar>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>

MainWindow *mainWindow = nullptr;
bool MainWindow::EndProcessAtClose = false;
QString MainWindow::SettingFileOverride;
QString MainWindow::UserSettingFileOverride;

QString ApplicationTitle()
{
    return QStringLiteral("r385－お絵描きソフト");
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                              | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("お絵描きソフト"));
    setWindowIcon(ProgramIcon());
    ApplyProgramFont(this);
    SetBackground(this, Qt::white);

    mdi_ = new QMdiArea(this);
    mdi_->setBackground(Qt::white);
    // A child window reaching beyond the area is scrolled to, and never widens the window
    // (without scroll bars the area asks for the room of its largest child).
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(true);
    SetBackground(StatusBar1, QColor(192, 220, 192));
    setStatusBar(StatusBar1);
    connectionState_ = new ElidedLabel(StatusBar1);
    connectionState_->setObjectName(QStringLiteral("connectionState"));
    StatusBar1->addWidget(connectionState_, 1);
    waitingLabel_ = new ElidedLabel(StatusBar1);
    waitingLabel_->hide();
    StatusBar1->addWidget(waitingLabel_, 1);
    connect(&worker_, &PaintWorker::WaitingChanged, this, &MainWindow::showWaiting);
    connect(&worker_, &PaintWorker::JournalTroubleChanged, this, &MainWindow::showWaiting);
    connect(&worker_, &PaintWorker::Recovered, this, [this](const QString &, int imageNo, int points) {
        StatusBar1->showMessage(QStringLiteral("前回保存されなかった画像%1の%2点を保存しました").arg(imageNo).arg(points),
                                30000);
    });
    connect(&worker_, &PaintWorker::JournalPeeked, this, [this](QMap<QString, int> points) {
        // This database's strokes are the worker's now: counted as it reports them.
        points.remove(DatabasePath());
        journalElsewhere_ = points;
        showWaiting();
    });
    connect(&worker_, &PaintWorker::Orphans, this,
            [this](const QString &database, int imageNo, int points) {
                // Not inside whatever handler is running now.
                QTimer::singleShot(0, this, [this, database, imageNo, points] {
                    askAboutOrphans(database, imageNo, points);
                });
            });

    // Never shown: TableExists lists the table names into it.
    ComboBox1 = new QComboBox(this);
    ComboBox1->setGeometry(40, 8, 97, 21);
    ComboBox1->setFocusPolicy(Qt::NoFocus);
    ComboBox1->setEditable(true);
    ComboBox1->setEditText(QStringLiteral("ComboBox1"));
    ComboBox1->hide();
    mainDb_ = new MainDb(this);
    connect(mainDb_, &MainDb::TableNames, this, [this](const QStringList &names) {
        ComboBox1->clear();
        ComboBox1->addItems(names);
    });

    attacher_ = new BackgroundAttach(this);
    connect(attacher_, &BackgroundAttach::Finished, this, &MainWindow::attachFinished);
    keeper_ = new ConnectionKeeper([] { return ToCp932(DatabasePath()); },
                                   [this] { attachInBackground(AttachFor::Reconnect); }, this);
    connect(keeper_, &ConnectionKeeper::Reconnected, this, [this] {
        showConnectionState();
        emit Reconnected();
    });
    connect(mainDb_, &MainDb::ConnectionLost, this, &MainWindow::ConnectionLost);

    buildMenu();
    // The designed outer size; the frame is known only once the window manager has framed it.
    wantedOuter_ = QRect(192, 107, 347, 246);
    move(wantedOuter_.topLeft());
    resize(wantedOuter_.size());
    sizeSet_ = size();
    if (!mainWindow) {
        mainWindow = this;
        SetMainWindowLink(this);
    }
}

MainWindow::~MainWindow()
{
    if (mainWindow == this) {
        mainWindow = nullptr;
        SetMainWindowLink(nullptr);
    }
}

void MainWindow::buildMenu()
{
    QMenuBar *bar = menuBar();
    QMenu *file = bar->addMenu(QStringLiteral("初期設定(&I)"));
    file->setObjectName(QStringLiteral("mnuFile"));
    auto item = [this](QMenu *menu, const char *name, const QString &caption, void (MainWindow::*slot)()) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    item(file, "mnuDBset", QStringLiteral("データベース設定(&D)..."), &MainWindow::mnuDBsetClick);
    file->addSeparator()->setObjectName(QStringLiteral("MnuDmy1"));
    item(file, "mnuAddTable1", QStringLiteral("所属（SECTION）の登録(&S)"), &MainWindow::mnuAddTable1Click);
    item(file, "mnuAddTable2", QStringLiteral("メンバー（MEMBER）の登録(&M)"), &MainWindow::mnuAddTable2Click);
    file->addSeparator()->setObjectName(QStringLiteral("MnuDmy2"));
    item(file, "mnuPCnameSet", QStringLiteral("PC利用者名の登録(&P)"), &MainWindow::mnuPCnameSetClick);
    file->addSeparator()->setObjectName(QStringLiteral("MnuDmy3"));
    item(file, "mnuExit", QStringLiteral("終了(&X)"), &MainWindow::mnuExitClick);

    QMenu *image = bar->addMenu(QStringLiteral("画像(&I)"));
    image->setObjectName(QStringLiteral("mnuImage"));
    item(image, "mnuImageNew", QStringLiteral("新規作成(&N)"), &MainWindow::mnuImageNewClick);
    item(image, "mnuImageEdit", QStringLiteral("編集(&E)"), &MainWindow::mnuImageEditClick);
    item(image, "mnuImageList", QStringLiteral("一覧表示(&L)"), &MainWindow::mnuImageListClick);
}

void MainWindow::CloseWithoutAsking()
{
    exitAgreed_ = true;
    close();
}

void MainWindow::showEvent(QShowEvent *e)
{
    QMainWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
        // Without a window manager no frame ever comes: the position stands as it is.
        QTimer::singleShot(1500, this, [this] {
            framingWaited_ = true;
            reapplyOuterOnceFramed();
        });
    }
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    if (!closed_) {
        if (!exitAgreed_) {
            // Strokes in the journal are stored at the next start; only the others are lost.
            const int unstored = UnstoredPoints();
            if (unstored > 0
                && !ConfirmBox(QStringLiteral("保存されていない点が%1点あり、%2。\n"
                                              "終了すると失われます。終了しますか？\n"
                                              "（「いいえ」で終了せず、接続が戻り次第保存します）")
                                   .arg(unstored)
                                   .arg(unsafeText()),
                               false)) {
                e->ignore();
                return;
            }
        }
        exitAgreed_ = true;
        closed_ = true;
        FormClose();
        if (EndProcessAtClose)
            EndProcess(0);
    }
    QMainWindow::closeEvent(e);
}

void MainWindow::reapplyOuterOnceFramed()
{
    if (wantedOuter_.isNull())
        return;
    if (frameGeometry() == geometry() && !framingWaited_)
        return; // not framed yet: a later paint or move comes once it is
    const QRect wanted = wantedOuter_;
    wantedOuter_ = QRect();
    // The position stands: the window manager placed the frame there itself (placing it
    // again now would go by Qt's own idea of the frame, which lags behind).
    if (size() == sizeSet_) // else resized meanwhile: that size stands
        SetOuterSize(this, wanted.width(), wanted.height());
}

bool MainWindow::event(QEvent *e)
{
    // The window manager's frame shows as a move or a paint; the first paint may come
    // before it.
    if (!wantedOuter_.isNull()
        && (e->type() == QEvent::Paint || e->type() == QEvent::Move || e->type() == QEvent::Resize))
        QMetaObject::invokeMethod(this, &MainWindow::reapplyOuterOnceFramed, Qt::QueuedConnection);
    return QMainWindow::event(e);
}

void MainWindow::FormShow()
{
    readSettingsOnce();
    // The window exists now (nobody can have resized it yet): the outer size holds
    // whatever frame this side knows of.
    if (!wantedOuter_.isNull()) {
        SetOuterSize(this, wantedOuter_.width(), wantedOuter_.height());
        sizeSet_ = size();
    }
    // The outcome comes later; a failure is told then.
    if (!ServerDataDir.isEmpty())
        attachInBackground(AttachFor::Start);
}

void MainWindow::setVisible(bool visible)
{
    // Placed before the window exists: the position then asks the window manager for the
    // frame's place, which it knows, while this side does not know the frame yet.
    if (visible && !shown_)
        readSettingsOnce();
    QMainWindow::setVisible(visible);
}

void MainWindow::FormClose()
{
    keeper_->Stop();
    attacher_->Cancel();
    // The painting windows and the list keep their size and the pen in the settings.
    mdi_->closeAllSubWindows();
    if (!EndProcessAtClose) {
        // What the worker has not stored by now waits in the journal for the next start.
        worker_.Stop();
        DisconnectDatabase();
    }
    // Decided now: the folder may have become read-only since the start.
    SaveSettings(SettingsFileToWrite({SettingFileName, UserSettingFileName}));
}

void MainWindow::mnuExitClick()
{
    close();
}

void MainWindow::EndSession()
{
    exitAgreed_ = true;
    for (QMdiSubWindow *w : mdi_->subWindowList())
        if (auto *paint = qobject_cast<PaintWindow *>(w))
            paint->KeepStrokeInProgress();
    if (EndProcessAtClose) {
        // The process ends inside the close: no dialog needs to be left first.
        CloseWithoutAsking();
        return;
    }
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    // A modal dialog runs an event loop of its own inside a handler: dismiss it
    // and come back once that handler has returned. A dialog refusing to close
    // is given up on after a few tries.
    if (QWidget *modal = QApplication::activeModalWidget(); modal && dismissTries_ < 20) {
        ++dismissTries_;
        modal->close();
        QTimer::singleShot(0, this, &MainWindow::EndSession);
        return;
    }
    CloseWithoutAsking();
    QCoreApplication::quit();
}

void MainWindow::mnuDBsetClick()
{
    keeper_->Stop();
    attacher_->Cancel();
    DisconnectDatabase();
    showConnectionState();
    if (databaseSettingsDialog)
        databaseSettingsDialog->exec();
    if (exitAgreed_ || closed_)
        return; // dismissed because the session ends: no reconnecting now
    // A failure starts the reconnecting.
    attachInBackground(AttachFor::Settings);
}

void MainWindow::mnuAddTable1Click()
{
    if (!connectedForCommand())
        return;
    withTable(ProgramTable::Section, true, [] {
        if (sectionRegister)
            sectionRegister->exec();
    });
}

void MainWindow::mnuAddTable2Click()
{
    if (!connectedForCommand())
        return;
    withTable(ProgramTable::Member, true, [] {
        if (memberRegister)
            memberRegister->exec();
    });
}

void MainWindow::mnuPCnameSetClick()
{
    if (!connectedForCommand())
        return;
    if (pcUserDialog)
        pcUserDialog->exec();
}

void MainWindow::AddChild(QMdiSubWindow *child)
{
    QList<QPoint> taken;
    for (const QMdiSubWindow *w : mdi_->subWindowList())
        if (w->isVisible())
            taken << w->pos();
    mdi_->addSubWindow(child);
    child->show();
    // Qt's own placement puts a window beside the others, partly outside the area.
    // One title bar down and right per window, as cascading does.
    const int step = qMax(20, child->widget() ? child->widget()->y() : 0);
    child->move(CascadePosition(mdi_->viewport()->size(), child->frameGeometry().size(),
                                taken, step));
}

void MainWindow::mnuImageNewClick()
{
    if (!connectedForCommand())
        return;
    withTable(ProgramTable::ImgList, true, [this] {
        if (PcUserNo == 0) {
            ShowMessage(QStringLiteral("PC利用者名の登録を行って下さい"));
            return;
        }
        EditMode = 0;
        auto *editor = new ImageRecordEditor;
        editor->setWindowTitle(QStringLiteral("画像一覧データ新規作成"));
        AddChild(editor);
    });
}

void MainWindow::mnuImageEditClick()
{
    if (!connectedForCommand())
        return;
    withTable(ProgramTable::ImgList, false, [this] {
        if (PcUserNo == 0) {
            ShowMessage(QStringLiteral("PC利用者名の登録を行って下さい"));
            return;
        }
        EditMode = 1;
        CurrentImageNo = 0;
        auto *editor = new ImageRecordEditor;
        editor->setWindowTitle(QStringLiteral("画像一覧データ編集"));
        AddChild(editor);
    });
}

void MainWindow::mnuImageListClick()
{
    if (!connectedForCommand())
        return;
    // The answer may take up to the reply deadline: the list already open comes to the
    // front now, and shows that the command is at work meanwhile.
    QPointer<QMdiSubWindow> open;
    const QList<QMdiSubWindow *> stack = mdi_->subWindowList(QMdiArea::StackingOrder);
    for (auto it = stack.rbegin(); it != stack.rend() && !open; ++it)
        if (qobject_cast<ImageList *>(*it) && (*it)->isVisible())
            open = *it;
    if (open) {
        mdi_->setActiveSubWindow(open);
        open->raise();
        open->setCursor(Qt::BusyCursor);
    }
    StatusBar1->showMessage(ListOpeningText);
    withTable(
        ProgramTable::ImgList, true,
        [this] {
            if (PcUserNo == 0) {
                ShowMessage(QStringLiteral("PC利用者名の登録を行って下さい"));
                return;
            }
            AddChild(new ImageList);
        },
        open.data());
}

void CreateApplicationWindows()
{
    mainWindow = new MainWindow;
    databaseSettingsDialog = new DatabaseSettingsDialog;
    sectionRegister = new SectionRegister;
    memberRegister = new MemberRegister;
    pcUserDialog = new PcUserDialog;
    penTipDialog = new PenTipDialog;
}

void DestroyApplicationWindows()
{
    delete penTipDialog;
    penTipDialog = nullptr;
    delete pcUserDialog;
    pcUserDialog = nullptr;
    delete memberRegister;
    memberRegister = nullptr;
    delete sectionRegister;
    sectionRegister = nullptr;
    delete databaseSettingsDialog;
    databaseSettingsDialog = nullptr;
    delete mainWindow;
    mainWindow = nullptr;
}
