#include "app/Unit1.h"

#include "app/ConnectionKeeper.h"
#include "app/FormUtil.h"
#include "app/SettingsFile.h"
#include "app/Unit2.h"
#include "app/Unit5.h"
#include "app/UnitV.h"
#include "app/UnitVWidgets.h"
#include "catalogue/Unit6.h"
#include "db/Tables.h"
#include "catalogue/Unit7.h"
#include "paint/Unit8.h"
#include "paint/Unit9.h"
#include "registers/Unit3.h"
#include "registers/Unit4.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>

TForm1 *Form1 = nullptr;
QString TForm1::SettingFileOverride;
QString TForm1::UserSettingFileOverride;

QString ApplicationTitle()
{
    return QStringLiteral("r385－お絵描きソフト");
}

TForm1::TForm1(QWidget *parent)
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
    setCentralWidget(mdi_);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(true);
    SetBackground(StatusBar1, QColor(192, 220, 192));
    setStatusBar(StatusBar1);

    // Never shown: TableExists lists the table names into it.
    ComboBox1 = new QComboBox(this);
    ComboBox1->setGeometry(40, 8, 97, 21);
    ComboBox1->setFocusPolicy(Qt::NoFocus);
    ComboBox1->setEditable(true);
    ComboBox1->setEditText(QStringLiteral("ComboBox1"));
    ComboBox1->hide();
    db_.onTableNames = [this](const QStringList &names) {
        ComboBox1->clear();
        ComboBox1->addItems(names);
    };

    keeper_ = new ConnectionKeeper([] { return ToCp932(DatabasePath()); },
                                   [this] {
                                       ConnectDatabase();
                                       return IsConnected();
                                   },
                                   this);
    connect(keeper_, &ConnectionKeeper::Reconnected, this, &TForm1::Reconnected);
    // Detached only once the failing call is over: it still holds its handles.
    db_.onConnectionLost = [this] {
        QMetaObject::invokeMethod(this, &TForm1::ConnectionLost, Qt::QueuedConnection);
    };

    buildMenu();
    // The designed outer size; the frame is known only once the window manager has framed it.
    wantedOuter_ = QRect(192, 107, 347, 246);
    move(wantedOuter_.topLeft());
    resize(wantedOuter_.size());
    sizeSet_ = size();
    if (!Form1) {
        Form1 = this;
        SetMainWindow(this);
    }
}

TForm1::~TForm1()
{
    if (Form1 == this) {
        Form1 = nullptr;
        SetMainWindow(nullptr);
    }
}

void TForm1::buildMenu()
{
    QMenuBar *bar = menuBar();
    QMenu *file = bar->addMenu(QStringLiteral("初期設定(&I)"));
    file->setObjectName(QStringLiteral("mnuFile"));
    auto item = [this](QMenu *menu, const char *name, const QString &caption, void (TForm1::*slot)()) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    item(file, "mnuDBset", QStringLiteral("データベース設定(&D)..."), &TForm1::mnuDBsetClick);
    file->addSeparator()->setObjectName(QStringLiteral("MnuDmy1"));
    item(file, "mnuAddTable1", QStringLiteral("所属（SECTION）の登録(&S)"), &TForm1::mnuAddTable1Click);
    item(file, "mnuAddTable2", QStringLiteral("メンバー（MEMBER）の登録(&M)"), &TForm1::mnuAddTable2Click);
    file->addSeparator()->setObjectName(QStringLiteral("MnuDmy2"));
    item(file, "mnuPCnameSet", QStringLiteral("PC利用者名の登録(&P)"), &TForm1::mnuPCnameSetClick);
    file->addSeparator()->setObjectName(QStringLiteral("MnuDmy3"));
    item(file, "mnuExit", QStringLiteral("終了(&X)"), &TForm1::mnuExitClick);

    QMenu *image = bar->addMenu(QStringLiteral("画像(&I)"));
    image->setObjectName(QStringLiteral("mnuImage"));
    item(image, "mnuImageNew", QStringLiteral("新規作成(&N)"), &TForm1::mnuImageNewClick);
    item(image, "mnuImageEdit", QStringLiteral("編集(&E)"), &TForm1::mnuImageEditClick);
    item(image, "mnuImageList", QStringLiteral("一覧表示(&L)"), &TForm1::mnuImageListClick);
}

void TForm1::CreateDatabase()
{
    db_.CreateDatabase(DatabasePath());
}

void TForm1::ConnectDatabase()
{
    BusyCursor busy;
    db_.ConnectDatabase(DatabasePath());
}

bool TForm1::EnsureTable(const QString &name, bool (DataAccess::*create)())
{
    {
        BusyCursor busy;
        if (db_.TableExists(name))
            return true;
        if (!db_.TableListFailed())
            return create && (db_.*create)();
    }
    reportUnreadable();
    return false;
}

void TForm1::DisconnectDatabase()
{
    db_.DisconnectDatabase();
}

void TForm1::ConnectionLost()
{
    if (closed_)
        return;
    db_.DisconnectDatabase();
    keeper_->Start();
}

bool TForm1::Reconnecting() const
{
    return keeper_->Active();
}

static QList<TForm8 *> paintingWindows(QMdiArea *area)
{
    QList<TForm8 *> out;
    for (QMdiSubWindow *s : area->subWindowList())
        if (auto *w = qobject_cast<TForm8 *>(s))
            out << w;
    return out;
}

int TForm1::UnstoredPoints() const
{
    int count = 0;
    for (TForm8 *w : paintingWindows(mdi_))
        count += w->UnstoredPoints();
    return count;
}

void TForm1::storeKeptPoints()
{
    for (TForm8 *w : paintingWindows(mdi_))
        w->StoreKeptPoints();
}

void TForm1::CloseWithoutAsking()
{
    exitAgreed_ = true;
    close();
}

void TForm1::reportUnreadable()
{
    ShowMessage(QStringLiteral("データベースが読み込めませんでした。接続を確認して下さい。"));
}

bool TForm1::TableExists(const QString &name)
{
    const bool exists = db_.TableExists(name);
    if (db_.TableListFailed())
        reportUnreadable();
    return exists;
}

static QList<QWidget *> settingsDialogs()
{
    return {Form2, Form3, Form4, Form5, Form9};
}

void TForm1::LoadSettings(const QString &fileName)
{
    WindowPlacement placement = currentPlacement();
    if (!ReadSettingsFile(fileName, placement))
        return;
    move(placement.mainLeft, placement.mainTop);
    // No bigger than the desktop: a damaged file must not ask for a bitmap of gigabytes.
    QSize room(placement.mainWidth, placement.mainHeight);
    if (const QScreen *s = screen())
        room = room.boundedTo(s->availableVirtualGeometry().size());
    SetOuterSize(this, room.width(), room.height());
    wantedOuter_ = QRect(QPoint(placement.mainLeft, placement.mainTop), room);
    sizeSet_ = size();
    const QList<QWidget *> dialogs = settingsDialogs();
    for (int i = 0; i < dialogs.size(); ++i)
        if (dialogs[i])
            dialogs[i]->move(placement.dialogs[i]);
}

WindowPlacement TForm1::currentPlacement() const
{
    WindowPlacement placement;
    const QRect outer = frameGeometry();
    placement.mainLeft = outer.left();
    placement.mainTop = outer.top();
    placement.mainWidth = outer.width();
    placement.mainHeight = outer.height();
    const QList<QWidget *> dialogs = settingsDialogs();
    for (int i = 0; i < dialogs.size(); ++i)
        if (dialogs[i])
            placement.dialogs[i] = dialogs[i]->pos();
    return placement;
}

void TForm1::SaveSettings(const QString &fileName)
{
    WriteSettingsFile(fileName, currentPlacement());
}

void TForm1::showEvent(QShowEvent *e)
{
    QMainWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent *e)
{
    if (!closed_) {
        storeKeptPoints();
        if (!exitAgreed_) {
            const int unstored = UnstoredPoints();
            if (unstored > 0
                && !ConfirmBox(QStringLiteral("保存されていない点が%1点あります。\n"
                                              "終了すると失われます。終了しますか？\n"
                                              "（「いいえ」で終了せず、接続が戻り次第保存します）")
                                   .arg(unstored))) {
                e->ignore();
                return;
            }
        }
        exitAgreed_ = true;
        closed_ = true;
        FormClose();
    }
    QMainWindow::closeEvent(e);
}

void TForm1::reapplyOuterOnceFramed()
{
    const QRect wanted = wantedOuter_;
    wantedOuter_ = QRect();
    if (wanted.isNull() || frameGeometry() == geometry())
        return; // no frame at all: already right
    if (size() != sizeSet_)
        return; // resized meanwhile: that size stands
    move(wanted.topLeft());
    SetOuterSize(this, wanted.width(), wanted.height());
}

bool TForm1::event(QEvent *e)
{
    // By the first paint the window manager has framed the window.
    if (e->type() == QEvent::Paint && !wantedOuter_.isNull())
        QMetaObject::invokeMethod(this, &TForm1::reapplyOuterOnceFramed, Qt::QueuedConnection);
    return QMainWindow::event(e);
}

void TForm1::FormShow()
{
    const SettingsPlaces places = SettingFileOverride.isEmpty()
                                      ? SettingsPlacesFor(QCoreApplication::applicationFilePath())
                                      : SettingsPlaces{SettingFileOverride, UserSettingFileOverride};
    SettingFileName = places.beside;
    UserSettingFileName = places.user;
    LoadSettings(SettingsFileToRead(places));
    if (!ServerDataDir.isEmpty()) {
        ConnectDatabase();
        if (!IsConnected()) {
            DisconnectDatabase();
            ShowMessage(QStringLiteral("データベース接続が出来ません。設定を確認して下さい。"));
        }
    }
}

void TForm1::FormClose()
{
    keeper_->Stop();
    DisconnectDatabase();
    // Decided now: the folder may have become read-only since the start.
    SaveSettings(SettingsFileToWrite({SettingFileName, UserSettingFileName}));
}

void TForm1::mnuExitClick()
{
    close();
}

void TForm1::EndSession()
{
    exitAgreed_ = true;
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    // A modal dialog runs an event loop of its own inside a handler: dismiss it
    // and come back once that handler has returned. A dialog refusing to close
    // is given up on after a few tries.
    if (QWidget *modal = QApplication::activeModalWidget(); modal && dismissTries_ < 20) {
        ++dismissTries_;
        modal->close();
        QTimer::singleShot(0, this, &TForm1::EndSession);
        return;
    }
    CloseWithoutAsking();
    QCoreApplication::quit();
}

void TForm1::mnuDBsetClick()
{
    keeper_->Stop();
    DisconnectDatabase();
    if (Form2)
        Form2->exec();
    if (exitAgreed_)
        return; // dismissed because the session ends: no reconnecting now
    ConnectDatabase();
}

void TForm1::mnuAddTable1Click()
{
    if (!IsConnected())
        return;
    if (!EnsureTable(SectionTable::Name, &DataAccess::CreateSectionTable))
        return;
    if (Form3)
        Form3->exec();
}

void TForm1::mnuAddTable2Click()
{
    if (!IsConnected())
        return;
    if (!EnsureTable(MemberTable::Name, &DataAccess::CreateMemberTable))
        return;
    if (Form4)
        Form4->exec();
}

void TForm1::mnuPCnameSetClick()
{
    if (!IsConnected())
        return;
    if (Form5)
        Form5->exec();
}

void TForm1::AddChild(QMdiSubWindow *child)
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

void TForm1::mnuImageNewClick()
{
    if (!IsConnected())
        return;
    if (!EnsureTable(ImgListTable::Name, &DataAccess::CreateImgListTable))
        return;
    if (PcUserNo == 0) {
        ShowMessage(QStringLiteral("PC利用者名の登録を行って下さい"));
        return;
    }
    EditMode = 0;
    auto *editor = new TForm6;
    editor->setWindowTitle(QStringLiteral("画像一覧データ新規作成"));
    AddChild(editor);
}

void TForm1::mnuImageEditClick()
{
    if (!IsConnected() || !EnsureTable(ImgListTable::Name, nullptr))
        return;
    if (PcUserNo == 0) {
        ShowMessage(QStringLiteral("PC利用者名の登録を行って下さい"));
        return;
    }
    EditMode = 1;
    CurrentImageNo = 0;
    auto *editor = new TForm6;
    editor->setWindowTitle(QStringLiteral("画像一覧データ編集"));
    AddChild(editor);
}

void TForm1::mnuImageListClick()
{
    if (!IsConnected())
        return;
    if (!EnsureTable(ImgListTable::Name, &DataAccess::CreateImgListTable))
        return;
    if (PcUserNo == 0) {
        ShowMessage(QStringLiteral("PC利用者名の登録を行って下さい"));
        return;
    }
    AddChild(new TForm7);
}

void CreateApplicationWindows()
{
    Form1 = new TForm1;
    Form2 = new TForm2;
    Form3 = new TForm3;
    Form4 = new TForm4;
    Form5 = new TForm5;
    Form9 = new TForm9;
}

void DestroyApplicationWindows()
{
    delete Form9;
    Form9 = nullptr;
    delete Form5;
    Form5 = nullptr;
    delete Form4;
    Form4 = nullptr;
    delete Form3;
    Form3 = nullptr;
    delete Form2;
    Form2 = nullptr;
    delete Form1;
    Form1 = nullptr;
}
