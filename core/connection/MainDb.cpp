#include "core/connection/MainDb.h"

#include "core/connection/BackgroundAttach.h"
#include "db/DataAccess.h"

#include <QThread>
#include <chrono>
#include <deque>
#include <mutex>

// Whether the connection is open, for the window thread. The window's own Adopt, Disconnect
// and Drop count at once; main-db's later findings only while no newer one of those waits.
struct MainDbState {
    std::mutex mutex;
    bool connected = false;
    quint64 ordered = 0; // window commands asked
    quint64 applied = 0; // of those, done on main-db

    void order(bool connectedNow)
    {
        std::lock_guard lock(mutex);
        connected = connectedNow;
        ++ordered;
    }
    void applied1()
    {
        std::lock_guard lock(mutex);
        ++applied;
    }
    void found(bool connectedNow)
    {
        std::lock_guard lock(mutex);
        if (applied == ordered)
            connected = connectedNow;
    }
};

namespace {

// Carries one answer: made on the asking thread and connected there to the context while
// it surely lives, then moved to main-db, which emits and deletes it.
class Answer : public QObject {
    Q_OBJECT
public:
signals:
    void Answered(bool lost);
};

} // namespace

// Lives on main-db; owns the connection.
class MainDbWorker : public QObject {
    Q_OBJECT
public:
    struct Job {
        bool readsOnly = true;
        std::function<void(DataAccess &)> run;
        std::function<bool(DataAccess &)> reread;
        Answer *answer = nullptr;
    };

    MainDbWorker(std::shared_ptr<MainDbState> state, std::shared_ptr<std::atomic<int>> pending)
        : state_(std::move(state)), pending_(std::move(pending)), attach_(new BackgroundAttach(this))
    {
        connect(attach_, &BackgroundAttach::Finished, this, &MainDbWorker::rebuilt);
        db.onConnectionLost = [this] { lostSeen_ = true; };
        db.onTableNames = [this](const QStringList &names) { emit TableNames(names); };
    }

    void Take(Job job)
    {
        queue_.push_back(std::move(job));
        runQueue();
    }

    void Adopt(const std::shared_ptr<DataAccess> &attached)
    {
        db.AdoptAttachment(*attached);
        if (connectionReplaced())
            resumeHeld();
        runQueue();
    }

    void Disconnect(bool drop)
    {
        if (drop)
            db.DropConnection();
        else
            db.DisconnectDatabase();
        if (connectionReplaced()) {
            checking_ = false;
            answer(held_, true);
        }
        runQueue();
    }

    DataAccess db;

signals:
    void ConnectionLost();
    void TableNames(const QStringList &names);

private:
    void noteState() { state_->found(db.IsConnected()); }
    // The window thread replaced the connection: a rebuild of our own under way is given
    // up. True when one was, so that the command it held goes on.
    bool connectionReplaced()
    {
        state_->applied1();
        noteState();
        --*pending_;
        if (!rebuilding_)
            return false;
        attach_->Cancel();
        rebuilding_ = false;
        return true;
    }

    void answer(Job &job, bool lost)
    {
        emit job.answer->Answered(lost);
        delete job.answer;
        job.answer = nullptr;
        --*pending_;
    }

    void runQueue()
    {
        while (!rebuilding_ && !queue_.empty()) {
            Job job = std::move(queue_.front());
            queue_.pop_front();
            runOne(job, false);
        }
    }

    void runOne(Job &job, bool again)
    {
        if (!db.IsConnected()) {
            answer(job, true);
            return;
        }
        lostSeen_ = false;
        const auto start = std::chrono::steady_clock::now();
        job.run(db);
        if (!lostSeen_ && db.IsConnected()) {
            answer(job, false);
            return;
        }
        // A line that dropped while idle (the server restarted or ended the attachment)
        // fails within milliseconds; a silent one only at the reply deadline.
        const bool atOnce = std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
        const QString path = db.DatabasePath();
        const bool mayBeStored = !job.readsOnly && job.reread && db.LastFailureMayBeStored();
        db.DropConnection();
        noteState();
        if (((atOnce && job.readsOnly) || mayBeStored) && !again && !path.isEmpty()) {
            held_ = std::move(job);
            heldPath_ = path;
            checking_ = mayBeStored;
            rebuilding_ = true;
            attach_->Start(path);
            return;
        }
        answer(job, true);
        emit ConnectionLost();
    }

    // On a fresh connection: a read runs again, a change that may be stored is looked for.
    void resumeHeld()
    {
        if (checking_) {
            checking_ = false;
            // Another database came meanwhile: the change cannot be looked for there.
            if (db.DatabasePath() != heldPath_)
                answer(held_, true);
            else
                recheck(held_);
        } else {
            runOne(held_, true);
        }
    }

    void recheck(Job &job)
    {
        if (!db.IsConnected()) {
            answer(job, true);
            emit ConnectionLost();
            return;
        }
        lostSeen_ = false;
        const bool landed = job.reread(db);
        if (lostSeen_ || !db.IsConnected()) {
            db.DropConnection();
            noteState();
            answer(job, true);
            emit ConnectionLost();
            return;
        }
        // Not there as asked: the change is lost with the old connection; the new one is good.
        answer(job, !landed);
    }

    void rebuilt(DataAccess &attached)
    {
        if (!rebuilding_)
            return;
        rebuilding_ = false;
        if (attached.IsConnected()) {
            db.AdoptAttachment(attached);
            noteState();
            resumeHeld();
        } else {
            checking_ = false;
            answer(held_, true);
            emit ConnectionLost();
        }
        runQueue();
    }

    std::shared_ptr<MainDbState> state_;
    std::shared_ptr<std::atomic<int>> pending_;
    BackgroundAttach *attach_;
    std::deque<Job> queue_;
    Job held_;
    QString heldPath_;
    bool rebuilding_ = false;
    // The held job is a change that may be stored, to be looked for rather than run again.
    bool checking_ = false;
    bool lostSeen_ = false;
};

MainDb::MainDb(QObject *parent)
    : QObject(parent), state_(std::make_shared<MainDbState>()),
      pending_(std::make_shared<std::atomic<int>>(0))
{
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("main-db"));
    worker_ = new MainDbWorker(state_, pending_);
    worker_->moveToThread(thread_);
    connect(worker_, &MainDbWorker::ConnectionLost, this, &MainDb::ConnectionLost);
    connect(worker_, &MainDbWorker::TableNames, this, &MainDb::TableNames);
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
    thread_->start();
}

// The worker outlives every call below: it ends only after the last one, posted here.
MainDb::~MainDb()
{
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_] {
            w->db.DisconnectDatabase();
            w->thread()->quit();
        },
        Qt::QueuedConnection);
}

void MainDb::post(QObject *context, bool readsOnly, std::function<void(DataAccess &)> run,
                  std::function<bool(DataAccess &)> reread, std::function<void(DbReply)> deliver)
{
    auto *answer = new Answer;
    connect(answer, &Answer::Answered, context, [deliver = std::move(deliver)](bool lost) { deliver(DbReply{lost}); },
            Qt::QueuedConnection);
    answer->moveToThread(thread_);
    ++*pending_;
    MainDbWorker::Job job{readsOnly, std::move(run), std::move(reread), answer};
    QMetaObject::invokeMethod(worker_, [w = worker_, job = std::move(job)]() mutable { w->Take(std::move(job)); },
                              Qt::QueuedConnection);
}

bool MainDb::Adopt(DataAccess &from)
{
    if (!from.IsConnected())
        return false;
    auto attached = std::make_shared<DataAccess>();
    attached->AdoptAttachment(from);
    state_->order(attached->IsConnected());
    ++*pending_;
    QMetaObject::invokeMethod(worker_, [w = worker_, attached] { w->Adopt(attached); }, Qt::QueuedConnection);
    return true;
}

void MainDb::Disconnect()
{
    state_->order(false);
    ++*pending_;
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->Disconnect(false); }, Qt::QueuedConnection);
}

void MainDb::Drop()
{
    state_->order(false);
    ++*pending_;
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->Disconnect(true); }, Qt::QueuedConnection);
}

bool MainDb::IsConnected() const
{
    std::lock_guard lock(state_->mutex);
    return state_->connected;
}

DataAccess &MainDb::DbForTests()
{
    return worker_->db;
}

#include "MainDb.moc"
