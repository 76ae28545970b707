#include "core/picture/PictureHistory.h"
#include "core/picture/PictureReplay.h"
#include "core/picture/Stamp.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <climits>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

// One step of what a window is told: a stored row, an own point drawn, the oldest own point
// of a stroke coming back with its number, or the picture drawn again from scratch.
struct Step {
    enum Kind { Row, Own, Back, Reset } kind;
    qint64 n = 0;
    int type = 0, size = 1, color = 0, x = 0, y = 0;
    quint64 key = 0;
};

Step row(qint64 n, int type, int size, int color, int x, int y) { return {Step::Row, n, type, size, color, x, y}; }
Step own(quint64 key, int type, int size, int color, int x, int y)
{
    return {Step::Own, 0, type, size, color, x, y, key};
}
Step back(quint64 key, qint64 n) { return {Step::Back, n, 0, 0, 0, 0, 0, key}; }
Step reset() { return {Step::Reset}; }

// What the window must show: the rows held, replayed in N order on white, the own points over them.
struct Model {
    std::map<qint64, StrokeRow> rows;
    struct Point {
        quint64 key;
        PenTip pen;
        QPoint at;
    };
    std::vector<Point> own;

    QImage replay(QSize size) const
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(Qt::white);
        for (const auto &[n, r] : rows)
            DrawStamp(img, r.type, r.size, r.color, r.x, r.y);
        for (const Point &p : own)
            DrawStamp(img, p.pen.type, p.pen.size, p.pen.color, p.at.x(), p.at.y());
        return img;
    }
};

int differing(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

// Plays the steps, comparing the picture with the full replay after each one (and once
// more at the end, repaints spread over many calls).
void play(const std::string &name, const std::vector<Step> &steps, QSize size = {150, 100})
{
    QImage image(size, QImage::Format_RGB32);
    PictureReplay picture(image);
    Model model;
    int stepNo = 0;
    for (const Step &s : steps) {
        ++stepNo;
        switch (s.kind) {
        case Step::Row: {
            const StrokeRow r{s.n, 9, 1, s.type, s.size, s.color, s.x, s.y};
            picture.AddRow(r);
            if (s.n > 0)
                model.rows.emplace(s.n, r);
            break;
        }
        case Step::Own: {
            const PenTip pen{s.type, s.size, s.color};
            picture.AddOwn(s.key, pen, {s.x, s.y});
            const bool again = !model.own.empty() && model.own.back().key == s.key
                               && model.own.back().at == QPoint(s.x, s.y) && model.own.back().pen.type == s.type
                               && model.own.back().pen.size == s.size && model.own.back().pen.color == s.color;
            if (!again)
                model.own.push_back({s.key, pen, {s.x, s.y}});
            break;
        }
        case Step::Back: {
            auto it = std::find_if(model.own.begin(), model.own.end(), [&](const Model::Point &p) { return p.key == s.key; });
            ASSERT_NE(it, model.own.end()) << name << ": step " << stepNo << " has no own point to store";
            const StrokeRow r{s.n, 3, 1, it->pen.type, it->pen.size, it->pen.color, it->at.x(), it->at.y(), s.key};
            picture.OwnStored(s.key, r);
            model.own.erase(it);
            if (s.n > 0)
                model.rows.emplace(s.n, r);
            break;
        }
        case Step::Reset:
            picture.Reset();
            model.rows.clear();
            break;
        }
        // Half the time a tile at a time, as the window does between events.
        if (stepNo % 2)
            picture.Repaint();
        else
            while (!picture.Repaint([n = 0]() mutable { return n++ < 1; })) {
            }
        ASSERT_EQ(differing(image, model.replay(size)), 0) << name << ": after step " << stepNo;
    }
    EXPECT_EQ(picture.OwnPoints(), int(model.own.size())) << name;
}

std::vector<Step> stroke(qint64 firstN, int type, int size, int color, QPoint from, QPoint step, int count)
{
    std::vector<Step> out;
    for (int i = 0; i < count; ++i)
        out.push_back(row(firstN + i, type, size, color, from.x() + i * step.x(), from.y() + i * step.y()));
    return out;
}

std::vector<Step> join(std::initializer_list<std::vector<Step>> parts)
{
    std::vector<Step> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<Step> reversed(std::vector<Step> v)
{
    std::reverse(v.begin(), v.end());
    return v;
}

} // namespace

TEST(PictureReplay, EqualsTheReplayInNOrderWhateverArrivesWhen)
{
    const int red = 0x0000FF, blue = 0xFF0000, green = 0x00FF00;
    const auto across = stroke(1, 0, 9, red, {10, 50}, {8, 0}, 16);  // N 1..16, left to right
    const auto down = stroke(17, 2, 7, blue, {70, 5}, {0, 6}, 15);   // N 17..31, top to bottom
    std::vector<Step> ownAcross, ownBack;
    for (int i = 0; i < 16; ++i) {
        ownAcross.push_back(own(1, 0, 9, red, 10 + 8 * i, 50));
        ownBack.push_back(back(1, 1 + i));
    }
    std::vector<Step> shuffled = join({across, down, stroke(32, 1, 13, green, {0, 0}, {9, 7}, 20)});
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));

    const struct {
        std::string name;
        std::vector<Step> steps;
        QSize size = {150, 100};
    } cases[] = {
        {"crossing strokes in N order", join({across, down})},
        {"the later stroke arrives first", join({down, across})},
        {"each stroke backwards", join({reversed(down), reversed(across)})},
        {"rows out of N order", shuffled},
        {"the same rows twice", join({down, across, down})},
        {"own points over rows that arrive later", join({ownAcross, down})},
        // The window's stroke drawn first gets the lower numbers: the other's stays on top.
        {"own rows back below the others'", join({ownAcross, down, ownBack})},
        {"own rows back before the others' arrive", join({ownAcross, ownBack, down})},
        {"own rows back above the others'",
         join({ownAcross, stroke(1, 2, 7, blue, {70, 5}, {0, 6}, 15),
               [] {
                   std::vector<Step> v;
                   for (int i = 0; i < 16; ++i)
                       v.push_back(back(1, 16 + i));
                   return v;
               }()})},
        {"two own strokes, the second stored first in part",
         {own(1, 0, 9, red, 40, 40), own(1, 0, 9, red, 40, 40), own(1, 0, 9, red, 46, 40), own(2, 3, 11, green, 44, 42),
          own(2, 3, 11, green, 50, 44), row(1, 2, 5, blue, 45, 41), back(2, 3), back(1, 2), row(4, 5, 20, blue, 40, 40),
          back(1, 5), back(2, 6)}},
        {"drawn again from scratch",
         join({across, ownAcross, {reset()}, down, {back(1, 0), back(1, 0)}, stroke(1, 0, 9, red, {10, 50}, {8, 0}, 3),
               {back(1, 4)}})},
        {"stamps over the edges",
         {row(5, 0, 30, red, -3, -3), row(3, 2, 31, blue, 149, 99), row(4, 4, 25, green, 140, -5),
          row(1, 5, 25, green, -10, 90), row(2, 1, 40, blue, 150, 50), own(1, 3, 20, red, 0, 99),
          row(6, 2, 3, green, -1, 50), row(7, 0, 1, red, 149, 0), back(1, 8), row(0, 2, 50, blue, 75, 50),
          row(9, 2, 5, red, 200, 200), row(10, 7, 5, red, 20, 20), row(11, 7, 1, green, 20, 20), row(12, 2, 0, red, 30, 30)}},
        {"big pens among small ones",
         {row(2, 2, 3, red, 30, 30), row(7, 0, 600, blue, 100, 60), row(3, 1, 180, green, 60, 60), own(1, 4, 301, red, 80, 40),
          row(1, 2, 2000, green, 75, 50), row(4, 5, 260, red, 10, 10), row(6, 3, 130, blue, 90, 50), back(1, 5),
          row(8, 2, 9, green, 100, 60)},
         {300, 200}},
        {"a window of one tile and a bit", join({stroke(2, 0, 5, red, {0, 0}, {5, 5}, 15), {row(1, 2, 70, blue, 33, 33)}}),
         {65, 65}},
    };
    for (const auto &c : cases)
        play(c.name, c.steps, c.size);
}

// Everything at random: rows of many pens in any order, own strokes drawn and coming back
// below, between or above the others, and redraws from scratch.
TEST(PictureReplay, RandomArrivalsEqualTheReplay)
{
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 rnd(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
        std::vector<qint64> numbers(300);
        std::iota(numbers.begin(), numbers.end(), 1);
        std::shuffle(numbers.begin(), numbers.end(), rnd);
        std::vector<Step> steps;
        std::map<quint64, int> ownLeft;
        size_t next = 0;
        for (int i = 0; i < 260 && next < numbers.size(); ++i) {
            const int what = pick(0, 9);
            if (what < 5) {
                steps.push_back(row(numbers[next++], pick(0, 6), pick(0, 3) ? pick(1, 12) : pick(40, 200),
                                    pick(0, 0xFFFFFF), pick(-20, 220), pick(-20, 150)));
            } else if (what < 8) {
                const quint64 key = quint64(pick(1, 3));
                steps.push_back(own(key, pick(0, 5), pick(1, 15), pick(0, 0xFFFFFF), pick(-5, 205), pick(-5, 135)));
                ++ownLeft[key];
            } else if (what == 8) {
                for (auto &[key, left] : ownLeft)
                    if (left > 0) {
                        --left;
                        steps.push_back(back(key, numbers[next++]));
                        break;
                    }
            } else if (pick(0, 20) == 0) {
                steps.push_back(reset());
            }
        }
        play("seed " + std::to_string(seed), steps, {200, 130});
    }
}

TEST(PictureReplay, MemoryPerRowIsModest)
{
    QImage image(2000, 2000, QImage::Format_RGB32);
    PictureReplay picture(image);
    std::mt19937 rnd(1);
    for (int n = 1; n <= 100000; ++n)
        picture.AddRow({n, 1, 1, 0, 8, 0, int(rnd() % 2000), int(rnd() % 2000)});
    EXPECT_EQ(picture.StoredRows(), 100000);
    EXPECT_LE(picture.RowBytes(), 100000LL * 32) << picture.RowBytes() / 100000 << " bytes a row";
    EXPECT_LE(picture.IndexBytes(), 100000LL * 16) << picture.IndexBytes() / 100000 << " bytes a row";
}

// The window makes its bitmap anew on opening and drops it on closing: what comes after
// starts from the new one and never writes past it.
TEST(PictureReplay, ABitmapMadeAnewIsStartedAgain)
{
    QImage image(40, 30, QImage::Format_RGB32);
    PictureReplay picture(image);
    picture.AddRow({1, 1, 1, 2, 9, 0xFF, 35, 25});
    image = QImage(200, 150, QImage::Format_RGB32);
    picture.AddRow({2, 1, 1, 0, 30, 0xFF00, 180, 140});
    picture.Repaint();
    Model model;
    model.rows[2] = {2, 1, 1, 0, 30, 0xFF00, 180, 140};
    EXPECT_EQ(differing(image, model.replay(image.size())), 0);
    EXPECT_EQ(picture.StoredRows(), 1);
    image = QImage();
    picture.AddRow({3, 1, 1, 2, 9, 0xFF, 5, 5});
    picture.AddOwn(1, {2, 9, 0xFF}, {5, 5});
    EXPECT_TRUE(picture.Repaint());
}

namespace {

// Rows of one stroke of author `mn`, numbered from `firstN` on (every `gap`-th number).
std::vector<StrokeRow> strokeOf(int mn, int dn, qint64 firstN, int count, const PenTip &pen, QPoint from, QPoint step,
                                int gap = 1)
{
    std::vector<StrokeRow> out;
    for (int i = 0; i < count; ++i)
        out.push_back({firstN + qint64(i) * gap, mn, dn, pen.type, pen.size, pen.color, from.x() + i * step.x(),
                       from.y() + i * step.y()});
    return out;
}

// A fresh replay of the rows up to `lastN`, as the table read anew would draw them.
QImage freshUpTo(const std::map<qint64, StrokeRow> &rows, qint64 lastN, QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    for (const auto &[n, r] : rows)
        if (n <= lastN)
            DrawStamp(img, r.type, r.size, r.color, r.x, r.y);
    return img;
}

// The steps as the rows that paint inside the picture cut them: runs of one (MN, DN) in N order.
std::vector<PictureHistory::StepInfo> expectedSteps(const std::map<qint64, StrokeRow> &rows, QSize size)
{
    std::vector<PictureHistory::StepInfo> steps;
    for (const auto &[n, r] : rows) {
        const StampBox b = StampBounds(r.type, r.size, r.x, r.y);
        if (b.x0 > b.x1 || b.x1 < 0 || b.y1 < 0 || b.x0 >= size.width() || b.y0 >= size.height())
            continue;
        if (steps.empty() || steps.back().mn != r.mn || steps.back().dn != r.dn)
            steps.push_back({r.mn, r.dn, n, n, 0});
        steps.back().lastN = n;
        ++steps.back().rows;
    }
    return steps;
}

} // namespace

// The picture at a chosen stroke equals a fresh replay of the rows up to it, pixel for pixel,
// whichever way the history gets there: forward, back, far or near, a slice at a time, with
// rows arriving meanwhile below or above the stroke shown, and from snapshots.
TEST(PictureHistory, TheStepShownIsTheReplayOfTheRowsUpToIt)
{
    const int red = 0x0000FF, blue = 0xFF0000, green = 0x00FF00;
    // Three authors, a stroke each in turn, crossing one another; odd numbers, the even ones
    // are left for rows that arrive late.
    std::vector<StrokeRow> three;
    for (int s = 0; s < 12; ++s) {
        const auto part = strokeOf(1 + s % 3, 1 + s / 3, 1 + 20 * s, 10, {s % 6, 3 + s, s % 2 ? red : blue},
                                   {5 + 9 * s, 10}, {s % 3 - 1, 8}, 2);
        three.insert(three.end(), part.begin(), part.end());
    }
    // Two strokes stored point by point at once: their numbers interleave.
    std::vector<StrokeRow> interleaved = strokeOf(1, 1, 1, 20, {0, 9, red}, {10, 50}, {6, 0}, 2);
    const auto other = strokeOf(2, 1, 2, 20, {2, 7, blue}, {70, 2}, {0, 5}, 2);
    interleaved.insert(interleaved.end(), other.begin(), other.end());
    std::vector<StrokeRow> shuffled = three;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    std::vector<StrokeRow> bigPens = three;
    bigPens.push_back({300, 4, 1, 2, 600, green, 60, 40});
    bigPens.push_back({46, 5, 1, 0, 300, red, 100, 90});
    bigPens.push_back({301, 4, 2, 3, 140, blue, 20, 20});
    // Stamps over the edges, and rows that paint nothing there (no step of their own).
    const std::vector<StrokeRow> edges = {{1, 1, 1, 0, 30, red, -3, -3},   {2, 1, 1, 2, 31, blue, 149, 99},
                                          {3, 2, 1, 0, 9, red, 400, 400},  {4, 1, 1, 7, 5, red, 20, 20},
                                          {5, 1, 1, 4, 25, green, 140, -5}, {6, 3, 1, 2, 0, red, 30, 30},
                                          {7, 3, 2, 5, 25, green, -10, 90}, {8, 1, 2, 1, 1, blue, 0, 0}};
    std::vector<int> forwardBack, randomJumps;
    for (int k = 0; k <= 12; ++k)
        forwardBack.push_back(k);
    for (int k = 12; k >= 0; --k)
        forwardBack.push_back(k);
    std::mt19937 rnd(11);
    for (int i = 0; i < 40; ++i)
        randomJumps.push_back(int(rnd() % 13));
    // Another author's rows that arrive while the history is shown: below and above what it shows.
    const auto lateBelow = strokeOf(7, 1, 16, 1, {0, 12, green}, {135, 85}, {0, 0}); // where nothing later lies
    const auto lateAbove = strokeOf(7, 2, 500, 6, {3, 15, green}, {90, 20}, {3, 7});
    std::vector<StrokeRow> late = lateBelow;
    late.insert(late.end(), lateAbove.begin(), lateAbove.end());
    late.push_back({66, 7, 3, 1, 10, red, 140, 15}); // splits the fourth stroke in two

    const struct {
        std::string name;
        std::vector<StrokeRow> rows; // as they arrive
        std::vector<int> steps;      // shown in turn
        std::vector<StrokeRow> later = {}; // arrive after the first half of the steps
        bool sliced = false;         // a unit of work per call, moves between
        int expectSteps = -1;
    } cases[] = {
        {"every step forward, then back", three, forwardBack, {}, false, 12},
        {"jumps far and near", three, randomJumps},
        {"rows that arrived out of N order", shuffled, randomJumps},
        {"strokes whose numbers interleave: a step each time the stroke changes", interleaved, {0, 40, 1, 2, 39, 20, 21, 3},
         {}, false, 40},
        {"big pens among small ones", bigPens, randomJumps},
        {"stamps over the edges, rows that paint nothing", edges, {0, 1, 2, 3, 2, 1, 0, 3}, {}, false, 3},
        {"rows arriving while shown, below and above", three, forwardBack, late},
        {"a slice at a time, moved on midway", three, randomJumps, late, true},
    };
    for (const auto &c : cases) {
        const QSize size(150, 100);
        QImage bitmap(size, QImage::Format_RGB32);
        PictureReplay replay(bitmap);
        std::map<qint64, StrokeRow> held;
        const auto add = [&](const std::vector<StrokeRow> &rows) {
            for (const StrokeRow &r : rows) {
                replay.AddRow(r);
                held.emplace(r.n, r);
            }
            replay.Repaint();
        };
        add(c.rows);
        PictureHistory history(replay);
        if (c.expectSteps >= 0) {
            EXPECT_EQ(history.Steps(), c.expectSteps) << c.name;
        }
        for (size_t i = 0; i < c.steps.size(); ++i) {
            if (i == c.steps.size() / 2 && !c.later.empty()) {
                add(c.later);
                history.Update();
                // What arrived below the step shown is drawn into it.
                ASSERT_TRUE(history.Render()) << c.name;
                ASSERT_EQ(differing(history.Image(), freshUpTo(held, history.Step(history.Shown()).lastN, size)), 0)
                    << c.name << ": step " << history.Shown() << " shown as rows arrived";
            }
            const int step = std::min(c.steps[i], history.Steps());
            history.Show(step);
            if (c.sliced) {
                // One unit of work, then the next move: the last one is rendered in full.
                int units = 0;
                history.Render([&units] { return units++ < 1; });
                if (i + 1 < c.steps.size())
                    continue;
            }
            ASSERT_TRUE(history.Render()) << c.name;
            const qint64 lastN = history.Step(step).lastN;
            ASSERT_EQ(differing(history.Image(), freshUpTo(held, lastN, size)), 0)
                << c.name << ": step " << step << " of " << history.Steps() << " (move " << i << ")";
        }
        // The steps and their authors, as the rows name them.
        const auto expected = expectedSteps(held, size);
        ASSERT_EQ(history.Steps(), int(expected.size())) << c.name;
        for (int k = 1; k <= history.Steps(); ++k) {
            const auto got = history.Step(k), want = expected[size_t(k - 1)];
            EXPECT_TRUE(got.mn == want.mn && got.dn == want.dn && got.firstN == want.firstN && got.lastN == want.lastN
                        && got.rows == want.rows)
                << c.name << ": step " << k << " is " << got.mn << "/" << got.dn << " N " << got.firstN << ".." << got.lastN;
            EXPECT_EQ(history.StepOf(want.lastN), k) << c.name;
        }
        // The live picture is left as it was.
        EXPECT_EQ(differing(bitmap, freshUpTo(held, LLONG_MAX, size)), 0) << c.name;
    }
}

// A long history keeps snapshots along the way; moves from them, from the tiles and forward
// all give the fresh replay, also once rows arrive below the snapshots and after a Reset.
TEST(PictureHistory, SnapshotsAlongALongHistory)
{
    const QSize size(160, 120);
    QImage bitmap(size, QImage::Format_RGB32);
    PictureReplay replay(bitmap);
    std::map<qint64, StrokeRow> held;
    std::mt19937 rnd(5);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
    const int rows = 2 * (2 * int(PictureHistory::SnapshotSpacingMin) + 5000);
    for (int n = 1; n <= rows; n += 2) { // odd numbers; even ones arrive later, below
        const StrokeRow r{n, 1 + (n / 200) % 4, 1 + n / 800, pick(0, 5), pick(1, 9), pick(0, 0xFFFFFF), pick(0, 159), pick(0, 119)};
        replay.AddRow(r);
        held.emplace(r.n, r);
    }
    replay.Repaint();
    const int rowsHeld = int(held.size());
    PictureHistory history(replay, 64 << 20);
    ASSERT_TRUE(history.Prepare());
    EXPECT_EQ(history.Snapshots(), rowsHeld / int(PictureHistory::SnapshotSpacingMin)) << rowsHeld << " rows";
    EXPECT_EQ(history.SnapshotBytes(), qint64(history.Snapshots()) * size.width() * size.height() * 4);
    const auto check = [&](int step, const char *what) {
        history.Show(step);
        ASSERT_TRUE(history.Render());
        ASSERT_EQ(differing(history.Image(), freshUpTo(held, history.Step(step).lastN, size)), 0)
            << what << ": step " << step << " of " << history.Steps();
    };
    const int last = history.Steps();
    for (int step : {last, last - 1, last / 2 + 3, 1, last - 2, last * 3 / 4, 0, last / 3, last})
        check(step, "jumps");
    // A stroke of another author below every snapshot: they are made again.
    for (int i = 0; i < 30; ++i) {
        const StrokeRow r{100 + 2 * i, 9, 1, 0, 7, 0x00FF00, 10 + 4 * i, 60};
        replay.AddRow(r);
        held.emplace(r.n, r);
    }
    replay.Repaint();
    history.Update();
    EXPECT_EQ(history.Snapshots(), 0);
    check(history.Steps() / 2, "rows below the snapshots");
    ASSERT_TRUE(history.Prepare());
    EXPECT_GT(history.Snapshots(), 0);
    check(history.Steps() - 3, "snapshots made again");
    // The picture drawn again from scratch: the history starts over with it.
    replay.Reset();
    held.clear();
    for (const StrokeRow &r : strokeOf(4, 1, 1, 30, {2, 11, 0xFF}, {10, 10}, {4, 3})) {
        replay.AddRow(r);
        held.emplace(r.n, r);
    }
    history.Update();
    EXPECT_EQ(history.Steps(), 1);
    EXPECT_EQ(history.Snapshots(), 0);
    check(1, "after a reset");
    check(0, "after a reset");
}

// "Who drew this": at every pixel, the row with the highest N whose stamp paints it (an
// outline's inside and a line's box are not its own), whatever order the rows came in.
TEST(PictureReplay, TheStrokeUnderAPixelIsTheTopmostThatPaintsIt)
{
    for (unsigned seed = 1; seed <= 3; ++seed) {
        std::mt19937 rnd(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
        const QSize size(150, 100);
        QImage image(size, QImage::Format_RGB32);
        PictureReplay picture(image);
        std::vector<StrokeRow> rows;
        for (int n = 1; n <= 120; ++n) {
            // Strokes of a few points each, by three authors, some pens larger than a tile.
            const bool newStroke = rows.empty() || pick(0, 3) == 0;
            const StrokeRow last = rows.empty() ? StrokeRow{} : rows.back();
            StrokeRow r{n, newStroke ? pick(1, 3) : last.mn, newStroke ? last.dn + 1 : last.dn, pick(0, 6),
                        pick(0, 6) ? pick(1, 15) : pick(60, 160), 0x123456, pick(-10, 160), pick(-10, 110)};
            if (!newStroke) {
                r.type = last.type;
                r.size = last.size;
            }
            rows.push_back(r);
        }
        std::vector<StrokeRow> arriving = rows;
        std::shuffle(arriving.begin(), arriving.end(), rnd);
        for (const StrokeRow &r : arriving)
            picture.AddRow(r);
        picture.AddOwn(1, {2, 9, 0}, {20, 20}); // not stored: never named
        picture.Repaint();

        std::vector<int> top(size_t(size.width() * size.height()), -1);
        for (size_t i = 0; i < rows.size(); ++i) {
            QImage alone(size, QImage::Format_RGB32);
            alone.fill(Qt::white);
            DrawStamp(alone, rows[i].type, rows[i].size, 0, rows[i].x, rows[i].y);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    if (alone.pixel(x, y) != QColor(Qt::white).rgb())
                        top[size_t(y * size.width() + x)] = int(i); // rows ascend in N
        }
        int wrong = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const auto got = picture.StrokeAt({x, y});
                const int want = top[size_t(y * size.width() + x)];
                if (want < 0 ? got.has_value()
                             : !got || got->n != rows[size_t(want)].n || got->mn != rows[size_t(want)].mn
                                   || got->dn != rows[size_t(want)].dn)
                    ++wrong;
            }
        EXPECT_EQ(wrong, 0) << "seed " << seed;
        EXPECT_FALSE(picture.StrokeAt({-1, 5}).has_value());
        EXPECT_FALSE(picture.StrokeAt({150, 5}).has_value());
    }
}
