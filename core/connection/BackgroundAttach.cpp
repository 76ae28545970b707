#include "core/connection/BackgroundAttach.h"

#include "db/DataAccess.h"
#include "db/StuckAttachCut.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <pthread.h>
#include <thread>

std::atomic<int> BackgroundAttach::DeadlineMs{DataAccess::ConnectTimeoutSeconds * 1000};

namespace {
std::atomic<int> threadsAtWork{0};

// Counts a thread's work while it lasts.
struct AtWork {
    AtWork() { ++threadsAtWork; }
    ~AtWork() { --threadsAtWork; }
};

// Given-up attaches still waiting, by path. Left alive at exit: a thread may still
// count itself out after main has returned.
struct GivenUp {
    std::mutex mutex;
    std::map<QString, int> byPath;
    int total = 0;
    static GivenUp &Instance()
    {
        static GivenUp *g = new GivenUp;
        return *g;
    }
    void add(const QString &path, int n)
    {
        std::lock_guard lock(mutex);
        total += n;
        if ((byPath[path] += n) <= 0)
            byPath.erase(path);
    }
    int of(const QString &path)
    {
        std::lock_guard lock(mutex);
        auto it = byPath.find(path);
        return it == byPath.end() ? 0 : it->second;
    }
};

void startCounted(const char *name, std::function<void()> work)
{
    ++threadsAtWork; // before the thread runs: nobody sees it at work and not counted
    std::thread([name, work = std::move(work)] {
        pthread_setname_np(pthread_self(), name);
        work();
        --threadsAtWork;
    }).detach();
}
} // namespace

// The attach thread owns `db` while the state is Running; the asking thread once it is
// Done. Given up (Abandoned) while Running, the attach thread closes what it gets.
struct BackgroundAttach::Job {
    std::mutex mutex;
    enum State { Running, Done, Abandoned } state = Running;
    BackgroundAttach *owner = nullptr; // only for the queued call, posted under the mutex
    DataAccess db;
    QString path;
    bool create = false;
    std::atomic<pid_t> tid{0}; // the attach thread's, to cut the line it may hang on
    std::atomic<bool> ended{false};
};

// A server that went silent after its first reply would hold a given-up attach for ever:
// the line it waits on is cut, again for a while, as the thread may not be waiting yet.
void BackgroundAttach::cutWhileItWaits(std::shared_ptr<Job> job)
{
    startCounted("attach-cut", [job] {
        const QByteArray path = job->path.toUtf8();
        for (int i = 0; i < 50 && !job->ended.load(); ++i) {
            isc::CutLineThreadWaitsOn(job->tid.load(), path);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
}

int BackgroundAttach::ThreadsAtWork()
{
    return threadsAtWork.load();
}

int BackgroundAttach::GivenUpAtWork()
{
    GivenUp &g = GivenUp::Instance();
    std::lock_guard lock(g.mutex);
    return g.total;
}

BackgroundAttach::BackgroundAttach(QObject *parent) : QObject(parent), deadline_(this)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &BackgroundAttach::giveUp);
}

BackgroundAttach::~BackgroundAttach()
{
    Cancel();
}

void BackgroundAttach::closeElsewhere(std::shared_ptr<Job> job)
{
    if (!job->db.IsConnected())
        return;
    startCounted("detach", [job] { job->db.DisconnectDatabase(); });
}

void BackgroundAttach::Cancel()
{
    deadline_.stop();
    if (!current_)
        return;
    const std::shared_ptr<Job> job = std::move(current_);
    std::unique_lock lock(job->mutex);
    const Job::State was = job->state;
    job->state = Job::Abandoned;
    lock.unlock();
    if (was == Job::Running) {
        GivenUp::Instance().add(job->path, 1); // its thread closes what it gets
        cutWhileItWaits(job);
    } else if (was == Job::Done)
        closeElsewhere(job); // the answer is queued here and will be dropped
}

void BackgroundAttach::Start(const QString &path, bool create)
{
    Cancel();
    if (GivenUp::Instance().of(path) >= MostGivenUpPerPath) {
        // Queued, as any outcome: the caller is not re-entered from Start.
        QMetaObject::invokeMethod(this, [this, path] { reportLost(path); }, Qt::QueuedConnection);
        current_ = std::make_shared<Job>();
        current_->state = Job::Done;
        current_->path = path;
        return;
    }
    auto job = std::make_shared<Job>();
    job->path = path;
    job->create = create;
    job->owner = this;
    current_ = job;
    deadline_.start(DeadlineMs.load());
    startCounted("attach", [job] {
        job->tid.store(isc::CurrentThreadId());
        if (job->create)
            job->db.CreateDatabase(job->path);
        else
            job->db.ConnectDatabase(job->path);
        std::unique_lock lock(job->mutex);
        if (job->state == Job::Abandoned) {
            lock.unlock();
            job->db.DisconnectDatabase();
            job->ended.store(true);
            GivenUp::Instance().add(job->path, -1);
            return;
        }
        job->ended.store(true);
        job->state = Job::Done;
        // Under the mutex: Cancel, which the owner's destructor runs, waits for it, and
        // Qt drops the call if the owner is gone before it runs.
        BackgroundAttach *owner = job->owner;
        QMetaObject::invokeMethod(owner, [owner, job] { owner->deliver(job); }, Qt::QueuedConnection);
    });
}

void BackgroundAttach::reportLost(const QString &path)
{
    if (!current_ || current_->owner)
        return; // started again meanwhile
    current_.reset();
    DataAccess lost;
    lost.GiveUpConnect(path);
    emit Finished(lost);
}

void BackgroundAttach::deliver(const std::shared_ptr<Job> &job)
{
    if (job != current_)
        return; // given up meanwhile: Cancel has closed it
    {
        std::lock_guard lock(job->mutex);
        if (job->state != Job::Done)
            return;
    }
    deadline_.stop();
    current_.reset();
    emit Finished(job->db);
    // Nobody took it (or the receiver is gone): not closed here, the server may be slow.
    closeElsewhere(job);
}

void BackgroundAttach::giveUp()
{
    if (!current_)
        return;
    const std::shared_ptr<Job> job = current_;
    std::unique_lock lock(job->mutex);
    const bool answered = job->state == Job::Done;
    lock.unlock();
    if (answered) {
        // The answer came just now and waits in the queue: take it.
        deliver(job);
        return;
    }
    const QString path = job->path;
    Cancel();
    DataAccess lost;
    lost.GiveUpConnect(path);
    emit Finished(lost);
}

bool BackgroundAttach::GotNoAnswer(const DataAccess &attached)
{
    // Not merely "not open", which a refused creation is too.
    return !attached.IsConnected() && attached.LastErrorWasNoAnswer();
}
