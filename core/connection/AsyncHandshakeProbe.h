#pragma once
// A TCP handshake with the server a database path names, without blocking the
// event loop: Finished(true) once the server took the connection (on any of the
// addresses its name resolves to), Finished(false) when it refused, stayed silent, or
// its name did not resolve, within the given time. A local path answers at once.
// Threads: made and used on one thread that runs an event loop; the name lookup and
// the handshake run on a short-lived thread of their own, never joined, whose socket
// is closed there in any case. The outcome comes by a queued call that Qt drops once
// this object is gone; the time limit is kept here too, whatever the thread does.

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <memory>

class AsyncHandshakeProbe : public QObject {
    Q_OBJECT
public:
    explicit AsyncHandshakeProbe(QObject *parent = nullptr);
    ~AsyncHandshakeProbe() override;

    void Start(const QByteArray &path, int timeoutMs);
    // The running probe's outcome is dropped; its thread ends by itself within the time.
    void Cancel();
    bool Running() const { return current_ != nullptr; }

signals:
    void Finished(bool answered);

private:
    struct Job;
    void done(const std::shared_ptr<Job> &job, bool answered);
    std::shared_ptr<Job> current_;
    // A child, so that it moves along with its owner to another thread.
    QTimer deadline_;
};
