#include "StallMeter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

static constexpr int kTickMs = 5;

int64_t StallMeter::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

StallMeter::StallMeter(std::function<void()> onHang, std::chrono::milliseconds hangGuard)
    : lastTickNs_(nowNs()), onHang_(std::move(onHang)),
      guardNs_(std::chrono::duration_cast<std::chrono::nanoseconds>(hangGuard).count())
{
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.setInterval(kTickMs);
    connect(&tick_, &QTimer::timeout, this, [this] {
        const int64_t now = nowNs();
        const int64_t gap = now - lastTickNs_.load() - int64_t(kTickMs) * 1000000;
        if (gap > longestNs_)
            longestNs_ = gap;
        lastTickNs_.store(now);
    });
    tick_.start();
    watch_ = std::thread([this] {
        while (!stop_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!hung_.load() && nowNs() - lastTickNs_.load() > guardNs_) {
                hung_.store(true);
                if (onHang_)
                    onHang_();
            }
        }
    });
}

StallMeter::~StallMeter()
{
    stop_.store(true);
    watch_.join();
}

double StallMeter::LongestStallMs() const
{
    const int64_t current = nowNs() - lastTickNs_.load() - int64_t(kTickMs) * 1000000;
    return double(std::max(longestNs_, current)) / 1e6;
}

void StallMeter::Reset()
{
    longestNs_ = 0;
    hung_.store(false);
    lastTickNs_.store(nowNs());
}

bool WaitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}
