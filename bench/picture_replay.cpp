// A painting window's picture of 500,000 points (2000 x 2000), measured side by side in one run:
//   its replay in N order, through the window's picture and as plain stamps on a bitmap,
//   the memory its rows and their tile index take,
//   a row arriving below rows drawn already (by pen size), repainted where it lies, against
//   drawing the whole picture again,
//   a 100-point stroke arriving below the others, and an own stroke of 100 points coming
//   back with numbers below another's 100 rows drawn over it,
//   the history: going back across the picture, far and near, before and after its
//   snapshots, against a fresh replay of the rows up to the same stroke, and what it keeps,
//   and the timelapse written from it.
// No database: the rows are made here. Usage: bench_picture_replay [--quick]
#include "measure/Measures.h"
#include "core/picture/PictureHistory.h"
#include "core/picture/PictureReplay.h"
#include "core/picture/TimelapseWriter.h"
#include "core/picture/Stamp.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <vector>

using namespace measure;

namespace {

constexpr int kSide = 2000;

// Strokes of 50 points wandering over the picture, pens as people use them: mostly small.
std::vector<StrokeRow> picture(int rows, std::mt19937 &rnd)
{
    std::vector<StrokeRow> out;
    out.reserve(size_t(rows));
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
    while (int(out.size()) < rows) {
        const int type = pick(0, 5), size = pick(0, 9) ? pick(1, 12) : pick(13, 60), color = pick(0, 0xFFFFFF);
        int x = pick(0, kSide - 1), y = pick(0, kSide - 1);
        // Eight people taking turns.
        const int stroke = int(out.size()) / 50, mn = 1 + stroke % 8, dn = 1 + stroke / 8;
        for (int i = 0; i < 50 && int(out.size()) < rows; ++i) {
            x = std::clamp(x + pick(-6, 6), 0, kSide - 1);
            y = std::clamp(y + pick(-6, 6), 0, kSide - 1);
            // Even numbers: odd ones are left for rows that arrive late.
            out.push_back({2 * qint64(out.size() + 1), mn, dn, type, size, color, x, y});
        }
    }
    return out;
}

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

// The plain replay of the rows (in N order) up to lastN: what reading the table again would draw.
QImage freshUpTo(const std::vector<StrokeRow> &every, qint64 lastN)
{
    QImage img(kSide, kSide, QImage::Format_RGB32);
    img.fill(Qt::white);
    for (const StrokeRow &r : every) {
        if (r.n > lastN)
            break;
        DrawStamp(img, r.type, r.size, r.color, r.x, r.y);
    }
    return img;
}

// The history over the whole picture: moves back across it, far and near, timed until the
// image shows the stroke, beside a fresh replay of the rows up to it; then the timelapse.
bool history(const PictureReplay &replay, const std::vector<StrokeRow> &every, bool quick, std::mt19937 &rnd)
{
    QElapsedTimer t;
    t.start();
    PictureHistory h(replay);
    const double openMs = msSince(t);
    const int steps = h.Steps();
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
    auto move = [&](int step) {
        QElapsedTimer m;
        m.start();
        h.Show(step);
        h.Render();
        return msSince(m);
    };
    move(steps);
    // Back across the picture in 20 jumps, then jumps anywhere, and a stroke back at a time
    // (the slider dragged), before the snapshots are made and after.
    auto series = [&](const char *when) {
        std::vector<double> across, anywhere, oneBack;
        for (int k = 19; k >= 0; --k)
            across.push_back(move(steps * k / 20));
        for (int i = 0; i < (quick ? 10 : 40); ++i)
            anywhere.push_back(move(pick(0, steps)));
        int at = pick(steps / 2, steps);
        move(at);
        for (int i = 0; i < 30 && at > 0; ++i)
            oneBack.push_back(move(--at));
        std::printf("history %s: back across in 20 jumps median %.1f ms, worst %.1f ms; jumps anywhere median %.1f, "
                    "worst %.1f ms; one stroke back median %.2f ms, worst %.2f ms\n",
                    when, Percentile(across, 0.5), Percentile(across, 1), Percentile(anywhere, 0.5),
                    Percentile(anywhere, 1), Percentile(oneBack, 0.5), Percentile(oneBack, 1));
        return std::max({Percentile(across, 1), Percentile(anywhere, 1), Percentile(oneBack, 1)});
    };
    const double coldWorst = series("before its snapshots");
    t.restart();
    h.Prepare();
    const double prepareMs = msSince(t);
    move(steps);
    const double worst = series("with its snapshots");
    // The baseline: a fresh replay of the rows up to a stroke three quarters in.
    const int probe = steps * 3 / 4;
    t.restart();
    const QImage fresh = freshUpTo(every, h.Step(probe).lastN);
    const double freshMs = msSince(t);
    const double probeMs = move(probe);
    bool right = h.Image() == fresh;
    for (int i = 0; i < 4 && right; ++i) {
        const int step = pick(0, steps);
        move(step);
        right = h.Image() == freshUpTo(every, h.Step(step).lastN);
    }
    std::printf("history of %d strokes: opened in %.0f ms, snapshots made in %.0f ms (%d, %.0f MB), rows' order "
                "%.1f MB, its image %.0f MB; a stroke 3/4 in %.1f ms vs fresh replay up to it %.0f ms; "
                "same pixels: %s\n",
                steps, openMs, prepareMs, h.Snapshots(), double(h.SnapshotBytes()) / 1e6, double(h.IndexBytes()) / 1e6,
                double(h.Image().sizeInBytes()) / 1e6, probeMs, freshMs, right ? "yes" : "NO");
    std::printf("TABLE|500k picture: history, any stroke, worst of all moves (before snapshots)|%.0f ms (%.0f ms)|at most "
                "500 ms\n",
                worst, coldWorst);
    std::printf("TABLE|500k picture: history, a stroke 3/4 in vs fresh replay up to it|%.1f vs %.0f ms|<< fresh\n", probeMs,
                freshMs);
    std::printf("TABLE|500k picture: history memory, snapshots + image + rows' order|%.0f + %.0f + %.1f MB|snapshots "
                "<= 64 MB\n",
                double(h.SnapshotBytes()) / 1e6, double(h.Image().sizeInBytes()) / 1e6, double(h.IndexBytes()) / 1e6);

    // The timelapse, as the window's default makes it: about 150 frames, at a quarter of the size.
    QTemporaryDir dir;
    const int stride = std::max(1, (steps + 149) / 150);
    t.restart();
    const TimelapsePlan plan = h.Plan(stride);
    const double planMs = msSince(t);
    std::atomic<bool> cancel{false};
    const QString path = dir.filePath(QStringLiteral("history.webp"));
    for (int percent : quick ? std::vector<int>{25} : std::vector<int>{25, 50}) {
        QString why;
        t.restart();
        const TimelapseOutcome outcome =
            WriteTimelapse(plan, {percent, 66, 2000}, path, cancel, nullptr, &why);
        const double writeMs = msSince(t);
        const QSize frame = TimelapseFrameSize(plan.size, percent);
        std::printf("timelapse: %zu frames of %dx%d (every %d strokes): plan %.0f ms, written in %.1f s, %.2f MB%s%s\n",
                    plan.frameEnds.size(), frame.width(), frame.height(), stride, planMs, writeMs / 1000,
                    double(QFileInfo(path).size()) / 1e6, outcome == TimelapseOutcome::Written ? "" : ", FAILED: ",
                    qUtf8Printable(why));
        std::printf("TABLE|500k picture: timelapse of %zu frames at %d%% (off the window's thread)|%.1f s, %.2f MB|"
                    "cancellable per frame\n",
                    plan.frameEnds.size(), percent, writeMs / 1000, double(QFileInfo(path).size()) / 1e6);
        right = right && outcome == TimelapseOutcome::Written;
    }
    return right && worst <= 500;
}

} // namespace

int main(int argc, char **argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int rows = 500000;
    const int probes = quick ? 50 : 300;
    std::mt19937 rnd(2026);
    const std::vector<StrokeRow> all = picture(rows, rnd);

    QImage plain(kSide, kSide, QImage::Format_RGB32);
    plain.fill(Qt::white);
    QElapsedTimer t;
    t.start();
    for (const StrokeRow &r : all)
        DrawStamp(plain, r.type, r.size, r.color, r.x, r.y);
    const double plainMs = msSince(t);

    QImage image(kSide, kSide, QImage::Format_RGB32);
    PictureReplay replay(image);
    t.restart();
    for (const StrokeRow &r : all)
        replay.AddRow(r);
    replay.Repaint();
    const double replayMs = msSince(t);
    const bool same = image == plain;
    const double rowB = double(replay.RowBytes()) / rows, indexB = double(replay.IndexBytes()) / rows;

    std::printf("picture: %d points on %dx%d, strokes of 50, pens 1-12 (a tenth 13-60)\n", rows, kSide, kSide);
    std::printf("replay in N order: window's picture %.0f ms, plain stamps %.0f ms (x%.2f), same pixels: %s\n",
                replayMs, plainMs, replayMs / plainMs, same ? "yes" : "NO");
    std::printf("memory: rows %.1f B/row, tile index %.1f B/row, together %.1f MB\n", rowB, indexB,
                double(replay.RowBytes() + replay.IndexBytes()) / 1e6);
    std::printf("TABLE|500k picture: replay in N order (window / plain stamps)|%.0f / %.0f ms|within 1.5x\n", replayMs,
                plainMs);
    std::printf("TABLE|500k picture: memory of rows + tile index|%.1f + %.1f B/row|rows <= 32 B/row\n", rowB, indexB);

    // Every row added, to check the picture against a plain replay at the end.
    std::vector<StrokeRow> later;
    // One row below the others, of a given pen size, at a random place: added and repainted.
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
    // A number is one row, as in a table: the first of `count` free odd numbers (every other one).
    std::set<qint64> taken;
    auto unused = [&](int count) {
        while (true) {
            const qint64 at = 2 * qint64(pick(0, rows - count)) + 1;
            bool free = true;
            for (int i = 0; i < count && free; ++i)
                free = !taken.count(at + 2 * i);
            if (!free)
                continue;
            for (int i = 0; i < count; ++i)
                taken.insert(at + 2 * i);
            return at;
        }
    };
    for (int size : {3, 12, 60, 250}) {
        std::vector<double> ms;
        for (int i = 0; i < probes; ++i) {
            const StrokeRow r{unused(1), 2, 1, pick(0, 5), size, pick(0, 0xFFFFFF),
                              pick(0, kSide - 1), pick(0, kSide - 1)};
            t.restart();
            replay.AddRow(r);
            replay.Repaint();
            ms.push_back(msSince(t));
            later.push_back(r);
        }
        std::printf("one row arriving below, pen %d: median %.3f ms, p95 %.3f ms (whole redraw %.0f ms)\n", size,
                    Percentile(ms, 0.5), Percentile(ms, 0.95), replayMs);
        std::printf("TABLE|500k picture: a row arriving below, pen %d, median / p95|%.3f / %.3f ms|<< %.0f ms (whole)\n",
                    size, Percentile(ms, 0.5), Percentile(ms, 0.95), replayMs);
    }

    // Another's 100-point stroke stored below rows drawn already, arriving at once.
    {
        std::vector<double> ms;
        for (int s = 0; s < (quick ? 5 : 20); ++s) {
            const qint64 at = unused(100);
            int x = pick(100, kSide - 100), y = pick(100, kSide - 100);
            const int size = pick(3, 12), type = pick(0, 5), color = pick(0, 0xFFFFFF);
            t.restart();
            for (int i = 0; i < 100; ++i) {
                x += pick(-6, 6);
                y += pick(-6, 6);
                replay.AddRow({at + 2 * i, 4, 1, type, size, color, x, y});
                later.push_back({at + 2 * i, 4, 1, type, size, color, x, y});
            }
            replay.Repaint();
            ms.push_back(msSince(t));
        }
        std::printf("100-point stroke arriving below: median %.2f ms, p95 %.2f ms\n", Percentile(ms, 0.5),
                    Percentile(ms, 0.95));
        std::printf("TABLE|500k picture: a 100-point stroke arriving below, median / p95|%.2f / %.2f ms|<< %.0f ms (whole)\n",
                    Percentile(ms, 0.5), Percentile(ms, 0.95), replayMs);
    }

    // The window's own stroke drawn first; another's crossing 100 rows arrive above it, then
    // the own rows come back numbered below them.
    {
        std::vector<double> drawn, back;
        const qint64 top = 2 * qint64(rows) + 10;
        for (int s = 0; s < (quick ? 5 : 20); ++s) {
            const quint64 key = quint64(s + 1);
            const int x = pick(200, kSide - 200), y = pick(200, kSide - 200);
            std::vector<QPoint> points;
            for (int i = 0; i < 100; ++i)
                points.emplace_back(x - 100 + 2 * i, y);
            for (const QPoint &p : points)
                replay.AddOwn(key, {0, 9, 0x0000FF}, p);
            const qint64 base = top + 400 * s;
            t.restart();
            for (int i = 0; i < 100; ++i) {
                replay.AddRow({base + 200 + i, 5, 1, 2, 7, 0xFF0000, x, y - 100 + 2 * i});
                later.push_back({base + 200 + i, 5, 1, 2, 7, 0xFF0000, x, y - 100 + 2 * i});
                later.push_back({base + i, 3, 1, 0, 9, 0x0000FF, points[size_t(i)].x(), y});
            }
            replay.Repaint();
            drawn.push_back(msSince(t));
            t.restart();
            for (int i = 0; i < 100; ++i)
                replay.OwnStored(key, {base + i, 3, 1, 0, 9, 0x0000FF, points[size_t(i)].x(), y, key});
            replay.Repaint();
            back.push_back(msSince(t));
        }
        std::printf("own stroke of 100 points: another's crossing rows over it %.2f ms, own rows back below them "
                    "%.2f ms (medians)\n",
                    Percentile(drawn, 0.5), Percentile(back, 0.5));
        std::printf("TABLE|500k picture: own 100 points back below another's crossing stroke, median|%.2f ms|<< %.0f ms "
                    "(whole)\n",
                    Percentile(back, 0.5), replayMs);
    }

    // The picture after all these arrivals is the plain replay of every row in N order.
    std::vector<StrokeRow> every = all;
    every.insert(every.end(), later.begin(), later.end());
    std::stable_sort(every.begin(), every.end(), [](const StrokeRow &a, const StrokeRow &b) { return a.n < b.n; });
    every.erase(std::unique(every.begin(), every.end(), [](const StrokeRow &a, const StrokeRow &b) { return a.n == b.n; }),
                every.end());
    plain.fill(Qt::white);
    for (const StrokeRow &r : every)
        DrawStamp(plain, r.type, r.size, r.color, r.x, r.y);
    const bool sameAfter = image == plain;
    std::printf("after every arrival, the picture is the plain replay in N order: %s\n", sameAfter ? "yes" : "NO");
    const bool historyRight = history(replay, every, quick, rnd);
    return same && sameAfter && historyRight ? 0 : 1;
}
