#include "core/AsyncHandshakeProbe.h"

#include "db/BlockingServerCheck.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

AsyncHandshakeProbe::AsyncHandshakeProbe(QObject *parent) : QObject(parent)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { finish(false); });
}

AsyncHandshakeProbe::~AsyncHandshakeProbe()
{
    closeSocket();
}

void AsyncHandshakeProbe::closeSocket()
{
    delete notifier_;
    notifier_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void AsyncHandshakeProbe::Cancel()
{
    deadline_.stop();
    closeSocket();
    running_ = false;
}

void AsyncHandshakeProbe::finish(bool answered)
{
    if (!running_)
        return;
    Cancel();
    emit Finished(answered);
}

void AsyncHandshakeProbe::Start(const QByteArray &path, int timeoutMs)
{
    Cancel();
    running_ = true;
    QByteArray host, port;
    if (!isc::RemoteServerOf(path, host, port)) {
        // The embedded engine: nothing to wait for.
        QTimer::singleShot(0, this, [this] { finish(true); });
        return;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.constData(), port.constData(), &hints, &list) != 0
        && getaddrinfo(host.constData(), "3050", &hints, &list) != 0) {
        QTimer::singleShot(0, this, [this] { finish(false); });
        return;
    }
    bool done = false;
    bool answered = false;
    fd_ = socket(list->ai_family, list->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, list->ai_protocol);
    if (fd_ < 0) {
        done = true;
    } else if (::connect(fd_, list->ai_addr, list->ai_addrlen) == 0) {
        done = answered = true;
    } else if (errno != EINPROGRESS) {
        done = true;
    }
    freeaddrinfo(list);
    if (done) {
        QTimer::singleShot(0, this, [this, answered] { finish(answered); });
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
        finish(err == 0);
    });
    deadline_.start(timeoutMs);
}
