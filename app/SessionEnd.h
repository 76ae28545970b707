#pragma once
// The end of a desktop session (SIGTERM, SIGINT, SIGHUP) reaches the program
// as an ordinary event, so it can close as its own exit does.

#include <QObject>
#include <functional>

class QSocketNotifier;

class SessionEnd : public QObject {
    Q_OBJECT
public:
    // Blocks the three signals in the calling thread, and so in every thread
    // started from it later: no library's handler can swallow them then.
    // Call first thing in main, before any thread exists.
    static void BlockSignals();

    // Calls onSignal on the event loop for each signal that arrives; after the
    // first one the process ends by itself within killAfterSeconds, whatever hangs.
    explicit SessionEnd(std::function<void(int)> onSignal, int killAfterSeconds = 10,
                        QObject *parent = nullptr);
    ~SessionEnd() override;

private:
    void readSignal();
    std::function<void(int)> onSignal_;
    int killAfter_;
    bool armed_ = false;
    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
};
