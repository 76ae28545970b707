#include "DelayRelay.h"
#include "StallMeter.h"
#include "TestDatabase.h"
#include "app/MainWindow.h"
#include "core/connection/BackgroundAttach.h"
#include "windows/DatabaseSettingsDialog.h"
#include "core/settings/SharedSettings.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kCannot = QStringLiteral("データベースが作成・接続出来ません。設定を確認して下さい。");

class DbSettingsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        AssignDefaultSettings();
        CreateApplicationWindows();
    }
    void TearDown() override
    {
        DestroyApplicationWindows();
        AssignDefaultSettings();
    }
    // Runs the menu command; `answer` fills and presses the dialog once it is open.
    void RunMenu(const std::function<void()> &answer)
    {
        QTimer::singleShot(0, databaseSettingsDialog, [answer] {
            answer();
            // Whatever the answer did, never leave the dialog waiting.
            if (databaseSettingsDialog->isVisible())
                databaseSettingsDialog->Button2Click();
        });
        mainWindow->mnuDBsetClick();
        // The main window attaches in the background after the dialog.
        ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 30000))
            << "the attach after the dialog did not end within 30 s";
    }
    static void Fill(const QString &server, const QString &folder, const QString &name)
    {
        databaseSettingsDialog->Edit1->setText(server);
        databaseSettingsDialog->Edit2->setText(folder);
        databaseSettingsDialog->Edit3->setText(name);
    }
    MessageRecorder messages;
};

TEST_F(DbSettingsDialog, CreatesANewDatabaseThatTheMainWindowAttaches)
{
    TempServerDir dir;
    QStringList shown;
    RunMenu([&] {
        shown << databaseSettingsDialog->Edit1->text() << databaseSettingsDialog->Edit2->text() << databaseSettingsDialog->Edit3->text();
        Fill(QStringLiteral("localhost:"), dir.path(), QStringLiteral("paint"));
        databaseSettingsDialog->Button1Click();
    });
    // On first use the boxes show the defaults; the folder is empty.
    EXPECT_EQ(shown, (QStringList{QStringLiteral("localhost:"), QString(), QStringLiteral("PAINT.FDB")}));
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_FALSE(databaseSettingsDialog->isVisible());
    EXPECT_EQ(DatabaseName, QStringLiteral("PAINT.FDB"));
    EXPECT_EQ(ServerDataDir, dir.path());
    EXPECT_TRUE(QFileInfo::exists(dir.path() + QStringLiteral("PAINT.FDB")));
    EXPECT_TRUE(mainWindow->IsConnected());
    EXPECT_TRUE(mainWindow->Db().CreateSectionTable());

    // OK again with the same values: the file exists, so it is attached as it is.
    RunMenu([] { databaseSettingsDialog->Button1Click(); });
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_TRUE(mainWindow->IsConnected());
    EXPECT_TRUE(mainWindow->TableExists(QStringLiteral("SECTION")));
}

TEST_F(DbSettingsDialog, AttachesAnExistingDatabase)
{
    TestDatabase database(QStringLiteral("OLD.GDB"));
    ASSERT_TRUE(database.created());
    RunMenu([&] {
        Fill(QStringLiteral("localhost:"), database.folder(), QStringLiteral("old.gdb"));
        databaseSettingsDialog->Button1Click();
    });
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_EQ(DatabaseName, QStringLiteral("OLD.GDB"));
    EXPECT_TRUE(mainWindow->IsConnected());
}

TEST_F(DbSettingsDialog, BlankFolderOrNameRefusedAndNothingStored)
{
    databaseSettingsDialog->show();
    Fill(QStringLiteral("x:"), QStringLiteral(" \t "), QStringLiteral("A"));
    databaseSettingsDialog->Button1Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("サーバーのデータのフォルダを入力して下さい")});
    EXPECT_EQ(databaseSettingsDialog->focusWidget(), databaseSettingsDialog->Edit2);

    messages.messages.clear();
    Fill(QStringLiteral("x:"), QStringLiteral("/tmp/"), QStringLiteral("  "));
    databaseSettingsDialog->Button1Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("データベース名を入力して下さい")});
    EXPECT_EQ(databaseSettingsDialog->focusWidget(), databaseSettingsDialog->Edit3);
    EXPECT_TRUE(databaseSettingsDialog->isVisible());
    EXPECT_EQ(ServerName, QStringLiteral("localhost:"));
    EXPECT_TRUE(ServerDataDir.isEmpty());
    EXPECT_EQ(DatabaseName, QStringLiteral("PAINT.FDB"));
    databaseSettingsDialog->hide();
}

// The new values stay in force after a failed test, also when the user then cancels.
TEST_F(DbSettingsDialog, FailureKeepsTheTypedSettingsAndLeavesTheProgramUnconnected)
{
    TempServerDir dir;
    const QString missing = QStringLiteral(" ") + dir.path() + QStringLiteral("missing/");
    bool stayedOpen = false;
    QWidget *focus = nullptr;
    RunMenu([&] {
        Fill(QStringLiteral("localhost:"), missing, QStringLiteral("a.b/c"));
        databaseSettingsDialog->Button1Click();
        stayedOpen = databaseSettingsDialog->isVisible();
        focus = databaseSettingsDialog->focusWidget();
        databaseSettingsDialog->Button2Click();
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(focus, databaseSettingsDialog->Edit1);
    EXPECT_EQ(messages.messages, QStringList{kCannot});
    EXPECT_EQ(ServerDataDir, missing);
    EXPECT_EQ(DatabaseName, QStringLiteral("A.B/C.FDB"));
    EXPECT_FALSE(mainWindow->IsConnected());
}

// A server that answers the connect request and then hangs: the creation is given up at
// its deadline, and no attach follows it to wait as long again.
TEST_F(DbSettingsDialog, ACreationGivenUpIsNotFollowedByAnAttach)
{
    TempServerDir dir;
    // Well within the bound the tests give a modal dialog.
    const int deadline = BackgroundAttach::DeadlineMs.exchange(2000);
    DelayRelay relay;
    ASSERT_TRUE(relay.start(0));
    relay.setHalfOpen(true);
    int64_t tried = -1;
    bool stayedOpen = false;
    RunMenu([&] {
        Fill(QStringLiteral("127.0.0.1/%1:").arg(relay.port()), dir.path(), QStringLiteral("hang"));
        databaseSettingsDialog->Button1Click();
        tried = relay.silenced();
        stayedOpen = databaseSettingsDialog->isVisible();
        databaseSettingsDialog->Button2Click();
        relay.setHalfOpen(false);
        relay.stop();
    });
    BackgroundAttach::DeadlineMs = deadline;
    EXPECT_EQ(tried, 1) << "connections the dialog's OK opened to the hanging server";
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(messages.messages, QStringList{kCannot});
    EXPECT_FALSE(mainWindow->IsConnected());
}

TEST_F(DbSettingsDialog, CancelTouchesNothing)
{
    RunMenu([] {
        Fill(QStringLiteral("elsewhere:"), QStringLiteral("/x/"), QStringLiteral("Y"));
        databaseSettingsDialog->Button2Click();
    });
    EXPECT_EQ(ServerName, QStringLiteral("localhost:"));
    EXPECT_TRUE(ServerDataDir.isEmpty());
    EXPECT_EQ(DatabaseName, QStringLiteral("PAINT.FDB"));
    EXPECT_TRUE(messages.messages.isEmpty());
}

// A quote in the folder must not end the CREATE DATABASE literal early.
TEST_F(DbSettingsDialog, FolderWithAQuote)
{
    TempServerDir dir;
    const QString folder = dir.path() + QStringLiteral("it's/");
    const QByteArray local = folder.toLocal8Bit();
    ASSERT_EQ(mkdir(local.constData(), 0777), 0);
    chmod(local.constData(), 0777);
    if (const passwd *pw = getpwnam("firebird"))
        (void)!chown(local.constData(), pw->pw_uid, pw->pw_gid);

    RunMenu([&] {
        Fill(QStringLiteral("localhost:"), folder, QStringLiteral("Q.FDB"));
        databaseSettingsDialog->Button1Click();
    });
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("Q.FDB")));
    EXPECT_TRUE(mainWindow->IsConnected());
    EXPECT_TRUE(mainWindow->Db().CreateMemberTable());
}

// Without a server name the path is the folder and file alone (the embedded engine).
TEST_F(DbSettingsDialog, EmptyServerNameUsesThePlainPath)
{
    TempServerDir dir;
    RunMenu([&] {
        Fill(QString(), dir.path(), QStringLiteral("local"));
        databaseSettingsDialog->Button1Click();
    });
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_TRUE(ServerName.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(dir.path() + QStringLiteral("LOCAL.FDB")));
    EXPECT_TRUE(mainWindow->IsConnected());
}

} // namespace
