// Painting window database costs, measured side by side in one run:
//   refresh with nothing new on a large picture vs a small one,
//   replay of a large picture (points/s, peak memory),
//   storing a stroke vs a raw ISC loop of one committed insert per point,
//   storing on a large picture vs an empty one.
// Usage: bench_paint_strokes [--quick]
#include "measure/BenchDatabase.h"
#include "writer/LoadRun.h"
#include "db/DataAccess.h"
#include "core/painting/StrokeStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <ibase.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace measure;

namespace {

long vmHwmKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool fill(DataAccess &db, const QString &table, int rows)
{
    if (!db.CreateImageTable(table))
        return false;
    if (rows == 0)
        return true;
    return db.ExecuteSql(
        {QStringLiteral("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN"),
         QStringLiteral("  WHILE (I <= %1) DO BEGIN").arg(rows),
         QStringLiteral("    INSERT INTO %1 VALUES (:I, 1, 1 + :I / 100, MOD(:I, 6), 1 + MOD(:I, 5),"
                        " MOD(:I * 7919, 16777216), MOD(:I * 37, 1000), MOD(:I * 91, 1000));")
             .arg(table),
         QStringLiteral("    I = I + 1; END"), QStringLiteral("END")});
}

std::vector<QPoint> strokePoints(int count)
{
    std::vector<QPoint> p;
    for (int i = 0; i < count; ++i)
        p.emplace_back(i % 1000, (i * 7) % 1000);
    return p;
}

// Seconds per refresh, averaged over `repeat` calls.
double refreshSeconds(StrokeStore &store, int repeat)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < repeat; ++i)
        store.Refresh();
    return t.nsecsElapsed() / 1e9 / repeat;
}

double storeSeconds(StrokeStore &store, int points)
{
    QElapsedTimer t;
    t.start();
    const bool all = store.Store(1, {2, 3, 0xFF}, strokePoints(points));
    const double s = t.nsecsElapsed() / 1e9;
    if (!all)
        std::printf("  (store left points pending!)\n");
    return s;
}

// One committed INSERT per point straight through the client library.
double rawLoopSeconds(const QByteArray &path, const char *table, int points, int firstN)
{
    ISC_STATUS_ARRAY st;
    isc_db_handle db = 0;
    std::vector<char> dpb = {isc_dpb_version1};
    auto add = [&dpb](char tag, const char *s) {
        dpb.push_back(tag);
        dpb.push_back(static_cast<char>(strlen(s)));
        dpb.insert(dpb.end(), s, s + strlen(s));
    };
    add(isc_dpb_user_name, DataAccess::User);
    add(isc_dpb_password, DataAccess::Password);
    if (isc_attach_database(st, 0, path.constData(), &db, static_cast<short>(dpb.size()), dpb.data())) {
        isc_print_status(st);
        return -1;
    }
    const std::vector<QPoint> pts = strokePoints(points);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < points; ++i) {
        isc_tr_handle tr = 0;
        const QByteArray sql = QStringLiteral("INSERT INTO %1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) "
                                              "VALUES (%2, 1, 1, 2, 3, 255, %3, %4)")
                                   .arg(QLatin1String(table))
                                   .arg(firstN + i)
                                   .arg(pts[i].x())
                                   .arg(pts[i].y())
                                   .toLatin1();
        if (isc_start_transaction(st, &tr, 1, &db, 0, nullptr)
            || isc_dsql_execute_immediate(st, &db, &tr, 0, sql.constData(), 3, nullptr)
            || isc_commit_transaction(st, &tr)) {
            isc_print_status(st);
            if (tr)
                isc_rollback_transaction(st, &tr);
            break;
        }
    }
    const double s = t.nsecsElapsed() / 1e9;
    isc_detach_database(st, &db);
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int bigRows = quick ? 20000 : 1000000;
    const int smallRows = 1000;
    const int strokeLen = quick ? 200 : 1000;
    const int refreshRepeat = quick ? 50 : 200;

    const QString dir = MakeServerFolder();
    const QString path = QStringLiteral("localhost:") + dir + QStringLiteral("BENCH.FDB");
    DataAccess db;
    if (!CreateBenchDatabase(db, path))
        return 1;
    std::printf("painting benchmarks%s: big picture %d rows, small %d rows, stroke %d points\n",
                quick ? " (quick)" : "", bigRows, smallRows, strokeLen);

    QElapsedTimer t;
    t.start();
    if (!fill(db, QStringLiteral("IMG_1"), bigRows) || !fill(db, QStringLiteral("IMG_2"), smallRows)
        || !fill(db, QStringLiteral("IMG_3"), 0) || !fill(db, QStringLiteral("RAW_T"), 0)) {
        std::printf("filling failed: %s\n", qPrintable(db.LastErrorText()));
        return 1;
    }
    std::printf("filled the tables in %.1f s\n", t.nsecsElapsed() / 1e9);

    // Replay first, so that the peak memory is the replay's.
    const long hwmBefore = vmHwmKb();
    QImage bigImage(1000, 1000, QImage::Format_RGB32);
    bigImage.fill(Qt::white);
    StrokeStore big(db, bigImage);
    big.SetTable(QStringLiteral("IMG_1"));
    t.restart();
    big.Load();
    const double replay = t.nsecsElapsed() / 1e9;
    const long hwmAfter = vmHwmKb();
    std::printf("\nreplay of %d points: %.2f s, %.0f points/s; peak memory (VmHWM) %.1f MB "
                "(%.1f MB before the replay)  [target < 300 MB]\n",
                big.ReadCount(), replay, big.ReadCount() / replay, hwmAfter / 1024.0,
                hwmBefore / 1024.0);

    QImage smallImage(1000, 1000, QImage::Format_RGB32);
    StrokeStore small(db, smallImage);
    small.SetTable(QStringLiteral("IMG_2"));
    small.Load();

    const double rBig = refreshSeconds(big, refreshRepeat);
    const double rSmall = refreshSeconds(small, refreshRepeat);
    std::printf("\nrefresh with nothing new: %d rows %.3f ms, %d rows %.3f ms, ratio %.2f  "
                "[target < 2]\n",
                bigRows, rBig * 1e3, smallRows, rSmall * 1e3, rBig / rSmall);
    t.restart();
    const int counted = db.SelectAll(QStringLiteral("IMG_1"), QString());
    std::printf("  (for comparison, counting the big table by reading it: %d rows in %.1f ms)\n",
                counted, t.nsecsElapsed() / 1e6);

    QImage emptyImage(1000, 1000, QImage::Format_RGB32);
    StrokeStore empty(db, emptyImage);
    empty.SetTable(QStringLiteral("IMG_3"));
    empty.Load();

    // Alternate the runs so that a slow moment of the machine hits both sides alike.
    const QByteArray rawPath = path.toLocal8Bit();
    double raw = 1e9, onEmpty = 1e9, onBig = 1e9;
    for (int round = 0; round < 2; ++round) {
        raw = std::min(raw, rawLoopSeconds(rawPath, "RAW_T", strokeLen, 1 + round * strokeLen));
        onEmpty = std::min(onEmpty, storeSeconds(empty, strokeLen));
        onBig = std::min(onBig, storeSeconds(big, strokeLen));
    }
    std::printf("\nstoring a %d-point stroke (best of 2):\n", strokeLen);
    std::printf("  raw ISC loop               %8.0f points/s\n", strokeLen / raw);
    std::printf("  window, empty picture      %8.0f points/s  ratio to raw %.2f  [target < 1.3]\n",
                strokeLen / onEmpty, onEmpty / raw);
    std::printf("  window, %7d-row picture %8.0f points/s  ratio to empty %.2f  [target < 1.5]\n",
                bigRows, strokeLen / onBig, onBig / onEmpty);

    std::printf("TABLE|Replay of a %d-point picture|%.0f points/s, peak %.0f MB|under 300 MB\n",
                big.ReadCount(), big.ReadCount() / replay, hwmAfter / 1024.0);
    std::printf("TABLE|Refresh with nothing new, %d vs %d rows|%.3f ms vs %.3f ms, ratio %.2f|within 2x\n",
                bigRows, smallRows, rBig * 1e3, rSmall * 1e3, rBig / rSmall);
    std::printf("TABLE|Storing a %d-point stroke vs raw ISC loop|%.0f vs %.0f points/s, ratio %.2f|within 1.3x\n",
                strokeLen, strokeLen / onEmpty, strokeLen / raw, onEmpty / raw);
    std::printf("TABLE|Storing on a %d-row picture vs an empty one|%.0f vs %.0f points/s, ratio %.2f|within 1.5x\n",
                bigRows, strokeLen / onBig, strokeLen / onEmpty, onBig / onEmpty);

    db.DisconnectDatabase();
    QDir(dir).removeRecursively();
    return 0;
}
