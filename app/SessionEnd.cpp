#include "app/SessionEnd.h"

#include "core/connection/CallDeadline.h"

#include <csignal>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

// The session's signals, less those whose inherited action is "ignore".
static sigset_t sessionSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaddset(&set, sig);
    }
    return set;
}

void SessionEnd::BlockSignals()
{
    const sigset_t set = sessionSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SessionEnd::SessionEnd(std::function<void(int)> onSignal, int killAfterSeconds, QObject *parent)
    : QObject(parent), onSignal_(std::move(onSignal)), killAfter_(killAfterSeconds)
{
    const sigset_t set = sessionSignals();
    fd_ = signalfd(-1, &set, SFD_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (fd_ < 0 || stopFd_ < 0) {
        // Nobody would read them: let them act as they would by default.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    reader_ = std::thread([this] { readSignals(); });
}

SessionEnd::~SessionEnd()
{
    if (reader_.joinable()) {
        const uint64_t one = 1;
        (void)!::write(stopFd_, &one, sizeof one);
        reader_.join();
    }
    if (fd_ >= 0)
        ::close(fd_);
    if (stopFd_ >= 0)
        ::close(stopFd_);
}

// On the reader thread: only what is safe from any thread, then a queued call.
void SessionEnd::readSignals()
{
    bool armed = false;
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        signalfd_siginfo info;
        if (::read(fd_, &info, sizeof info) != ssize_t(sizeof info))
            continue;
        if (!armed) {
            armed = true;
            // A close that hangs on the network must not keep the session waiting.
            if (killAfter_ > 0)
                alarm(unsigned(killAfter_));
            ShortenDatabaseReplies(ClosingReplyTimeoutMs);
        }
        CutAllDatabaseCalls();
        const int signo = int(info.ssi_signo);
        QMetaObject::invokeMethod(this, [this, signo] {
            if (onSignal_)
                onSignal_(signo);
        }, Qt::QueuedConnection);
    }
}
