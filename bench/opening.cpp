// Opening a large picture through a slow line, as a painting window does: the painting
// worker replays the table and the rows are drawn on a bitmap as they arrive. Side by side
// in one run: the opening as it was (one attachment, no local copy), the first opening now
// (extra readers, the local copy written) and the second (from the local copy). Then what
// an opening costs the other windows of its database: a stroke in a small picture's window
// stored while the large one opens, against the same stroke with no opening; and a window
// closed mid-opening: how long until its opening's threads and attachments are gone.
//   bench_opening [--quick] [rows] [round trip ms]   (needs the local server on 127.0.0.1:3050)

#include "measure/BenchDatabase.h"
#include "measure/Measures.h"
#include "writer/LoadRun.h"
#include "relay/DelayRelay.h"
#include "core/painting/PaintOpening.h"
#include "core/painting/PaintWorker.h"
#include "core/picture/PictureCache.h"
#include "core/picture/RangeReaders.h"
#include "core/picture/Stamp.h"
#include "db/DataAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

using namespace measure;

namespace {

struct Outcome {
    double firstMs = -1;
    double doneMs = -1;
    long rows = 0;
    long peakKb = 0; // resident memory above the start
    qint64 roundTrips = 0;
    StrokeStore::Opening opening;
    QImage image;
};

Outcome Open(const QString &path, DelayRelay &relay, int width, int height)
{
    Outcome o;
    o.image = QImage(width, height, QImage::Format_RGB32);
    ClearCanvas(o.image, width, height);
    PaintWorker worker;
    const long rssBefore = StatusKb("VmRSS:");
    const qint64 tripsBefore = relay.roundTrips();
    QElapsedTimer since;
    bool done = false;
    int session = 0;
    long batches = 0;
    QObject::connect(&worker, &PaintWorker::Rows, [&](int id, const QVector<StrokeRow> &rows) {
        if (id != session)
            return;
        if (!qEnvironmentVariableIsSet("BENCH_NO_DRAW"))
            for (const StrokeRow &r : rows)
                DrawStamp(o.image, r.type, r.size, r.color, r.x, r.y);
        if (o.rows == 0)
            o.firstMs = since.nsecsElapsed() / 1e6;
        o.rows += rows.size();
        if (++batches % 16 == 0)
            o.peakKb = std::max(o.peakKb, StatusKb("VmRSS:") - rssBefore);
    });
    QObject::connect(&worker, &PaintWorker::Loading, [&](int id, int, bool finished) {
        if (id == session && finished && !done) {
            done = true;
            o.doneMs = since.nsecsElapsed() / 1e6;
        }
    });
    since.start();
    session = worker.Open(path, 1);
    QElapsedTimer limit;
    limit.start();
    while (!done && limit.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    o.peakKb = std::max(o.peakKb, StatusKb("VmRSS:") - rssBefore);
    o.roundTrips = relay.roundTrips() - tripsBefore;
    worker.WaitIdle(20000);
    if (StrokeStore *store = worker.StoreOf(session))
        o.opening = store->LastOpening();
    worker.Close(session);
    worker.WaitIdle(20000);
    worker.Stop();
    PictureCache::WaitForWrites(60000);
    return o;
}

// Attachments to the database other than the asking one's (through the server, no delay).
int Attachments(DataAccess &db)
{
    const int n = db.SelectAll(QStringLiteral("MON$ATTACHMENTS"), QStringLiteral("MON$ATTACHMENT_ID<>CURRENT_CONNECTION"));
    db.EndQuery();
    return n;
}

// Mouse-up to stored of 2-point strokes in picture 2's session, `during`: while picture 1
// opens in another session of the same worker (else with no opening). Milliseconds each.
std::vector<double> StrokesBeside(const QString &path, bool during, int strokes)
{
    PaintWorker worker;
    const int small = worker.Open(path, 2);
    worker.WaitIdle(60000);
    std::map<quint64, qint64> storedNs;
    QObject::connect(&worker, &PaintWorker::Stored, [&](int id, quint64 tag) {
        if (id == small)
            storedNs[tag] = NowNs();
    });
    int big = 0;
    bool opened = false;
    long rows = 0;
    if (during) {
        QObject::connect(&worker, &PaintWorker::Rows, [&](int id, const QVector<StrokeRow> &r) {
            if (id == big)
                rows += r.size();
        });
        QObject::connect(&worker, &PaintWorker::Loading, [&](int id, int, bool done) {
            if (id == big && done)
                opened = true;
        });
        big = worker.Open(path, 1);
        QElapsedTimer limit;
        limit.start();
        while (rows == 0 && limit.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    std::vector<double> ms;
    for (int i = 0; i < strokes && !opened; ++i) {
        const quint64 tag = quint64(i + 1);
        const qint64 upNs = NowNs();
        worker.Store(small, tag, 3, {1, 2, 255}, {QPoint(10 + i, 10), QPoint(12 + i, 11)});
        QElapsedTimer limit;
        limit.start();
        while (!storedNs.count(tag) && limit.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (storedNs.count(tag) && !(during && opened))
            ms.push_back((storedNs[tag] - upNs) / 1e6);
        const qint64 pause = NowNs() + 100 * 1000000LL;
        while (NowNs() < pause)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (during && opened)
        std::printf("  (the opening ended before every stroke: only those stored during it count)\n");
    if (big)
        worker.Close(big);
    worker.Close(small);
    worker.WaitIdle(60000);
    worker.Stop();
    return ms;
}

// The copy's proof on its own: the count and record versions of every row up to the end,
// against one statement that reads eight rows by N (a sample, which proves nothing), both
// through the relay. Median milliseconds of `runs`.
std::pair<double, double> CheckCost(const QString &path, int rows, int runs)
{
    DataAccess db;
    db.ConnectDatabase(path);
    std::vector<double> whole, sample;
    for (int i = 0; i < runs; ++i) {
        qint64 t = NowNs();
        db.ForEachRow(QStringLiteral("COUNT(*), SUM(T.RDB$RECORD_VERSION)"), QStringLiteral("IMG_1 T"),
                      QStringLiteral("T.N<=%1").arg(rows), QString(), [](const QStringList &) {});
        whole.push_back((NowNs() - t) / 1e6);
        t = NowNs();
        db.ForEachRow(QStringLiteral("*"), QStringLiteral("IMG_1"),
                      QStringLiteral("N IN (1, %1, %2, %3, %4, %5, %6, %7)")
                          .arg(rows / 7).arg(rows / 5).arg(rows / 3).arg(rows / 2).arg(rows * 2 / 3).arg(rows * 4 / 5).arg(rows),
                      QStringLiteral("N"), [](const QStringList &) {});
        sample.push_back((NowNs() - t) / 1e6);
    }
    db.DisconnectDatabase();
    return {Percentile(whole, 0.5), Percentile(sample, 0.5)};
}

// A window closed `afterMs` into the opening: milliseconds until its opening's thread and
// readers are gone, and until its attachments are.
std::pair<double, double> CloseMidOpening(const QString &path, DataAccess &watch, int afterMs)
{
    const int attachedBefore = Attachments(watch);
    PaintWorker worker;
    const int big = worker.Open(path, 1);
    const qint64 until = NowNs() + qint64(afterMs) * 1000000;
    while (NowNs() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 closedNs = NowNs();
    worker.Close(big);
    double threadsMs = -1, attachmentsMs = -1;
    while ((threadsMs < 0 || attachmentsMs < 0) && NowNs() - closedNs < 10000 * 1000000LL) {
        if (threadsMs < 0 && PaintOpening::AtWork() == 0 && RangeReaders::AtWork() == 0)
            threadsMs = (NowNs() - closedNs) / 1e6;
        // The worker's own attachment and its events line may stay until it is stopped:
        // only the opening's and its readers' count.
        if (attachmentsMs < 0 && Attachments(watch) <= attachedBefore + 2)
            attachmentsMs = (NowNs() - closedNs) / 1e6;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    worker.WaitIdle(20000);
    worker.Stop();
    return {threadsMs, attachmentsMs};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool quick = args.removeAll("--quick") > 0;
    const int rows = args.value(0).toInt() > 0 ? args.value(0).toInt() : (quick ? 100000 : 500000);
    const int roundTripMs = args.size() > 1 ? args.value(1).toInt() : 10;
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());

    const QString folder = MakeServerFolder();
    if (folder.isEmpty())
        return 1;
    const QString file = folder + "OPENING.FDB";
    const int side = 1000;
    {
        DataAccess db;
        if (!CreateBenchDatabase(db, QStringLiteral("localhost:") + file)) {
            QDir(folder).removeRecursively();
            return 1;
        }
        const bool filled = FillBigPicture(db, rows);
        db.DisconnectDatabase();
        if (!filled) {
            std::fprintf(stderr, "could not fill the table\n");
            QDir(folder).removeRecursively();
            return 1;
        }
    }
    DelayRelay relay;
    if (!relay.start(roundTripMs * 500)) {
        std::fprintf(stderr, "no relay\n");
        QDir(folder).removeRecursively();
        return 1;
    }
    const QString path = QStringLiteral("localhost/%1:").arg(relay.port()) + file;
    const int width = side, height = (rows + side - 1) / side;
    std::printf("opening a %d-point picture through a %d ms round trip (median of the runs)\n", rows, roundTripMs);

    struct Kind {
        const char *name;
        bool cached;
        int extras;
        bool keepCopy; // the second opening: the first one's copy stays
    };
    const Kind kinds[] = {{"before: one attachment, no local copy", false, 0, false},
                          {"first opening: extra readers, copy written", true, qEnvironmentVariableIntValue("BENCH_EXTRAS") ? qEnvironmentVariableIntValue("BENCH_EXTRAS") : 3, false},
                          {"second opening: from the local copy", true, 3, true}};
    const int runs = quick ? 1 : 3;
    std::vector<std::vector<Outcome>> all(3);
    QImage reference;
    bool equal = true;
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < 3; ++k) {
            if (!kinds[k].keepCopy)
                QDir(PictureCache::Folder()).removeRecursively();
            PictureCache::Enabled = kinds[k].cached;
            RangeReaders::Extras = kinds[k].extras;
            Outcome o = Open(path, relay, width, height);
            if (reference.isNull())
                reference = o.image;
            equal = equal && o.image == reference && o.rows == rows;
            std::printf("  %-44s first rows %6.0f ms, whole %6.0f ms, %ld rows (%d from the copy, %lld by extra "
                        "readers), round trips %lld, memory +%ld MB\n",
                        kinds[k].name, o.firstMs, o.doneMs, o.rows, o.opening.fromCopy,
                        (long long)o.opening.fromExtras, (long long)o.roundTrips, o.peakKb / 1024);
            std::fflush(stdout);
            o.image = QImage();
            all[size_t(k)].push_back(std::move(o));
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("\n| opening | first rows drawn | whole picture | memory | round trips |\n|---|---|---|---|---|\n");
    for (int k = 0; k < 3; ++k) {
        std::vector<double> first, whole, mem, trips;
        for (const Outcome &o : all[size_t(k)]) {
            first.push_back(o.firstMs);
            whole.push_back(o.doneMs);
            mem.push_back(o.peakKb / 1024.0);
            trips.push_back(double(o.roundTrips));
        }
        std::printf("| %s | %.0f ms | %.2f s | +%.0f MB | %.0f |\n", kinds[k].name, median(first),
                    median(whole) / 1000, median(mem), median(trips));
    }
    std::printf("every opening drew the same picture, all %d rows: %s\n", rows, equal ? "yes" : "NO");

    const auto [proof, sampled] = CheckCost(path, rows, 5);
    std::printf("the copy's proof: %.0f ms (count and record versions of all %d rows), a sample of eight rows: %.0f ms\n",
                proof, rows, sampled);

    // What the opening costs the other windows of its database, and a close mid-opening.
    QDir(PictureCache::Folder()).removeRecursively();
    PictureCache::Enabled = true;
    RangeReaders::Extras = 3;
    const int strokes = quick ? 5 : 9;
    const std::vector<double> alone = StrokesBeside(path, false, strokes);
    QDir(PictureCache::Folder()).removeRecursively();
    const std::vector<double> beside = StrokesBeside(path, true, strokes);
    std::printf("\n| a 2-point stroke in another window of the database | mouse-up to stored, median | worst | strokes |\n"
                "|---|---|---|---|\n");
    std::printf("| no opening | %.1f ms | %.1f ms | %zu |\n", Percentile(alone, 0.5), Percentile(alone, 1), alone.size());
    std::printf("| while the %d-point picture opens | %.1f ms | %.1f ms | %zu |\n", rows, Percentile(beside, 0.5),
                Percentile(beside, 1), beside.size());
    std::printf("the stroke beside the opening, over no opening: +%.1f ms (median), +%.1f ms (worst); the goal: at "
                "most one round trip (%d ms) + 20 ms\n",
                Percentile(beside, 0.5) - Percentile(alone, 0.5), Percentile(beside, 1) - Percentile(alone, 1),
                roundTripMs);
    {
        DataAccess watch;
        watch.ConnectDatabase(QStringLiteral("localhost:") + file);
        std::printf("\n| window closed mid-opening | opening's thread and readers gone | their attachments gone |\n"
                    "|---|---|---|\n");
        for (int afterMs : {300, 1500}) {
            QDir(PictureCache::Folder()).removeRecursively();
            const auto [threads, attachments] = CloseMidOpening(path, watch, afterMs);
            std::printf("| %d ms into the opening | %.0f ms | %.0f ms |\n", afterMs, threads, attachments);
        }
        watch.DisconnectDatabase();
    }
    std::printf("copy on disk: %lld bytes\n", [] {
        qint64 total = 0;
        for (const QFileInfo &f : QDir(PictureCache::Folder()).entryInfoList(QDir::Files))
            total += f.size();
        return (long long)total;
    }());
    relay.stop();
    QDir(folder).removeRecursively();
    return equal ? 0 : 1;
}
