#include "core/picture/Stamp.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>

QRgb PenColorToRgb(int color)
{
    const auto c = static_cast<uint32_t>(color);
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

int RgbToPenColor(QRgb rgb)
{
    return qRed(rgb) | (qGreen(rgb) << 8) | (qBlue(rgb) << 16);
}

namespace {

// Coordinates are 64-bit so that stamps from foreign rows (any 32-bit size and
// position) cannot overflow; only the part inside the bitmap is ever visited.
// Only the clip [cx0, cx1) x [cy0, cy1), inside the bitmap, is ever written.
struct Canvas {
    QImage &img;
    QRgb rgb;
    int64_t cx0, cy0, cx1, cy1;

    void pixel(int64_t x, int64_t y)
    {
        if (x >= cx0 && y >= cy0 && x < cx1 && y < cy1)
            reinterpret_cast<QRgb *>(img.scanLine(int(y)))[x] = rgb;
    }
    // Columns x0..x1 of row y, both included.
    void span(int64_t y, int64_t x0, int64_t x1)
    {
        if (y < cy0 || y >= cy1)
            return;
        x0 = std::max<int64_t>(x0, cx0);
        x1 = std::min<int64_t>(x1, cx1 - 1);
        if (x0 > x1)
            return;
        std::fill_n(reinterpret_cast<QRgb *>(img.scanLine(int(y))) + x0, x1 - x0 + 1, rgb);
    }
};

int64_t isqrt(__int128 v)
{
    if (v <= 0)
        return 0;
    auto r = static_cast<int64_t>(__builtin_sqrtl(static_cast<long double>(v)));
    while (__int128(r) * r > v)
        --r;
    while (__int128(r + 1) * (r + 1) <= v)
        ++r;
    return r;
}

// The columns of row y inside the circle that fills the square box [l, l+size):
// pixels whose centre lies within the circle. False when the row has none.
bool ellipseRow(int64_t l, int64_t t, int64_t size, int64_t y, int64_t &x0, int64_t &x1)
{
    if (y < t || y >= t + size)
        return false;
    const int64_t s = 2 * l + size; // twice the centre's x
    const int64_t b = 2 * y + 1 - (2 * t + size);
    const __int128 rest = __int128(size) * size - __int128(b) * b;
    if (rest < 0)
        return false;
    const int64_t r = isqrt(rest);
    // |2x + 1 - s| <= r
    auto floorDiv2 = [](int64_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); };
    x0 = -floorDiv2(-(s - 1 - r)); // ceil((s - 1 - r) / 2)
    x1 = floorDiv2(s - 1 + r);
    x0 = std::max(x0, l);
    x1 = std::min(x1, l + size - 1);
    return x0 <= x1;
}

void ellipse(Canvas &c, int64_t l, int64_t t, int64_t size, bool filled)
{
    const int64_t y0 = std::max<int64_t>(t, c.cy0);
    const int64_t y1 = std::min<int64_t>(t + size - 1, c.cy1 - 1);
    for (int64_t y = y0; y <= y1; ++y) {
        int64_t a, b;
        if (!ellipseRow(l, t, size, y, a, b))
            continue;
        if (filled) {
            c.span(y, a, b);
            continue;
        }
        // The outline: pixels of the row with a neighbour above or below outside.
        c.pixel(a, y);
        c.pixel(b, y);
        for (int64_t ny : {y - 1, y + 1}) {
            int64_t na, nb;
            if (!ellipseRow(l, t, size, ny, na, nb)) {
                c.span(y, a, b);
                break;
            }
            c.span(y, a, std::min(b, na - 1));
            c.span(y, std::max(a, nb + 1), b);
        }
    }
}

} // namespace

void DrawStamp(QImage &image, int type, int size, int color, int x, int y)
{
    DrawStamp(image, image.rect(), type, size, color, x, y);
}

void DrawStamp(QImage &image, const QRect &clip, int type, int size, int color, int x, int y)
{
    const QRect area = clip & image.rect();
    if (image.isNull() || area.isEmpty())
        return;
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_RGB32);
    Canvas c{image, PenColorToRgb(color), area.left(), area.top(), int64_t(area.right()) + 1,
             int64_t(area.bottom()) + 1};
    if (size == 1) {
        c.pixel(x, y);
        return;
    }
    if (size < 1)
        return;
    const int64_t h = size / 2;
    const int64_t k = size - h;
    const int64_t left = int64_t(x) - h, top = int64_t(y) - h;
    const int64_t right = int64_t(x) + k, bottom = int64_t(y) + k;
    switch (type) {
    case 0:
    case 1:
        ellipse(c, left, top, size, type == 0);
        break;
    case 2:
        for (int64_t yy = std::max(top, c.cy0); yy < std::min(bottom, c.cy1); ++yy)
            c.span(yy, left, right - 1);
        break;
    case 3:
        c.span(top, left, right - 1);
        c.span(bottom - 1, left, right - 1);
        for (int64_t yy = std::max(top + 1, c.cy0); yy < std::min(bottom - 1, c.cy1); ++yy) {
            c.pixel(left, yy);
            c.pixel(right - 1, yy);
        }
        break;
    case 4: {
        // From (right, top) down to the left, the end point (left, bottom) not painted.
        const int64_t from = std::max({int64_t(0), c.cy0 - top, right - (c.cx1 - 1)});
        const int64_t to = std::min({int64_t(size), c.cy1 - top, right - c.cx0 + 1});
        for (int64_t i = from; i < to; ++i)
            c.pixel(right - i, top + i);
        break;
    }
    case 5: {
        const int64_t from = std::max({int64_t(0), c.cx0 - left, c.cy0 - top});
        const int64_t to = std::min({int64_t(size), c.cx1 - left, c.cy1 - top});
        for (int64_t i = from; i < to; ++i)
            c.pixel(left + i, top + i);
        break;
    }
    default:
        break;
    }
}

void ClearCanvas(QImage &canvas, int width, int height)
{
    if (canvas.isNull() || width <= 0 || height <= 0)
        return;
    QPainter p(&canvas);
    p.fillRect(0, 0, width, height, Qt::white);
}

StampBox StampBounds(int type, int size, int x, int y)
{
    if (size == 1)
        return {x, y, x, y};
    if (size < 1 || type < 0 || type > 5)
        return {};
    const int64_t h = size / 2;
    const int64_t k = size - h;
    // The rising line starts one column right of the box and ends short of its left edge.
    const int64_t shift = type == 4 ? 1 : 0;
    return {x - h + shift, y - h, x + k - 1 + shift, y + k - 1};
}
