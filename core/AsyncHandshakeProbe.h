#pragma once
// A TCP handshake with the server a database path names, without blocking the
// event loop: Finished(true) once the server took the connection, Finished(false)
// when it refused or stayed silent for the given time. A local path answers at once.

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

class AsyncHandshakeProbe : public QObject {
    Q_OBJECT
public:
    explicit AsyncHandshakeProbe(QObject *parent = nullptr);
    ~AsyncHandshakeProbe() override;

    void Start(const QByteArray &path, int timeoutMs);
    void Cancel();
    bool Running() const { return running_; }

signals:
    void Finished(bool answered);

private:
    void finish(bool answered);
    void closeSocket();

    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    QTimer deadline_;
    bool running_ = false;
};
