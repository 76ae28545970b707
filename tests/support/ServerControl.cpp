#include "ServerControl.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

static int run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return -1;
    p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool ServerListening()
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), 3050);
    return s.waitForConnected(1000);
}

bool StopServer()
{
    // The guardian first, or it starts the server again.
    run(QStringLiteral("pkill"), {QStringLiteral("-x"), QStringLiteral("fbguard")});
    run(QStringLiteral("pkill"), {QStringLiteral("-x"), QStringLiteral("firebird")});
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        if (run(QStringLiteral("pgrep"), {QStringLiteral("-x"), QStringLiteral("firebird")}) != 0
            && !ServerListening())
            return true;
        QThread::msleep(100);
    }
    run(QStringLiteral("pkill"), {QStringLiteral("-9"), QStringLiteral("-x"), QStringLiteral("firebird")});
    QThread::msleep(500);
    return !ServerListening();
}

bool StartServer()
{
    const int rc = run(QStringLiteral("bash"),
                                     {QStringLiteral(OEKAKI_SOURCE_DIR "/scripts/firebird-up.sh")});
    return rc == 0 && ServerListening();
}
