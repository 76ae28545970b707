// The pen seen on other PCs while the stroke goes on, with today's pacing and the old side by
// side in one run, from 2 to 64 PCs on one picture.
// Each PC is a painting worker of its own (its journal, database and events threads and
// its attachments) on a thread of its own that stands for its window thread, driven as the
// painting window drives it; every PC reaches the server through one delay relay, which
// counts the round trips. Some PCs draw (strokes of 150 points, a move every 10 ms, a pause
// of about 1 s), the others watch. Pacing: "line", slices every PaintWorker::SliceMs
// whatever is in flight, the database thread sending as the line allows; "clock", as before:
// a block every 100 ms, the next once the last was taken.
//   - pen to other screen: from a point's mouse-move on a drawing PC to the same point among
//     another PC's rows, every point at every other PC; and the drawer worst off;
//   - its steps: the point waits for its hand-over; handed to committed and back at the
//     drawer; back to drawn at another PC (the event and that PC's refresh);
//   - mouse-up to stored at the drawer, and to drawn elsewhere;
//   - the longest stall of any PC's window thread (a 5 ms timer each);
//   - the server's CPU (its process's user + system time over the run, % of one core), this
//     process's, store statements per second per drawer, round trips per second per PC;
//   - every drawer's points once, in order, N gapless;
//   - the refresh that finds nothing new, as it was and as it is.
// usage: bench_live_pen [--quick] [--case <people> <round trip ms>] [--pacing line|clock]
//                       [--slice <ms>] [--floor <ms>] [--mix <people> <drawing> <round trip ms> [dropped]]
#include "live/LiveRun.h"
#include "core/painting/PaintDatabaseSide.h"
#include "measure/BenchDatabase.h"
#include "measure/Measures.h"
#include "db/DataAccess.h"
#include "db/Tables.h"
#include "relay/DelayRelay.h"
#include "writer/LoadRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

using namespace measure;
using namespace live;

namespace {

struct Case {
    int rtt;
    Mix mix;
};

QString mixName(const Mix &m)
{
    if (m.eventsDropped)
        return QStringLiteral("%1 PCs, events dropped, %2 drawing").arg(m.people).arg(m.drawers);
    if (m.drawers == m.people)
        return QStringLiteral("%1 PCs, all drawing").arg(m.people);
    return QStringLiteral("%1 PCs, %2 drawing, %3 watching").arg(m.people).arg(m.drawers).arg(m.people - m.drawers);
}

void print(const Case &c, Pacing pacing, const Figures &f)
{
    std::printf("  %-36s %s: pen to other screen %4.0f / %4.0f ms (worst drawer's 95th %4.0f); steps %3.0f + %3.0f + "
                "%3.0f ms (95th %3.0f + %3.0f + %3.0f); mouse-up to stored %4.0f / %4.0f, to drawn elsewhere %4.0f / "
                "%4.0f ms; stall %3.0f ms; server CPU %3.0f %%, bench %3.0f %%; %4.1f stores/s a drawer, %4.0f round "
                "trips/s a PC (relay late %.2f ms); every point once: %s\n",
                qPrintable(mixName(c.mix)), pacing == Pacing::Line ? "line " : "clock", Percentile(f.penMs, 0.5),
                Percentile(f.penMs, 0.95), f.worstDrawerPenP95, Percentile(f.waitMs, 0.5), Percentile(f.commitMs, 0.5),
                Percentile(f.otherMs, 0.5), Percentile(f.waitMs, 0.95), Percentile(f.commitMs, 0.95),
                Percentile(f.otherMs, 0.95), Percentile(f.upStoredMs, 0.5), Percentile(f.upStoredMs, 0.95),
                Percentile(f.upDrawnMs, 0.5), Percentile(f.upDrawnMs, 0.95), f.stallMs, f.serverCpu, f.benchCpu,
                f.blocksPerDrawer, f.tripsPerPc, f.relayLateMs, f.problem.isEmpty() ? "yes" : qPrintable(f.problem));
}

void table(const Case &c, const Figures *line, const Figures *clock)
{
    auto pair = [&](const std::vector<double> Figures::*v) {
        QString s;
        if (line)
            s += QStringLiteral("%1 / %2 ms").arg(Percentile(line->*v, 0.5), 0, 'f', 0).arg(Percentile(line->*v, 0.95), 0, 'f', 0);
        if (clock)
            s += QStringLiteral(" (clock pacing: %1 / %2)").arg(Percentile(clock->*v, 0.5), 0, 'f', 0).arg(Percentile(clock->*v, 0.95), 0, 'f', 0);
        return s;
    };
    const Figures &f = line ? *line : *clock;
    std::printf("TABLE|Pen to other screen, %s, round trip %d ms|%s|95th at most %d ms\n", qPrintable(mixName(c.mix)), c.rtt,
                qPrintable(pair(&Figures::penMs)), c.mix.people <= 2 ? 60 : c.mix.people <= 16 ? 100 : 150);
    std::printf("TABLE|Server CPU and longest stall, %s, round trip %d ms|%.0f %% of one core, stall %.0f ms%s|CPU at "
                "most %d %%, stall at most 50 ms\n",
                qPrintable(mixName(c.mix)), c.rtt, f.serverCpu, f.stallMs,
                line && clock ? qPrintable(QStringLiteral(" (clock pacing: %1 %, %2 ms)").arg(clock->serverCpu, 0, 'f', 0).arg(clock->stallMs, 0, 'f', 0)) : "",
                c.mix.eventsDropped ? 25 : 50);
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
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const int strokes = quick ? 3 : 6;
    const int points = 150; // 1.5 s strokes
    auto after = [&](const char *flag, int i) { return args.value(int(args.indexOf(QLatin1String(flag))) + i); };
    const QString pacingArg = args.contains(QStringLiteral("--pacing")) ? after("--pacing", 1) : QString();
    const int sliceMs = args.contains(QStringLiteral("--slice")) ? after("--slice", 1).toInt() : PaintWorker::SliceMs;
    if (args.contains(QStringLiteral("--floor")))
        PaintDatabaseSide::BlockFloorMs = after("--floor", 1).toInt();

    std::vector<Case> cases;
    for (const int rtt : {0, 2, 10})
        for (const int people : {2, 16})
            cases.push_back({rtt, {people, people, false}});
    for (const Mix &m : {Mix{32, 8, false}, Mix{32, 32, false}, Mix{32, 1, true}, Mix{64, 16, false},
                         Mix{64, 64, false}, Mix{64, 1, true}})
        cases.push_back({10, m});
    if (args.contains(QStringLiteral("--case"))) {
        const int people = after("--case", 1).toInt(), rtt = after("--case", 2).toInt();
        std::erase_if(cases, [&](const Case &c) { return c.mix.people != people || c.rtt != rtt; });
    }
    if (args.contains(QStringLiteral("--mix")))
        cases = {{after("--mix", 3).toInt(),
                  {after("--mix", 1).toInt(), after("--mix", 2).toInt(), after("--mix", 4) == QLatin1String("dropped")}}};

    const QString dir = MakeServerFolder();
    const QString file = dir + QStringLiteral("LIVE.FDB");
    const QString direct = QStringLiteral("localhost:") + file;
    {
        DataAccess db;
        if (!CreateBenchDatabase(db, direct))
            return 1;
    }
    std::printf("live pen%s: %d strokes of %d points a drawing PC, a move every %d ms, a pause of about 1 s; each PC "
                "a painting worker of its own on a thread of its own, all through one delay relay; line = slices "
                "every %d ms, blocks as the line allows, at least %d ms apart; clock = a block every %d ms, one in flight (as before); "
                "figures median / 95th percentile\n",
                quick ? " (quick)" : "", strokes, points, LivePc::MoveMs, sliceMs, PaintDatabaseSide::BlockFloorMs.load(),
                LivePc::ClockMs);
    int imageNo = 0;
    bool ok = true;
    int lastRtt = -1;
    std::unique_ptr<DelayRelay> relay;
    QString database;
    for (const Case &c : cases) {
        if (c.rtt != lastRtt) {
            if (relay)
                refreshCost(database, *relay, ImageTable::NameOf(imageNo), lastRtt);
            relay = std::make_unique<DelayRelay>();
            if (!relay->start(c.rtt * 500)) {
                std::printf("cannot start the relay\n");
                return 1;
            }
            database = QStringLiteral("localhost/%1:").arg(relay->port()) + file;
            lastRtt = c.rtt;
            std::printf("\nround trip %d ms (load average %s)\n", c.rtt, qPrintable(LoadAverage()));
        }
        Figures runs[2];
        bool ran[2] = {false, false};
        for (const Pacing pacing : {Pacing::Clock, Pacing::Line}) {
            const int i = pacing == Pacing::Line ? 1 : 0;
            if (!pacingArg.isEmpty() && pacingArg != QLatin1String(i ? "line" : "clock"))
                continue;
            runs[i] = RunMix(database, direct, *relay, ++imageNo, c.mix, pacing, strokes, points, sliceMs);
            ran[i] = true;
            ok = ok && runs[i].problem.isEmpty();
            print(c, pacing, runs[i]);
        }
        table(c, ran[1] ? &runs[1] : nullptr, ran[0] ? &runs[0] : nullptr);
    }
    if (relay)
        refreshCost(database, *relay, ImageTable::NameOf(imageNo), lastRtt);
    std::printf("\nevery point once, N gapless, in every run: %s (load average %s)\n", ok ? "yes" : "NO",
                qPrintable(LoadAverage()));
    QDir(dir).removeRecursively();
    return ok ? 0 : 1;
}
