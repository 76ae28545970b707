// The real program, started from a copy with its own settings file, ended by the
// signals a desktop session sends at logout or shutdown.
#include "core/SettingsFile.h"
#include "DelayRelay.h"
#include "TestDatabase.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <unistd.h>
#include <csignal>

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

} // namespace
