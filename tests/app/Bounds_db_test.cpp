// The main window keeps answering while it attaches, whatever the server does: at the
// start, in the reconnecting, after the settings dialog.
#include "DbAnswers.h"
#include "DelayRelay.h"
#include "Outages.h"
#include "StallMeter.h"
#include "TestDatabase.h"

#include "app/MainWindow.h"
#include "core/ConnectionKeeper.h"
#include "core/SettingsFile.h"
#include "core/SharedSettings.h"
#include "windows/DatabaseSettingsDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
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
        startWith(QStringLiteral("127.0.0.1/%1:").arg(relay.port()), db.folder(), db.fileName());
        ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 20000));
        ASSERT_TRUE(mainWindow->IsConnected());
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
    startWith(QStringLiteral("127.0.0.1/%1:").arg(relay.port()), db.folder(), db.fileName());
    ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 20000));
    ASSERT_TRUE(mainWindow->IsConnected());
    PcUserNo = 1;
    relay.pause();
    // The list's table lookup waits for an answer on the window thread: the deadline ends it.
    QElapsedTimer took;
    took.start();
    mainWindow->mnuImageListClick();
    WaitForDbAnswers();
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
