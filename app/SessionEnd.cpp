#include "app/SessionEnd.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

static sigset_t sessionSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
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
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SessionEnd::readSignal);
}

SessionEnd::~SessionEnd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void SessionEnd::readSignal()
{
    signalfd_siginfo info;
    while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
        // A close that hangs on the network must not keep the session waiting.
        if (killAfter_ > 0 && !armed_) {
            armed_ = true;
            alarm(unsigned(killAfter_));
        }
        if (onSignal_)
            onSignal_(int(info.ssi_signo));
    }
}
