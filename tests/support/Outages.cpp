#include "Outages.h"

#include "db/DataAccess.h"
#include "relay/PortDrop.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
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

namespace {
struct TcpSocket {
    quint32 localAddress, remoteAddress;
    int localPort, remotePort, state;
    qint64 inode;
};

// The machine's IPv4 TCP sockets (/proc/net/tcp: addresses and ports in hex).
std::vector<TcpSocket> tcpSockets()
{
    std::vector<TcpSocket> out;
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> c = lines[i].simplified().split(' ');
        if (c.size() < 10)
            continue;
        const QList<QByteArray> local = c[1].split(':'), remote = c[2].split(':');
        if (local.size() != 2 || remote.size() != 2)
            continue;
        out.push_back({local[0].toUInt(nullptr, 16), remote[0].toUInt(nullptr, 16), local[1].toInt(nullptr, 16),
                       remote[1].toInt(nullptr, 16), c[3].toInt(nullptr, 16), c[9].toLongLong()});
    }
    return out;
}

QSet<qint64> ownSocketInodes()
{
    QSet<qint64> out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(name));
        const qsizetype at = target.indexOf(QLatin1String("socket:["));
        if (at >= 0)
            out.insert(target.mid(at + 8).chopped(1).toLongLong());
    }
    return out;
}

bool iptables(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("iptables"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

SilencedEventLines::SilencedEventLines()
{
    const quint32 loopback = 0x0100007F; // 127.0.0.1 as /proc/net/tcp writes it
    constexpr int Established = 1, Listening = 10;
    const QSet<qint64> own = ownSocketInodes();
    const std::vector<TcpSocket> sockets = tcpSockets();
    QSet<int> listening;
    for (const TcpSocket &s : sockets)
        if (s.state == Listening && own.contains(s.inode))
            listening.insert(s.localPort);
    for (const TcpSocket &s : sockets)
        if (s.state == Established && own.contains(s.inode) && s.remoteAddress == loopback && s.remotePort != 3050
            && !listening.contains(s.remotePort) && !listening.contains(s.localPort))
            ports_.push_back(s.localPort);
    if (ports_.empty()) {
        error_ = QStringLiteral("no events line is open");
        return;
    }
    for (int port : ports_)
        for (const QString &way : {QStringLiteral("--sport"), QStringLiteral("--dport")}) {
            const QStringList rule{QStringLiteral("OUTPUT"), QStringLiteral("-d"), QStringLiteral("127.0.0.1"),
                                   QStringLiteral("-p"), QStringLiteral("tcp"), way, QString::number(port),
                                   QStringLiteral("-m"), QStringLiteral("comment"), QStringLiteral("--comment"),
                                   QStringLiteral("%1-%2").arg(QLatin1String(PortDrop::kTag)).arg(getpid()),
                                   QStringLiteral("-j"), QStringLiteral("DROP")};
            if (!iptables(QStringList{QStringLiteral("-I")} + rule)) {
                error_ = QStringLiteral("iptables refused to drop port %1").arg(port);
                return;
            }
            rules_ << rule.join(QLatin1Char(' '));
        }
}

SilencedEventLines::~SilencedEventLines()
{
    for (const QString &rule : std::as_const(rules_))
        iptables(QStringList{QStringLiteral("-D")} + rule.split(QLatin1Char(' ')));
}
