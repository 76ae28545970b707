#include "Outages.h"

#include "db/DataAccess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

MuteListener::MuteListener()
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd_, 128) != 0
        || getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return;
    port_ = ntohs(a.sin_port);
}

void MuteListener::FillBacklog()
{
    listen(fd_, 0);
    for (int i = 0; i < 4; ++i) {
        const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port_));
        ::connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a);
        fillers_.push_back(c);
    }
    usleep(200 * 1000);
}

MuteListener::~MuteListener()
{
    for (int c : fillers_)
        close(c);
    if (fd_ >= 0)
        close(fd_);
}

int OpenSockets()
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
        if (QFile::symLinkTarget(fds.filePath(name)).contains(QLatin1String("socket:")))
            ++count;
    return count;
}

UncommittedChange::UncommittedChange(const QString &serverPath, const QByteArray &statement, const QByteArray &then)
{
    // An ASCII path: isql may garble other bytes read from a pipe.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/oekaki-lock-XXXXXX"));
    const QString marker = dir.filePath(QStringLiteral("ready"));
    isql_.setProcessChannelMode(QProcess::MergedChannels);
    isql_.start(QStringLiteral("isql-fb"),
                {QStringLiteral("-q"), QStringLiteral("-user"), QString::fromLatin1(DataAccess::User),
                 QStringLiteral("-password"), QString::fromLatin1(DataAccess::Password), serverPath});
    if (!isql_.waitForStarted(10000))
        return;
    // The input stays open: at its end isql would commit.
    isql_.write(statement + ";\nSHELL touch " + QFile::encodeName(marker) + ";\n" + then);
    isql_.waitForBytesWritten(5000);
    QDeadlineTimer deadline(20000);
    while (!QFile::exists(marker) && !deadline.hasExpired() && isql_.state() == QProcess::Running)
        QThread::msleep(50);
    ready_ = QFile::exists(marker);
}

UncommittedChange::~UncommittedChange()
{
    // Killed, not ended: the server rolls the change back.
    isql_.kill();
    isql_.waitForFinished(10000);
}
