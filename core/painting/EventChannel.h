#pragma once
// The events of one database's pictures, on a line of their own: its own attachment,
// its own thread ("paint-events <n>"). The database's side tells it which tables to
// watch; it reports each post (EventCame) and whether posts reach us (Working). A line
// that fails breaks nothing but itself: the side then refreshes its windows often.
//
// Asking the server for events can block for minutes behind a firewall that drops its
// events port (the server makes us connect to it), and no cancel shortens that. So every
// call on the events attachment runs on a thread of its own that nobody joins, one call
// at a time; one that has not answered by AskDeadlineMs is given up, and keeps the
// attachment, which it drops once the library lets go. While a given-up call of this
// database is still inside the library, no new attach or request is made, so a PC behind
// a firewall never piles waits onto the server. After a failure the line is tried again
// after FirstRetryMs, doubling up to MaxRetryMs.
//
// Threads: made on the side's thread, then moved to its own and used only there
// (requests by queued calls); the call threads reach it only by queued calls, which are
// dropped once it is gone.

#include <QObject>
#include <QSet>
#include <QString>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <memory>

class BackgroundAttach;
class DataAccess;

class EventChannel : public QObject {
    Q_OBJECT
public:
    // busy: the side's count of work under way; each signal adds one, which the
    // receiving slot takes off once it has run.
    EventChannel(const QString &path, std::shared_ptr<std::atomic<int>> busy);
    ~EventChannel() override;

    // Requests (its thread).
    void watch(const QSet<QString> &tables);
    // Rows came that no event told of while the line counts as working: it may have gone
    // silent unnoticed (cut under an armed wait). It is dropped and made again at once;
    // found silent again within SilentAgainMs, it counts as failed (the pause below).
    void reask();
    static constexpr int SilentAgainMs = 60000;
    // Gives everything up: the thread ends right after.
    void shutDown();

    // Tests: OEKAKI_NO_EVENTS=1 in the environment keeps every channel from starting.
    static bool Disabled();
    // How long one request on the events attachment may take before it is given up.
    static std::atomic<int> AskDeadlineMs;
    // The pause after a failure; it doubles with each failure in a row, up to MaxRetryMs.
    // Tests shorten it.
    static std::atomic<int> FirstRetryMs;
    static constexpr int MaxRetryMs = 10 * 60 * 1000;
    // Any thread: given-up requests of the process still inside the library.
    static int StuckCalls();
    // Any thread: events attachments the process has begun (tests count the tries).
    static int Tries() { return tries_.load(); }

signals:
    // `posts`: the commits that posted it since the one before (the first on a line stands
    // for everything until then).
    void EventCame(const QString &table, int posts);
    void Working(bool working);

private:
    struct Line; // the events attachment and its waits, used by one call thread at a time
    struct Call; // one request in flight
    void tryNow();
    void attachDone(DataAccess &got);
    void ask();
    void answered(const std::shared_ptr<Call> &call, bool ok, const QString &why);
    bool letGoOfCall();
    void giveUp();
    void failed(const QString &why);
    void setWorking(bool on);
    void dropLine();
    void posted(const QString &table, int generation, bool ok, int posts);

    QString path_;
    QSet<QString> wanted_;
    QSet<QString> due_;            // posted since armed, or new: to be armed
    QSet<QString> onLine_;         // tables the line has waits for
    int generation_ = 0;
    std::shared_ptr<std::atomic<int>> busy_;
    std::shared_ptr<Line> line_;
    std::shared_ptr<Call> call_;
    BackgroundAttach *attach_ = nullptr;
    QTimer *retry_ = nullptr;
    QTimer *deadline_ = nullptr;
    bool attaching_ = false;
    bool working_ = false;
    bool stopped_ = false;
    int failures_ = 0;
    QElapsedTimer sinceReask_;
    static std::atomic<int> tries_;
    // Shared with the library's thread, which only posts here while it is set.
    std::shared_ptr<struct EventChannelHome> home_;
};
