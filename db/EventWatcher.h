#pragma once
// Waits for one named event (POST_EVENT) on an attachment, over the server's
// auxiliary port. Each delivery ends the wait: the owner calls Arm() again.
// Threads: made, armed and destroyed on the thread that uses the attachment; onEvent
// runs on the client library's event thread and must only post to another thread.

#include <QByteArray>
#include <QString>
#include <functional>

class DataAccess;

class EventWatcher {
public:
    EventWatcher(DataAccess &db, const QByteArray &name, std::function<void()> onEvent);
    ~EventWatcher();
    EventWatcher(const EventWatcher &) = delete;
    EventWatcher &operator=(const EventWatcher &) = delete;

    // Starts (or, after a delivery, restarts) the wait. False when the server would not
    // take it (no events port, connection gone); LastError() says why.
    bool Arm();
    bool Armed() const;
    QString LastError() const { return error_; }

    // The state the client library's thread shares with this object.
    struct Shared;

private:
    DataAccess &db_;
    Shared *shared_; // outlives this object while a delivery may still come
    long id_ = 0;
    QString error_;
};
