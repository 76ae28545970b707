#pragma once
// Measures how long the window thread's event loop went without running, while the
// meter lives: a short timer ticks on that thread, and the longest gap between two
// ticks (less the interval) is the longest stall. A thread of its own watches the
// ticks: once they stop for longer than the hang guard it calls onHang (e.g. cutting
// the database calls), so that a test fails with its figures instead of hanging.
// Made, read and destroyed on the window thread.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

class StallMeter : public QObject {
public:
    explicit StallMeter(std::function<void()> onHang = {},
                        std::chrono::milliseconds hangGuard = std::chrono::milliseconds(1000));
    ~StallMeter() override;

    // Milliseconds of the longest stall so far, counting one still going on.
    double LongestStallMs() const;
    // The hang guard has fired.
    bool Hung() const { return hung_.load(); }
    // Starts the measure again.
    void Reset();

private:
    static int64_t nowNs();
    QTimer tick_;
    std::atomic<int64_t> lastTickNs_;
    int64_t longestNs_ = 0;
    std::function<void()> onHang_;
    int64_t guardNs_;
    std::atomic<bool> hung_{false};
    std::atomic<bool> stop_{false};
    std::thread watch_;
};

// Processes events until `done` or `timeoutMs` have passed; false on the timeout.
bool WaitUntil(const std::function<bool()> &done, int timeoutMs);
