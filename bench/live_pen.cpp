// The pen seen on another PC while the stroke goes on, measured side by side: strokes sent
// block by block as they are drawn (about every 100 ms, one block in flight) against whole
// strokes sent at mouse-up, as before.
// Each person is a PC of its own: a painting worker (its own threads and attachment) on the
// picture, driven as the painting window drives it (the window's send logic: a 100 ms timer,
// the next block once the last was taken, at once when that took longer). Every PC reaches the server through one delay relay,
// which counts the round trips.
//   - pen to other screen: from a point's mouse-move on person 1's PC to the same point
//     drawn on person 2's PC (its window's rows), every point of every stroke;
//   - mouse-up to drawn elsewhere: to the stroke's last row there;
//   - blocks (store statements) and round trips per second per person, and the server's
//     CPU (its process's user + system time) over the run;
//   - the longest stall of the thread that drives every PC (a 5 ms timer);
//   - the refresh: round trips and time of one refresh that finds nothing new, as it was
//     (a SELECT prepared, run and its transaction ended each time) and as it is now;
//   - every person's points once, in order, N gapless.
// usage: bench_live_pen [--quick] [--case <people> <round trip ms>]
#include "measure/BenchDatabase.h"
#include "measure/Measures.h"
#include "core/painting/PaintWorker.h"
#include "core/painting/StrokeStore.h"
#include "db/DataAccess.h"
#include "db/Tables.h"
#include "relay/DelayRelay.h"
#include "writer/LoadRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace measure;

namespace {

constexpr int kMoveMs = 10;   // between two mouse moves
constexpr int kSendMs = 100;  // as the painting window sends

// The server's process (user + system) time so far, in seconds; -1 when not found.
double serverCpuSeconds()
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "firebird")
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 13)
            return double(f[11].toLongLong() + f[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return -1;
}

// One person at a PC: strokes of random moves in the person's band, a pause between them,
// sent as the painting window sends them (live) or whole at mouse-up.
class Person : public QObject {
public:
    Person(const QString &database, int imageNo, int user, bool live, int strokes, int points, int top,
           int bottom)
        : user_(user), live_(live), strokes_(strokes), points_(points), top_(top), bottom_(bottom),
          rng_(quint32(user * 7919 + (live ? 1 : 0)))
    {
        session_ = worker.Open(database, imageNo);
        connect(&worker, &PaintWorker::Taken, this, [this](int id, quint64 tag) {
            if (id != session_ || tag != tag_)
                return;
            inFlight_ = false;
            if (drawing_ && sent_ < pen_.size() && NowNs() - lastSendNs_ >= int64_t(kSendMs) * 1000000)
                sendBlock(false);
        });
        connect(&worker, &PaintWorker::Stored, this, [this](int id, quint64) {
            if (id == session_)
                ++stored;
        });
        send_.setInterval(kSendMs);
        connect(&send_, &QTimer::timeout, this, [this] {
            if (drawing_ && !inFlight_ && sent_ < pen_.size())
                sendBlock(false);
        });
        move_.setTimerType(Qt::PreciseTimer);
        move_.setInterval(kMoveMs);
        connect(&move_, &QTimer::timeout, this, &Person::step);
    }
    void Start() { pauseUntil_ = NowNs() + int64_t(rng_.bounded(1000)) * 1000000, move_.start(); }
    bool Done() const { return int(strokeMoves.size()) == strokes_ && !drawing_; }
    bool AllStored() const { return stored == strokes_; }
    int Session() const { return session_; }

    PaintWorker worker;
    std::vector<std::vector<int64_t>> strokeMoves; // per stroke (DN - 1): each point's move time
    std::vector<int64_t> ups;
    std::vector<QPoint> drawn;
    int blocks = 0;
    int stored = 0;

private:
    void step()
    {
        const int64_t now = NowNs();
        if (!drawing_) {
            if (int(strokeMoves.size()) == strokes_ || now < pauseUntil_)
                return;
            drawing_ = true;
            x_ = int(rng_.bounded(10, 630));
            y_ = int(rng_.bounded(top_ + 6, bottom_ - 6));
            pen_ = {QPoint(x_, y_)};
            strokeMoves.push_back({now});
            sent_ = 0;
            tag_ = 0;
            inFlight_ = false;
            if (live_)
                send_.start();
            return;
        }
        for (;;) {
            const int nx = std::clamp(x_ + int(rng_.bounded(-3, 4)), 6, 633);
            const int ny = std::clamp(y_ + int(rng_.bounded(-3, 4)), top_ + 6, bottom_ - 7);
            if (nx == x_ && ny == y_)
                continue;
            x_ = nx;
            y_ = ny;
            break;
        }
        pen_.emplace_back(x_, y_);
        strokeMoves.back().push_back(now);
        if (int(pen_.size()) < points_)
            return;
        send_.stop();
        ups.push_back(NowNs());
        sendBlock(true);
        drawn.insert(drawn.end(), pen_.begin(), pen_.end());
        drawing_ = false;
        pauseUntil_ = now + int64_t(rng_.bounded(700, 1300)) * 1000000;
    }
    void sendBlock(bool last)
    {
        lastSendNs_ = NowNs();
        std::vector<QPoint> rest(pen_.begin() + long(sent_), pen_.end());
        sent_ = pen_.size();
        ++blocks;
        const PenTip pen{int(user_ % 6), 2, int(user_ * 0x102030 & 0xFFFFFF)};
        if (tag_ != 0) {
            inFlight_ = !last;
            worker.Extend(session_, tag_, std::move(rest), last);
        } else {
            tag_ = nextTag_++;
            inFlight_ = !last;
            if (last)
                worker.Store(session_, tag_, user_, pen, std::move(rest));
            else
                worker.Begin(session_, tag_, user_, pen, std::move(rest));
        }
    }

    int user_;
    bool live_;
    int strokes_, points_, top_, bottom_;
    QRandomGenerator rng_;
    int session_ = 0;
    QTimer send_, move_;
    bool drawing_ = false;
    int64_t pauseUntil_ = 0;
    int x_ = 0, y_ = 0;
    std::vector<QPoint> pen_;
    size_t sent_ = 0;
    quint64 tag_ = 0, nextTag_ = 1;
    bool inFlight_ = false;
    int64_t lastSendNs_ = 0;
};

// Person 1's points as person 2's PC draws them.
class Watch : public QObject {
public:
    Watch(Person &watched, Person &at) : watched_(watched), at_(at)
    {
        connect(&at.worker, &PaintWorker::Rows, this, [this](int id, const QVector<StrokeRow> &rows) {
            if (id != at_.Session())
                return;
            const int64_t now = NowNs();
            for (const StrokeRow &r : rows) {
                if (r.mn != 1 || r.dn < 1 || size_t(r.dn) > watched_.strokeMoves.size())
                    continue;
                const std::vector<int64_t> &moves = watched_.strokeMoves[size_t(r.dn) - 1];
                const int k = seen_[r.dn]++;
                if (k < int(moves.size()))
                    penMs.push_back(double(now - moves[size_t(k)]) / 1e6);
                if (k + 1 == int(moves.size()) && size_t(r.dn) <= watched_.ups.size())
                    upMs.push_back(double(now - watched_.ups[size_t(r.dn) - 1]) / 1e6);
            }
        });
    }
    std::vector<double> penMs, upMs;

private:
    Person &watched_;
    Person &at_;
    std::map<int, int> seen_;
};

// Each person's rows are what the person drew, in order; N runs 1.. without gaps.
QString check(DataAccess &db, const QString &table, const std::vector<std::unique_ptr<Person>> &people)
{
    std::map<int, std::vector<QPoint>> got;
    qint64 n = 0;
    QString gap;
    db.ForEachRow(QStringLiteral("*"), table, QString(), QStringLiteral("N"), [&](const QStringList &r) {
        if (gap.isEmpty() && r[ImageTable::N].toLongLong() != ++n)
            gap = QStringLiteral("N is not gapless: %1 after %2 (person %3, stroke %4)")
                      .arg(r[ImageTable::N])
                      .arg(n - 1)
                      .arg(r[ImageTable::MN])
                      .arg(r[ImageTable::DN]);
        got[r[ImageTable::MN].toInt()].emplace_back(r[ImageTable::X].toInt(), r[ImageTable::Y].toInt());
    });
    db.EndQuery();
    for (size_t i = 0; i < people.size() && !gap.isEmpty(); ++i)
        if (got[int(i) + 1] != people[i]->drawn)
            gap += QStringLiteral("; person %1: %2 rows for %3 points drawn")
                       .arg(i + 1)
                       .arg(got[int(i) + 1].size())
                       .arg(people[i]->drawn.size());
    if (!gap.isEmpty())
        return gap;
    for (size_t i = 0; i < people.size(); ++i)
        if (got[int(i) + 1] != people[i]->drawn)
            return QStringLiteral("person %1: %2 rows for %3 points drawn")
                .arg(i + 1)
                .arg(got[int(i) + 1].size())
                .arg(people[i]->drawn.size());
    return QString();
}

struct Run {
    std::vector<double> penMs, upMs;
    double blocksPerSecond = 0, tripsPerSecond = 0, serverCpu = 0, stallMs = 0;
    QString problem;
};

Run draw(const QString &database, const QString &direct, DelayRelay &relay, int imageNo, int people, bool live,
         int strokes, int points)
{
    Run out;
    const QString table = ImageTable::NameOf(imageNo);
    std::vector<std::unique_ptr<Person>> pcs;
    const int band = 640 / people;
    for (int i = 0; i < people; ++i)
        pcs.push_back(std::make_unique<Person>(database, imageNo, i + 1, live, strokes, points, i * band,
                                               (i + 1) * band));
    RunUntil([&] {
        for (auto &p : pcs)
            if (!p->worker.Listening(database))
                return false;
        return true;
    }, 10000);
    for (auto &p : pcs)
        p->worker.WaitIdle(30000);
    Watch watch(*pcs[0], *pcs[1]);
    Heartbeat heartbeat;
    const int64_t trips0 = relay.roundTrips();
    const double cpu0 = serverCpuSeconds();
    QElapsedTimer t;
    t.start();
    for (auto &p : pcs)
        p->Start();
    // The other PCs refresh every 5 s as a window does.
    QTimer refresh;
    refresh.setInterval(5000);
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        for (auto &p : pcs)
            p->worker.Refresh(p->Session());
    });
    refresh.start();
    const bool done = RunUntil([&] {
        for (auto &p : pcs)
            if (!p->Done() || !p->AllStored())
                return false;
        return true;
    }, 300000);
    const double seconds = t.elapsed() / 1000.0;
    out.stallMs = heartbeat.LongestMs();
    out.tripsPerSecond = double(relay.roundTrips() - trips0) / seconds / people;
    const double cpu1 = serverCpuSeconds();
    out.serverCpu = cpu0 >= 0 && cpu1 >= 0 ? 100.0 * (cpu1 - cpu0) / seconds : -1;
    int blocks = 0;
    for (auto &p : pcs)
        blocks += p->blocks;
    out.blocksPerSecond = double(blocks) / seconds / people;
    RunUntil([&] { return watch.upMs.size() == size_t(strokes); }, 10000);
    out.penMs = watch.penMs;
    out.upMs = watch.upMs;
    if (!done)
        out.problem = QStringLiteral("not everything was stored within 5 minutes");
    DataAccess db;
    db.ConnectDatabase(direct);
    if (out.problem.isEmpty())
        out.problem = check(db, table, pcs);
    for (auto &p : pcs)
        p->worker.Stop();
    return out;
}

// One refresh that finds nothing new: its round trips and time, the old way and the new.
void refreshCost(const QString &database, DelayRelay &relay, const QString &table, int rtt)
{
    DataAccess db;
    db.ConnectDatabase(database);
    std::vector<double> oldTrips, newTrips, oldMs, newMs;
    const int rows = db.SelectAll(table, QString());
    db.EndQuery();
    for (int i = 0; i < 7; ++i) {
        int64_t before = relay.roundTrips();
        QElapsedTimer t;
        t.start();
        db.ForEachRow(QStringLiteral("*"), table, QStringLiteral("N>=%1").arg(rows), QStringLiteral("N"),
                      [](const QStringList &) {});
        db.EndQuery();
        oldMs.push_back(t.nsecsElapsed() / 1e6);
        oldTrips.push_back(double(relay.roundTrips() - before));
        before = relay.roundTrips();
        t.restart();
        db.ForEachRowFrom(table, rows, [](const QStringList &) {});
        if (i > 0) { // the first prepares it
            newMs.push_back(t.nsecsElapsed() / 1e6);
            newTrips.push_back(double(relay.roundTrips() - before));
        }
    }
    std::printf("  one refresh finding nothing new: before %.0f round trips, %.1f ms; now %.0f round trips, "
                "%.1f ms (statement kept prepared, read-only read-committed transaction kept open)\n",
                Percentile(oldTrips, 0.5), Percentile(oldMs, 0.5), Percentile(newTrips, 0.5), Percentile(newMs, 0.5));
    std::printf("TABLE|Refresh finding nothing, round trip %d ms|before %.0f round trips (%.0f ms); now %.0f "
                "(%.0f ms)|as few as Firebird allows\n",
                rtt, Percentile(oldTrips, 0.5), Percentile(oldMs, 0.5), Percentile(newTrips, 0.5),
                Percentile(newMs, 0.5));
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int strokes = quick ? 3 : 6;
    const int points = 150; // 1.5 s strokes
    const QString dir = MakeServerFolder();
    const QString file = dir + QStringLiteral("LIVE.FDB");
    const QString direct = QStringLiteral("localhost:") + file;
    DataAccess db;
    if (!CreateBenchDatabase(db, direct))
        return 1;
    db.DisconnectDatabase();
    std::printf("live pen%s: %d strokes of %d points per person, a move every %d ms, a pause of about 1 s; "
                "each person a PC of its own (painting worker, threads, attachment) through one delay relay; "
                "live = a block every %d ms while drawn, one in flight; whole = at mouse-up, as before\n",
                quick ? " (quick)" : "", strokes, points, kMoveMs, kSendMs);
    int imageNo = 0;
    bool ok = true;
    // --case K RTT: that one case only (live and whole).
    const int at = int(app.arguments().indexOf(QStringLiteral("--case")));
    const int onlyPeople = at > 0 ? app.arguments().value(at + 1).toInt() : 0;
    const int onlyRtt = at > 0 ? app.arguments().value(at + 2).toInt() : -1;
    for (const int rtt : {0, 2, 10}) {
        if (onlyRtt >= 0 && rtt != onlyRtt)
            continue;
        DelayRelay relay;
        if (!relay.start(rtt * 500)) {
            std::printf("cannot start the relay\n");
            return 1;
        }
        const QString database = QStringLiteral("localhost/%1:").arg(relay.port()) + file;
        std::printf("\nround trip %d ms\n", rtt);
        for (const int people : {2, 16}) {
            if (onlyPeople > 0 && people != onlyPeople)
                continue;
            Run runs[2];
            for (const bool live : {false, true}) {
                Run &r = runs[live ? 1 : 0];
                r = draw(database, direct, relay, ++imageNo, people, live, strokes, points);
                ok = ok && r.problem.isEmpty();
                std::printf("  %2d people, %s: pen to other screen median %6.0f ms, 95th %6.0f ms; mouse-up to "
                            "drawn elsewhere median %5.0f ms, 95th %5.0f ms; %.1f blocks/s and %.0f round trips/s "
                            "per person; server CPU %.0f %%; longest stall %.0f ms; every point once: %s\n",
                            people, live ? "live " : "whole", Percentile(r.penMs, 0.5), Percentile(r.penMs, 0.95),
                            Percentile(r.upMs, 0.5), Percentile(r.upMs, 0.95), r.blocksPerSecond,
                            r.tripsPerSecond, r.serverCpu, r.stallMs,
                            r.problem.isEmpty() ? "yes" : qPrintable(r.problem));
            }
            std::printf("TABLE|Pen to other screen, %d people, round trip %d ms|median %.0f, 95th %.0f ms (whole "
                        "strokes: %.0f, %.0f ms)|95th at most %d ms\n",
                        people, rtt, Percentile(runs[1].penMs, 0.5), Percentile(runs[1].penMs, 0.95),
                        Percentile(runs[0].penMs, 0.5), Percentile(runs[0].penMs, 0.95), people == 2 ? 150 : 300);
            if (people == 16)
                std::printf("TABLE|16 people drawing, round trip %d ms|%.1f blocks/s and %.0f round trips/s per "
                            "person, server CPU %.0f %%, longest stall %.0f ms (whole strokes: %.1f, %.0f, %.0f "
                            "%%, %.0f ms)|stall at most 50 ms\n",
                            rtt, runs[1].blocksPerSecond, runs[1].tripsPerSecond, runs[1].serverCpu,
                            runs[1].stallMs, runs[0].blocksPerSecond, runs[0].tripsPerSecond, runs[0].serverCpu,
                            runs[0].stallMs);
            if (people == 2)
                std::printf("TABLE|Mouse-up to drawn elsewhere, 2 people, round trip %d ms|median %.0f, 95th %.0f "
                            "ms (whole strokes: %.0f, %.0f ms)|at most 50 ms\n",
                            rtt, Percentile(runs[1].upMs, 0.5), Percentile(runs[1].upMs, 0.95),
                            Percentile(runs[0].upMs, 0.5), Percentile(runs[0].upMs, 0.95));
        }
        refreshCost(database, relay, ImageTable::NameOf(imageNo), rtt);
        relay.stop();
    }
    std::printf("\nevery point once, N gapless, in every run: %s\n", ok ? "yes" : "NO");
    QDir(dir).removeRecursively();
    return ok ? 0 : 1;
}
