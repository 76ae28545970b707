#include "core/painting/EventChannel.h"

#include "core/connection/BackgroundAttach.h"
#include "db/DataAccess.h"
#include "db/EventWatcher.h"

#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <pthread.h>
#include <thread>

std::atomic<int> EventChannel::AskDeadlineMs{5000};
std::atomic<int> EventChannel::FirstRetryMs{30000};
std::atomic<int> EventChannel::tries_{0};

// Where the library's thread posts a delivery: the channel while it lives.
struct EventChannelHome {
    std::mutex m;
    EventChannel *channel = nullptr;
};

namespace {
// Calls on events attachments that their channel let go (given up at the deadline, or
// closing a line nobody wants) and that are still inside the library, by database.
struct LetGo {
    std::mutex m;
    std::map<QString, int> byPath;
    int total = 0;
    static LetGo &Instance()
    {
        // Left alive at exit: a call thread may still count itself out after main.
        static LetGo *g = new LetGo;
        return *g;
    }
    void add(const QString &path, int n)
    {
        std::lock_guard lock(m);
        total += n;
        if ((byPath[path] += n) <= 0)
            byPath.erase(path);
    }
    int of(const QString &path)
    {
        std::lock_guard lock(m);
        auto it = byPath.find(path);
        return it == byPath.end() ? 0 : it->second;
    }
};

// While a let-go call is inside the library, the line is looked at again this often.
constexpr int StuckPollMs = 1000;
} // namespace

struct EventChannel::Line {
    DataAccess db;
    std::map<QString, std::unique_ptr<EventWatcher>> watchers;
    // Without a round trip: the server drops the waits with the attachment, and a wait
    // the library never ends costs nothing (the watchers keep no state it could reach).
    void drop()
    {
        db.DropConnection();
        watchers.clear();
    }
};

struct EventChannel::Call {
    std::mutex m;
    EventChannel *owner = nullptr; // cleared when given up; the queued answer goes to it
    bool answered = false;         // the answer is queued: the line is the channel's again
    std::shared_ptr<Line> line;
    QSet<QString> arm, drop;
    std::shared_ptr<EventChannelHome> home;
    QString path;
    int generation = 0; // of the line: posts from one given up are ignored
};

EventChannel::EventChannel(const QString &path, std::shared_ptr<std::atomic<int>> busy)
    : path_(path), busy_(std::move(busy)), home_(std::make_shared<EventChannelHome>())
{
    home_->channel = this;
    // Made on the side's thread and moved: children are made once on their own thread.
    QMetaObject::invokeMethod(this, [this] {
        attach_ = new BackgroundAttach(this);
        connect(attach_, &BackgroundAttach::Finished, this, &EventChannel::attachDone);
        retry_ = new QTimer(this);
        retry_->setSingleShot(true);
        connect(retry_, &QTimer::timeout, this, &EventChannel::tryNow);
        deadline_ = new QTimer(this);
        deadline_->setSingleShot(true);
        connect(deadline_, &QTimer::timeout, this, &EventChannel::giveUp);
        tryNow();
    }, Qt::QueuedConnection);
}

EventChannel::~EventChannel()
{
    std::lock_guard lock(home_->m);
    home_->channel = nullptr;
}

bool EventChannel::Disabled()
{
    return qEnvironmentVariableIntValue("OEKAKI_NO_EVENTS") == 1;
}

int EventChannel::StuckCalls()
{
    LetGo &g = LetGo::Instance();
    std::lock_guard lock(g.m);
    return g.total;
}

void EventChannel::watch(const QSet<QString> &tables)
{
    if (stopped_)
        return;
    const QSet<QString> gone = wanted_ - tables;
    due_ += tables - wanted_;
    due_ -= gone;
    wanted_ = tables;
    if (wanted_.isEmpty()) {
        // An attachment nothing uses any more goes: it would keep the database open.
        dropLine();
        setWorking(false);
        return;
    }
    if (line_)
        ask();
    else
        tryNow();
}

void EventChannel::reask()
{
    if (stopped_ || !line_ || call_)
        return; // no line: it is tried anyway; a request under way: its answer tells
    dropLine();
    setWorking(false);
    if (sinceReask_.isValid() && sinceReask_.elapsed() < SilentAgainMs) {
        failed(QStringLiteral("the events line went silent again"));
        return;
    }
    sinceReask_.start();
    std::fprintf(stderr, "oekaki: the events from %s went silent; asking again\n", qUtf8Printable(path_));
    tryNow();
}

void EventChannel::tryNow()
{
    if (stopped_ || wanted_.isEmpty() || line_ || attaching_ || !attach_)
        return;
    if (retry_->isActive())
        return; // the pause after a failure is not over
    if (LetGo::Instance().of(path_) > 0) {
        // A given-up request still waits inside the library: no second one behind it.
        retry_->start(StuckPollMs);
        return;
    }
    attaching_ = true;
    ++tries_;
    attach_->Start(path_);
}

void EventChannel::attachDone(DataAccess &got)
{
    if (!attaching_)
        return;
    attaching_ = false;
    if (!got.IsConnected()) {
        failed(QStringLiteral("attach: ") + got.LastErrorText());
        return;
    }
    line_ = std::make_shared<Line>();
    line_->db.AdoptAttachment(got);
    ++generation_;
    onLine_.clear();
    if (stopped_ || wanted_.isEmpty()) {
        dropLine();
        return;
    }
    due_ = wanted_;
    ask();
}

void EventChannel::ask()
{
    if (call_ || !line_ || stopped_)
        return;
    // Waits for tables no window shows any more go with the next request.
    QSet<QString> drop = onLine_ - wanted_;
    due_ &= wanted_;
    if (due_.isEmpty() && drop.isEmpty())
        return;
    auto call = std::make_shared<Call>();
    call->owner = this;
    call->line = line_;
    call->arm = std::move(due_);
    call->drop = std::move(drop);
    call->home = home_;
    call->path = path_;
    call->generation = generation_;
    due_.clear();
    call_ = call;
    deadline_->start(AskDeadlineMs.load());
    std::thread([call] {
        pthread_setname_np(pthread_self(), "events-ask");
        Line &line = *call->line;
        for (const QString &t : call->drop)
            line.watchers.erase(t);
        bool ok = true;
        QString why;
        for (const QString &t : call->arm) {
            auto &w = line.watchers[t];
            if (!w) {
                // The library's thread only posts to the channel, and only while it lives.
                w = std::make_unique<EventWatcher>(line.db, t.toLatin1(), [home = call->home, t, g = call->generation](bool posted, int posts) {
                    std::lock_guard lock(home->m);
                    if (EventChannel *c = home->channel)
                        QMetaObject::invokeMethod(c, [c, t, g, posted, posts] { c->posted(t, g, posted, posts); },
                                                  Qt::QueuedConnection);
                });
            }
            if (!w->Arm()) {
                ok = false;
                why = w->LastError();
                break;
            }
        }
        if (!ok)
            line.drop();
        std::unique_lock lock(call->m);
        if (!call->owner) {
            lock.unlock();
            line.drop();
            call->line.reset();
            LetGo::Instance().add(call->path, -1);
            return;
        }
        // Under the mutex: giving up takes it, and Qt drops the call once the owner is gone.
        call->answered = true;
        EventChannel *owner = call->owner;
        QMetaObject::invokeMethod(owner, [owner, call, ok, why] { owner->answered(call, ok, why); },
                                  Qt::QueuedConnection);
    }).detach();
}

void EventChannel::answered(const std::shared_ptr<Call> &call, bool ok, const QString &why)
{
    if (call != call_)
        return;
    deadline_->stop();
    call_.reset();
    if (!ok) {
        line_.reset(); // dropped by the call
        failed(why);
        return;
    }
    onLine_ += call->arm;
    onLine_ -= call->drop;
    failures_ = 0;
    setWorking(true);
    ask(); // what was posted or added meanwhile
}

// The call in flight is let go: its thread drops the line once the library lets go of it.
// False when its answer is already on its way here (the line is still ours).
bool EventChannel::letGoOfCall()
{
    std::lock_guard lock(call_->m);
    if (call_->answered)
        return false;
    call_->owner = nullptr;
    LetGo::Instance().add(path_, 1);
    call_.reset();
    return true;
}

void EventChannel::giveUp()
{
    if (!call_ || !letGoOfCall())
        return; // answered just now: the answer comes next
    line_.reset();
    failed(QStringLiteral("the server's events port gave no answer in %1 ms").arg(AskDeadlineMs.load()));
}

void EventChannel::failed(const QString &why)
{
    setWorking(false);
    due_.clear();
    if (stopped_)
        return;
    const int pause = int(std::min<qint64>(qint64(FirstRetryMs.load()) << std::min(failures_, 20), MaxRetryMs));
    ++failures_;
    std::fprintf(stderr, "oekaki: no events from %s: %s; asking again in %d s\n", qUtf8Printable(path_),
                 qUtf8Printable(why), pause / 1000);
    retry_->start(pause);
}

void EventChannel::setWorking(bool on)
{
    if (working_ == on)
        return;
    working_ = on;
    ++*busy_;
    emit Working(on);
}

void EventChannel::dropLine()
{
    deadline_->stop();
    if (call_ && letGoOfCall()) {
        line_.reset();
        return;
    }
    call_.reset(); // its answer, queued, is ignored
    if (!line_)
        return;
    std::shared_ptr<Line> line = std::move(line_);
    LetGo::Instance().add(path_, 1);
    std::thread([line, path = path_]() mutable {
        pthread_setname_np(pthread_self(), "events-drop");
        line->drop();
        line.reset();
        LetGo::Instance().add(path, -1);
    }).detach();
}

void EventChannel::posted(const QString &table, int generation, bool ok, int posts)
{
    if (!line_ || generation != generation_ || !wanted_.contains(table))
        return; // from a line given up or a table no longer watched
    if (!ok) {
        // The library tells that the events line died: the attachment goes with it.
        dropLine();
        failed(QStringLiteral("the events line was lost"));
        return;
    }
    ++*busy_;
    emit EventCame(table, posts);
    due_ += table;
    ask();
}

void EventChannel::shutDown()
{
    stopped_ = true;
    if (attach_)
        attach_->Cancel();
    if (retry_)
        retry_->stop();
    dropLine();
    wanted_.clear();
    QThread::currentThread()->quit();
}
