#pragma once
// Brings a lost connection back by itself: a cheap handshake first, spaced out,
// and an attach only once the server has answered it. Neither ever runs on the
// window thread: the handshake has its own thread, and the owner attaches in the
// background, reporting with AttachDone.
// Threads: made and used on the window thread.

#include "core/connection/AsyncHandshakeProbe.h"

#include <QObject>
#include <QTimer>
#include <functional>

class ConnectionKeeper : public QObject {
    Q_OBJECT
public:
    // path: where to reconnect (the stored settings at the time of each try);
    // attach: starts an attach there without waiting for it; the owner calls
    // AttachDone with the outcome later.
    ConnectionKeeper(std::function<QByteArray()> path, std::function<void()> attach,
                     QObject *parent = nullptr);

    // Milliseconds between tries, and how long a handshake may take. The tries of
    // a server that is back come well within the painting windows' 5 s refresh.
    static constexpr int FirstTryMs = 500;
    static constexpr int IntervalMs = 2500;
    static constexpr int HandshakeMs = 1500;

    void Start();
    void Stop();
    bool Active() const { return active_; }
    int Tries() const { return tries_; }
    // The attach started by `attach` has ended; connected: it succeeded.
    void AttachDone(bool connected);

signals:
    void Reconnected();

private:
    void tryNow();
    void handshakeDone(bool answered);

    std::function<QByteArray()> path_;
    std::function<void()> attach_;
    // Children, so that they move along with the keeper to another thread.
    AsyncHandshakeProbe probe_;
    QTimer timer_;
    bool active_ = false;
    bool attaching_ = false;
    int tries_ = 0;
};
