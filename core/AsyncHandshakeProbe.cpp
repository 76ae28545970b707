#include "core/AsyncHandshakeProbe.h"

#include "db/BlockingServerCheck.h"

#include <QThread>
#include <atomic>

struct AsyncHandshakeProbe::Job {
    QByteArray path;
    int timeoutMs = 0;
    std::atomic<bool> answered{false};
};

AsyncHandshakeProbe::AsyncHandshakeProbe(QObject *parent) : QObject(parent) {}

AsyncHandshakeProbe::~AsyncHandshakeProbe() = default;

void AsyncHandshakeProbe::Cancel()
{
    current_.reset();
}

void AsyncHandshakeProbe::Start(const QByteArray &path, int timeoutMs)
{
    auto job = std::make_shared<Job>();
    job->path = path;
    job->timeoutMs = timeoutMs;
    current_ = job;
    QThread *thread = QThread::create([job] {
        job->answered.store(isc::HandshakeAnswersWithin(job->path, job->timeoutMs));
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, job] {
        if (current_ != job)
            return; // cancelled or started again meanwhile
        current_.reset();
        emit Finished(job->answered.load());
    });
    thread->start();
}
