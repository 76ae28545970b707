// The data-access layer against the raw ISC API, measured side by side in one run:
// one committed InsertRecord per row, SelectOrdered with fetching, and the peak
// memory of reading a whole stroke table of a million rows.
//   bench_db_access [--quick]      (needs the local server on 127.0.0.1:3050)

#include "measure/BenchDatabase.h"
#include "measure/Measures.h"
#include "writer/LoadRun.h"
#include "relay/DelayRelay.h"
#include "db/Cp932.h"
#include "db/DataAccess.h"
#include "db/Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <ibase.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace measure;

namespace {

bool Check(const ISC_STATUS *st, const char *what)
{
    if (st[0] == 1 && st[1]) {
        char buf[512];
        const ISC_STATUS *p = st;
        fb_interpret(buf, sizeof buf, &p);
        std::fprintf(stderr, "%s: %s\n", what, buf);
        return false;
    }
    return true;
}

// A second attachment driven with the plain C API: the baseline.
struct Raw {
    isc_db_handle db = 0;
    ISC_STATUS_ARRAY st{};

    bool attach(const QByteArray &path)
    {
        QByteArray dpb;
        dpb += char(isc_dpb_version1);
        dpb += char(isc_dpb_user_name);
        dpb += char(strlen(DataAccess::User));
        dpb += DataAccess::User;
        dpb += char(isc_dpb_password);
        dpb += char(strlen(DataAccess::Password));
        dpb += DataAccess::Password;
        isc_attach_database(st, short(path.size()), path.constData(), &db, short(dpb.size()),
                            dpb.constData());
        return Check(st, "attach");
    }
    ~Raw()
    {
        if (db)
            isc_detach_database(st, &db);
    }

    // Three round trips: start, execute immediate, commit.
    bool insert(const QByteArray &sql)
    {
        isc_tr_handle tr = 0;
        if (isc_start_transaction(st, &tr, 1, &db, 0, nullptr))
            return Check(st, "start");
        if (isc_dsql_execute_immediate(st, &db, &tr, 0, sql.constData(), 3, nullptr)) {
            Check(st, "insert");
            isc_rollback_transaction(st, &tr);
            return false;
        }
        return isc_commit_transaction(st, &tr) == 0;
    }

    // Prepares, executes and fetches every row, reading each integer column.
    long long fetchAll(const QByteArray &sql, long long &checksum)
    {
        isc_tr_handle tr = 0;
        isc_stmt_handle stmt = 0;
        long long rows = -1;
        std::vector<char> mem(XSQLDA_LENGTH(16));
        auto *out = reinterpret_cast<XSQLDA *>(mem.data());
        out->version = SQLDA_VERSION1;
        out->sqln = 16;
        std::vector<ISC_LONG> values(16);
        std::vector<short> nulls(16);
        if (isc_start_transaction(st, &tr, 1, &db, 0, nullptr) || isc_dsql_allocate_statement(st, &db, &stmt)
            || isc_dsql_prepare(st, &tr, &stmt, 0, sql.constData(), 3, out)) {
            Check(st, "prepare");
        } else {
            for (int i = 0; i < out->sqld; ++i) {
                out->sqlvar[i].sqltype = SQL_LONG + 1;
                out->sqlvar[i].sqllen = 4;
                out->sqlvar[i].sqldata = reinterpret_cast<char *>(&values[i]);
                out->sqlvar[i].sqlind = &nulls[i];
            }
            if (isc_dsql_execute(st, &tr, &stmt, 3, nullptr) == 0) {
                rows = 0;
                ISC_STATUS rc;
                while ((rc = isc_dsql_fetch(st, &stmt, 3, out)) == 0) {
                    ++rows;
                    for (int i = 0; i < out->sqld; ++i)
                        checksum += nulls[i] < 0 ? 0 : values[i];
                }
                if (rc != 100)
                    rows = -1;
            }
            isc_dsql_free_statement(st, &stmt, DSQL_drop);
        }
        if (tr)
            isc_rollback_transaction(st, &tr);
        return rows;
    }
};

QByteArray InsertText(int table, int n)
{
    const QString v = QString::number(n);
    return cp932::Encode(Statements::Join(Statements::InsertRecord(
        "IMG_" + QString::number(table), 8, {"N", "MN", "DN", "PTYP", "PSIZ", "PCOL", "X", "Y"},
        {v, "1", v, "0", "3", "255", "10", "20"})));
}

// The layer's way of reading: count, then FetchFirst and FetchNext into a row buffer.
long long LayerFetch(DataAccess &db, const QString &condition, long long &checksum)
{
    const int count = db.SelectOrdered("*", "IMG_1", condition, "N");
    QStringList buf(8);
    for (int i = 0; i < count; ++i) {
        i == 0 ? db.FetchFirst(buf) : db.FetchNext(buf);
        for (const QString &s : buf)
            checksum += s.toLongLong();
    }
    db.CloseQuery();
    return count;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains("--quick");
    const int bigRows = quick ? 500000 : 1000000;
    const int fetchRows = quick ? 20000 : 100000;
    const int insertRows = quick ? 300 : 2000;

    const QString folder = MakeServerFolder();
    if (folder.isEmpty())
        return 1;
    const QString path = QStringLiteral("localhost:") + folder + "BENCH.FDB";
    int rc = 0;
    {
        DataAccess db;
        Raw raw;
        if (!CreateBenchDatabase(db, path) || !raw.attach(path.toLocal8Bit())) {
            std::fprintf(stderr, "no database at %s (is the server up?)\n", qPrintable(path));
            QDir(folder).removeRecursively();
            return 1;
        }
        std::printf("mode: %s (%d stroke rows, %d fetched, %d inserts)\n", quick ? "quick" : "full",
                    bigRows, fetchRows, insertRows);

        QElapsedTimer t;
        t.start();
        const bool filled = FillBigPicture(db, bigRows);
        std::printf("fill IMG_1: %s, %d rows in %.1f s\n", filled ? "ok" : "FAILED",
                    db.SelectAll("IMG_1", ""), t.elapsed() / 1000.0);
        db.EndQuery();

        // 1. One committed insert per row, alternating blocks so both see the same server load.
        db.CreateImageTable("IMG_2");
        db.CreateImageTable("IMG_3");
        qint64 layerNs = 0, rawNs = 0;
        int layerOk = 0, rawOk = 0;
        const int block = 50;
        for (int start = 1; start <= insertRows; start += block) {
            const int end = std::min(insertRows, start + block - 1);
            t.start();
            for (int n = start; n <= end; ++n) {
                const QString v = QString::number(n);
                layerOk += db.InsertRecord("IMG_2", 8, {"N", "MN", "DN", "PTYP", "PSIZ", "PCOL", "X", "Y"},
                                           {v, "1", v, "0", "3", "255", "10", "20"});
            }
            layerNs += t.nsecsElapsed();
            t.start();
            for (int n = start; n <= end; ++n)
                rawOk += raw.insert(InsertText(3, n));
            rawNs += t.nsecsElapsed();
        }
        const double insertRatio = double(layerNs) / double(rawNs);
        std::printf("InsertRecord per row: %.3f ms   raw start/execute immediate/commit: %.3f ms   "
                    "ratio %.2f (target <= 1.30) %s   [%d/%d rows]\n",
                    layerNs / 1e6 / insertRows, rawNs / 1e6 / insertRows, insertRatio,
                    insertRatio <= 1.3 ? "ok" : "OVER", layerOk, rawOk);

        // 2. Reading the same rows: best of three, alternating.
        const QString condition = "N<=" + QString::number(fetchRows);
        const QByteArray sql = cp932::Encode(
            Statements::Join(Statements::SelectOrdered("*", "IMG_1", condition, "N")));
        qint64 bestLayer = INT64_MAX, bestRaw = INT64_MAX;
        long long layerSum = 0, rawSum = 0, layerCount = 0, rawCount = 0;
        for (int round = 0; round < 3; ++round) {
            layerSum = rawSum = 0;
            t.start();
            layerCount = LayerFetch(db, condition, layerSum);
            bestLayer = std::min(bestLayer, t.nsecsElapsed());
            db.EndQuery();
            t.start();
            rawCount = raw.fetchAll(sql, rawSum);
            bestRaw = std::min(bestRaw, t.nsecsElapsed());
        }
        const double fetchRatio = double(bestLayer) / double(bestRaw);
        std::printf("SelectOrdered + FetchFirst/FetchNext of %lld rows: %.1f ms   raw ISC fetch: %.1f ms   "
                    "ratio %.2f (target <= 1.50) %s   [checksums %s]\n",
                    layerCount, bestLayer / 1e6, bestRaw / 1e6, fetchRatio,
                    fetchRatio <= 1.5 ? "ok" : "OVER",
                    layerSum == rawSum && layerCount == rawCount ? "equal" : "DIFFER");

        // 3. The whole table kept for fetching; the peak is the process's own high-water mark.
        const long hwmBefore = StatusKb("VmHWM:");
        long long sum = 0;
        t.start();
        const int count = db.SelectOrdered("*", "IMG_1", "", "N");
        const qint64 selectNs = t.nsecsElapsed();
        const long rssHeld = StatusKb("VmRSS:");
        QStringList buf(8);
        for (int i = 0; i < count; ++i) {
            i == 0 ? db.FetchFirst(buf) : db.FetchNext(buf);
            sum += buf[0].toLongLong();
        }
        const qint64 totalNs = t.nsecsElapsed();
        db.CloseQuery();
        const long hwm = StatusKb("VmHWM:");
        std::printf("SelectOrdered of %d rows: %.2f s, all fetched after %.2f s; VmRSS while held %ld MB, "
                    "VmHWM %ld MB (before %ld MB; target < 200 MB) %s\n",
                    count, selectNs / 1e9, totalNs / 1e9, rssHeld / 1024, hwm / 1024, hwmBefore / 1024,
                    hwm < 200 * 1024 ? "ok" : "OVER");
        std::printf("TABLE|InsertRecord per row vs raw start, execute immediate, commit|%.3f vs %.3f ms, ratio %.2f|within 1.3x\n",
                    layerNs / 1e6 / insertRows, rawNs / 1e6 / insertRows, insertRatio);
        std::printf("TABLE|SelectOrdered and fetching %lld rows vs raw ISC fetch|%.1f vs %.1f ms, ratio %.2f|within 1.5x\n",
                    layerCount, bestLayer / 1e6, bestRaw / 1e6, fetchRatio);
        std::printf("TABLE|SelectOrdered of %d stroke rows, all fetched|%.2f s, peak %ld MB|under 200 MB\n",
                    count, totalNs / 1e9, hwm / 1024);
        if (count != bigRows || sum != (long long)bigRows * (bigRows + 1) / 2) {
            std::printf("row check FAILED: %d rows, sum %lld\n", count, sum);
            rc = 1;
        }
        db.DisconnectDatabase();

        // 4. The opening's replay as the painting worker reads it: each row handed over as it
        // arrives, through a 10 ms round trip; the first rows must not wait for the last.
        DelayRelay relay;
        if (relay.start(5000)) {
            DataAccess far;
            far.ConnectDatabase(QStringLiteral("localhost/%1:").arg(relay.port()) + folder + "BENCH.FDB");
            const long hwmFar = StatusKb("VmHWM:");
            QElapsedTimer since;
            since.start();
            qint64 firstNs = -1, thousandNs = -1;
            long long rows = 0;
            far.ForEachRow("*", "IMG_1", "", "N", [&](const QStringList &) {
                if (++rows == 1)
                    firstNs = since.nsecsElapsed();
                else if (rows == 1000)
                    thousandNs = since.nsecsElapsed();
            });
            const qint64 allNs = since.nsecsElapsed();
            std::printf("replay streamed through a 10 ms round trip: first row after %.0f ms, 1000 rows "
                        "after %.0f ms, all %lld after %.2f s; VmHWM %ld MB (before %ld MB)\n",
                        firstNs / 1e6, thousandNs / 1e6, rows, allNs / 1e9, StatusKb("VmHWM:") / 1024,
                        hwmFar / 1024);
            std::printf("TABLE|Replay of %lld rows through a 10 ms round trip: the first row|%.0f ms (all "
                        "after %.1f s)|within 300 ms\n",
                        rows, firstNs / 1e6, allNs / 1e9);
        }
    }
    QDir(folder).removeRecursively();
    return rc;
}
