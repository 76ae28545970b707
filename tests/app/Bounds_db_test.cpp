// The main window keeps answering while it attaches, whatever the server does: at the
// start, in the reconnecting, after the settings dialog.
#include "DbAnswers.h"
#include "DelayRelay.h"
#include "Outages.h"
#include "StallMeter.h"
#include "TestDatabase.h"

#include "app/MainWindow.h"
#include "core/connection/ConnectionKeeper.h"
#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"
#include "windows/DatabaseSettingsDialog.h"
#include "windows/ImageList.h"
#include "windows/ImageRecordEditor.h"
#include "windows/MemberRegister.h"
#include "windows/PcUserDialog.h"
#include "windows/SectionRegister.h"
#include "forms/FormUtil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr double kStallLimitMs = 100.0;

class WindowBounds : public ::testing::Test {
protected:
    void SetUp() override
    {
        AssignDefaultSettings();
        MainWindow::SettingFileOverride = dir.filePath(QStringLiteral("oekaki.dat"));
    }
    void TearDown() override
    {
        if (mainWindow) {
            mainWindow->close();
            DestroyApplicationWindows();
        }
        MainWindow::SettingFileOverride.clear();
        AssignDefaultSettings();
    }
    // Starts the program's windows with these three settings in the settings file.
    void startWith(const QString &server, const QString &folder, const QString &name)
    {
        ServerName = server;
        ServerDataDir = folder;
        DatabaseName = name;
        ASSERT_TRUE(WriteSettingsFile(MainWindow::SettingFileOverride, WindowPlacement{0, 0, 400, 300, {}}));
        AssignDefaultSettings();
        CreateApplicationWindows();
        mainWindow->show();
    }
    // Starts the program on `db` through `relay` and waits until it is connected.
    void startConnectedThrough(const DelayRelay &relay, const TestDatabase &db)
    {
        startWith(QStringLiteral("127.0.0.1/%1:").arg(relay.port()), db.folder(), db.fileName());
        ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 20000));
        ASSERT_TRUE(mainWindow->IsConnected());
    }
    // Opens and closes the first menu, as a user would while waiting.
    static bool menuOpens()
    {
        QMenu *menu = mainWindow->menuBar()->findChild<QMenu *>(QStringLiteral("mnuFile"));
        if (!menu)
            return false;
        menu->popup(mainWindow->mapToGlobal(QPoint(10, 10)));
        QApplication::processEvents();
        const bool shown = menu->isVisible();
        menu->close();
        return shown;
    }
    // No socket left open, once given-up attaches have had time to end (bounded).
    bool socketsBackWithin(int ms) const
    {
        return WaitUntil([this] { return OpenSockets() <= socketsBefore; }, ms);
    }

    QTemporaryDir dir;
    int socketsBefore = 0;
};

TEST_F(WindowBounds, StartAgainstAMuteServerKeepsTheWindowAnsweringAndTellsOnce)
{
    MuteListener mute;
    ASSERT_NE(mute.port(), 0);
    socketsBefore = OpenSockets();
    MessageRecorder rec;
    StallMeter meter(&DataAccess::CancelAllCalls);
    startWith(QStringLiteral("127.0.0.1/%1:").arg(mute.port()), QStringLiteral("/tmp/"),
              QStringLiteral("MUTE.FDB"));
    EXPECT_TRUE(mainWindow->Attaching());
    EXPECT_TRUE(menuOpens()) << "a menu did not open while attaching";
    // A command that needs the connection says why it does nothing.
    mainWindow->mnuImageListClick();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages.size(), 1);
    rec.messages.clear();
    ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); },
                          (DataAccess::ConnectTimeoutSeconds + 10) * 1000))
        << "the attach did not end";
    std::printf("[          ] start against a mute server: longest stall %.1f ms\n", meter.LongestStallMs());
    EXPECT_FALSE(meter.Hung());
    EXPECT_LE(meter.LongestStallMs(), kStallLimitMs);
    EXPECT_FALSE(mainWindow->IsConnected());
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("データベース接続が出来ません。設定を確認して下さい。")});
    EXPECT_TRUE(socketsBackWithin(3000)) << OpenSockets() - socketsBefore << " sockets left open";
}

TEST_F(WindowBounds, ReconnectingKeepsTheWindowAnsweringSaysSoAndLeavesNoSocket)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    struct Case {
        const char *name;
        bool mute;       // a listener that never answers; else a paused relay resumed later
        int runSeconds;  // how long the reconnecting runs against the outage
    };
    const Case cases[] = {
        {"mute listener", true, DataAccess::ConnectTimeoutSeconds + 5},
        {"relay paused, then resumed", false, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MuteListener mute;
        DelayRelay relay;
        ASSERT_TRUE(relay.start(0));
        socketsBefore = OpenSockets();
        const int port = c.mute ? mute.port() : relay.port();
        MessageRecorder rec;
        ASSERT_NO_FATAL_FAILURE(startConnectedThrough(relay, db));
        EXPECT_EQ(mainWindow->ConnectionStatusText(), QString());
        // The server goes away; the reconnecting aims at the outage.
        ServerName = QStringLiteral("127.0.0.1/%1:").arg(port);
        if (!c.mute)
            relay.pause();
        StallMeter meter(&DataAccess::CancelAllCalls);
        mainWindow->ConnectionLost();
        EXPECT_TRUE(mainWindow->Reconnecting());
        EXPECT_NE(mainWindow->ConnectionStatusText(), QString()) << "the window does not say it is lost";
        QElapsedTimer ran;
        ran.start();
        int menusTried = 0, menusShown = 0;
        WaitUntil([&] {
            if (ran.elapsed() / 1000 >= menusTried) {
                ++menusTried;
                menusShown += menuOpens() ? 1 : 0;
            }
            return false;
        }, c.runSeconds * 1000);
        std::printf("[          ] reconnecting, %s, %d s: longest stall %.1f ms\n", c.name, c.runSeconds,
                    meter.LongestStallMs());
        EXPECT_EQ(menusShown, menusTried) << "a menu did not open";
        EXPECT_FALSE(meter.Hung());
        EXPECT_LE(meter.LongestStallMs(), kStallLimitMs);
        EXPECT_TRUE(mainWindow->Reconnecting());
        EXPECT_FALSE(mainWindow->IsConnected());
        if (!c.mute) {
            relay.resume();
            EXPECT_TRUE(WaitUntil([] { return mainWindow->IsConnected(); }, 20000))
                << "not reconnected after the relay resumed";
            EXPECT_EQ(mainWindow->ConnectionStatusText(), QString()) << "the lost mark stayed";
            EXPECT_FALSE(mainWindow->Reconnecting());
        }
        EXPECT_TRUE(rec.messages.isEmpty());
        mainWindow->close();
        DestroyApplicationWindows();
        relay.resume(); // the relay closes its side of a cut connection once it reads again
        EXPECT_TRUE(socketsBackWithin(DataAccess::ConnectTimeoutSeconds * 1000 + 3000))
            << OpenSockets() - socketsBefore << " sockets left open";
    }
}

TEST_F(WindowBounds, AFailedConnectAfterTheSettingsDialogStartsTheReconnecting)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    MessageRecorder rec;
    startWith(QStringLiteral("localhost:"), db.folder(), db.fileName());
    ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 20000));
    ASSERT_TRUE(mainWindow->IsConnected());
    // The dialog is left with its cancel button; the settings now name a closed port.
    ServerName = QStringLiteral("127.0.0.1/%1:").arg(ClosedPort());
    QTimer::singleShot(0, databaseSettingsDialog, [] { databaseSettingsDialog->reject(); });
    mainWindow->mnuDBsetClick();
    ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 20000));
    EXPECT_FALSE(mainWindow->IsConnected());
    EXPECT_TRUE(mainWindow->Reconnecting());
    EXPECT_NE(mainWindow->ConnectionStatusText(), QString());
    // The right server again: the reconnecting finds it by itself.
    ServerName = QStringLiteral("localhost:");
    EXPECT_TRUE(WaitUntil([] { return mainWindow->IsConnected(); }, 20000));
    EXPECT_EQ(mainWindow->ConnectionStatusText(), QString());
    EXPECT_TRUE(rec.messages.isEmpty());
}

} // namespace

namespace {

TEST_F(WindowBounds, ACommandOnASilentNetworkEndsWithinTheReplyDeadlineAndTheWindowReconnects)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    DelayRelay relay;
    ASSERT_TRUE(relay.start(0));
    MessageRecorder rec;
    ASSERT_NO_FATAL_FAILURE(startConnectedThrough(relay, db));
    PcUserNo = 1;
    // A list open behind another window.
    mainWindow->mnuImageListClick();
    ASSERT_TRUE(WaitForDbAnswers());
    QMdiSubWindow *openList = mainWindow->MdiArea()->activeSubWindow();
    ASSERT_TRUE(qobject_cast<ImageList *>(openList));
    mainWindow->mnuImageNewClick();
    ASSERT_TRUE(WaitForDbAnswers());
    ASSERT_NE(mainWindow->MdiArea()->activeSubWindow(), openList);
    relay.pause();
    // The list's table lookup waits for an answer on the main-db thread: the deadline ends it.
    QElapsedTimer took;
    took.start();
    mainWindow->mnuImageListClick();
    // At once, before any answer: the open list in front, and the command shown at work.
    EXPECT_EQ(mainWindow->MdiArea()->activeSubWindow(), openList);
    EXPECT_EQ(mainWindow->StatusBar1->currentMessage(), MainWindow::ListOpeningText);
    EXPECT_EQ(openList->cursor().shape(), Qt::BusyCursor);
    WaitForDbAnswers();
    EXPECT_NE(mainWindow->StatusBar1->currentMessage(), MainWindow::ListOpeningText);
    EXPECT_NE(openList->cursor().shape(), Qt::BusyCursor);
    const double seconds = took.elapsed() / 1000.0;
    std::printf("[          ] a command on a silent network ended after %.2f s\n", seconds);
    EXPECT_LE(seconds, DataAccess::ReplyTimeoutSeconds + 1.5);
    EXPECT_EQ(rec.messages,
              QStringList{QStringLiteral("データベースが読み込めませんでした。接続を確認して下さい。")});
    // The lost connection is dropped without waiting, and the reconnecting says so.
    StallMeter meter(&DataAccess::CancelAllCalls);
    EXPECT_TRUE(WaitUntil([] { return mainWindow->Reconnecting(); }, 2000));
    EXPECT_NE(mainWindow->ConnectionStatusText(), QString());
    EXPECT_FALSE(mainWindow->IsConnected());
    relay.resume();
    EXPECT_TRUE(WaitUntil([] { return mainWindow->IsConnected(); }, 20000)) << "not reconnected";
    EXPECT_EQ(mainWindow->ConnectionStatusText(), QString());
    EXPECT_FALSE(meter.Hung());
    EXPECT_LE(meter.LongestStallMs(), kStallLimitMs);
    std::printf("[          ] reconnecting after it: longest stall %.1f ms\n", meter.LongestStallMs());
}

} // namespace

namespace {

// Every dialog command on a silent network: the window thread keeps answering, the command
// ends with the lost-connection message at the reply deadline (shortened here), and what
// the dialog showed stays. Between the cases the relay resumes and the window reconnects.
TEST_F(WindowBounds, EveryDialogCommandOnASilentNetworkEndsWithTheLostMessage)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    DelayRelay relay;
    ASSERT_TRUE(relay.start(0));
    MessageRecorder rec;
    ASSERT_NO_FATAL_FAILURE(startConnectedThrough(relay, db));
    ASSERT_TRUE(WaitForDbAnswers());
    DataAccess &setup = mainWindow->Db();
    ASSERT_TRUE(setup.CreateSectionTable() && setup.CreateMemberTable() && setup.CreateImgListTable());
    ASSERT_TRUE(setup.ExecuteSql({"INSERT INTO SECTION VALUES (1, 'S')"}));
    ASSERT_TRUE(setup.ExecuteSql({"INSERT INTO MEMBER VALUES (1, 1, 'M')"}));
    ASSERT_TRUE(setup.ExecuteSql({"INSERT INTO IMGLIST VALUES (1, 1, 'P', NULL, NULL, NULL, 64, 48, NULL, NULL)"}));
    ASSERT_TRUE(setup.CreateImageTable(QStringLiteral("IMG_1")));
    PcUserNo = 1;
    PcUserName = QStringLiteral("M");
    constexpr int kDeadlineMs = 2500;
    DataAccess::ShortenReplyTimeout(kDeadlineMs);

    const QString unreadable = QStringLiteral("データベースが読み込めませんでした。接続を確認して下さい。");
    auto list = [] {
        const auto subs = mainWindow->MdiArea()->subWindowList();
        return subs.isEmpty() ? nullptr : qobject_cast<ImageList *>(subs.last());
    };
    auto editor = [] {
        const auto subs = mainWindow->MdiArea()->subWindowList();
        return subs.isEmpty() ? nullptr : qobject_cast<ImageRecordEditor *>(subs.last());
    };
    struct Case {
        const char *name;
        std::function<void()> before; // connected
        std::function<void()> command; // on the silent network
        QString message;
        std::function<bool()> kept; // what was shown stays
    };
    const std::vector<Case> cases = {
        {"所属登録 (menu)", [] {}, [] { mainWindow->mnuAddTable1Click(); }, unreadable, [] { return true; }},
        {"メンバー登録 opening", [] {}, [] { memberRegister->show(); }, unreadable,
         [] { return !memberRegister->isVisible(); }},
        {"追加登録",
         [] {
             sectionRegister->show();
             WaitForDbAnswers();
             sectionRegister->Edit1->setText(QStringLiteral("5"));
             sectionRegister->Edit2->setText(QStringLiteral("new"));
         },
         [] { sectionRegister->Button1Click(); },
         QStringLiteral("登録失敗\nデータベースとの接続が切れています。"),
         [] { return GridCell(sectionRegister->SG1, 1, 1) == QStringLiteral("S"); }},
        {"number double-click",
         [] {
             sectionRegister->show();
             WaitForDbAnswers();
             sectionRegister->Edit1->setText(QStringLiteral("keep"));
         },
         [] { sectionRegister->Edit1DblClick(); }, unreadable,
         [] { return sectionRegister->Edit1->text() == QStringLiteral("keep"); }},
        {"PC利用者 opening", [] {}, [] { pcUserDialog->show(); }, unreadable, [] { return !pcUserDialog->isVisible(); }},
        {"一覧 次頁",
         [] {
             mainWindow->mnuImageListClick();
             WaitForDbAnswers();
         },
         [&list] { list()->Button3Click(); }, unreadable,
         [&list] { return list() && GridCell(list()->SG1, 1, 1) == QStringLiteral("P"); }},
        {"画像データ削除",
         [&list] {
             mainWindow->mnuImageListClick();
             WaitForDbAnswers();
             list()->SG1->setCurrentCell(0, 0);
             WaitForDbAnswers();
         },
         [&list] { list()->Button9Click(); }, unreadable, [] { return true; }},
        {"新規作成 number",
         [] {
             mainWindow->mnuImageNewClick();
             WaitForDbAnswers();
         },
         [&editor] { editor()->Edit1DblClick(); }, unreadable,
         [&editor] { return editor() && editor()->Edit1->text() == QStringLiteral("2"); }},
        {"新規作成 登録",
         [&editor] {
             mainWindow->mnuImageNewClick();
             WaitForDbAnswers();
             editor()->Edit2->setText(QStringLiteral("Q"));
             editor()->Edit6->setText(QStringLiteral("64"));
             editor()->Edit7->setText(QStringLiteral("48"));
         },
         // Its check before the write got no answer: for the user the 登録 failed.
         [&editor] { editor()->Button1Click(); },
         QStringLiteral("画像一覧データが登録出来ませんでした\nデータベースとの接続が切れています。"), [] { return true; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        ASSERT_TRUE(WaitForDbAnswers());
        rec.messages.clear();
        relay.pause();
        StallMeter meter(&DataAccess::CancelAllCalls);
        QElapsedTimer took;
        took.start();
        c.command();
        EXPECT_TRUE(menuOpens()) << "a menu did not open while the command waited";
        EXPECT_TRUE(WaitForDbAnswers(kDeadlineMs + 5000));
        std::printf("[          ] %s on a silent network: message after %.2f s, longest stall %.1f ms\n", c.name,
                    took.elapsed() / 1000.0, meter.LongestStallMs());
        EXPECT_FALSE(meter.Hung());
        EXPECT_LE(meter.LongestStallMs(), kStallLimitMs);
        EXPECT_EQ(rec.messages, QStringList{c.message});
        EXPECT_TRUE(c.kept());
        relay.resume();
        EXPECT_TRUE(WaitUntil([] { return mainWindow->IsConnected(); }, 20000)) << "not reconnected";
        for (QWidget *d : {static_cast<QWidget *>(sectionRegister), static_cast<QWidget *>(memberRegister),
                           static_cast<QWidget *>(pcUserDialog)})
            d->hide();
        for (QMdiSubWindow *s : mainWindow->MdiArea()->subWindowList())
            delete s;
    }
    DataAccess::ShortenReplyTimeout(3600 * 1000);
}

} // namespace
