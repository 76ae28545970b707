#include "live/LiveRun.h"

#include "db/DataAccess.h"
#include "db/Tables.h"
#include "measure/ProcessCpu.h"
#include "relay/DelayRelay.h"

#include <QElapsedTimer>
#include <algorithm>
#include <map>
#include <memory>

using measure::Percentile;

namespace live {

namespace {

// Each drawer's rows are what it drew, in order; N runs 1.. without gaps.
QString check(const QString &direct, const QString &table, const std::map<int, std::vector<QPoint>> &drawn)
{
    DataAccess db;
    db.ConnectDatabase(direct);
    std::map<int, std::vector<QPoint>> got;
    qint64 n = 0;
    QString gap;
    db.ForEachRow(QStringLiteral("*"), table, QString(), QStringLiteral("N"), [&](const QStringList &r) {
        if (gap.isEmpty() && r[ImageTable::N].toLongLong() != ++n)
            gap = QStringLiteral("N is not gapless: %1 after %2").arg(r[ImageTable::N]).arg(n - 1);
        got[r[ImageTable::MN].toInt()].emplace_back(r[ImageTable::X].toInt(), r[ImageTable::Y].toInt());
    });
    db.EndQuery();
    if (!gap.isEmpty())
        return gap;
    if (got.size() != drawn.size())
        return QStringLiteral("%1 authors in the table for %2 drawers").arg(got.size()).arg(drawn.size());
    for (const auto &[user, points] : drawn)
        if (got[user] != points)
            return QStringLiteral("PC %1: %2 rows for %3 points drawn").arg(user).arg(got[user].size()).arg(points.size());
    return QString();
}

double ms(int64_t ns) { return double(ns) / 1e6; }

} // namespace

Figures RunMix(const QString &database, const QString &direct, DelayRelay &relay, int imageNo, const Mix &mix,
               Pacing pacing, int strokes, int points, int sliceMs)
{
    Figures out;
    if (mix.eventsDropped)
        qputenv("OEKAKI_NO_EVENTS", "1");
    std::vector<std::unique_ptr<PcThread>> pcs;
    const int band = std::max(20, 480 / std::max(1, mix.drawers));
    for (int i = 0; i < mix.people; ++i) {
        PcPlan plan;
        plan.database = database;
        plan.imageNo = imageNo;
        plan.user = i + 1;
        plan.draws = i < mix.drawers;
        plan.pacing = pacing;
        plan.strokes = strokes;
        plan.points = points;
        plan.top = (i % std::max(1, mix.drawers)) * band % 460;
        plan.bottom = plan.top + band;
        plan.sliceMs = sliceMs;
        pcs.push_back(std::make_unique<PcThread>(plan));
    }
    qunsetenv("OEKAKI_NO_EVENTS");
    for (auto &pc : pcs)
        if (!pc->Call([&](LivePc &p) { return p.Ready(!mix.eventsDropped, 60000); })) {
            out.problem = QStringLiteral("a PC did not open the picture (or hear its events) within 60 s");
            return out;
        }
    const int64_t trips0 = relay.roundTrips();
    const double cpu0 = measure::ServerCpuSeconds(), own0 = measure::OwnCpuSeconds();
    QElapsedTimer t;
    t.start();
    for (auto &pc : pcs)
        pc->Call([](LivePc &p) {
            p.Start();
            return true;
        });
    const int everyPoint = mix.drawers * strokes * points;
    const bool done = measure::RunUntil([&] {
        for (size_t i = 0; i < pcs.size(); ++i) {
            LivePc &p = pcs[i]->Pc();
            const int others = everyPoint - (int(i) < mix.drawers ? strokes * points : 0);
            if (!p.Finished() || p.Arrived() < others)
                return false;
        }
        return true;
    }, 600000);
    out.seconds = t.elapsed() / 1000.0;
    const double cpu1 = measure::ServerCpuSeconds(), own1 = measure::OwnCpuSeconds();
    out.serverCpu = cpu0 >= 0 && cpu1 >= 0 ? 100.0 * (cpu1 - cpu0) / out.seconds : -1;
    out.benchCpu = 100.0 * (own1 - own0) / out.seconds;
    out.tripsPerPc = double(relay.roundTrips() - trips0) / out.seconds / mix.people;
    out.relayLateMs = relay.meanLateMicroseconds() / 1000.0;
    if (!done)
        out.problem = QStringLiteral("not everything was stored and seen within 10 minutes");
    for (auto &pc : pcs)
        out.stallMs = std::max(out.stallMs, pc->Call([](LivePc &p) { return p.StallMs(); }));
    for (auto &pc : pcs)
        pc->Call([](LivePc &p) {
            p.Stop();
            return true;
        });

    // Every PC has stopped: what they noted is read here.
    std::map<int, std::vector<QPoint>> drawn;
    int blocks = 0;
    for (int d = 0; d < mix.drawers; ++d) {
        LivePc &drawer = pcs[size_t(d)]->Pc();
        drawn[d + 1] = drawer.drawn;
        blocks += drawer.blocks;
        for (size_t s = 0; s < drawer.ups.size() && s < drawer.stored.size(); ++s)
            out.upStoredMs.push_back(ms(drawer.stored[s] - drawer.ups[s]));
        for (size_t s = 0; s < drawer.strokeMoves.size(); ++s)
            for (size_t k = 0; k < drawer.strokeMoves[s].size(); ++k) {
                if (k < drawer.strokeHanded[s].size())
                    out.waitMs.push_back(ms(drawer.strokeHanded[s][k] - drawer.strokeMoves[s][k]));
                if (k < drawer.strokeBack[s].size() && k < drawer.strokeHanded[s].size())
                    out.commitMs.push_back(ms(drawer.strokeBack[s][k] - drawer.strokeHanded[s][k]));
            }
        std::vector<double> mine;
        for (size_t w = 0; w < pcs.size(); ++w) {
            if (int(w) == d)
                continue;
            for (const Arrival &a : pcs[w]->Pc().arrivals) {
                if (a.mn != d + 1 || size_t(a.dn) > drawer.strokeMoves.size())
                    continue;
                const auto &moves = drawer.strokeMoves[size_t(a.dn) - 1];
                if (a.index >= int(moves.size()))
                    continue;
                mine.push_back(ms(a.ns - moves[size_t(a.index)]));
                const auto &back = drawer.strokeBack[size_t(a.dn) - 1];
                if (a.index < int(back.size()))
                    out.otherMs.push_back(ms(a.ns - back[size_t(a.index)]));
                if (a.index + 1 == int(moves.size()) && size_t(a.dn) <= drawer.ups.size())
                    out.upDrawnMs.push_back(ms(a.ns - drawer.ups[size_t(a.dn) - 1]));
            }
        }
        out.worstDrawerPenP95 = std::max(out.worstDrawerPenP95, Percentile(mine, 0.95));
        out.penMs.insert(out.penMs.end(), mine.begin(), mine.end());
    }
    (void)blocks;
    int statements = 0;
    for (int d = 0; d < mix.drawers; ++d)
        statements += pcs[size_t(d)]->Pc().storeAnswers;
    out.blocksPerDrawer = mix.drawers > 0 ? double(statements) / out.seconds / mix.drawers : 0;
    if (out.problem.isEmpty())
        out.problem = check(direct, ImageTable::NameOf(imageNo), drawn);
    pcs.clear();
    return out;
}

} // namespace live
