// What the presence read costs the server as more attachments are open: one read of the
// monitoring tables (MON$ATTACHMENTS joined with MON$CONTEXT_VARIABLES, and the names from
// MEMBER), as each program's presence line makes it, with K attachments on the database,
// a quarter of them marking a picture as a program's presence attachment does and the rest
// keeping a prepared refresh as painting attachments do. Side by side in one run: the
// painting windows' quick refresh that finds nothing (one statement) on the same line.
//   bench_presence_read [--quick] [attachments...]   (needs the local server on 127.0.0.1:3050)

#include "measure/BenchDatabase.h"
#include "measure/Measures.h"
#include "writer/LoadRun.h"
#include "core/presence/PresenceRead.h"
#include "db/DataAccess.h"
#include "db/Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace measure;

namespace {

// The server's process: its CPU time in ms (user + system), -1 when it cannot be read.
double ServerCpuMs()
{
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile comm("/proc/" + pid + "/comm");
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "firebird")
            continue;
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QList<QByteArray> f = stat.readAll().split(')').value(1).trimmed().split(' ');
        // Fields 14 and 15 of the whole line (utime, stime): 12 and 13 after "(comm)".
        return double(f.value(11).toLongLong() + f.value(12).toLongLong()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }
    return -1;
}

struct Figures {
    double median = 0, p95 = 0, serverMs = -1;
};

template <class Read> Figures Measure(int repeat, Read &&read)
{
    std::vector<double> ms;
    const double cpu0 = ServerCpuMs();
    for (int i = 0; i < repeat; ++i) {
        const int64_t t0 = NowNs();
        read();
        ms.push_back(double(NowNs() - t0) / 1e6);
    }
    const double cpu1 = ServerCpuMs();
    return {Percentile(ms, 0.5), Percentile(ms, 0.95), cpu0 < 0 ? -1 : (cpu1 - cpu0) / repeat};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool quick = args.removeAll("--quick") > 0;
    std::vector<int> counts;
    for (const QString &a : args)
        if (a.toInt() > 0)
            counts.push_back(a.toInt());
    if (counts.empty())
        counts = quick ? std::vector<int>{4, 64} : std::vector<int>{4, 64, 256};
    const int repeat = quick ? 20 : 100;

    const QString folder = MakeServerFolder();
    if (folder.isEmpty())
        return 1;
    const QString path = QStringLiteral("localhost:") + folder + QStringLiteral("PRESENCE.FDB");
    DataAccess reader;
    if (!CreateBenchDatabase(reader, path)) {
        QDir(folder).removeRecursively();
        return 1;
    }
    reader.CreateMemberTable();
    for (int m = 1; m <= 64; ++m)
        reader.ExecuteSql({QStringLiteral("INSERT INTO MEMBER (N, SN, PNAME) VALUES (%1, 0, 'member %1')").arg(m)});
    reader.CreateImageTable(QStringLiteral("IMG_1"));

    std::printf("presence read, %d reads each, median / 95th percentile ms, server CPU ms per read\n", repeat);
    std::printf("| attachments | presence read | server CPU | quick refresh (nothing new) | server CPU | ratio |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::vector<std::unique_ptr<DataAccess>> others;
    int exitCode = 0;
    for (int k : counts) {
        while (int(others.size()) + 1 < k) {
            auto db = std::make_unique<DataAccess>();
            db->ConnectDatabase(path);
            if (!db->IsConnected()) {
                std::fprintf(stderr, "attachment %zu: %s\n", others.size() + 2, qPrintable(db->LastErrorText()));
                exitCode = 1;
                break;
            }
            const int i = int(others.size());
            if (i % 4 == 0)
                db->ExecuteSql(Statements::PresenceMark({{1 + i % 8, 1 + i / 4 % 64}}));
            else
                db->ForEachRowFrom(QStringLiteral("IMG_1"), 1, [](const QStringList &) {});
            others.push_back(std::move(db));
        }
        if (exitCode != 0)
            break;
        int found = 0;
        const Figures presence = Measure(repeat, [&] { found = int(ReadPresence(reader).MembersOf(1).size()); });
        const Figures refresh = Measure(repeat, [&] { reader.ForEachRowFrom(QStringLiteral("IMG_1"), 1, [](const QStringList &) {}); });
        std::printf("| %d | %.2f / %.2f | %.2f | %.2f / %.2f | %.2f | %.1f |\n", k, presence.median, presence.p95,
                    presence.serverMs, refresh.median, refresh.p95, refresh.serverMs,
                    refresh.median > 0 ? presence.median / refresh.median : 0.0);
        std::fflush(stdout);
        if (found == 0 && k > 4) {
            std::fprintf(stderr, "the read found nobody on picture 1\n");
            exitCode = 1;
        }
    }
    for (auto &db : others)
        db->DisconnectDatabase();
    others.clear();
    reader.DisconnectDatabase();
    QDir(folder).removeRecursively();
    return exitCode;
}
