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
    // The server the scripts started (its PID file, else the listener on the port), never
    // every process of that name.
    if (run(QStringLiteral("bash"), {QStringLiteral(OEKAKI_SOURCE_DIR "/scripts/firebird-down.sh")}) != 0)
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        if (!ServerListening())
            return true;
        QThread::msleep(100);
    }
    return !ServerListening();
}

bool StartServer()
{
    const int rc = run(QStringLiteral("bash"),
                                     {QStringLiteral(OEKAKI_SOURCE_DIR "/scripts/firebird-up.sh")});
    return rc == 0 && ServerListening();
}
