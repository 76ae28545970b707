#include "db/StuckAttachCut.h"

#include "db/BlockingServerCheck.h"

#include <QFile>
#include <QList>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace isc {

pid_t CurrentThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

namespace {

// The call the thread is blocked in: its number and first arguments.
bool blockedCall(pid_t tid, long &number, unsigned long long args[3])
{
    QFile f(QStringLiteral("/proc/self/task/%1/syscall").arg(tid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> words = f.readAll().simplified().split(' ');
    bool ok = words.size() >= 4;
    number = ok ? words[0].toLong(&ok) : -1;
    for (int i = 0; ok && i < 3; ++i)
        args[i] = words[i + 1].toULongLong(&ok, 16);
    return ok;
}

// The descriptors the blocked call waits on.
QList<int> waitedOn(long number, const unsigned long long args[3])
{
    QList<int> fds;
    switch (number) {
    case SYS_read:
    case SYS_recvfrom:
    case SYS_recvmsg:
        fds << static_cast<int>(args[0]);
        break;
    case SYS_poll:
    case SYS_ppoll: {
        // The array is on the blocked thread's stack, unchanged while it waits.
        const auto *p = reinterpret_cast<const pollfd *>(args[0]);
        for (unsigned long long i = 0; p && i < args[1] && i < 16; ++i)
            fds << p[i].fd;
        break;
    }
    case SYS_select:
    case SYS_pselect6: {
        const auto *set = reinterpret_cast<const fd_set *>(args[1]);
        for (int fd = 0; set && fd < static_cast<int>(args[0]) && fd < FD_SETSIZE; ++fd)
            if (FD_ISSET(fd, set))
                fds << fd;
        break;
    }
    default:
        break;
    }
    return fds;
}

int peerPort(int fd)
{
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    int type = 0;
    socklen_t typeLen = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLen) != 0 || type != SOCK_STREAM
        || getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0)
        return -1;
    if (peer.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(peer).sin_port);
    if (peer.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(peer).sin6_port);
    return -1;
}

} // namespace

bool CutLineThreadWaitsOn(pid_t tid, const QByteArray &path)
{
    QByteArray host, port;
    if (tid <= 0 || !RemoteServerOf(path, host, port))
        return false;
    long number = -1;
    unsigned long long args[3] = {};
    if (!blockedCall(tid, number, args))
        return false;
    bool numeric = false;
    int wanted = port.toInt(&numeric);
    if (!numeric) {
        const servent *service = getservbyname(port.constData(), "tcp");
        wanted = service ? ntohs(static_cast<uint16_t>(service->s_port)) : 3050;
    }
    bool cut = false;
    for (int fd : waitedOn(number, args)) {
        if (fd < 0)
            continue;
        // A copy that stays this line even if the thread closes its own meanwhile.
        const int line = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (line < 0)
            continue;
        struct stat copied {};
        if (fstat(line, &copied) != 0 || !S_ISSOCK(copied.st_mode) || peerPort(line) != wanted) {
            close(line);
            continue;
        }
        // Right before the cut: the thread still waits in that call on that descriptor, and
        // the descriptor is still this socket (not closed and reused for another file since).
        long again = -1;
        unsigned long long argsAgain[3] = {};
        struct stat now {};
        const bool same = blockedCall(tid, again, argsAgain) && again == number && argsAgain[0] == args[0]
                          && waitedOn(again, argsAgain).contains(fd) && fstat(fd, &now) == 0
                          && now.st_dev == copied.st_dev && now.st_ino == copied.st_ino;
        if (same) {
            shutdown(line, SHUT_RDWR);
            cut = true;
        }
        close(line);
    }
    return cut;
}

} // namespace isc
