#include "core/connection/ConnectionKeeper.h"

ConnectionKeeper::ConnectionKeeper(std::function<QByteArray()> path, std::function<void()> attach,
                                   QObject *parent)
    : QObject(parent), path_(std::move(path)), attach_(std::move(attach)), probe_(this), timer_(this)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &ConnectionKeeper::tryNow);
    connect(&probe_, &AsyncHandshakeProbe::Finished, this, &ConnectionKeeper::handshakeDone);
}

void ConnectionKeeper::Start()
{
    if (active_)
        return;
    active_ = true;
    attaching_ = false;
    tries_ = 0;
    timer_.start(FirstTryMs);
}

void ConnectionKeeper::Stop()
{
    active_ = false;
    attaching_ = false;
    timer_.stop();
    probe_.Cancel();
}

void ConnectionKeeper::tryNow()
{
    if (!active_)
        return;
    ++tries_;
    probe_.Start(path_(), HandshakeMs);
}

void ConnectionKeeper::handshakeDone(bool answered)
{
    if (!active_)
        return;
    if (!answered) {
        timer_.start(IntervalMs);
        return;
    }
    attaching_ = true;
    attach_();
}

void ConnectionKeeper::AttachDone(bool connected)
{
    if (!active_ || !attaching_)
        return;
    attaching_ = false;
    if (connected) {
        active_ = false;
        emit Reconnected();
        return;
    }
    timer_.start(IntervalMs);
}
