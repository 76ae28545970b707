#include "core/connection/AsyncHandshakeProbe.h"

#include "db/BlockingServerCheck.h"

#include <mutex>
#include <pthread.h>
#include <thread>

struct AsyncHandshakeProbe::Job {
    std::mutex mutex;
    AsyncHandshakeProbe *owner = nullptr; // null once given up
    QByteArray path;
    int timeoutMs = 0;
};

AsyncHandshakeProbe::AsyncHandshakeProbe(QObject *parent) : QObject(parent), deadline_(this)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (current_)
            done(current_, false);
    });
}

AsyncHandshakeProbe::~AsyncHandshakeProbe()
{
    Cancel();
}

void AsyncHandshakeProbe::Cancel()
{
    deadline_.stop();
    if (!current_)
        return;
    std::lock_guard lock(current_->mutex);
    current_->owner = nullptr;
    current_.reset();
}

void AsyncHandshakeProbe::done(const std::shared_ptr<Job> &job, bool answered)
{
    if (job != current_)
        return; // cancelled or started again meanwhile
    Cancel();
    emit Finished(answered);
}

void AsyncHandshakeProbe::Start(const QByteArray &path, int timeoutMs)
{
    Cancel();
    auto job = std::make_shared<Job>();
    job->path = path;
    job->timeoutMs = timeoutMs;
    job->owner = this;
    current_ = job;
    // The thread keeps the same time; this is for a thread the system holds longer.
    deadline_.start(timeoutMs + 250);
    std::thread([job] {
        pthread_setname_np(pthread_self(), "handshake");
        const bool answered = isc::HandshakeAnswersWithin(job->path, job->timeoutMs);
        std::lock_guard lock(job->mutex);
        if (AsyncHandshakeProbe *owner = job->owner)
            QMetaObject::invokeMethod(owner, [owner, job, answered] { owner->done(job, answered); },
                                      Qt::QueuedConnection);
    }).detach();
}
