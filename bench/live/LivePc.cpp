#include "live/LivePc.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

using measure::NowNs;

namespace live {

namespace {
constexpr int kSeenPerUser = 64; // strokes per PC a run may hold
} // namespace

LivePc::LivePc(const PcPlan &plan)
    : plan_(plan), rng_(quint32(plan.user * 7919 + (plan.pacing == Pacing::Line ? 1 : 0))),
      heartbeat_(std::make_unique<measure::Heartbeat>())
{
    seen_.assign(size_t(kSeenPerUser) * 130, 0);
    session_ = worker_.Open(plan.database, plan.imageNo);
    connect(&worker_, &PaintWorker::Rows, this, [this](int id, const QVector<StrokeRow> &rows) {
        if (id != session_)
            return;
        const int64_t now = NowNs();
        bool own = false;
        for (const StrokeRow &r : rows) {
            if (r.n <= 0 || r.dn < 1 || r.dn >= kSeenPerUser || r.mn < 1 || r.mn >= 130)
                continue;
            int &k = seen_[size_t(r.mn) * kSeenPerUser + size_t(r.dn)];
            if (r.own != 0) {
                own = true;
                if (size_t(r.dn) <= strokeBack.size())
                    strokeBack[size_t(r.dn) - 1].push_back(now);
                continue;
            }
            if (r.mn == plan_.user)
                continue;
            arrivals.push_back({r.mn, r.dn, k++, now});
            ++arrived_;
        }
        storeAnswers += own ? 1 : 0;
    });
    connect(&worker_, &PaintWorker::Taken, this, [this](int id, quint64 tag) {
        if (id != session_ || tag != tag_ || plan_.pacing != Pacing::Clock)
            return;
        inFlight_ = false;
        if (drawing_ && handed_ < pen_.size() && NowNs() - lastHandNs_ >= int64_t(ClockMs) * 1000000)
            hand(false);
    });
    connect(&worker_, &PaintWorker::Stored, this, [this](int id, quint64) {
        if (id != session_)
            return;
        stored.push_back(NowNs());
        checkFinished();
    });
    slice_.setInterval(plan.pacing == Pacing::Clock ? ClockMs : plan.sliceMs);
    connect(&slice_, &QTimer::timeout, this, [this] {
        if (drawing_ && handed_ < pen_.size() && (plan_.pacing == Pacing::Line || !inFlight_))
            hand(false);
    });
    move_.setTimerType(Qt::PreciseTimer);
    move_.setInterval(MoveMs);
    connect(&move_, &QTimer::timeout, this, &LivePc::step);
    // As a window's own refresh.
    refresh_.setInterval(5000);
    connect(&refresh_, &QTimer::timeout, this, [this] { worker_.Refresh(session_); });
}

LivePc::~LivePc() = default;

bool LivePc::Ready(bool events, int ms)
{
    if (!worker_.WaitIdle(ms))
        return false;
    if (!events)
        return true;
    return measure::RunUntil([this] { return worker_.Listening(plan_.database); }, ms);
}

void LivePc::Start()
{
    heartbeat_->Reset();
    refresh_.start();
    if (!plan_.draws) {
        finished_ = true;
        return;
    }
    pauseUntil_ = NowNs() + int64_t(rng_.bounded(1000)) * 1000000;
    move_.start();
}

void LivePc::checkFinished()
{
    if (int(stored.size()) == plan_.strokes && !drawing_ && int(ups.size()) == plan_.strokes) {
        move_.stop();
        finished_ = true;
    }
}

void LivePc::step()
{
    const int64_t now = NowNs();
    if (!drawing_) {
        if (int(strokeMoves.size()) == plan_.strokes || now < pauseUntil_)
            return;
        drawing_ = true;
        x_ = int(rng_.bounded(10, 630));
        y_ = int(rng_.bounded(plan_.top + 6, plan_.bottom - 6));
        pen_ = {QPoint(x_, y_)};
        strokeMoves.push_back({now});
        strokeHanded.emplace_back();
        strokeBack.emplace_back();
        handed_ = 0;
        tag_ = 0;
        inFlight_ = false;
        slice_.start();
        return;
    }
    for (;;) {
        const int nx = std::clamp(x_ + int(rng_.bounded(-3, 4)), 6, 633);
        const int ny = std::clamp(y_ + int(rng_.bounded(-3, 4)), plan_.top + 6, plan_.bottom - 7);
        if (nx == x_ && ny == y_)
            continue;
        x_ = nx;
        y_ = ny;
        break;
    }
    pen_.emplace_back(x_, y_);
    strokeMoves.back().push_back(now);
    if (int(pen_.size()) < plan_.points)
        return;
    slice_.stop();
    ups.push_back(NowNs());
    hand(true);
    drawn.insert(drawn.end(), pen_.begin(), pen_.end());
    drawing_ = false;
    pauseUntil_ = now + int64_t(rng_.bounded(700, 1300)) * 1000000;
    checkFinished();
}

void LivePc::hand(bool last)
{
    lastHandNs_ = NowNs();
    std::vector<QPoint> rest(pen_.begin() + long(handed_), pen_.end());
    strokeHanded.back().insert(strokeHanded.back().end(), rest.size(), lastHandNs_);
    handed_ = pen_.size();
    ++blocks;
    const PenTip pen{plan_.user % 6, 2, int(plan_.user * 0x102030 & 0xFFFFFF)};
    inFlight_ = !last;
    if (tag_ != 0) {
        worker_.Extend(session_, tag_, std::move(rest), last);
        return;
    }
    tag_ = nextTag_++;
    if (last)
        worker_.Store(session_, tag_, plan_.user, pen, std::move(rest));
    else
        worker_.Begin(session_, tag_, plan_.user, pen, std::move(rest));
}

PcThread::PcThread(const PcPlan &plan)
{
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("pc %1").arg(plan.user));
    anchor_ = std::make_unique<QObject>();
    anchor_->moveToThread(thread_);
    thread_->start();
    QMetaObject::invokeMethod(anchor_.get(), [this, plan] { pc_ = new LivePc(plan); },
                              Qt::BlockingQueuedConnection);
}

PcThread::~PcThread()
{
    QMetaObject::invokeMethod(anchor_.get(), [this] {
        pc_->Stop();
        delete pc_;
        QThread::currentThread()->quit();
    }, Qt::BlockingQueuedConnection);
    thread_->wait();
    anchor_.reset(); // its thread has ended
    delete thread_;
}

} // namespace live
