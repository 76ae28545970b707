#pragma once
// Attaches (or creates and attaches) a database on a short-lived thread, so that the
// thread that asks never waits for a server. The attach uses a DataAccess of its own;
// Finished hands it over on the asking thread, where the owner takes the attachment
// with DataAccess::AdoptAttachment.
//
// An attach that has not answered by DeadlineMs is given up: Finished reports a lost
// connection then, and the attach thread closes whatever it gets later and ends by
// itself. The same for an attach given up by Cancel, by a new Start, or by destroying
// this object, and for an attachment nobody took: none is left open behind.
//
// Threads: made and used on any one thread that runs an event loop (the window's, a
// database thread); Finished comes on that thread. The attach threads are counted and
// never joined; they reach this object only through a queued call that Qt drops
// once it is gone.

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <memory>

class DataAccess;

class BackgroundAttach : public QObject {
    Q_OBJECT
public:
    explicit BackgroundAttach(QObject *parent = nullptr);
    ~BackgroundAttach() override;

    // Gives up any attach still running, then starts this one.
    void Start(const QString &path, bool create = false);
    // Gives up the attach in progress, without Finished.
    void Cancel();
    bool Running() const { return current_ != nullptr; }

    // Any thread: attach or detach threads of the process still at work, given up or not.
    static bool AnyThreadAtWork() { return ThreadsAtWork() > 0; }
    // What Finished handed over got no answer (server unreachable, or given up at the
    // deadline), as opposed to a refusal by the server.
    static bool GotNoAnswer(const DataAccess &attached);
    static int ThreadsAtWork();
    // Given-up attaches of the process still waiting for their server.
    static int GivenUpAtWork();

    // How long an attach may take before it is given up. Tests shorten it.
    static std::atomic<int> DeadlineMs;
    // Given-up attaches to one database still waiting: more are not started (Finished
    // tells a lost connection at once), so a server that hangs inside attaches cannot
    // pile up threads and sockets while it is tried again and again.
    static constexpr int MostGivenUpPerPath = 3;

signals:
    // attached.IsConnected() tells the outcome; valid only during the signal.
    void Finished(DataAccess &attached);

private:
    struct Job; // one attach, shared by this object and its thread
    static void cutWhileItWaits(std::shared_ptr<Job> job);
    void deliver(const std::shared_ptr<Job> &job);
    void giveUp();
    void reportLost(const QString &path);
    static void closeElsewhere(std::shared_ptr<Job> job);
    std::shared_ptr<Job> current_;
    // A child, so that it moves along when its owner is moved to another thread (main-db's is).
    QTimer deadline_;
};
