#include "core/picture/RangeReaders.h"

#include "core/picture/OpeningStop.h"
#include "core/picture/StrokeRowsRead.h"

#include "db/DataAccess.h"
#include "db/Tables.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

std::atomic<int> RangeReaders::Extras{3};
std::atomic<int> RangeReaders::StartAfter{20000};
std::atomic<int> RangeReaders::StallMs{3000};

namespace {
std::atomic<int> atWork{0};
std::mutex testPathMutex;
QString testPath;

// Rows a reader collects before it hands them over.
constexpr size_t HandOverRows = 512;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

struct RangeReaders::Shared {
    struct Range {
        qint64 lo = 0, hi = 0;
        // Free: nobody's yet; Reader: a reader's; Done, Failed: its reader ended;
        // Opening: the opening reads it (or its rest) itself.
        enum State { Free, Reader, Done, Failed, Opening } state = Free;
        std::vector<StrokeRow> rows; // brought by the reader, not yet handed over
        std::vector<qint64> versions; // theirs
        qint64 lastN = 0;            // the highest N brought so far
        qint64 progressMs = 0;
    };
    std::mutex mutex;
    std::condition_variable moved;
    // Made once by the planner and fixed from then on (planned).
    std::vector<Range> ranges;
    bool planning = false;
    bool planned = false;
    std::atomic<qint64> from{0}, to{0};
    std::atomic<qint64> openingAt{0};
    int extras = 0;
    bool over = false;
    QString path;
    QString table;
    std::shared_ptr<OpeningStop> stop;
    std::atomic<qint64> fromExtras{0};

    bool stopped() const { return stop && stop->Stopped(); }

    void readerRun();
    void plan(DataAccess &db);
};

void RangeReaders::Shared::plan(DataAccess &db)
{
    qint64 lastN = 0;
    db.ForEachIntegerRow(QStringLiteral("MAX(N)"), table, QString(), QString(), [&](const qint64 *v, const bool *) {
        lastN = v[0];
        return true;
    });
    const bool ok = db.LastErrorCode() == 0 && db.IsConnected();
    std::lock_guard lock(mutex);
    planned = true;
    const qint64 lo = openingAt.load() + StartAfter.load();
    if (ok && !over && lastN >= lo + StartAfter.load()) {
        // A few ranges a stream, so that the ranges ahead of the opening's are ready when it gets there.
        const qint64 count = 2 * (extras + 1);
        const qint64 size = std::max<qint64>(1, (lastN - lo + count) / count);
        for (qint64 at = lo; at <= lastN; at += size) {
            Range r;
            r.lo = at;
            r.hi = std::min(lastN, at + size - 1);
            ranges.push_back(std::move(r));
        }
        to = lastN;
        from = lo;
    }
    moved.notify_all();
}

void RangeReaders::Shared::readerRun()
{
    DataAccess db;
    OpeningStop::Watching watching(stop.get(), db);
    if (!stopped())
        db.ConnectDatabase(path);
    if (db.IsConnected()) {
        std::unique_lock lock(mutex);
        if (!planning) {
            planning = true;
            lock.unlock();
            plan(db);
        } else {
            while (!planned && !over && !stopped())
                moved.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    while (db.IsConnected()) {
        std::unique_lock lock(mutex);
        auto it = std::find_if(ranges.begin(), ranges.end(), [](const Range &r) { return r.state == Range::Free; });
        if (over || stopped() || it == ranges.end())
            break;
        Range &r = *it;
        r.state = Range::Reader;
        r.progressMs = nowMs();
        lock.unlock();
        std::vector<StrokeRow> got;
        std::vector<qint64> versions;
        got.reserve(HandOverRows);
        versions.reserve(HandOverRows);
        bool dropped = false;
        // Hands over what it has; false once the range is no longer this reader's.
        const auto handOver = [&] {
            std::lock_guard held(mutex);
            if (r.state != Range::Reader || over || stopped()) {
                dropped = true;
                return false;
            }
            if (!got.empty()) {
                r.lastN = got.back().n;
                r.rows.insert(r.rows.end(), got.begin(), got.end());
                r.versions.insert(r.versions.end(), versions.begin(), versions.end());
                fromExtras += qint64(got.size());
                got.clear();
                versions.clear();
            }
            r.progressMs = nowMs();
            moved.notify_all();
            return true;
        };
        const bool failed = !ReadStrokeRows(db, table, r.lo, r.hi, [&](const qint64 *values, const bool *nulls) {
            got.push_back(RowOf(values, nulls));
            versions.push_back(values[RowVersionColumn]);
            return got.size() < HandOverRows || handOver();
        });
        if (!dropped && handOver()) {
            std::lock_guard held(mutex);
            r.state = failed ? Range::Failed : Range::Done;
            moved.notify_all();
        }
        if (failed || dropped)
            break;
    }
    db.DisconnectDatabase();
}

RangeReaders::RangeReaders(const QString &path, const QString &table, std::shared_ptr<OpeningStop> stop)
    : shared_(std::make_shared<Shared>())
{
    shared_->table = table;
    shared_->stop = std::move(stop);
    {
        std::lock_guard lock(testPathMutex);
        shared_->path = testPath.isEmpty() ? path : testPath;
    }
    shared_->extras = std::max(0, Extras.load());
    for (int i = 0; i < shared_->extras; ++i) {
        ++atWork; // before the thread runs: nobody sees it at work and not counted
        std::thread([shared = shared_] {
            pthread_setname_np(pthread_self(), "range-reader");
            GiveWayToStores();
            shared->readerRun();
            --atWork;
        }).detach();
    }
}

RangeReaders::~RangeReaders()
{
    std::lock_guard lock(shared_->mutex);
    shared_->over = true;
}

void RangeReaders::At(qint64 n)
{
    shared_->openingAt = n;
}

qint64 RangeReaders::PlannedFrom() const
{
    return shared_->from.load();
}

qint64 RangeReaders::PlannedTo() const
{
    return shared_->to.load();
}

qint64 RangeReaders::RowsFromExtras() const
{
    return shared_->fromExtras.load();
}

int RangeReaders::AtWork()
{
    return atWork.load();
}

void RangeReaders::SetPathForTests(const QString &path)
{
    std::lock_guard lock(testPathMutex);
    testPath = path;
}

StrokeRow RangeReaders::RowOf(const qint64 *v, const bool *nulls)
{
    using namespace ImageTable;
    StrokeRow r{v[N], int(v[MN]), int(v[DN]), int(v[PTYP]), int(v[PSIZ]), int(v[PCOL]), int(v[X]), int(v[Y])};
    for (int c = 0; nulls && c < ColumnCount; ++c)
        if (nulls[c])
            r.nulls |= quint8(1u << c);
    return r;
}

bool RangeReaders::Read(DataAccess &db, const Each &each)
{
    Shared &s = *shared_;
    const auto readHere = [&](qint64 lo, qint64 hi) {
        if (lo > hi)
            return true;
        return ReadStrokeRows(db, s.table, lo, hi, [&](const qint64 *values, const bool *nulls) {
            each(RowOf(values, nulls), values[RowVersionColumn]);
            return !s.stopped();
        }) && !s.stopped();
    };
    std::vector<StrokeRow> batch;
    std::vector<qint64> versions;
    for (Shared::Range &r : s.ranges) {
        std::unique_lock lock(s.mutex);
        if (r.state == Shared::Range::Free) {
            r.state = Shared::Range::Opening;
            lock.unlock();
            if (!readHere(r.lo, r.hi))
                return false;
            continue;
        }
        qint64 handed = r.lo - 1;
        for (;;) {
            batch.clear();
            versions.clear();
            batch.swap(r.rows);
            versions.swap(r.versions);
            const auto state = r.state;
            if (!batch.empty()) {
                lock.unlock();
                for (size_t i = 0; i < batch.size(); ++i)
                    each(batch[i], versions[i]);
                handed = batch.back().n;
                lock.lock();
                continue;
            }
            if (s.stopped())
                return false;
            if (state == Shared::Range::Done)
                break;
            const bool stalled = nowMs() - r.progressMs >= StallMs.load();
            if (state == Shared::Range::Failed || stalled) {
                // The rest is read here; the reader stops at its next rows.
                r.state = Shared::Range::Opening;
                lock.unlock();
                if (!readHere(handed + 1, r.hi))
                    return false;
                break;
            }
            s.moved.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    return true;
}
