#pragma once
// The end of a desktop session (SIGTERM, SIGINT, SIGHUP) reaches the program
// as an ordinary event, so it can close as its own exit does.
// Threads: the signals are read on a thread of their own, which answers at once
// whatever the window thread is doing (arms the alarm, cuts the database calls in
// progress) and hands the close to the window thread by a queued call.

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

class SessionEnd : public QObject {
    Q_OBJECT
public:
    // Blocks the three signals in the calling thread, and so in every thread
    // started from it later: no library's handler can swallow them then.
    // A signal whose inherited action is "ignore" (nohup) is left alone.
    // Call first thing in main, before any thread exists.
    static void BlockSignals();

    // Calls onSignal on the event loop for each signal that arrives; after the
    // first one the process ends by itself within killAfterSeconds, whatever hangs.
    explicit SessionEnd(std::function<void(int)> onSignal, int killAfterSeconds = 10,
                        QObject *parent = nullptr);
    ~SessionEnd() override;

    // Milliseconds every database call gets once a signal came (the close's last
    // round trips must fit well within the session's patience).
    static constexpr int ClosingReplyTimeoutMs = 400;

private:
    void readSignals();
    std::function<void(int)> onSignal_;
    int killAfter_;
    int fd_ = -1;
    int stopFd_ = -1;
    std::thread reader_;
};
