#pragma once
// Attaches (or creates and attaches) a database on a short-lived thread, so that the
// window thread never waits for a server. The attach uses a DataAccess of its own;
// Finished hands it over on the window thread, where the owner takes the attachment
// with DataAccess::AdoptAttachment. An attachment nobody took, or one given up by
// Cancel, is detached on a thread again: none is left open behind.
// Threads: made and used on the window thread.

#include <QObject>
#include <QString>
#include <memory>

class DataAccess;

class BackgroundAttach : public QObject {
    Q_OBJECT
public:
    explicit BackgroundAttach(QObject *parent = nullptr);
    ~BackgroundAttach() override;

    // Gives up any attach still running, then starts this one.
    void Start(const QString &path, bool create = false);
    void Cancel();
    bool Running() const { return current_ != nullptr; }
    // Any thread: attach or detach threads of the process still at work, given up or not.
    // The client library's exit handler would wait for them.
    static bool AnyThreadAtWork();

signals:
    // attached.IsConnected() tells the outcome; valid only during the signal.
    void Finished(DataAccess &attached);

private:
    struct Job;
    static void detachElsewhere(std::shared_ptr<Job> job);
    std::shared_ptr<Job> current_;
};
