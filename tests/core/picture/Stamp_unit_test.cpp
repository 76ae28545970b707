#include "core/picture/Stamp.h"

#include <QSet>
#include <climits>
#include <gtest/gtest.h>

namespace {

using Pixels = QSet<QPair<int, int>>;

QImage whiteImage(int w = 24, int h = 24)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

Pixels painted(const QImage &img)
{
    Pixels out;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != qRgb(255, 255, 255))
                out.insert({x, y});
    return out;
}

Pixels stamp(int type, int size, int x, int y, int w = 24, int h = 24)
{
    QImage img = whiteImage(w, h);
    DrawStamp(img, type, size, 0, x, y);
    return painted(img);
}

Pixels box(int x0, int y0, int x1, int y1)
{
    Pixels out;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            out.insert({x, y});
    return out;
}

Pixels border(int x0, int y0, int x1, int y1)
{
    Pixels out = box(x0, y0, x1, y1);
    out.subtract(box(x0 + 1, y0 + 1, x1 - 1, y1 - 1));
    return out;
}

bool within(const Pixels &p, const Pixels &area)
{
    return area.contains(p);
}

} // namespace

TEST(Stamp, SizeOneIsOnePixelForEveryTip)
{
    for (int type : {0, 1, 2, 3, 4, 5, 6, -1, 1000})
        EXPECT_EQ(stamp(type, 1, 10, 10), Pixels({{10, 10}})) << "type " << type;
    EXPECT_TRUE(stamp(0, 1, -1, 5).isEmpty());
    EXPECT_TRUE(stamp(0, 1, 24, 5).isEmpty());
}

TEST(Stamp, WorkedExamplesSizeThree)
{
    EXPECT_EQ(stamp(2, 3, 10, 10), box(9, 9, 11, 11));
    EXPECT_EQ(stamp(3, 3, 10, 10), border(9, 9, 11, 11));
    EXPECT_EQ(stamp(0, 3, 10, 10), box(9, 9, 11, 11));
    const Pixels ring = stamp(1, 3, 10, 10);
    EXPECT_TRUE(within(ring, box(9, 9, 11, 11)));
    EXPECT_FALSE(ring.contains({10, 10}));
    for (QPair<int, int> p : {qMakePair(9, 10), qMakePair(11, 10), qMakePair(10, 9), qMakePair(10, 11)})
        EXPECT_TRUE(ring.contains(p));
    EXPECT_EQ(stamp(4, 3, 10, 10), Pixels({{12, 9}, {11, 10}, {10, 11}}));
    EXPECT_EQ(stamp(5, 3, 10, 10), Pixels({{9, 9}, {10, 10}, {11, 11}}));
}

TEST(Stamp, SizeTwoReachesLeftAndUp)
{
    for (int type : {0, 1, 2, 3})
        EXPECT_EQ(stamp(type, 2, 10, 10), box(9, 9, 10, 10)) << "type " << type;
    EXPECT_EQ(stamp(4, 2, 10, 10), Pixels({{11, 9}, {10, 10}}));
    EXPECT_EQ(stamp(5, 2, 10, 10), Pixels({{9, 9}, {10, 10}}));
}

TEST(Stamp, LargerEvenAndOddSizes)
{
    // Even: size 6 at (10,10) covers 7..12.
    EXPECT_EQ(stamp(2, 6, 10, 10), box(7, 7, 12, 12));
    EXPECT_EQ(stamp(3, 6, 10, 10), border(7, 7, 12, 12));
    Pixels line4, line5;
    for (int i = 0; i < 6; ++i) {
        line4.insert({13 - i, 7 + i});
        line5.insert({7 + i, 7 + i});
    }
    EXPECT_EQ(stamp(4, 6, 10, 10), line4);
    EXPECT_EQ(stamp(5, 6, 10, 10), line5);

    // Odd: size 7 at (10,10) covers 7..13, centred.
    EXPECT_EQ(stamp(2, 7, 10, 10), box(7, 7, 13, 13));
    EXPECT_EQ(stamp(3, 7, 10, 10), border(7, 7, 13, 13));

    for (int size : {6, 7, 12}) {
        const int h = size / 2, k = size - h;
        const Pixels area = box(10 - h, 10 - h, 10 + k - 1, 10 + k - 1);
        const int mirror = 2 * 10 - h + k - 1; // x + x' for the box's mirror image
        const Pixels disc = stamp(0, size, 10, 10);
        const Pixels ring = stamp(1, size, 10, 10);
        EXPECT_TRUE(within(disc, area)) << size;
        EXPECT_TRUE(within(ring, disc)) << size;
        EXPECT_FALSE(disc.contains({10 - h, 10 - h})) << "corner of " << size;
        EXPECT_TRUE(disc.contains({10 - h, 10})) << "left edge of " << size;
        EXPECT_TRUE(ring.contains({10 - h, 10})) << size;
        EXPECT_FALSE(ring.contains({10, 10})) << "inside of " << size;
        for (auto [x, y] : disc) {
            EXPECT_TRUE(disc.contains({mirror - x, y}));
            EXPECT_TRUE(disc.contains({x, mirror - y}));
            EXPECT_TRUE(disc.contains({y, x}));
        }
        // No gaps in the outline: every row of the disc has its two ends in the ring.
        for (int y = 10 - h; y < 10 + k; ++y) {
            int lo = INT_MAX, hi = INT_MIN;
            for (auto [x, yy] : disc)
                if (yy == y) {
                    lo = std::min(lo, x);
                    hi = std::max(hi, x);
                }
            EXPECT_TRUE(ring.contains({lo, y}) && ring.contains({hi, y})) << size << " row " << y;
        }
    }
}

TEST(Stamp, OutlinesLeaveTheInsideAlone)
{
    QImage img = whiteImage();
    img.fill(qRgb(0, 255, 0));
    DrawStamp(img, 3, 6, 0x0000FF, 10, 10);
    DrawStamp(img, 1, 9, 0x0000FF, 10, 10);
    EXPECT_EQ(img.pixel(10, 10), qRgb(0, 255, 0));
    EXPECT_EQ(img.pixel(7, 7), qRgb(255, 0, 0));
}

TEST(Stamp, ColourIsBlueGreenRed)
{
    QImage img = whiteImage();
    DrawStamp(img, 2, 2, 0x00FF0000, 5, 5);
    DrawStamp(img, 2, 2, 0x0000FF00, 10, 10);
    DrawStamp(img, 2, 2, 0x00000080, 15, 15);
    EXPECT_EQ(img.pixel(5, 5), qRgb(0, 0, 255));
    EXPECT_EQ(img.pixel(10, 10), qRgb(0, 255, 0));
    EXPECT_EQ(img.pixel(15, 15), qRgb(128, 0, 0));
    EXPECT_EQ(RgbToPenColor(PenColorToRgb(0x00123456)), 0x00123456);
}

TEST(Stamp, ClippedAtTheEdgesAndNegativeCoordinates)
{
    EXPECT_EQ(stamp(2, 6, 0, 0), box(0, 0, 2, 2));
    EXPECT_EQ(stamp(2, 6, 23, 23), box(20, 20, 23, 23));
    EXPECT_EQ(stamp(3, 6, -1, 5), Pixels({{0, 2}, {1, 2}, {0, 7}, {1, 7}, {1, 3}, {1, 4}, {1, 5}, {1, 6}}));
    EXPECT_EQ(stamp(4, 6, -1, 5), Pixels({{2, 2}, {1, 3}, {0, 4}}));
    EXPECT_EQ(stamp(5, 6, 2, -1), Pixels({{3, 0}, {4, 1}}));
    EXPECT_TRUE(stamp(0, 3, -10, -10).isEmpty());
    EXPECT_TRUE(stamp(4, 30, -40, 60).isEmpty());
    const Pixels d = stamp(0, 6, -2, 10);
    EXPECT_FALSE(d.isEmpty());
    EXPECT_TRUE(within(d, box(0, 7, 0, 12)));
}

TEST(Stamp, SizesAndTypesThatDrawNothing)
{
    for (int type = 0; type <= 5; ++type) {
        EXPECT_TRUE(stamp(type, 0, 10, 10).isEmpty()) << type;
        EXPECT_TRUE(stamp(type, -3, 10, 10).isEmpty()) << type;
    }
    for (int type : {6, -1, 99})
        EXPECT_TRUE(stamp(type, 5, 10, 10).isEmpty()) << type;
}

TEST(Stamp, ExtremeValuesFromForeignRowsAreClipped)
{
    EXPECT_EQ(stamp(0, INT_MAX, 0, 0).size(), 24 * 24);
    EXPECT_TRUE(stamp(1, INT_MAX, 0, 0).isEmpty());
    EXPECT_EQ(stamp(2, INT_MAX, INT_MIN, INT_MIN).size(), 0);
    EXPECT_EQ(stamp(2, INT_MAX, 5, 5).size(), 24 * 24);
    EXPECT_EQ(stamp(3, INT_MAX, INT_MAX, INT_MAX).size(), 0);
    EXPECT_EQ(stamp(5, INT_MAX, 10, 10), [] {
        Pixels p;
        for (int i = 0; i < 24; ++i)
            p.insert({i, i});
        return p;
    }());
    EXPECT_EQ(stamp(4, 300, INT_MIN, INT_MAX).size(), 0);
    QImage null;
    DrawStamp(null, 0, 5, 0, 1, 1);
    EXPECT_TRUE(null.isNull());
}

// A stamp drawn inside a clip paints there exactly what the whole stamp paints, and
// nothing outside it; its bounds hold every pixel it paints.
TEST(Stamp, ClippedStampIsTheWholeStampInsideTheClip)
{
    const QRect clips[] = {{0, 0, 24, 24}, {5, 5, 7, 9}, {10, 0, 1, 24}, {0, 11, 24, 2}, {-4, -4, 12, 12},
                           {20, 20, 10, 10}, {8, 8, 0, 0}};
    for (int type = 0; type <= 6; ++type)
        for (int size : {0, 1, 2, 3, 4, 7, 10, 16, 33})
            for (QPoint at : {QPoint(10, 10), QPoint(0, 0), QPoint(23, 3), QPoint(-5, 12), QPoint(12, 30)}) {
                const Pixels whole = stamp(type, size, at.x(), at.y());
                const StampBox b = StampBounds(type, size, at.x(), at.y());
                for (QPair<int, int> p : whole)
                    EXPECT_TRUE(p.first >= b.x0 && p.first <= b.x1 && p.second >= b.y0 && p.second <= b.y1)
                        << "type " << type << " size " << size << " paints outside its bounds";
                for (const QRect &clip : clips) {
                    QImage img = whiteImage();
                    DrawStamp(img, clip, type, size, 0, at.x(), at.y());
                    Pixels inside;
                    for (QPair<int, int> p : whole)
                        if (clip.contains(p.first, p.second))
                            inside.insert(p);
                    EXPECT_EQ(painted(img), inside) << "type " << type << " size " << size << " at " << at.x()
                                                    << "," << at.y() << " clip " << clip.x() << "," << clip.y()
                                                    << " " << clip.width() << "x" << clip.height();
                }
            }
}
