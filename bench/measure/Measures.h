#pragma once
// What the benchmarks measure with: a steady clock, percentiles, the process's memory,
// and the window thread's longest stall while its event loop runs.

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace measure {

inline int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The nearest-rank percentile p (0 to 1) of v; 0 for none.
inline double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"); -1 when not found.
inline long StatusKb(const char *field)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(strlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The machine's load averages over 1, 5 and 15 minutes, as /proc/loadavg has them.
inline QByteArray LoadAverage()
{
    QFile f("/proc/loadavg");
    if (!f.open(QIODevice::ReadOnly))
        return "?";
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.mid(0, 3).join(' ');
}

// Lives on the window thread: ticks every 5 ms; the longest stall is the largest gap
// between two ticks less the 5 ms.
class Heartbeat : public QObject {
public:
    Heartbeat()
    {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(kTickMs);
        connect(&tick_, &QTimer::timeout, this, [this] {
            const int64_t now = NowNs();
            longestNs_ = std::max(longestNs_, now - lastNs_ - int64_t(kTickMs) * 1000000);
            lastNs_ = now;
        });
        Reset();
        tick_.start();
    }
    void Reset()
    {
        lastNs_ = NowNs();
        longestNs_ = 0;
    }
    double LongestMs() const
    {
        return double(std::max(longestNs_, NowNs() - lastNs_ - int64_t(kTickMs) * 1000000)) / 1e6;
    }

private:
    static constexpr int kTickMs = 5;
    QTimer tick_;
    int64_t lastNs_ = 0;
    int64_t longestNs_ = 0;
};

// Runs this thread's event loop until `done` holds or `ms` pass; whether it holds.
inline bool RunUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

} // namespace measure
