#include "db/BlockingServerCheck.h"

#include "db/Isc.h"

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace isc {

// Also gives where the server prefix ends.
static bool serverPart(const QByteArray &path, QByteArray &host, QByteArray &port, qsizetype &prefixEnd)
{
    host.clear();
    port = "3050";
    QByteArray rest;
    for (const char *scheme : {"inet://", "inet4://", "inet6://"}) {
        if (path.toLower().startsWith(scheme)) {
            rest = path.mid(static_cast<qsizetype>(strlen(scheme)));
            const qsizetype slash = rest.indexOf('/');
            if (slash <= 0)
                return false;
            host = rest.left(slash);
            prefixEnd = static_cast<qsizetype>(strlen(scheme)) + slash + 1;
            const qsizetype close = host.lastIndexOf(']');
            const qsizetype colon = host.lastIndexOf(':');
            if (colon > close && (close >= 0 || host.count(':') == 1)) {
                port = host.mid(colon + 1);
                host = host.left(colon);
            }
            break;
        }
    }
    if (rest.isEmpty()) {
        const qsizetype colon = path.indexOf(':', path.startsWith('[') ? path.indexOf(']') + 1 : 0);
        // "C:\..." is a drive, "/a:b" a local file name holding a colon.
        if (colon <= 1 || path[0] == '/' || path[0] == '\\' || path[0] == '.')
            return false;
        host = path.left(colon);
        prefixEnd = colon + 1;
        const qsizetype slash = host.indexOf('/');
        if (slash >= 0) {
            port = host.mid(slash + 1);
            host = host.left(slash);
        }
    }
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    if (port.isEmpty())
        port = "3050";
    return !host.isEmpty();
}

bool RemoteServerOf(const QByteArray &path, QByteArray &host, QByteArray &port)
{
    qsizetype prefixEnd = 0;
    return serverPart(path, host, port, prefixEnd);
}

bool HandshakeAnswers(const QByteArray &path, int timeoutSeconds)
{
    return timeoutSeconds <= 0 || HandshakeAnswersWithin(path, timeoutSeconds * 1000);
}

namespace {
// A name lookup on a thread of its own, so that a resolver that does not answer (a dead
// DNS server costs 10 to 30 s) is given up at the caller's deadline. The thread is never
// joined: given up, it frees what it gets and ends by itself.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    addrinfo *list = nullptr;
};

void lookUp(const std::shared_ptr<Lookup> &l, QByteArray host, QByteArray port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.constData(), port.constData(), &hints, &list) != 0) {
        // An unknown service name: the client library's own default port.
        list = nullptr;
        if (getaddrinfo(host.constData(), "3050", &hints, &list) != 0)
            list = nullptr;
    }
    std::lock_guard lock(l->mutex);
    if (l->abandoned) {
        if (list)
            freeaddrinfo(list);
        return;
    }
    l->list = list;
    l->finished = true;
    l->done.notify_all();
}
} // namespace

// False when the resolver has not answered by the deadline; `list` is null when the name
// is unknown.
static bool resolveBy(const QByteArray &host, const QByteArray &port,
                      std::chrono::steady_clock::time_point deadline, addrinfo *&list)
{
    list = nullptr;
    auto l = std::make_shared<Lookup>();
    std::thread([l, host, port] {
        pthread_setname_np(pthread_self(), "resolve");
        lookUp(l, host, port);
    }).detach();
    std::unique_lock lock(l->mutex);
    if (!l->done.wait_until(lock, deadline, [&] { return l->finished; })) {
        l->abandoned = true;
        return false;
    }
    list = l->list;
    return true;
}

bool HandshakeAnswersWithin(const QByteArray &path, int timeoutMs)
{
    QByteArray host, port;
    if (timeoutMs <= 0 || !RemoteServerOf(path, host, port))
        return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo *list = nullptr;
    if (!resolveBy(host, port, deadline, list))
        return false; // the name lookup is part of the bound
    if (!list)
        return true; // let the client library report the unknown host
    bool answered = false;
    for (addrinfo *ai = list; ai && !answered; ai = ai->ai_next) {
        const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0)
            continue;
        if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == ECONNREFUSED) {
            answered = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0)
                    break;
                const int r = poll(&p, 1, static_cast<int>(left));
                if (r < 0 && errno == EINTR)
                    continue;
                if (r > 0) {
                    int err = 0;
                    socklen_t len = sizeof err;
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                    // A refusal is an answer too: the client library then fails at once.
                    answered = err == 0 || err == ECONNREFUSED;
                }
                break;
            }
        }
        close(fd);
    }
    freeaddrinfo(list);
    return answered;
}

bool ServerAnswers(const QByteArray &path, int timeoutSeconds, const QByteArray &user,
                   const QByteArray &password)
{
    QByteArray host, port;
    qsizetype prefixEnd = 0;
    if (timeoutSeconds <= 0 || !serverPart(path, host, port, prefixEnd))
        return true;
    if (!HandshakeAnswers(path, timeoutSeconds))
        return false;
    // A server that takes the connection but never replies: CREATE DATABASE has no
    // time-out item of its own, so ask once with one. Any reply, even a refusal, will do.
    Attachment probe;
    Status st;
    if (probe.attach(path.left(prefixEnd) + '/', user, password, timeoutSeconds, st))
        return true;
    // A time-out shows as a rejected connection; a real rejection would fail CREATE too.
    return !IsConnectionLoss(st.code()) && st.code() != isc_connect_reject;
}

} // namespace isc
