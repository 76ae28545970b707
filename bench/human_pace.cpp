// Drawing over a slow network and many people drawing at once, measured side by side
// in one run, with a delay relay in front of the local server for each round trip:
//   - one 60-point stroke stored by the painting window, against the raw ISC loop of
//     start, execute, commit per row and against one autocommit transaction (the floor
//     of one round trip per row), with the round trips the relay counted;
//   - K writer processes at a person's pace (a stroke, then a pause of about 1.5 s,
//     a refresh every 5 s): median, 95th percentile and worst time to store a stroke,
//     clashes, and the check that every point is stored once with N gapless;
//   - a long session of one writer: the gap between the oldest active and the next
//     transaction, read from the server while a stroke is being stored.
// usage: bench_human_pace [--quick]
#include "core/Stamp.h"
#include "db/DataAccess.h"
#include "core/StrokeStore.h"
#include "relay/DelayRelay.h"
#include "writer/LoadRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <ibase.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPoints = 60;

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

std::vector<QPoint> strokePoints(int seed)
{
    std::vector<QPoint> p;
    for (int i = 0; i < kPoints; ++i)
        p.emplace_back((seed * 13 + i * 3) % 600, (seed * 7 + i) % 400);
    return p;
}

// 60 rows straight through the client library; autocommit: one transaction whose
// statements commit as they complete, else start, execute, commit per row.
double rawStrokeMs(const QByteArray &path, const QString &table, int firstN, bool autocommit)
{
    ISC_STATUS_ARRAY st;
    isc_db_handle db = 0;
    std::vector<char> dpb = {isc_dpb_version1};
    auto add = [&dpb](char tag, const char *s) {
        dpb.push_back(tag);
        dpb.push_back(static_cast<char>(strlen(s)));
        dpb.insert(dpb.end(), s, s + strlen(s));
    };
    add(isc_dpb_user_name, "SYSDBA");
    add(isc_dpb_password, "plumstone");
    if (isc_attach_database(st, 0, path.constData(), &db, static_cast<short>(dpb.size()), dpb.data())) {
        isc_print_status(st);
        return -1;
    }
    static const char autoTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                   isc_tpb_rec_version, isc_tpb_wait, isc_tpb_autocommit};
    const std::vector<QPoint> pts = strokePoints(firstN);
    bool ok = true;
    QElapsedTimer t;
    t.start();
    isc_tr_handle tr = 0;
    if (autocommit)
        ok = isc_start_transaction(st, &tr, 1, &db, sizeof autoTpb, autoTpb) == 0;
    for (int i = 0; ok && i < kPoints; ++i) {
        const QByteArray sql = QStringLiteral("INSERT INTO %1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) "
                                              "VALUES (%2, 1, 1, 2, 3, 255, %3, %4)")
                                   .arg(table)
                                   .arg(firstN + i)
                                   .arg(pts[size_t(i)].x())
                                   .arg(pts[size_t(i)].y())
                                   .toLatin1();
        if (!autocommit)
            ok = isc_start_transaction(st, &tr, 1, &db, 0, nullptr) == 0;
        ok = ok && isc_dsql_execute_immediate(st, &db, &tr, 0, sql.constData(), 3, nullptr) == 0;
        if (ok && !autocommit)
            ok = isc_commit_transaction(st, &tr) == 0;
    }
    if (ok && autocommit)
        ok = isc_commit_transaction(st, &tr) == 0;
    const double ms = t.nsecsElapsed() / 1e6;
    if (!ok) {
        isc_print_status(st);
        if (tr)
            isc_rollback_transaction(st, &tr);
    }
    isc_detach_database(st, &db);
    return ok ? ms : -1;
}

struct Gaps {
    qint64 oldestActive = 0, oldestSnapshot = 0, oldestInteresting = 0, next = 0;
};

Gaps readGaps(DataAccess &db)
{
    QStringList row(4);
    db.SelectFields(QStringLiteral("MON$OLDEST_TRANSACTION, MON$OLDEST_ACTIVE, MON$OLDEST_SNAPSHOT, "
                                   "MON$NEXT_TRANSACTION"),
                    QStringLiteral("MON$DATABASE"), QString(), row);
    db.EndQuery();
    return {row[1].toLongLong(), row[2].toLongLong(), row[0].toLongLong(), row[3].toLongLong()};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int strokesPerWriter = quick ? 3 : 6;
    const int sessionStrokes = quick ? 60 : 400;
    const std::vector<int> roundTripsMs = {0, 2, 10};
    const std::vector<int> people = {1, 4, 8, 16};

    const QString dir = MakeServerFolder();
    const QString file = dir + QStringLiteral("PACE.FDB");
    const QString direct = QStringLiteral("localhost:") + file;
    DataAccess db;
    db.CreateDatabase(direct);
    if (!db.IsConnected()) {
        std::printf("cannot create %s\n", qPrintable(direct));
        return 1;
    }
    std::printf("human pace%s: %d-point strokes, %d strokes per writer, pause about 1.5 s, "
                "refresh every 5 s\n",
                quick ? " (quick)" : "", kPoints, strokesPerWriter);

    int tableNo = 0;
    bool allPassed = true;
    for (const int rtt : roundTripsMs) {
        DelayRelay relay;
        QString path = direct;
        if (rtt > 0) {
            if (!relay.start(rtt * 500)) {
                std::printf("cannot start the relay\n");
                return 1;
            }
            path = QStringLiteral("localhost/%1:").arg(relay.port()) + file;
        }
        std::printf("\nround trip %d ms%s\n", rtt, rtt ? " (through the delay relay)" : " (loopback)");

        // One stroke at a time: the window against the two raw loops, taken in turns.
        const QString single = QStringLiteral("IMG_%1").arg(++tableNo);
        const QString rawTable = QStringLiteral("RAW_%1").arg(tableNo);
        db.CreateImageTable(single);
        db.CreateImageTable(rawTable);
        DataAccess windowDb;
        windowDb.ConnectDatabase(path);
        QImage image(640, 480, QImage::Format_RGB32);
        ClearCanvas(image, 640, 480);
        StrokeStore store(windowDb, image);
        store.SetTable(single);
        store.Load();
        std::vector<double> win, raw3, rawAuto, tripsWin, tripsRaw3, tripsAuto;
        const int repeats = quick ? 3 : 7;
        int rawN = 1;
        for (int r = 0; r < repeats; ++r) {
            int64_t before = relay.roundTrips();
            QElapsedTimer t;
            t.start();
            if (!store.Store(1, {2, 3, 0xFF}, strokePoints(r)))
                std::printf("  (store left points pending!)\n");
            win.push_back(t.nsecsElapsed() / 1e6);
            tripsWin.push_back(double(relay.roundTrips() - before));
            before = relay.roundTrips();
            raw3.push_back(rawStrokeMs(path.toLocal8Bit(), rawTable, rawN, false));
            tripsRaw3.push_back(double(relay.roundTrips() - before));
            rawN += kPoints;
            before = relay.roundTrips();
            rawAuto.push_back(rawStrokeMs(path.toLocal8Bit(), rawTable, rawN, true));
            tripsAuto.push_back(double(relay.roundTrips() - before));
            rawN += kPoints;
        }
        const double w = percentile(win, 0.5), r3 = percentile(raw3, 0.5), ra = percentile(rawAuto, 0.5);
        std::printf("  one %d-point stroke (median of %d): window %.1f ms, raw start/execute/commit "
                    "loop %.1f ms (ratio %.2f), raw autocommit loop %.1f ms (ratio %.2f)\n",
                    kPoints, repeats, w, r3, w / r3, ra, w / ra);
        if (rtt > 0)
            std::printf("  round trips per stroke: window %.0f, raw loop %.0f, autocommit loop %.0f "
                        "(the raw loops include attaching); relay late by %.0f us on average\n",
                        percentile(tripsWin, 0.5), percentile(tripsRaw3, 0.5),
                        percentile(tripsAuto, 0.5), relay.meanLateMicroseconds());
        std::printf("TABLE|One %d-point stroke stored, round trip %d ms|%.0f ms; raw 3-round-trip "
                    "loop %.0f ms (ratio %.2f); autocommit floor %.0f ms|%s\n",
                    kPoints, rtt, w, r3, w / r3, ra,
                    rtt == 10 ? "at most 750 ms" : rtt == 2 ? "at most 170 ms" : "ratio at most 1.0");
        windowDb.DisconnectDatabase();

        for (const int k : people) {
            LoadConfig c;
            c.serverPath = direct;
            c.writerPath = path;
            c.table = QStringLiteral("IMG_%1").arg(++tableNo);
            c.writers = k;
            c.strokes = strokesPerWriter;
            c.points = kPoints;
            c.width = 640;
            c.height = 640;
            c.pauseMs = 1500;
            c.refreshMs = 5000;
            c.writerProgram = QStringLiteral(OEKAKI_STROKE_WRITER);
            c.timeoutSeconds = 900;
            const LoadOutcome o = RunSharedPainting(c);
            const bool passed = o.problems.isEmpty();
            allPassed = allPassed && passed;
            std::printf("  %2d people: store median %6.1f ms, 95th percentile %6.1f ms, worst %6.1f ms;"
                        " %d clashes; N gapless and every point once: %s\n",
                        k, percentile(o.storeMs, 0.5), percentile(o.storeMs, 0.95),
                        percentile(o.storeMs, 1.0), o.clashes, passed ? "yes" : "NO");
            for (const QString &p : o.problems)
                std::printf("    problem: %s\n", qPrintable(p));
            std::printf("TABLE|%d people at a person's pace, round trip %d ms|median %.0f ms, 95th "
                        "percentile %.0f ms, worst %.0f ms, %d clashes, check %s|%s\n",
                        k, rtt, percentile(o.storeMs, 0.5), percentile(o.storeMs, 0.95),
                        percentile(o.storeMs, 1.0), o.clashes, passed ? "passed" : "FAILED",
                        k == 16 && rtt == 0 ? "95th percentile at most 80 ms" : "every point once, N gapless");
        }
        relay.stop();
    }

    // A long session: does the server's oldest active transaction keep up?
    {
        const QString table = QStringLiteral("IMG_%1").arg(++tableNo);
        db.CreateImageTable(table);
        DataAccess windowDb, monitor;
        windowDb.ConnectDatabase(direct);
        monitor.ConnectDatabase(direct);
        QImage image(640, 480, QImage::Format_RGB32);
        StrokeStore store(windowDb, image);
        store.SetTable(table);
        store.Load();
        qint64 worstActive = 0, worstSnapshot = 0, worstInteresting = 0;
        Gaps last;
        store.beforeInsert = [&](int n) {
            if (n % (kPoints * 20) != kPoints / 2)
                return;
            last = readGaps(monitor);
            worstActive = std::max(worstActive, last.next - last.oldestActive);
            worstSnapshot = std::max(worstSnapshot, last.next - last.oldestSnapshot);
            worstInteresting = std::max(worstInteresting, last.next - last.oldestInteresting);
        };
        const Gaps first = readGaps(monitor);
        for (int s = 0; s < sessionStrokes; ++s)
            store.Store(1, {0, 2, 0}, strokePoints(s));
        const Gaps end = readGaps(monitor);
        std::printf("\nlong session: %d strokes of %d points by one window; transactions %lld -> %lld;"
                    " largest gap to the next transaction, read in mid-stroke: oldest active %lld,"
                    " oldest snapshot %lld, oldest interesting %lld\n",
                    sessionStrokes, kPoints, first.next, end.next, worstActive, worstSnapshot,
                    worstInteresting);
        std::printf("TABLE|Long session, %d rows: next minus oldest active transaction|at most %lld "
                    "(oldest snapshot %lld)|bounded, not growing with the rows\n",
                    sessionStrokes * kPoints, worstActive, worstSnapshot);
    }
    db.DisconnectDatabase();
    QDir(dir).removeRecursively();
    return allPassed ? 0 : 1;
}
