#include "ModalAnswer.h"
#include "StallMeter.h"
#include "TestDatabase.h"
#include "forms/ElidedLabel.h"
#include "forms/FormUtil.h"
#include "core/settings/SettingsFile.h"
#include "app/MainWindow.h"
#include "windows/DatabaseSettingsDialog.h"
#include "windows/PcUserDialog.h"
#include "core/settings/SharedSettings.h"
#include "windows/PenTipDialog.h"
#include "windows/SectionRegister.h"
#include "windows/MemberRegister.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {


QByteArray settingsLines(const QList<QByteArray> &first, int total = SettingsLineCount)
{
    QByteArray out;
    for (int n = 1; n <= total; ++n)
        out += (n <= first.size() ? first[n - 1] : QByteArray::number(100 + n)) + "\r\n";
    return out;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AssignDefaultSettings();
        settings = dir.path() + QStringLiteral("/oekaki.dat");
        MainWindow::SettingFileOverride = settings;
    }
    void TearDown() override
    {
        if (mainWindow)
            stop();
        MainWindow::SettingFileOverride.clear();
        AssignDefaultSettings();
    }
    void start()
    {
        CreateApplicationWindows();
        mainWindow->show();
        QApplication::processEvents();
        // The start's attach runs in the background; its outcome is told when it ends.
        ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 30000))
            << "the start's attach did not end within 30 s";
    }
    void stop()
    {
        mainWindow->close();
        QApplication::processEvents();
        DestroyApplicationWindows();
    }
    void writeSettings(const QByteArray &bytes)
    {
        QFile f(settings);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QAction *action(const char *name) { return mainWindow->findChild<QAction *>(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    QString settings;
};

// Triggers a menu command; a dialog it opens is closed again and named.
QString runCommand(QAction *a)
{
    QString opened;
    QTimer guard;
    guard.setInterval(50);
    QObject::connect(&guard, &QTimer::timeout, [&opened] {
        if (QWidget *w = QApplication::activeModalWidget()) {
            opened = w->windowTitle();
            if (auto *d = qobject_cast<QDialog *>(w))
                d->reject();
            else
                w->close();
        }
    });
    guard.start();
    a->trigger();
    QApplication::processEvents();
    return opened;
}

TEST_F(MainWindowTest, MenuBarCaptionsInOrder)
{
    start();
    EXPECT_EQ(mainWindow->windowTitle(), QStringLiteral("お絵描きソフト"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("r385－お絵描きソフト"));
    const QList<QAction *> top = mainWindow->menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->text(), QStringLiteral("初期設定(&I)"));
    EXPECT_EQ(top[1]->text(), QStringLiteral("画像(&I)"));
    auto captions = [](QAction *menuAction) {
        QStringList out;
        for (QAction *a : menuAction->menu()->actions()) {
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
            EXPECT_TRUE(a->isEnabled());
            EXPECT_TRUE(a->isVisible());
        }
        return out;
    };
    EXPECT_EQ(captions(top[0]), (QStringList{QStringLiteral("データベース設定(&D)..."), QStringLiteral("-"),
                                              QStringLiteral("所属（SECTION）の登録(&S)"),
                                              QStringLiteral("メンバー（MEMBER）の登録(&M)"), QStringLiteral("-"),
                                              QStringLiteral("PC利用者名の登録(&P)"), QStringLiteral("-"),
                                              QStringLiteral("終了(&X)")}));
    EXPECT_EQ(captions(top[1]), (QStringList{QStringLiteral("新規作成(&N)"), QStringLiteral("編集(&E)"),
                                              QStringLiteral("一覧表示(&L)")}));
    // The hidden list for table names is never shown.
    EXPECT_FALSE(mainWindow->ComboBox1->isVisible());
}

// What the window manager is asked for: a title, the system menu and the minimise box,
// never a maximise box. Without CustomizeWindowHint Qt would ask X11 for every button.
TEST_F(MainWindowTest, FramesAskForTheSystemMenuAndMinimiseBoxOnly)
{
    start();
    struct Frame {
        const char *name;
        QWidget *window;
        bool resizable;
    };
    const Frame frames[] = {
        {"main window", mainWindow, true},
        {"database settings", databaseSettingsDialog, false},
        {"sections", sectionRegister, false},
        {"members", memberRegister, false},
        {"PC user", pcUserDialog, false},
        {"pen tip", penTipDialog, false},
    };
    for (const Frame &f : frames) {
        SCOPED_TRACE(f.name);
        ASSERT_NE(f.window, nullptr);
        const Qt::WindowFlags flags = f.window->windowFlags();
        EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
        EXPECT_TRUE(flags & Qt::WindowTitleHint);
        EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
        EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
        EXPECT_FALSE(flags & Qt::WindowFullscreenButtonHint);
        // A window manager drops resizing and maximising for a fixed size.
        EXPECT_EQ(f.window->minimumSize() != f.window->maximumSize(), f.resizable)
            << f.window->minimumSize().width() << "x" << f.window->minimumSize().height();
    }
    stop();
}

// Each dialog opens over the middle of the main window, wherever that is and wherever
// the dialog stood before; near the screen's edge it stays wholly on the screen.
TEST_F(MainWindowTest, DialogsOpenOverTheMiddleOfTheMainWindow)
{
    start();
    MessageRecorder rec; // the registers and the PC user dialog close at once, unconnected
    const QRect screen = mainWindow->screen()->availableGeometry();
    const QWidget *dialogs[] = {databaseSettingsDialog, sectionRegister, memberRegister, pcUserDialog,
                                penTipDialog};
    const QRect mains[] = {QRect(150, 120, 600, 450), QRect(400, 60, 500, 420), QRect(10, 10, 300, 200)};
    for (const QRect &m : mains) {
        mainWindow->move(m.topLeft());
        SetOuterSize(mainWindow, m.width(), m.height());
        QApplication::processEvents();
        for (const QWidget *d : dialogs) {
            auto *dialog = const_cast<QWidget *>(d);
            SCOPED_TRACE(dialog->windowTitle().toStdString());
            dialog->move(193, 127); // where the settings file or the last opening left it
            dialog->show();
            const QRect placed = dialog->frameGeometry();
            QRect centred(QPoint(), placed.size());
            centred.moveCenter(mainWindow->frameGeometry().center());
            if (screen.contains(centred))
                EXPECT_EQ(placed, centred);
            else
                EXPECT_TRUE(screen.contains(placed)) << placed.x() << "," << placed.y();
            dialog->hide();
            QApplication::processEvents();
        }
    }
}

// Before any connection every command that needs the database says why it cannot run,
// and opens nothing: at a first start (nothing configured, nothing tried, nothing said at
// start), after a start that failed (said once; tried again as a lost connection is), and
// after a settings OK that failed (its message names a missing final separator).
TEST_F(MainWindowTest, CommandsBeforeAConnectionSayWhy)
{
    const QString connecting = QStringLiteral("データベースに接続しています。しばらくしてからもう一度実行して下さい。");
    const QString startFailed = QStringLiteral("データベース接続が出来ません。設定を確認して下さい。");
    const QString settingsFailed = QStringLiteral("データベースが作成・接続出来ません。設定を確認して下さい。");
    enum Before { FirstStart, FailedStart, FailedSettingsOk };
    const struct Case {
        const char *name;
        Before before;
        QList<QByteArray> lines; // of the settings file; none: no file
        QStringList startMessages;
        QString commandMessage;
        bool retrying;
    } cases[] = {
        {"first start", FirstStart, {}, {},
         QStringLiteral("最初にデータベースの設定を行って下さい。"), false},
        {"no such folder", FailedStart, {"localhost:", "/no/such/folder/", "PAINT.FDB"}, {startFailed}, connecting, true},
        {"nobody listens", FailedStart,
         {QByteArray("127.0.0.1/") + QByteArray::number(ClosedPort()) + ":", "/tmp/", "PAINT.FDB"}, {startFailed},
         connecting, true},
        {"folder without its final /", FailedStart, {"localhost:", "/no/such/folder", "PAINT.FDB"},
         {startFailed + QStringLiteral("\nサーバーのデータのフォルダの最後に「/」がありません（例：「/no/such/folder/」）。")},
         connecting, true},
        {"settings OK failed", FailedSettingsOk, {}, {}, connecting, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(settings);
        if (!c.lines.isEmpty())
            writeSettings(settingsLines(c.lines));
        MessageRecorder rec;
        start();
        EXPECT_EQ(rec.messages, c.startMessages);
        if (c.before == FailedSettingsOk) {
            // A folder that is not there (a relative path would be made in the server's own folder).
            AnswerModal(QStringLiteral("the database settings"),
                        [] { return QApplication::activeModalWidget() == databaseSettingsDialog ? databaseSettingsDialog : nullptr; },
                        [](QWidget *) {
                            databaseSettingsDialog->Edit2->setText(QStringLiteral("/no/such"));
                            databaseSettingsDialog->Button1Click();
                            databaseSettingsDialog->Button2Click();
                        });
            action("mnuDBset")->trigger();
            EXPECT_EQ(rec.messages,
                      QStringList{settingsFailed
                                  + QStringLiteral("\nサーバーのデータのフォルダの最後に「/」がありません（例：「/no/such/」）。")});
            // Kept as typed.
            EXPECT_EQ(ServerDataDir, QStringLiteral("/no/such"));
            ASSERT_TRUE(WaitUntil([] { return mainWindow->Reconnecting(); }, 15000)) << "not retrying";
        }
        EXPECT_FALSE(mainWindow->IsConnected());
        EXPECT_EQ(mainWindow->Reconnecting(), c.retrying);
        EXPECT_EQ(mainWindow->ConnectionStatusText().isEmpty(), !c.retrying)
            << mainWindow->ConnectionStatusText().toStdString();
        rec.messages.clear();

        PcUserNo = 1; // even with a PC user, nothing opens while unconnected
        for (const char *name : {"mnuAddTable1", "mnuAddTable2", "mnuPCnameSet", "mnuImageNew", "mnuImageEdit",
                                 "mnuImageList"}) {
            QAction *a = action(name);
            ASSERT_NE(a, nullptr) << name;
            EXPECT_EQ(runCommand(a), QString()) << name;
            EXPECT_EQ(rec.messages, QStringList{c.commandMessage}) << name;
            rec.messages.clear();
            EXPECT_TRUE(mainWindow->MdiArea()->subWindowList().isEmpty()) << name;
        }
        EXPECT_TRUE(rec.confirmations.isEmpty());
        // The database settings command does open its dialog.
        EXPECT_EQ(runCommand(action("mnuDBset")), databaseSettingsDialog->windowTitle());
        stop();
        if (!c.lines.isEmpty()) {
            // The settings survive the failed start unchanged.
            WindowPlacement p;
            ASSERT_TRUE(ReadSettingsFile(settings, p));
            EXPECT_EQ(ServerName.toLatin1(), c.lines[0]);
            EXPECT_EQ(ServerDataDir.toLatin1(), c.lines[1]);
        }
        AssignDefaultSettings();
    }
}

TEST_F(MainWindowTest, CloseStoresPlacementAndNextStartRestoresIt)
{
    start();
    mainWindow->move(150, 120);
    SetOuterSize(mainWindow, 500, 400);
    databaseSettingsDialog->move(11, 12);
    sectionRegister->move(21, 22);
    memberRegister->move(31, 32);
    pcUserDialog->move(41, 42);
    penTipDialog->move(51, 52);
    PcUserNo = 7;
    PcUserName = QStringLiteral("佐藤花子");
    QApplication::processEvents();
    const QRect frame = mainWindow->frameGeometry();
    EXPECT_EQ(frame.size(), QSize(500, 400));

    // The exit command closes the window, which writes the file.
    runCommand(action("mnuExit"));
    EXPECT_FALSE(mainWindow->isVisible());
    DestroyApplicationWindows();
    ASSERT_TRUE(QFile::exists(settings));
    QFile f(settings);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), SettingsLineCount + 1);
    EXPECT_EQ(lines[5], QByteArray::number(frame.left()) + '\r');
    EXPECT_EQ(lines[6], QByteArray::number(frame.top()) + '\r');
    EXPECT_EQ(lines[7], "500\r");
    EXPECT_EQ(lines[8], "400\r");
    // Lines 10 to 17 and 34, 35: each dialog's left and top, in the file's order.
    const std::pair<int, const char *> dialogLines[] = {{9, "11"},  {10, "12"}, {11, "21"},
                                                        {12, "22"}, {13, "31"}, {14, "32"},
                                                        {15, "41"}, {16, "42"}, {33, "51"},
                                                        {34, "52"}};
    for (const auto &[index, value] : dialogLines)
        EXPECT_EQ(lines[index], QByteArray(value) + '\r') << "line " << index + 1;

    AssignDefaultSettings();
    start();
    EXPECT_EQ(mainWindow->frameGeometry(), frame);
    EXPECT_EQ(databaseSettingsDialog->pos(), QPoint(11, 12));
    EXPECT_EQ(sectionRegister->pos(), QPoint(21, 22));
    EXPECT_EQ(memberRegister->pos(), QPoint(31, 32));
    EXPECT_EQ(pcUserDialog->pos(), QPoint(41, 42));
    EXPECT_EQ(penTipDialog->pos(), QPoint(51, 52));
    EXPECT_EQ(PcUserNo, 7);
    EXPECT_EQ(PcUserName, QStringLiteral("佐藤花子"));
    // Unconfigured database: no message on the second start either.
    EXPECT_FALSE(mainWindow->IsConnected());
}

TEST_F(MainWindowTest, ShortOrOddSettingsStartWithoutHarm)
{
    MessageRecorder rec;
    // Three lines: the window is given 0,0 and size 0 (the toolkit's minimum applies).
    writeSettings("localhost:\r\n\r\nPAINT.FDB\r\n");
    start();
    EXPECT_TRUE(rec.messages.isEmpty());
    EXPECT_EQ(mainWindow->frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_GE(mainWindow->width(), 0);
    EXPECT_EQ(databaseSettingsDialog->pos(), QPoint(0, 0));
    EXPECT_EQ(ListWidth, 80);
    stop();

    // Absurd sizes: the window is held to the desktop rather than asking for
    // a bitmap of gigabytes.
    writeSettings(settingsLines({"localhost:", "", "PAINT.FDB", "0", "", "-2147483648", "2147483647",
                                 "2147483647", "-5"}));
    start();
    EXPECT_TRUE(mainWindow->isVisible());
    const QSize room = mainWindow->screen()->availableVirtualGeometry().size();
    EXPECT_LE(mainWindow->frameGeometry().width(), room.width());
    EXPECT_LE(mainWindow->frameGeometry().height(), room.height());
    EXPECT_TRUE(rec.messages.isEmpty());
    stop();
}

TEST_F(MainWindowTest, ATitleBarSavedOffTheScreenComesBackOnIt)
{
    struct Case {
        const char *name;
        const char *left, *top;
    };
    const Case cases[] = {
        {"a frame saved at the top edge, applied to the window: 19 above", "40", "-19"},
        {"far below and left of every screen", "-5000", "5000"},
        {"far above", "10", "-100000000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeSettings(settingsLines({"localhost:", "", "PAINT.FDB", "0", "", c.left, c.top, "300", "200"}));
        start();
        const QRect room = mainWindow->screen()->availableGeometry();
        const QRect frame = mainWindow->frameGeometry();
        // The title bar: the frame's top strip, wholly on the screen and wide enough to grab.
        const QRect title(frame.left(), frame.top(), frame.width(), 20);
        EXPECT_EQ(room.intersected(title).height(), title.height())
            << "title bar at " << frame.left() << "," << frame.top();
        EXPECT_GE(room.intersected(title).width(), 100);
        stop();
    }
}

// At the designed 347×246 nothing widens the main window: a long status text is cut short
// with the whole text as its tool tip, and a child window larger than the area is reached
// by the area's scroll bars.
TEST_F(MainWindowTest, LongTextsAndLargeChildrenStayInsideTheWindow)
{
    start();
    const QSize outer = OuterSize(mainWindow);
    EXPECT_EQ(outer, QSize(347, 246));
    auto *status = mainWindow->findChild<ElidedLabel *>(QStringLiteral("connectionState"));
    ASSERT_NE(status, nullptr);
    const QString longText = QStringLiteral("未保存の点はディスクに控えられていません（create: Read-only file system (")
                             + QString(200, QLatin1Char('x')) + QStringLiteral("）");
    status->SetFullText(longText);
    QApplication::processEvents();
    EXPECT_EQ(OuterSize(mainWindow), outer);
    EXPECT_TRUE(status->Elided());
    EXPECT_TRUE(status->text().endsWith(QStringLiteral("…"))) << status->text().toStdString();
    EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->contentsRect().width());
    EXPECT_EQ(status->toolTip(), longText);
    // Room again: shown whole.
    status->SetFullText(QStringLiteral("短い"));
    EXPECT_FALSE(status->Elided());
    EXPECT_EQ(status->text(), QStringLiteral("短い"));
    status->SetFullText(QString());

    auto *child = new QMdiSubWindow;
    auto *content = new QWidget;
    content->setMinimumSize(600, 400);
    child->setWidget(content);
    mainWindow->AddChild(child);
    QApplication::processEvents();
    EXPECT_EQ(OuterSize(mainWindow), outer);
    QMdiArea *area = mainWindow->MdiArea();
    const QRect reach = child->geometry();
    EXPECT_GE(reach.left(), 0);
    EXPECT_GE(reach.top(), 0);
    ASSERT_TRUE(area->horizontalScrollBar()->isVisible());
    ASSERT_TRUE(area->verticalScrollBar()->isVisible());
    // Scrolled to the end, the child's bottom right corner (its buttons) is in view.
    area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->maximum());
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    QApplication::processEvents();
    const QRect seen = child->geometry();
    EXPECT_LE(seen.right(), area->viewport()->width() - 1);
    EXPECT_LE(seen.bottom(), area->viewport()->height() - 1);
    stop();
}

} // namespace
