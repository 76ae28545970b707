// The server stopped and started again while a painting window draws, and the
// database's folder removed: no hang, no crash, no committed row lost, and the
// program works again once the user reconnects through the database settings.

#include "Outages.h"
#include "PaintFixture.h"
#include "StallMeter.h"
#include "ServerControl.h"

#include "core/painting/EventChannel.h"
#include "core/painting/PaintWorker.h"

#include "windows/DatabaseSettingsDialog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

namespace {

// The user opens the database settings and confirms them as they stand.
void ReconnectThroughSettings()
{
    QTimer::singleShot(0, [] {
        databaseSettingsDialog->Button1Click();
        if (databaseSettingsDialog->isVisible())
            databaseSettingsDialog->Button2Click();
    });
    mainWindow->mnuDBsetClick();
    // The attach runs off the window's thread; its outcome comes a moment later.
    EXPECT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 15000)) << "the attach did not end";
}

// Brings the server back even when an assertion ends the test early.
struct ServerGuard {
    ~ServerGuard()
    {
        if (!ServerListening())
            StartServer();
    }
};

} // namespace

class PaintWindowFaults : public PaintTest {};

TEST_F(PaintWindowFaults, ServerStoppedDuringDrawingKeepsEveryPointAndRecoversAfterReconnect)
{
    ServerGuard guard;
    MessageRecorder messages;
    PaintWindow *w = Open(1, 64, 48);
    Stroke(w, {{5, 5}, {6, 5}, {7, 5}});
    ASSERT_EQ(Rows("IMG_1").size(), 3u);

    ASSERT_TRUE(StopServer());
    QElapsedTimer t;
    t.start();
    Stroke(w, {{10, 10}, {11, 10}, {12, 10}});
    Tick(w);
    const qint64 stalled = t.elapsed();
    EXPECT_LT(stalled, 30000) << "drawing and refreshing without a server took " << stalled << " ms";
    std::printf("drawing and a refresh with the server stopped: %lld ms\n", static_cast<long long>(stalled));
    EXPECT_EQ(w->ReadCount, 3);
    EXPECT_EQ(w->Store()->PendingPoints(), 3);

    ASSERT_TRUE(StartServer());
    ReconnectThroughSettings();
    ASSERT_TRUE(mainWindow->IsConnected());
    EXPECT_TRUE(messages.messages.isEmpty()) << qPrintable(messages.messages.join('\n'));

    // The kept points go first, then the new stroke, once the worker has found its own
    // connection gone and attached again.
    Stroke(w, {{20, 20}, {21, 20}});
    ASSERT_TRUE(StoredOnceBack(w));
    const std::vector<StoredPoint> rows = Rows("IMG_1");
    ASSERT_EQ(rows.size(), 8u);
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].n, static_cast<int>(i) + 1);
    EXPECT_EQ(rows[3].x, 10);
    EXPECT_EQ(rows[6].x, 20);
    EXPECT_EQ(w->ReadCount, 8);
    EXPECT_EQ(w->Store()->PendingPoints(), 0);

    PaintWindow *again = Open(1, 64, 48);
    EXPECT_TRUE(again->Bitmap == w->Bitmap);
}

TEST_F(PaintWindowFaults, ServerStoppedBeforeOpeningShowsAWhitePictureWithoutHanging)
{
    ServerGuard guard;
    MessageRecorder messages;
    PaintWindow *w = Open(2, 32, 32);
    Stroke(w, {{3, 3}});
    ASSERT_TRUE(StopServer());
    QElapsedTimer t;
    t.start();
    PaintWindow *blind = Open(2, 32, 32);
    EXPECT_LT(t.elapsed(), 30000);
    EXPECT_TRUE(IsWhite(blind->Bitmap));
    EXPECT_EQ(blind->ReadCount, 0);
    ASSERT_TRUE(StartServer());
    ReconnectThroughSettings();
    ASSERT_TRUE(mainWindow->IsConnected());
    EXPECT_EQ(Rows("IMG_2").size(), 1u);
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(PaintWindowFaults, DatabaseFolderRemovedWhileConnected)
{
    MessageRecorder messages;
    PaintWindow *w = Open(3, 32, 32);
    Stroke(w, {{4, 4}, {5, 4}});
    // The server keeps the open file; what the user sees must not hang or crash.
    const QString folder = db_.folder();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    Stroke(w, {{8, 8}});
    Tick(w);
    // Closed, the window's worker lets the database go once nothing of it waits.
    w->close();
    ASSERT_TRUE(mainWindow->Worker().WaitIdle());
    ASSERT_TRUE(mainWindow->Worker().WaitingPoints().isEmpty());

    // Reconnecting finds no database where the settings point: one message, no connection.
    QTimer::singleShot(0, [] {
        databaseSettingsDialog->Button1Click();
        if (databaseSettingsDialog->isVisible())
            databaseSettingsDialog->Button2Click();
    });
    mainWindow->mnuDBsetClick();
    EXPECT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 15000)) << "the attach did not end";
    EXPECT_FALSE(mainWindow->IsConnected());
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースが作成・接続出来ません。設定を確認して下さい。")});

    // With the folder back, the same settings create a new database and connect.
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
    messages.messages.clear();
    ReconnectThroughSettings();
    EXPECT_TRUE(mainWindow->IsConnected());
    EXPECT_TRUE(messages.messages.isEmpty());
    PaintWindow *fresh = Open(3, 32, 32);
    EXPECT_TRUE(IsWhite(fresh->Bitmap));
    Stroke(fresh, {{1, 1}});
    EXPECT_EQ(Rows("IMG_3").size(), 1u);
}

// The events line dies under an armed wait without its connection noticing (a router that
// drops everything): the next refresh finds rows no event told of, the program asks for its
// events again, and another PC's stroke reaches the window by its event once more.
TEST_F(PaintWindowFaults, AnEventsLineGoneSilentUnderAnArmedWaitIsNoticed)
{
    if (EventChannel::Disabled())
        GTEST_SKIP() << "events are off";
    PaintWindow *w = Open(4, 64, 48);
    w->Timer1->stop(); // refreshed by hand
    ASSERT_TRUE(WaitUntil([] { return mainWindow->Worker().Listening(DatabasePath()); }, 20000))
        << "the picture's events never reached the worker";
    const int triesBefore = EventChannel::Tries();
    const auto foreignStroke = [](int n) {
        return Db().ExecuteSql({"EXECUTE BLOCK AS BEGIN",
                                QStringLiteral("INSERT INTO IMG_4 VALUES (%1, 9, %1, 2, 3, 255, %1, 20);").arg(n),
                                "POST_EVENT 'IMG_4';", "END"});
    };
    {
        SilencedEventLines silent;
        ASSERT_TRUE(silent.Error().isEmpty()) << silent.Error().toStdString();
        ASSERT_TRUE(foreignStroke(1));
        QThread::msleep(300);
        QCoreApplication::processEvents();
        EXPECT_EQ(w->ReadCount, 0) << "an event came through a silenced line";
        Tick(w); // a refresh finds the row no event told of
        EXPECT_EQ(w->ReadCount, 1);
        EXPECT_TRUE(WaitUntil([&] { return EventChannel::Tries() > triesBefore; }, 10000))
            << "the events were not asked for again";
        EXPECT_TRUE(WaitUntil([] { return mainWindow->Worker().Listening(DatabasePath()); }, 20000))
            << "the events did not come back";
    }
    ASSERT_TRUE(foreignStroke(2));
    EXPECT_TRUE(WaitUntil([w] { return w->ReadCount == 2; }, 5000)) << "no event drew the next stroke";
}
