// What one drawer costs the server: its CPU (the server process's user + system time) per
// block of a held stroke (a prepared statement), by the block's points, beside a stroke
// stored whole (its statement's text compiled each time), on an empty picture and on a
// large one;
// and per refresh of a watching PC, finding nothing new and finding one block.
// Run with nothing else using the server (its CPU is the whole process's):
//   server-lock exclusive bench_block_cost [--quick]
#include "core/painting/StrokeStore.h"
#include "db/DataAccess.h"
#include "db/EventWatcher.h"
#include "db/Tables.h"
#include "measure/BenchDatabase.h"
#include "measure/Measures.h"
#include "measure/ProcessCpu.h"
#include "writer/LoadRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <atomic>
#include <cstdio>

using namespace measure;

namespace {

struct Cost {
    double cpuMs = 0;  // server CPU per operation
    double wallMs = 0; // per operation, as the client waited
};

// `run` done `times` times: the server's CPU and the client's wait per time.
template <class F> Cost costOf(int times, F &&run)
{
    const double cpu0 = ServerCpuSeconds();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < times; ++i)
        run(i);
    Cost c;
    c.wallMs = double(t.nsecsElapsed()) / 1e6 / times;
    c.cpuMs = (ServerCpuSeconds() - cpu0) * 1000.0 / times;
    return c;
}

// Blocks of `points` points, as a held stroke's: one stroke, the rest appended and stored
// block by block in the kept transaction.
Cost blocks(DataAccess &db, const QString &table, int points, int times)
{
    QImage canvas(640, 480, QImage::Format_RGB32);
    StrokeStore store(db, canvas);
    store.SetTable(table);
    store.Load(false);
    store.Add({1, 7, {1, 2, 0xFF}, {}, nullptr, true});
    int x = 0;
    auto some = [&] {
        std::vector<QPoint> p;
        for (int i = 0; i < points; ++i, ++x)
            p.emplace_back(x % 640, (x / 640) % 480);
        return p;
    };
    store.Extend(1, some(), false);
    store.StorePending(); // the transaction and the first block: not counted
    if (store.LastFailure() != StrokeStore::Failure::None)
        std::printf("the block was refused: %s\n", qPrintable(store.LastFailureText()));
    const Cost c = costOf(times, [&](int) {
        store.Extend(1, some(), false);
        store.StorePending();
    });
    store.Extend(1, {}, true);
    store.StorePending();
    db.EndRowRun();
    return c;
}

// Strokes of `points` points stored whole, each as its statement's text (as a stroke drawn
// and released before its first block goes): the server compiles each.
Cost wholeStrokes(DataAccess &db, const QString &table, int points, int times)
{
    QImage canvas(640, 480, QImage::Format_RGB32);
    StrokeStore store(db, canvas);
    store.SetTable(table);
    store.Load(false);
    db.EndQuery();
    db.ReleasePrepared();
    std::vector<QPoint> p;
    for (int i = 0; i < points; ++i)
        p.emplace_back(i, i);
    return costOf(times, [&](int) { store.Store(9, {1, 2, 0xFF}, p); });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int times = quick ? 100 : 300;
    const int bigRows = quick ? 200000 : 1000000;
    const QString dir = MakeServerFolder();
    const QString path = QStringLiteral("localhost:") + dir + QStringLiteral("COST.FDB");
    DataAccess db;
    if (!CreateBenchDatabase(db, path))
        return 1;
    std::printf("block cost%s: the server's CPU per operation (its process time), and the client's wait, "
                "loopback; load average %s\n",
                quick ? " (quick)" : "", LoadAverage().constData());
    if (!FillBigPicture(db, bigRows, QStringLiteral("IMG_2"))) {
        std::printf("cannot fill the large picture\n");
        return 1;
    }
    db.CreateImageTable(QStringLiteral("IMG_1"));
    const struct {
        const char *name;
        QString table;
    } pictures[] = {{"empty picture", QStringLiteral("IMG_1")},
                    {"large picture", QStringLiteral("IMG_2")}};
    for (const auto &p : pictures) {
        const int rows = db.SelectAll(p.table, QString());
        db.EndQuery();
        std::printf("\n%s (%d rows at the start)\n", p.name, rows);
        Cost per[3], whole[3];
        const int sizes[3] = {1, 10, 60};
        for (int i = 0; i < 3; ++i) {
            per[i] = blocks(db, p.table, sizes[i], times);
            whole[i] = wholeStrokes(db, p.table, sizes[i], times);
            std::printf("  a block of %2d points: server CPU %.3f ms, client wait %.2f ms (its text compiled each time, "
                        "as a stroke stored whole: %.3f ms, %.2f ms)\n",
                        sizes[i], per[i].cpuMs, per[i].wallMs, whole[i].cpuMs, whole[i].wallMs);
        }
        // CPU = a + b * points, from the blocks of 1 and of 60.
        const double perPoint = (per[2].cpuMs - per[0].cpuMs) / (sizes[2] - sizes[0]);
        const double perBlock = per[0].cpuMs - perPoint;
        std::printf("  so: %.3f ms a block and %.4f ms a point\n", perBlock, perPoint);
        std::printf("TABLE|Server CPU of a held stroke's block, %s|%.2f ms a block + %.3f ms a point (1: %.2f, 10: "
                    "%.2f, 60: %.2f ms; compiled each time: %.2f, %.2f, %.2f ms)|flat as the table grows\n",
                    p.name, perBlock, perPoint, per[0].cpuMs, per[1].cpuMs, per[2].cpuMs, whole[0].cpuMs,
                    whole[1].cpuMs, whole[2].cpuMs);
        // A watching PC's refresh: nothing new, then one block of 10 points each time.
        StrokeStore watcher(db, [](const StrokeRow &) {}, [] {});
        watcher.SetTable(p.table);
        watcher.Load(false);
        db.EndQuery();
        const Cost idle = costOf(times, [&](int) {
            watcher.Refresh();
            db.EndQuery();
        });
        DataAccess writerDb;
        writerDb.ConnectDatabase(path);
        QImage canvas(640, 480, QImage::Format_RGB32);
        StrokeStore writer(writerDb, canvas);
        writer.SetTable(p.table);
        writer.Load(false);
        writerDb.EndQuery();
        std::vector<QPoint> ten;
        for (int i = 0; i < 10; ++i)
            ten.emplace_back(i, i);
        // A stroke of 10 points stored alone, then with a refresh that finds it: the difference.
        const Cost alone = costOf(times, [&](int) { writer.Store(8, {1, 2, 0xFF00}, ten); });
        const Cost withRefresh = costOf(times, [&](int) {
            writer.Store(8, {1, 2, 0xFF00}, ten);
            watcher.Refresh();
            db.EndQuery();
        });
        const double freshCpu = withRefresh.cpuMs - alone.cpuMs;
        // The same with the watcher told by the picture's event, asking for the next one each
        // time: what the event's delivery and the request for the next add.
        DataAccess eventsDb;
        eventsDb.ConnectDatabase(path);
        std::atomic<int> delivered{0};
        EventWatcher event(eventsDb, p.table.toLatin1(), [&](bool, int) { ++delivered; });
        event.Arm();
        RunUntil([&] { return delivered.load() > 0; }, 5000); // the first wait is answered at once
        const Cost withEvent = costOf(times, [&](int) {
            const int before = delivered.load();
            writer.Store(8, {1, 2, 0xFF00}, ten);
            RunUntil([&] { return delivered.load() > before; }, 5000);
            event.Arm();
            watcher.Refresh();
            db.EndQuery();
        });
        const double eventCpu = withEvent.cpuMs - withRefresh.cpuMs;
        std::printf("  the event's delivery and the request for the next: server CPU %.3f ms\n", eventCpu);
        std::printf("TABLE|Server CPU of an event at a watching PC, %s|%.3f ms (its delivery and the request for "
                    "the next)|\n",
                    p.name, eventCpu);
        std::printf("  a refresh finding nothing: server CPU %.3f ms, client wait %.2f ms; finding a block of 10 "
                    "points: %.3f ms\n",
                    idle.cpuMs, idle.wallMs, freshCpu);
        std::printf("TABLE|Server CPU of a watching PC's refresh, %s|%.3f ms finding nothing, %.3f ms finding 10 "
                    "rows|flat as the table grows\n",
                    p.name, idle.cpuMs, freshCpu);
    }
    db.DisconnectDatabase();
    QDir(dir).removeRecursively();
    return 0;
}
