#include "core/BackgroundAttach.h"

#include "db/DataAccess.h"

#include <QThread>
#include <atomic>
#include <thread>

struct BackgroundAttach::Job {
    DataAccess db;
    QString path;
    bool create = false;
    std::atomic<bool> abandoned{false};
};

static std::atomic<int> threadsAtWork{0};

namespace {
// Counts a thread's work while it lasts.
struct AtWork {
    AtWork() { ++threadsAtWork; }
    ~AtWork() { --threadsAtWork; }
};
} // namespace

bool BackgroundAttach::AnyThreadAtWork()
{
    return threadsAtWork.load() > 0;
}

BackgroundAttach::BackgroundAttach(QObject *parent) : QObject(parent) {}

BackgroundAttach::~BackgroundAttach()
{
    Cancel();
}

void BackgroundAttach::Cancel()
{
    if (current_)
        current_->abandoned.store(true);
    current_.reset();
}

void BackgroundAttach::detachElsewhere(std::shared_ptr<Job> job)
{
    if (!job->db.IsConnected())
        return;
    std::thread([job] {
        AtWork counted;
        job->db.DisconnectDatabase();
    }).detach();
}

void BackgroundAttach::Start(const QString &path, bool create)
{
    Cancel();
    auto job = std::make_shared<Job>();
    job->path = path;
    job->create = create;
    current_ = job;
    QThread *thread = QThread::create([job] {
        AtWork counted;
        if (job->create)
            job->db.CreateDatabase(job->path);
        else
            job->db.ConnectDatabase(job->path);
        if (job->abandoned.load())
            job->db.DisconnectDatabase();
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, job] {
        if (current_ != job) {
            detachElsewhere(job);
            return;
        }
        current_.reset();
        emit Finished(job->db);
        detachElsewhere(job);
    });
    thread->start();
}
