#include "core/presence/PresenceLine.h"

#include "core/connection/BackgroundAttach.h"
#include "core/presence/PresenceRead.h"
#include "db/DataAccess.h"
#include "db/Statements.h"

#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

std::atomic<int> PresenceLine::FallbackMs{30000};
std::atomic<int> PresenceLine::QuietFallbackMs{5000};

namespace {
int spread(int from, int width)
{
    return from + (width > 0 ? int(QRandomGenerator::global()->bounded(width + 1)) : 0);
}
} // namespace

PresenceLine::PresenceLine(const QString &path) : path_(path), db_(std::make_unique<DataAccess>())
{
    qRegisterMetaType<PresenceRoster>();
    // Made on the window thread and moved: the children are made on the line's thread.
    QMetaObject::invokeMethod(this, [this] {
        attach_ = new BackgroundAttach(this);
        connect(attach_, &BackgroundAttach::Finished, this, &PresenceLine::attachDone);
        work_ = new QTimer(this);
        work_->setSingleShot(true);
        connect(work_, &QTimer::timeout, this, &PresenceLine::work);
        clock_ = new QTimer(this);
        clock_->setSingleShot(true);
        connect(clock_, &QTimer::timeout, this, [this] {
            readDue_ = true;
            work();
        });
    }, Qt::QueuedConnection);
}

PresenceLine::~PresenceLine() = default;

void PresenceLine::show(qint64 imageNo, int member)
{
    Shown &s = shown_[imageNo];
    s.member = member;
    ++s.windows;
    soon(0);
}

void PresenceLine::hide(qint64 imageNo)
{
    auto it = shown_.find(imageNo);
    if (it == shown_.end())
        return;
    if (--it->second.windows <= 0)
        shown_.erase(it);
    soon(0);
}

void PresenceLine::changed()
{
    readDue_ = true;
    soon(spread(SettleMs, SpreadMs));
}

void PresenceLine::eventsWorking(bool working)
{
    if (working == eventsWorking_)
        return;
    eventsWorking_ = working;
    if (clock_ && clock_->isActive())
        startClock();
}

void PresenceLine::wantNames(const QList<int> &members)
{
    for (int m : members)
        if (m > 0 && !namesWanted_.contains(m))
            namesWanted_ << m;
    soon(0);
}

void PresenceLine::shutDown()
{
    stopped_ = true;
    if (attach_)
        attach_->Cancel();
    // The server forgets the variables with the attachment.
    db_->DropConnection();
    QThread::currentThread()->quit();
}

void PresenceLine::soon(int ms)
{
    if (stopped_ || !work_)
        return;
    // An earlier start stays: a change never waits longer for another.
    if (!work_->isActive() || work_->remainingTime() > ms)
        work_->start(ms);
}

void PresenceLine::startClock()
{
    const int ms = eventsWorking_ ? FallbackMs.load() : QuietFallbackMs.load();
    clock_->start(spread(ms - ms / 4, ms / 2));
}

void PresenceLine::work()
{
    if (stopped_ || attaching_)
        return;
    if (!db_->IsConnected()) {
        if (!shown_.empty())
            startConnect();
        return;
    }
    bool marked = false;
    if (!mark(marked))
        return;
    if (shown_.empty()) {
        // Nothing shown: the attachment goes; others heard of it by the events just posted.
        db_->DisconnectDatabase();
        marked_.clear();
        clock_->stop();
        readDue_ = false;
        emit Read(PresenceRoster());
        return;
    }
    if (marked) {
        // Our own event comes back meanwhile and folds into that read.
        soon(SettleMs);
        return;
    }
    if (readDue_) {
        readDue_ = false;
        PresenceRoster roster = ReadPresence(*db_);
        if (!db_->IsConnected() || db_->LastFailureWasConnectionLoss()) {
            lost();
            return;
        }
        for (auto it = roster.names.cbegin(); it != roster.names.cend(); ++it)
            names_.insert(it.key(), it.value());
        emit Read(roster);
        startClock();
    }
    if (!namesWanted_.isEmpty()) {
        QList<int> unknown;
        for (int m : std::as_const(namesWanted_))
            if (!names_.contains(m))
                unknown << m;
        namesWanted_.clear();
        const QHash<int, QString> got = ReadMemberNames(*db_, unknown);
        if (!db_->IsConnected() || db_->LastFailureWasConnectionLoss()) {
            lost();
            return;
        }
        for (int m : unknown)
            names_.insert(m, got.value(m)); // asked once: an unknown member stays unnamed
        emit NamesRead(names_);
    }
}

// Brings the attachment's variables to what the windows show; false when the line is lost.
bool PresenceLine::mark(bool &changed)
{
    QList<QPair<qint64, int>> changes;
    for (const auto &[imageNo, s] : shown_)
        if (auto it = marked_.find(imageNo); it == marked_.end() || it->second != s.member)
            changes.append({imageNo, s.member});
    for (const auto &[imageNo, member] : marked_)
        if (!shown_.count(imageNo))
            changes.append({imageNo, 0});
    if (changes.isEmpty())
        return true;
    const bool ok = db_->ExecuteSql(Statements::PresenceMark(changes));
    if (!ok && (!db_->IsConnected() || db_->LastFailureWasConnectionLoss())) {
        lost();
        return false;
    }
    // A refusal (an old server) is not tried again until the next change: others then
    // simply do not see this program, as one that sets nothing.
    marked_.clear();
    for (const auto &[imageNo, s] : shown_)
        marked_[imageNo] = s.member;
    readDue_ = true;
    changed = true;
    return true;
}

void PresenceLine::startConnect()
{
    if (attaching_ || stopped_)
        return;
    attaching_ = true;
    attach_->Start(path_);
}

void PresenceLine::attachDone(DataAccess &got)
{
    attaching_ = false;
    if (stopped_)
        return;
    if (!got.IsConnected()) {
        soon(ReconnectMs);
        return;
    }
    db_->AdoptAttachment(got);
    marked_.clear();
    readDue_ = true;
    work();
}

void PresenceLine::lost()
{
    db_->DropConnection();
    marked_.clear();
    clock_->stop();
    // Nothing is known while the line is away.
    emit Read(PresenceRoster());
    soon(ReconnectMs);
}
