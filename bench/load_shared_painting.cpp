// Shared painting under load: many writer processes, one picture, the local server.
// Prints points per second, clashes and whether every check held, and the points per
// second of one writer alone doing the same strokes.
//
// usage: bench_load_shared_painting [--quick] [writers strokes points]
//   (default 16 writers x 200 strokes x 10 points; --quick: 4 x 20 x 10)

#include "measure/BenchDatabase.h"
#include "db/DataAccess.h"
#include "writer/LoadRun.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    LoadConfig c;
    c.writers = 16;
    c.strokes = 200;
    c.points = 10;
    c.width = 640;
    c.height = 640;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--quick") == 0) {
        c.writers = 4;
        c.strokes = 20;
        ++arg;
    }
    if (argc - arg == 3) {
        c.writers = std::atoi(argv[arg]);
        c.strokes = std::atoi(argv[arg + 1]);
        c.points = std::atoi(argv[arg + 2]);
    }
    c.writerProgram = QStringLiteral(OEKAKI_STROKE_WRITER);
    c.timeoutSeconds = 3600;

    const QString folder = MakeServerFolder();
    if (folder.isEmpty())
        return 1;
    c.serverPath = QStringLiteral("localhost:") + folder + QStringLiteral("LOAD.FDB");
    {
        DataAccess db;
        if (!measure::CreateBenchDatabase(db, c.serverPath))
            return 1;
    }

    // One writer alone, the same strokes: what the many together are measured against.
    LoadConfig alone = c;
    alone.writers = 1;
    alone.table = QStringLiteral("IMG_2");
    const LoadOutcome one = RunSharedPainting(alone);
    const double onePps = one.seconds > 0 ? one.storedRows / one.seconds : 0;
    std::printf("one writer alone: %d strokes x %d points: %.0f points/s%s\n", c.strokes, c.points,
                onePps, one.problems.isEmpty() ? "" : " (check FAILED)");

    std::printf("shared painting: %d writers x %d strokes x %d points, one picture\n", c.writers,
                c.strokes, c.points);
    const LoadOutcome o = RunSharedPainting(c);
    const double pps = o.seconds > 0 ? o.storedRows / o.seconds : 0;
    std::printf("  stored %d of %d points in %.1f s: %.0f points/s over all writers\n", o.storedRows,
                o.expectedRows, o.seconds, pps);
    std::printf("  clashes %d (%.2f per point)\n", o.clashes,
                o.expectedRows ? double(o.clashes) / o.expectedRows : 0.0);
    std::printf("  N gapless: %s; every point stored once: %s; bitmaps equal to a replay: %d of %d\n",
                o.gapless ? "yes" : "no", o.everyPointOnce ? "yes" : "no", o.bitmapsEqualToReplay,
                c.writers);
    for (const QString &p : o.problems)
        std::printf("  problem: %s\n", qPrintable(p));
    std::printf("  check: %s\n", o.problems.isEmpty() ? "PASSED" : "FAILED");
    std::printf("  all writers together against one alone: %.2f of its points/s\n",
                onePps > 0 ? pps / onePps : 0.0);
    std::printf("TABLE|Shared painting, %d writers x %d strokes x %d points|%.0f points/s, %d clashes, check %s|every point once, N gapless\n",
                c.writers, c.strokes, c.points, pps, o.clashes,
                o.problems.isEmpty() ? "passed" : "FAILED");
    std::printf("TABLE|%d writers without pause, points/s as a share of one writer alone|%.0f vs %.0f points/s, %.2f|at least 0.5\n",
                c.writers, pps, onePps, onePps > 0 ? pps / onePps : 0.0);
    QDir(folder).removeRecursively();
    return o.problems.isEmpty() && one.problems.isEmpty() ? 0 : 1;
}
