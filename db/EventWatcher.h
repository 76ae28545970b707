#pragma once
// Waits for one named event (POST_EVENT) on an attachment, over the server's
// auxiliary port. Each delivery ends the wait: the owner calls Arm() again.
// Threads: made, armed and destroyed on whichever one thread uses the attachment at the
// time; onEvent runs on the client library's event thread and must only post elsewhere.
// The library is handed a number, not this object: a delivery that comes after the
// watcher is gone, or one the library never makes after a dropped line, touches nothing
// and keeps nothing alive.

#include <QByteArray>
#include <QString>
#include <functional>

class DataAccess;

class EventWatcher {
public:
    // onEvent(true) for a post; onEvent(false) when the library says the events line died.
    EventWatcher(DataAccess &db, const QByteArray &name, std::function<void(bool posted)> onEvent);
    // The same, told how many posts (commits that posted it) the delivery stands for: those
    // since the delivery before. The first delivery comes at once, posted or not: its count
    // stands for everything until then, not for posts.
    EventWatcher(DataAccess &db, const QByteArray &name, std::function<void(bool posted, int posts)> onEvent);
    ~EventWatcher();
    EventWatcher(const EventWatcher &) = delete;
    EventWatcher &operator=(const EventWatcher &) = delete;

    // Starts (or, after a delivery, restarts) the wait. False when the server would not
    // take it (no events port, connection gone); LastError() says why.
    bool Arm();
    bool Armed() const;
    QString LastError() const { return error_; }

    // Any thread: watchers whose state still exists (tests look for leaks with it).
    static int Alive();

    // The state the client library's thread shares with this object.
    struct Shared;

private:
    DataAccess &db_;
    quint64 key_; // the library's handle on the shared state
    long id_ = 0;
    QString error_;
};
