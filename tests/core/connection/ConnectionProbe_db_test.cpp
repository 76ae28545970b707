// The handshake probe of the reconnecting: its answer for each kind of server, given
// without ever holding up the window thread, and without a socket left behind.
#include "Outages.h"
#include "StallMeter.h"
#include "TestDatabase.h"

#include "core/connection/AsyncHandshakeProbe.h"
#include "core/connection/BackgroundAttach.h"
#include "core/connection/ConnectionKeeper.h"
#include "db/DataAccess.h"

#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {

TEST(HandshakeProbe, AnswersForEachServerWithoutStallingTheWindowThread)
{
    MuteListener mute;
    MuteListener full;
    full.FillBacklog();
    constexpr int kTimeoutMs = 1500;
    struct Case {
        const char *name;
        QByteArray path;
        bool answered;
        int atMostMs;
    };
    const Case cases[] = {
        {"local path", "/tmp/X.FDB", true, 500},
        {"refused: the server says no at once", "127.0.0.1/" + QByteArray::number(ClosedPort()) + ":/tmp/X.FDB",
         true, 500},
        {"mute server: the handshake completes", "127.0.0.1/" + QByteArray::number(mute.port()) + ":/tmp/X.FDB",
         true, 500},
        {"no handshake at all", "127.0.0.1/" + QByteArray::number(full.port()) + ":/tmp/X.FDB", false,
         kTimeoutMs + 1000},
        {"a name with several addresses", "localhost/" + QByteArray::number(mute.port()) + ":/tmp/X.FDB",
         true, kTimeoutMs + 1000},
    };
    const int socketsBefore = OpenSockets();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AsyncHandshakeProbe probe;
        int finished = 0;
        bool answered = !c.answered;
        QObject::connect(&probe, &AsyncHandshakeProbe::Finished, [&](bool a) {
            ++finished;
            answered = a;
        });
        StallMeter meter;
        QElapsedTimer took;
        took.start();
        probe.Start(c.path, kTimeoutMs);
        EXPECT_TRUE(probe.Running());
        ASSERT_TRUE(WaitUntil([&] { return finished > 0; }, c.atMostMs)) << "no answer in time";
        EXPECT_EQ(answered, c.answered);
        EXPECT_FALSE(probe.Running());
        EXPECT_LE(meter.LongestStallMs(), 100.0);
        std::printf("[          ] %s: %s after %lld ms\n", c.name, answered ? "answered" : "silent", took.elapsed());
        WaitUntil([] { return false; }, 50);
        EXPECT_EQ(finished, 1);
    }
    // A probe given up gives no answer, and its socket goes with its thread.
    {
        AsyncHandshakeProbe probe;
        int finished = 0;
        QObject::connect(&probe, &AsyncHandshakeProbe::Finished, [&](bool) { ++finished; });
        probe.Start("127.0.0.1/" + QByteArray::number(full.port()) + ":/tmp/X.FDB", kTimeoutMs);
        probe.Cancel();
        EXPECT_FALSE(probe.Running());
        WaitUntil([] { return false; }, kTimeoutMs + 500);
        EXPECT_EQ(finished, 0);
    }
    EXPECT_TRUE(WaitUntil([&] { return OpenSockets() <= socketsBefore; }, 3000))
        << OpenSockets() - socketsBefore << " sockets left open";
}

// Made on one thread and moved to another, as main-db's own attach is: their timers go
// along, so that starting them there is no use of another thread's object (the test entry
// fails the test on Qt's warning about it).
TEST(HandshakeProbe, MovedToAnotherThreadTheyStartTheirTimersThere)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    const QString path = db.serverPath();
    QThread thread;
    thread.setObjectName(QStringLiteral("moved-to"));
    thread.start();
    std::atomic<int> attached{-1}, answered{-1};
    std::atomic<bool> keeperAttaches{false};
    auto *attach = new BackgroundAttach;
    auto *probe = new AsyncHandshakeProbe;
    auto *keeper = new ConnectionKeeper([path] { return path.toUtf8(); }, [&keeperAttaches] { keeperAttaches = true; });
    QObject::connect(attach, &BackgroundAttach::Finished, attach,
                     [&attached](DataAccess &a) { attached = a.IsConnected() ? 1 : 0; });
    QObject::connect(probe, &AsyncHandshakeProbe::Finished, probe, [&answered](bool yes) { answered = yes ? 1 : 0; });
    for (QObject *o : std::initializer_list<QObject *>{attach, probe, keeper})
        o->moveToThread(&thread);
    QMetaObject::invokeMethod(attach, [attach, path] { attach->Start(path); });
    QMetaObject::invokeMethod(probe, [probe, path] { probe->Start(path.toUtf8(), 1500); });
    QMetaObject::invokeMethod(keeper, [keeper] { keeper->Start(); });
    EXPECT_TRUE(WaitUntil([&] { return attached >= 0 && answered >= 0 && keeperAttaches; }, 20000))
        << "attach " << attached << ", handshake " << answered << ", keeper's attach " << keeperAttaches;
    EXPECT_EQ(attached, 1);
    EXPECT_EQ(answered, 1);
    for (QObject *o : std::initializer_list<QObject *>{attach, probe, keeper})
        QMetaObject::invokeMethod(o, [o] { delete o; });
    thread.quit();
    EXPECT_TRUE(thread.wait(10000));
}

} // namespace
