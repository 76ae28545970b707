#include "LoadRun.h"

#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Tables.h"
#include "core/picture/Stamp.h"
#include "core/painting/StrokeStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct LoggedPoint {
    int stroke, type, size, color, x, y;
};

std::vector<LoggedPoint> readLog(const QString &file)
{
    std::vector<LoggedPoint> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    while (!f.atEnd()) {
        const QList<QByteArray> p = f.readLine().trimmed().split(' ');
        if (p.size() == 6)
            out.push_back({p[0].toInt(), p[1].toInt(), p[2].toInt(), p[3].toInt(), p[4].toInt(),
                           p[5].toInt()});
    }
    return out;
}

// Pixels covered by stamps of more than one stroke (red 255), else black.
QImage overlapMask(const std::vector<std::vector<QStringList>> &byAuthor, int width, int height)
{
    std::vector<uint16_t> strokesAt(static_cast<size_t>(width) * height, 0);
    QImage scratch(width, height, QImage::Format_RGB32);
    scratch.fill(0);
    for (const auto &rows : byAuthor) {
        size_t i = 0;
        while (i < rows.size()) {
            const int dn = TextToInt(rows[i][ImageTable::DN]);
            int x0 = width, y0 = height, x1 = -1, y1 = -1;
            for (; i < rows.size() && TextToInt(rows[i][ImageTable::DN]) == dn; ++i) {
                const QStringList &r = rows[i];
                const int x = TextToInt(r[ImageTable::X]), y = TextToInt(r[ImageTable::Y]),
                          size = TextToInt(r[ImageTable::PSIZ]);
                DrawStamp(scratch, TextToInt(r[ImageTable::PTYP]), size, 0xFFFFFF, x, y);
                x0 = std::min(x0, x - size);
                y0 = std::min(y0, y - size);
                x1 = std::max(x1, x + size);
                y1 = std::max(y1, y + size);
            }
            for (int y = std::max(0, y0); y <= std::min(height - 1, y1); ++y)
                for (int x = std::max(0, x0); x <= std::min(width - 1, x1); ++x)
                    if (scratch.pixel(x, y) & 0xFFFFFF) {
                        ++strokesAt[static_cast<size_t>(y) * width + x];
                        scratch.setPixel(x, y, 0);
                    }
        }
    }
    QImage mask(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mask.setPixel(x, y, strokesAt[static_cast<size_t>(y) * width + x] > 1 ? qRgb(255, 0, 0) : 0);
    return mask;
}

} // namespace

LoadOutcome RunSharedPainting(const LoadConfig &c)
{
    LoadOutcome o;
    o.expectedRows = c.writers * c.strokes * c.points;
    QTemporaryDir out;
    if (!out.isValid()) {
        o.problems << QStringLiteral("no temporary folder");
        return o;
    }
    {
        DataAccess setup;
        setup.ConnectDatabase(c.serverPath);
        if (!setup.TableExists(c.table) && !setup.CreateImageTable(c.table)) {
            o.problems << QStringLiteral("cannot create the stroke table");
            return o;
        }
    }

    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int w = c.firstWriter; w < c.writers; ++w) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args = {c.writerPath.isEmpty() ? c.serverPath : c.writerPath,
                            c.table, QString::number(w), QString::number(c.writers),
                            QString::number(c.strokes), QString::number(c.points),
                            QString::number(c.width), QString::number(c.height), out.path()};
        if (c.pauseMs > 0)
            args << QString::number(c.pauseMs) << QString::number(c.refreshMs);
        p->start(c.writerProgram, args);
        if (!p->waitForStarted(10000))
            o.problems << QStringLiteral("writer %1 did not start").arg(w);
        procs.push_back(std::move(p));
    }
    // Writers refresh until every writer is done: one that gave up, and the writers drawn
    // elsewhere once they are, count as done, so that the others do not wait for them.
    auto markDone = [&](int w) {
        QFile(out.path() + QStringLiteral("/done%1").arg(w)).open(QIODevice::WriteOnly);
    };
    bool elsewhereMarked = c.firstWriter == 0;
    std::vector<bool> ended(procs.size(), false);
    for (;;) {
        if (!elsewhereMarked && (!c.elsewhereDone || c.elsewhereDone->load())) {
            for (int w = 0; w < c.firstWriter; ++w)
                markDone(w);
            elsewhereMarked = true;
        }
        bool running = false;
        for (size_t i = 0; i < procs.size(); ++i) {
            if (ended[i])
                continue;
            QProcess &p = *procs[i];
            if (p.state() == QProcess::NotRunning || p.waitForFinished(20)) {
                ended[i] = true;
                markDone(c.firstWriter + int(i));
                if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
                    o.problems << QStringLiteral("writer %1 ended with code %2")
                                      .arg(c.firstWriter + int(i))
                                      .arg(p.exitCode());
                }
            } else {
                running = true;
            }
        }
        if (!running && elsewhereMarked)
            break;
        if (clock.elapsed() > c.timeoutSeconds * 1000LL) {
            for (size_t i = 0; i < procs.size(); ++i) {
                if (ended[i])
                    continue;
                procs[i]->kill();
                procs[i]->waitForFinished(5000);
                o.problems << QStringLiteral("writer %1 did not finish in time").arg(c.firstWriter + int(i));
            }
            break;
        }
        if (!running)
            QThread::msleep(20);
    }
    o.seconds = clock.nsecsElapsed() / 1e9;
    if (!o.problems.isEmpty())
        return o;

    DataAccess db;
    db.ConnectDatabase(c.serverPath);
    o.gapless = true;
    std::vector<std::vector<QStringList>> byAuthor(c.writers);
    int i = 0;
    const int rows = db.ForEachRow(QStringLiteral("*"), c.table, QString(), QStringLiteral("N"),
                                   [&](const QStringList &buf) {
                                       if (TextToInt(buf[ImageTable::N]) != ++i)
                                           o.gapless = false;
                                       const int mn = TextToInt(buf[ImageTable::MN]);
                                       if (mn >= 1 && mn <= c.writers)
                                           byAuthor[mn - 1].push_back(buf);
                                       else
                                           o.problems << QStringLiteral("row N=%1 has author %2")
                                                             .arg(buf[ImageTable::N], buf[ImageTable::MN]);
                                   });
    o.storedRows = rows;
    if (!o.gapless)
        o.problems << QStringLiteral("N does not run 1..%1 without gaps").arg(rows);
    if (rows != o.expectedRows)
        o.problems << QStringLiteral("%1 rows stored, %2 points drawn").arg(rows).arg(o.expectedRows);

    // Each writer's points are stored once each, in the order drawn, with their stroke number.
    o.everyPointOnce = true;
    for (int w = c.firstWriter; w < c.writers; ++w) {
        const std::vector<LoggedPoint> logged =
            readLog(out.path() + QStringLiteral("/writer%1.txt").arg(w));
        bool same = logged.size() == byAuthor[w].size();
        for (size_t i = 0; same && i < logged.size(); ++i) {
            const QStringList &r = byAuthor[w][i];
            const LoggedPoint &p = logged[i];
            using namespace ImageTable;
            same = TextToInt(r[DN]) == p.stroke + 1 && TextToInt(r[PTYP]) == p.type
                   && TextToInt(r[PSIZ]) == p.size && TextToInt(r[PCOL]) == p.color
                   && TextToInt(r[X]) == p.x && TextToInt(r[Y]) == p.y;
        }
        if (!same) {
            o.everyPointOnce = false;
            o.problems << QStringLiteral("writer %1: stored rows differ from the points it drew").arg(w);
        }
    }

    // Strokes of different writers never meet (each keeps to its own band), but one
    // writer's strokes overlap each other, and a clash row is drawn when it is met,
    // before the rows below it: so the stacking where strokes overlap may differ
    // between a live window and a replay. Everywhere else the pixels must be equal.
    QImage replay(c.width, c.height, QImage::Format_RGB32);
    ClearCanvas(replay, c.width, c.height);
    StrokeStore fresh(db, replay);
    fresh.SetTable(c.table);
    fresh.Load();
    const QImage overlap = overlapMask(byAuthor, c.width, c.height);
    for (int w = c.firstWriter; w < c.writers; ++w) {
        const QImage live = QImage(out.path() + QStringLiteral("/writer%1.png").arg(w))
                                .convertToFormat(QImage::Format_RGB32);
        int differing = 0;
        QString first;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                if (live.pixel(x, y) != replay.pixel(x, y) && qRed(overlap.pixel(x, y)) == 0
                    && differing++ == 0)
                    first = QStringLiteral("(%1,%2)").arg(x).arg(y);
        if (live.size() == replay.size() && differing == 0) {
            ++o.bitmapsEqualToReplay;
        } else {
            o.problems << QStringLiteral("writer %1: bitmap differs from a fresh replay in %2 pixels where strokes do not overlap, first %3")
                              .arg(w)
                              .arg(differing)
                              .arg(first);
        }
        QFile r(out.path() + QStringLiteral("/result%1.txt").arg(w));
        const QList<QByteArray> f = r.open(QIODevice::ReadOnly) ? r.readAll().trimmed().split(' ')
                                                                : QList<QByteArray>();
        if (f.size() != 4) {
            o.problems << QStringLiteral("writer %1 left no result").arg(w);
            continue;
        }
        o.clashes += f[1].toInt();
        QFile t(out.path() + QStringLiteral("/times%1.txt").arg(w));
        if (c.pauseMs > 0 && t.open(QIODevice::ReadOnly))
            for (const QByteArray &line : t.readAll().split('\n'))
                if (!line.isEmpty())
                    o.storeMs.push_back(line.toLongLong() / 1000.0);
        if (f[3].toInt() != rows)
            o.problems << QStringLiteral("writer %1 drew %2 rows of %3").arg(w).arg(f[3].toInt()).arg(rows);
    }
    return o;
}

QString MakeServerFolder()
{
    char tmpl[] = "/tmp/oekaki-bench-XXXXXX";
    const char *made = mkdtemp(tmpl);
    if (!made)
        return QString();
    if (const passwd *pw = getpwnam("firebird"))
        (void)!chown(made, pw->pw_uid, pw->pw_gid);
    chmod(made, 0777);
    return QString::fromLocal8Bit(made) + QLatin1Char('/');
}
