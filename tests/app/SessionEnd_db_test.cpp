// The real program, started from a copy with its own settings file, ended by the
// signals a desktop session sends at logout or shutdown.
#include "core/connection/BackgroundAttach.h"
#include "core/settings/SettingsFile.h"
#include "DelayRelay.h"
#include "Outages.h"
#include "StallMeter.h"
#include "TestDatabase.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>
#include <csignal>
#include <memory>

namespace {

QByteArray settingsFor(const QString &server, const QString &folder, const QString &name)
{
    QByteArray out = server.toUtf8() + "\r\n" + folder.toUtf8() + "\r\n" + name.toUtf8() + "\r\n";
    // PcUserNo as hexadecimal: the program writes it back as 16, which shows the write.
    out += "$10\r\n\r\n";
    for (int n = 6; n <= SettingsLineCount; ++n)
        out += (n == 8 || n == 9 ? "400" : "50") + QByteArray("\r\n");
    return out;
}

// True while the process with this id holds an attachment to the database (the main
// window's, and the painting worker's once it has work).
bool attached(const QString &serverPath, qint64 pid)
{
    const QString out = RunIsql(serverPath, QByteArray("SELECT 'PIDS', COUNT(*) FROM MON$ATTACHMENTS WHERE MON$REMOTE_PID = ")
                                                + QByteArray::number(pid) + ";\n");
    return out.contains(QRegularExpression(QStringLiteral("PIDS\\s+[1-9]")));
}

TEST(SessionEnd, SignalsCloseTheProgramAsItsExitDoesWithoutAsking)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    enum Setup {
        Connected,
        MessageBoxOpen,       // the start's connection message box is open
        AttachOnPausedRelay,  // the start's attach waits for a relay paused from the start
        PausedWhenConnected,  // attached through a relay, which then goes silent
        HangupIgnored,        // started as nohup does: SIGHUP is let through, SIGTERM ends it
    };
    struct Case {
        const char *name;
        int signal;
        Setup setup;
    };
    const Case cases[] = {
        {"SIGTERM, connected", SIGTERM, Connected},
        {"SIGINT, connected", SIGINT, Connected},
        {"SIGHUP, connected", SIGHUP, Connected},
        {"SIGTERM, message box open", SIGTERM, MessageBoxOpen},
        {"SIGTERM, attach hanging on a paused relay", SIGTERM, AttachOnPausedRelay},
        {"SIGTERM, connected through a relay gone silent", SIGTERM, PausedWhenConnected},
        {"SIGHUP ignored as under nohup, then SIGTERM", SIGTERM, HangupIgnored},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const bool connected = c.setup == Connected || c.setup == PausedWhenConnected
                               || c.setup == HangupIgnored;
        DelayRelay relay;
        ASSERT_TRUE(relay.start(0));
        if (c.setup == AttachOnPausedRelay)
            relay.pause();
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString program = dir.filePath(QStringLiteral("oekaki"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(OEKAKI_PROGRAM), program));
        const QString settings = dir.filePath(QStringLiteral("oekaki.dat"));
        {
            QFile f(settings);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            QString server = QStringLiteral("localhost:");
            if (c.setup == MessageBoxOpen)
                server = QStringLiteral("127.0.0.1/%1:").arg(ClosedPort());
            else if (c.setup == AttachOnPausedRelay || c.setup == PausedWhenConnected)
                server = QStringLiteral("127.0.0.1/%1:").arg(relay.port());
            f.write(settingsFor(server, db.folder(), db.fileName()));
        }

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), dir.path()); // a user file must not be touched
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        p.setProcessEnvironment(env);
        // An ignored signal stays ignored in the child, as nohup leaves it.
        struct sigaction ignore {}, old {};
        ignore.sa_handler = SIG_IGN;
        if (c.setup == HangupIgnored)
            sigaction(SIGHUP, &ignore, &old);
        p.start(program, {});
        const bool started = p.waitForStarted(10000);
        if (c.setup == HangupIgnored)
            sigaction(SIGHUP, &old, nullptr);
        ASSERT_TRUE(started) << "the program did not start";

        if (connected) {
            QDeadlineTimer deadline(20000);
            while (!attached(db.serverPath(), p.processId()) && !deadline.hasExpired())
                QThread::msleep(200);
            ASSERT_FALSE(deadline.hasExpired()) << "the program did not attach within 20 s";
        } else {
            // The refused connection is immediate; the box is open once the loop runs.
            // On a paused relay the attach is under way by then.
            ASSERT_FALSE(p.waitForFinished(1500)) << "the program ended by itself";
        }
        if (c.setup == PausedWhenConnected)
            relay.pause();
        if (c.setup == HangupIgnored) {
            ::kill(pid_t(p.processId()), SIGHUP);
            EXPECT_FALSE(p.waitForFinished(1500)) << "SIGHUP ended the program though it was ignored";
        }

        QElapsedTimer took;
        took.start();
        ::kill(pid_t(p.processId()), c.signal);
        const bool ended = p.waitForFinished(5000);
        if (!ended) {
            p.kill();
            p.waitForFinished(5000);
        }
        ASSERT_TRUE(ended) << "still running 5 s after the signal";
        const qint64 ms = took.elapsed();
        std::printf("[          ] %s: ended %lld ms after the signal\n", c.name, ms);
        EXPECT_LE(ms, 2000) << "the session end took longer than 2 s";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);

        // Root never writes beside the executable: it uses its own configuration folder.
        const QString userFile = dir.filePath(QStringLiteral(".config/oekaki/oekaki.dat"));
        const QString written = geteuid() == 0 ? userFile : settings;
        QFile f(written);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << written.toStdString();
        const QList<QByteArray> lines = f.readAll().split('\n');
        ASSERT_EQ(lines.size(), SettingsLineCount + 1) << "the settings file was not written whole";
        EXPECT_EQ(lines[3], "16\r") << "the settings file was not written";
        EXPECT_EQ(lines[1], db.folder().toUtf8() + '\r');
        if (written == userFile) {
            QFile beside(settings);
            ASSERT_TRUE(beside.open(QIODevice::ReadOnly));
            EXPECT_EQ(beside.readAll().split('\n').value(3), "$10\r") << "the file beside was rewritten";
        } else {
            EXPECT_FALSE(QFile::exists(userFile));
        }
        relay.resume();
        if (connected) {
            EXPECT_FALSE(attached(db.serverPath(), p.processId()));
        }
    }
}

// ---- the end while connects hang: a server that goes silent after its first reply ----

// The attach deadline shortened for a test, and put back.
class ShortDeadline {
public:
    explicit ShortDeadline(int ms) : was_(BackgroundAttach::DeadlineMs.load()) { BackgroundAttach::DeadlineMs = ms; }
    ~ShortDeadline() { BackgroundAttach::DeadlineMs = was_; }

private:
    int was_;
};

TEST(ExitDuringConnect, AnAttachThatHangsIsGivenUpAtItsDeadlineAndItsThreadEndsByItself)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    constexpr int kDeadlineMs = 1500;
    ShortDeadline shorter(kDeadlineMs);
    struct Case {
        const char *name;
        bool create;
        bool halfOpen;     // else a slow relay that would answer, after the object is gone
        bool destroyEarly; // the BackgroundAttach is destroyed while it attaches
    };
    const Case cases[] = {
        {"attach, half-open", false, true, false},
        {"create, half-open", true, true, false},
        {"attach, half-open, destroyed meanwhile", false, true, true},
        {"attach, slow, destroyed meanwhile", false, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WaitUntil([] { return !BackgroundAttach::AnyThreadAtWork(); }, 10000));
        const int socketsBefore = OpenSockets();
        DelayRelay relay;
        ASSERT_TRUE(relay.start(c.halfOpen ? 0 : 150 * 1000));
        relay.setHalfOpen(c.halfOpen);
        TempServerDir newFolder;
        const QString path = c.create ? QStringLiteral("127.0.0.1/%1:").arg(relay.port()) + newFolder.path()
                                            + QStringLiteral("NEW.FDB")
                                      : t.pathVia(relay.port());
        auto attacher = std::make_unique<BackgroundAttach>();
        int finished = 0;
        bool connected = true, lostConnection = false;
        QObject::connect(attacher.get(), &BackgroundAttach::Finished, [&](DataAccess &db) {
            ++finished;
            connected = db.IsConnected();
            lostConnection = db.LastFailureWasConnectionLoss();
        });
        QElapsedTimer took;
        took.start();
        attacher->Start(path, c.create);
        EXPECT_TRUE(attacher->Running());
        if (c.destroyEarly) {
            WaitUntil([&] { return c.halfOpen ? relay.silenced() > 0 : took.elapsed() > 300; }, 5000);
            attacher.reset();
        } else {
            ASSERT_TRUE(WaitUntil([&] { return finished > 0; }, kDeadlineMs + 8000)) << "no outcome";
            std::printf("[          ] %s: given up after %lld ms\n", c.name, took.elapsed());
            EXPECT_EQ(finished, 1);
            EXPECT_FALSE(connected);
            EXPECT_TRUE(lostConnection);
            EXPECT_FALSE(attacher->Running());
            EXPECT_GE(relay.silenced(), 1) << "the relay never went silent: the case tests nothing";
        }
        // The given-up thread ends by itself, closing what it got, and leaves nothing open.
        EXPECT_TRUE(WaitUntil([] { return !BackgroundAttach::AnyThreadAtWork(); }, 15000))
            << BackgroundAttach::ThreadsAtWork() << " attach threads still at work";
        EXPECT_EQ(BackgroundAttach::GivenUpAtWork(), 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(finished, c.destroyEarly ? 0 : 1) << "an outcome came twice or after the object was gone";
        relay.stop();
        EXPECT_TRUE(WaitUntil([&] { return OpenSockets() <= socketsBefore; }, 5000))
            << OpenSockets() - socketsBefore << " sockets left open";
        if (!c.halfOpen) {
            EXPECT_FALSE(attached(t.serverPath(), QCoreApplication::applicationPid()))
                << "the attachment made after the object was gone was left open";
        }
    }
}

// The program (the painting copy, ending as the program does) with a painting window
// whose worker reconnects, and a main window that reconnects in the background, both
// inside an attach that hangs: it ends within the bound, the settings and the journal
// written.
TEST(ExitDuringConnect, TheProgramEndsAtOnceWhileItsWorkerAndItsAttachHangInsideAnAttach)
{
    TestDatabase db;
    ASSERT_TRUE(db.created());
    {
        DataAccess make;
        make.ConnectDatabase(db.serverPath());
        ASSERT_TRUE(make.CreateImgListTable());
        ASSERT_TRUE(make.ExecuteSql({QStringLiteral("INSERT INTO IMGLIST (N, MN, INAME, SX, SY) VALUES (1, 4, 'a', 120, 80)")}));
    }
    struct Case {
        const char *name;
        int signal; // 0: the exit command
    };
    const Case cases[] = {
        {"SIGTERM", SIGTERM},
        {"the exit command", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DelayRelay relay;
        ASSERT_TRUE(relay.start(0));
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString settings = dir.filePath(QStringLiteral("oekaki.dat"));
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir.path());
        env.insert(QStringLiteral("OEKAKI_INSTANCE_SETTINGS"), settings);
        env.insert(QStringLiteral("OEKAKI_INSTANCE_END_PROCESS"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(OEKAKI_PAINT_INSTANCE),
                {QStringLiteral("127.0.0.1/%1:").arg(relay.port()), db.folder(), db.fileName(),
                 QStringLiteral("4"), QStringLiteral("1"), QStringLiteral("120"), QStringLiteral("80")});
        ASSERT_TRUE(p.waitForStarted(10000));
        auto answer = [&p](const QByteArray &line) {
            if (!line.isEmpty())
                p.write(line + '\n');
            QDeadlineTimer deadline(20000);
            while (!p.canReadLine() && p.state() == QProcess::Running && !deadline.hasExpired())
                p.waitForReadyRead(50);
            return QString::fromUtf8(p.readLine()).trimmed();
        };
        ASSERT_TRUE(answer({}).startsWith(QLatin1String("ready"))) << "the program did not open the picture";
        // A pen of its own, kept at the end as the painting window's size is.
        const QStringList pen = answer("pen 3 5 255").split(QLatin1Char(' '));
        ASSERT_EQ(pen.size(), 3);
        // Every line is cut; every new one hangs after the server's first reply.
        relay.setHalfOpen(true);
        relay.cutAll();
        ASSERT_EQ(answer("draw 10,10 11,10 12,11 13,12"), QStringLiteral("drawn"));
        ASSERT_EQ(answer("lost"), QStringLiteral("lost"));
        // The worker (its store failed) and the main window's reconnecting both attach.
        ASSERT_TRUE(WaitUntil([&] { return relay.silenced() >= 2; }, 20000))
            << "only " << relay.silenced() << " attaches reached the silent server";
        QThread::msleep(300); // well inside the attaches

        QElapsedTimer took;
        took.start();
        if (c.signal)
            ::kill(pid_t(p.processId()), c.signal);
        else
            p.write("exit\n");
        const bool ended = p.waitForFinished(5000);
        const qint64 ms = took.elapsed();
        if (!ended) {
            p.kill();
            p.waitForFinished(5000);
        }
        ASSERT_TRUE(ended) << "still running 5 s after " << c.name;
        std::printf("[          ] %s inside two hanging attaches: ended after %lld ms\n", c.name, ms);
        EXPECT_LE(ms, 2000);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        QFile f(settings);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the settings were not written";
        const QList<QByteArray> lines = f.readAll().split('\n');
        ASSERT_EQ(lines.size(), SettingsLineCount + 1) << "the settings file was not written whole";
        // Lines 28 and 29: the painting window's size; 31 to 33: the pen.
        EXPECT_EQ(lines[27], pen[1].toUtf8() + '\r');
        EXPECT_EQ(lines[28], pen[2].toUtf8() + '\r');
        EXPECT_EQ(lines[30], "3\r");
        EXPECT_EQ(lines[31], "5\r");
        EXPECT_EQ(lines[32], "255\r");
        // The stroke waits in the journal for the next start.
        const QDir journal(dir.filePath(QStringLiteral("oekaki")));
        EXPECT_FALSE(journal.entryList({QStringLiteral("*.stroke")}, QDir::Files).isEmpty()) << "the stroke is not in the journal";
    }
}

} // namespace
