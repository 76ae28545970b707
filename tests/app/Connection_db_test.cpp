#include "DbAnswers.h"
#include "DelayRelay.h"
#include "StallMeter.h"
#include "Outages.h"
#include "TestDatabase.h"
#include "core/settings/SettingsFile.h"
#include "app/MainWindow.h"
#include "core/settings/SharedSettings.h"

#include <QElapsedTimer>
#include <QMdiArea>
#include <QTest>
#include <QAction>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AssignDefaultSettings();
        form = std::make_unique<MainWindow>();
    }
    void TearDown() override
    {
        form->DisconnectDatabase();
        WaitForDbAnswers();
        form.reset();
        AssignDefaultSettings();
    }
    // Seconds ConnectDatabase took.
    double timedConnect()
    {
        QElapsedTimer t;
        t.start();
        form->ConnectDatabase();
        WaitForDbAnswers();
        return t.nsecsElapsed() / 1e9;
    }
    std::unique_ptr<MainWindow> form;
};

TEST_F(ConnectionTest, ThreeSettingsMakeThePathAndAttach)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    ServerName = QStringLiteral("localhost:");
    ServerDataDir = db.folder();
    DatabaseName = db.fileName();
    form->ConnectDatabase();
    WaitForDbAnswers();
    ASSERT_TRUE(form->IsConnected());
    // Attached to the right file: a table made through the window is seen by another client.
    ASSERT_TRUE(form->Db().CreateSectionTable());
    EXPECT_TRUE(RunIsql(db.serverPath(), "SHOW TABLES;\n").contains(QStringLiteral("SECTION")));

    // Connecting again while attached changes nothing, even with other settings.
    DatabaseName = QStringLiteral("OTHER.FDB");
    form->ConnectDatabase();
    WaitForDbAnswers();
    EXPECT_TRUE(form->IsConnected());
    EXPECT_TRUE(form->TableExists(QStringLiteral("SECTION")));

    form->DisconnectDatabase();

    WaitForDbAnswers();
    EXPECT_FALSE(form->IsConnected());
    form->DisconnectDatabase();
    WaitForDbAnswers();
    EXPECT_FALSE(form->IsConnected());

    // The server prefix with a host and port reaches the same server.
    ServerName = QStringLiteral("127.0.0.1/3050:");
    DatabaseName = db.fileName();
    form->ConnectDatabase();
    WaitForDbAnswers();
    EXPECT_TRUE(form->IsConnected());
}

TEST_F(ConnectionTest, RefusedPathsLeaveTheConnectionClosedQuietly)
{
    MessageRecorder rec;
    TempServerDir dir;
    ServerName = QStringLiteral("localhost:");

    ServerDataDir.clear(); // ServerName + DatabaseName alone
    form->ConnectDatabase();
    WaitForDbAnswers();
    EXPECT_FALSE(form->IsConnected());

    ServerDataDir = dir.path() + QStringLiteral("missing/");
    form->ConnectDatabase();
    WaitForDbAnswers();
    EXPECT_FALSE(form->IsConnected());

    ServerDataDir = dir.path(); // folder exists, file does not
    form->ConnectDatabase();
    WaitForDbAnswers();
    EXPECT_FALSE(form->IsConnected());

    ServerDataDir = QStringLiteral("/tmp/'; DROP DATABASE; --/");
    form->ConnectDatabase();
    WaitForDbAnswers();
    EXPECT_FALSE(form->IsConnected());

    ServerName = QStringLiteral("127.0.0.1/%1:").arg(ClosedPort());
    ServerDataDir = dir.path();
    const double seconds = timedConnect();
    EXPECT_FALSE(form->IsConnected());
    EXPECT_LT(seconds, 60.0);
    std::printf("closed port: ConnectDatabase returned after %.3f s\n", seconds);

    EXPECT_TRUE(rec.messages.isEmpty());
    // Closed again and still usable: a good path attaches after all the failures.
    TestDatabase db;
    ServerName = QStringLiteral("localhost:");
    ServerDataDir = db.folder();
    DatabaseName = db.fileName();
    form->ConnectDatabase();
    WaitForDbAnswers();
    EXPECT_TRUE(form->IsConnected());
}

TEST_F(ConnectionTest, SilentServerIsGivenUpWithinABoundedTime)
{
    MuteListener silent;
    ASSERT_NE(silent.port(), 0);
    MessageRecorder rec;
    ServerName = QStringLiteral("127.0.0.1/%1:").arg(silent.port());
    ServerDataDir = QStringLiteral("/tmp/");
    DatabaseName = QStringLiteral("NOBODY.FDB");
    const double seconds = timedConnect();
    EXPECT_FALSE(form->IsConnected());
    EXPECT_LT(seconds, 60.0);
    EXPECT_TRUE(rec.messages.isEmpty());
    std::printf("silent server: ConnectDatabase gave up after %.3f s (time-out item %d s)\n", seconds,
                DataAccess::ConnectTimeoutSeconds);

    QElapsedTimer t;
    t.start();
    form->CreateDatabase();
    const double create = t.nsecsElapsed() / 1e9;
    EXPECT_FALSE(form->IsConnected());
    EXPECT_LT(create, 60.0);
    std::printf("silent server: CreateDatabase gave up after %.3f s\n", create);

    // The window's operations stay safe afterwards.
    form->DisconnectDatabase();
    WaitForDbAnswers();
    EXPECT_FALSE(form->TableExists(QStringLiteral("SECTION")));
    EXPECT_FALSE(form->Db().CreateSectionTable());
}

TEST_F(ConnectionTest, UnansweredHandshakeIsGivenUpWithinABoundedTime)
{
    MuteListener silent;
    ASSERT_NE(silent.port(), 0);
    silent.FillBacklog();
    MessageRecorder rec;
    ServerName = QStringLiteral("127.0.0.1/%1:").arg(silent.port());
    ServerDataDir = QStringLiteral("/tmp/");
    const double seconds = timedConnect();
    EXPECT_FALSE(form->IsConnected());
    EXPECT_LT(seconds, 60.0);
    EXPECT_TRUE(rec.messages.isEmpty());
    std::printf("unanswered handshake: ConnectDatabase gave up after %.3f s\n", seconds);

    // Creating the database from the settings dialog must not hang there either.
    QElapsedTimer t;
    t.start();
    form->CreateDatabase();
    const double create = t.nsecsElapsed() / 1e9;
    EXPECT_FALSE(form->IsConnected());
    EXPECT_LT(create, 60.0);
    std::printf("unanswered handshake: CreateDatabase gave up after %.3f s\n", create);
}

// The program started as a user starts it, with a settings file in `dir` naming `db` on
// `server` (PC user 1).
void StartWithSettingsFile(const QTemporaryDir &dir, const QString &server, const TestDatabase &db)
{
    AssignDefaultSettings();
    ServerName = server;
    ServerDataDir = db.folder();
    DatabaseName = db.fileName();
    PcUserNo = 1;
    MainWindow::SettingFileOverride = dir.path() + QStringLiteral("/oekaki.dat");
    ASSERT_TRUE(WriteSettingsFile(MainWindow::SettingFileOverride, WindowPlacement{0, 0, 400, 300, {}}));
    AssignDefaultSettings();
    CreateApplicationWindows();
    mainWindow->show();
}

TEST(MainWindowStart, ConfiguredDatabaseIsAttachedQuietlyAndDetachedOnClose)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    QTemporaryDir dir;
    MessageRecorder rec;
    StartWithSettingsFile(dir, QStringLiteral("localhost:"), db);
    ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 30000))
        << "the start's attach did not end within 30 s";
    EXPECT_TRUE(mainWindow->IsConnected());
    EXPECT_TRUE(rec.messages.isEmpty());
    EXPECT_EQ(ServerDataDir, db.folder());
    mainWindow->close();
    EXPECT_FALSE(mainWindow->IsConnected());
    DestroyApplicationWindows();
    MainWindow::SettingFileOverride.clear();

    // The file written on closing still names the database.
    WindowPlacement p;
    AssignDefaultSettings();
    ASSERT_TRUE(ReadSettingsFile(dir.path() + QStringLiteral("/oekaki.dat"), p));
    EXPECT_EQ(ServerDataDir, db.folder());
    EXPECT_EQ(DatabaseName, db.fileName());
    AssignDefaultSettings();
}

// A start while nothing listens at the server's address says so once and then keeps
// trying as a lost connection does; commands meanwhile say why they wait; once the server
// is there (a relay to it on that port) the program attaches by itself and commands work.
TEST(MainWindowStart, FailedStartRetriesUntilTheServerAppears)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    QTemporaryDir dir;
    const int port = ClosedPort();
    MessageRecorder rec;
    StartWithSettingsFile(dir, QStringLiteral("127.0.0.1/%1:").arg(port), db);
    ASSERT_TRUE(WaitUntil([&rec] { return !rec.messages.isEmpty(); }, 30000)) << "no message at the failed start";
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("データベース接続が出来ません。設定を確認して下さい。")});
    EXPECT_TRUE(mainWindow->Reconnecting());
    EXPECT_TRUE(mainWindow->ConnectionStatusText().endsWith(QStringLiteral("との接続が切れています。再接続を試みています…")))
        << mainWindow->ConnectionStatusText().toStdString();
    // Several tries go by with nobody there: each says nothing more.
    QTest::qWait(3 * 2500);
    EXPECT_EQ(rec.messages.size(), 1);
    EXPECT_TRUE(mainWindow->Reconnecting());
    QAction *list = mainWindow->findChild<QAction *>(QStringLiteral("mnuImageList"));
    ASSERT_NE(list, nullptr);
    list->trigger();
    EXPECT_EQ(rec.messages.value(1),
              QStringLiteral("データベースに接続しています。しばらくしてからもう一度実行して下さい。"));
    EXPECT_TRUE(mainWindow->MdiArea()->subWindowList().isEmpty());

    DelayRelay server;
    ASSERT_TRUE(server.start(0, 3050, port)) << "the relay could not listen on " << port;
    EXPECT_TRUE(WaitUntil([] { return mainWindow->IsConnected(); }, 15000))
        << "not attached within 15 s of the server appearing";
    EXPECT_TRUE(WaitUntil([] { return mainWindow->ConnectionStatusText().isEmpty(); }, 5000))
        << mainWindow->ConnectionStatusText().toStdString();
    EXPECT_FALSE(mainWindow->Reconnecting());
    rec.messages.clear();
    list->trigger();
    EXPECT_TRUE(WaitUntil([] { return !mainWindow->MdiArea()->subWindowList().isEmpty(); }, 15000))
        << "the image list did not open once connected";
    EXPECT_TRUE(rec.messages.isEmpty()) << rec.messages.join('|').toStdString();
    mainWindow->close();
    DestroyApplicationWindows();
    server.stop();
    MainWindow::SettingFileOverride.clear();
    AssignDefaultSettings();
}

} // namespace
