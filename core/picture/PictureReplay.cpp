#include "core/picture/PictureReplay.h"

#include "core/picture/Stamp.h"

#include <algorithm>
#include <climits>

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;

bool samePen(const PenTip &pen, const StrokeRow &row)
{
    return pen.type == row.type && pen.size == row.size && pen.color == row.color;
}

bool samePen(const PenTip &a, const PenTip &b)
{
    return a.type == b.type && a.size == b.size && a.color == b.color;
}

} // namespace

PictureReplay::PictureReplay(QImage &image) : image_(image)
{
    Reset();
}

void PictureReplay::Reset()
{
    const int tile = 1 << TileShift;
    size_ = image_.size();
    gridW_ = image_.isNull() ? 0 : (image_.width() + tile - 1) >> TileShift;
    gridH_ = image_.isNull() ? 0 : (image_.height() + tile - 1) >> TileShift;
    std::vector<Tile>(size_t(gridW_) * size_t(gridH_)).swap(tiles_);
    blocks_.clear();
    blocks_.shrink_to_fit();
    rowCount_ = 0;
    std::vector<uint32_t>().swap(big_);
    dirtyTiles_.clear();
    maxN_ = 0;
    ++generation_;
    std::vector<Stroke>().swap(strokes_);
    strokeIndex_.clear();
    lastStroke_ = UINT32_MAX;
    if (image_.isNull())
        return;
    if (image_.format() != QImage::Format_RGB32)
        image_.convertTo(QImage::Format_RGB32);
    image_.fill(kWhite);
    changed_ = image_.rect();
    for (const OwnStroke &s : own_)
        for (const QPoint &p : s.points) {
            QRect box;
            if (!boxOf(s.pen.type, s.pen.size, p.x(), p.y(), box))
                continue;
            countOwn(box, +1);
            DrawStamp(image_, box, s.pen.type, s.pen.size, s.pen.color, p.x(), p.y());
        }
}

bool PictureReplay::boxOf(int type, int size, int x, int y, QRect &box) const
{
    const StampBox b = StampBounds(type, size, x, y);
    const int64_t x0 = std::max<int64_t>(b.x0, 0), y0 = std::max<int64_t>(b.y0, 0);
    const int64_t x1 = std::min<int64_t>(b.x1, image_.width() - 1);
    const int64_t y1 = std::min<int64_t>(b.y1, image_.height() - 1);
    if (x0 > x1 || y0 > y1)
        return false;
    box = QRect(QPoint(int(x0), int(y0)), QPoint(int(x1), int(y1)));
    return true;
}

PictureReplay::Range PictureReplay::tilesOf(const QRect &box) const
{
    return {box.left() >> TileShift, box.top() >> TileShift, box.right() >> TileShift, box.bottom() >> TileShift};
}

bool PictureReplay::insert(const StrokeRow &r, const QRect &box, uint32_t &index)
{
    const Range range = tilesOf(box);
    const bool big = range.count() > MaxTilesPerRow;
    const auto n = static_cast<int32_t>(r.n);
    auto below = [this](uint32_t i, int32_t v) { return row(i).n < v; };
    // A number is one row: it is looked for where it would have been filed.
    std::vector<uint32_t> &first = big ? big_ : tile(range.tx0, range.ty0).rows;
    if (!first.empty() && row(first.back()).n >= n) {
        auto it = std::lower_bound(first.begin(), first.end(), n, below);
        if (it != first.end() && row(*it).n == n)
            return false;
    }
    index = rowCount_;
    if ((index >> BlockShift) >= blocks_.size())
        blocks_.push_back(std::make_unique<Packed[]>(size_t(1) << BlockShift));
    // Size 1 sets its pixel whatever the tip.
    const uint32_t type = r.size == 1 ? 0 : uint32_t(r.type);
    row(index) = {n, r.x, r.y, r.size, (uint32_t(r.color) & 0xFFFFFFu) | (type << 24), strokeOf(r.mn, r.dn)};
    ++rowCount_;
    auto file = [&](std::vector<uint32_t> &list) {
        if (list.empty() || row(list.back()).n < n)
            list.push_back(index);
        else
            list.insert(std::lower_bound(list.begin(), list.end(), n, below), index);
    };
    if (big) {
        file(big_);
        return true;
    }
    for (int ty = range.ty0; ty <= range.ty1; ++ty)
        for (int tx = range.tx0; tx <= range.tx1; ++tx)
            file(tile(tx, ty).rows);
    return true;
}

bool PictureReplay::ownMeets(const Range &r) const
{
    for (int ty = r.ty0; ty <= r.ty1; ++ty)
        for (int tx = r.tx0; tx <= r.tx1; ++tx)
            if (tiles_[size_t(ty) * size_t(gridW_) + size_t(tx)].own > 0)
                return true;
    return false;
}

void PictureReplay::countOwn(const QRect &box, int delta)
{
    const Range r = tilesOf(box);
    for (int ty = r.ty0; ty <= r.ty1; ++ty)
        for (int tx = r.tx0; tx <= r.tx1; ++tx)
            tile(tx, ty).own += delta;
}

void PictureReplay::markDirty(const QRect &box)
{
    const Range r = tilesOf(box);
    const int size = 1 << TileShift;
    for (int ty = r.ty0; ty <= r.ty1; ++ty)
        for (int tx = r.tx0; tx <= r.tx1; ++tx) {
            Tile &t = tile(tx, ty);
            t.dirty |= box & QRect(tx << TileShift, ty << TileShift, size, size);
            if (!t.queued) {
                t.queued = true;
                dirtyTiles_.push_back(ty * gridW_ + tx);
            }
        }
}

void PictureReplay::drawPacked(QImage &image, const Packed &p, const QRect &clip)
{
    DrawStamp(image, clip, int(p.colorType >> 24), p.size, int(p.colorType & 0xFFFFFFu), p.x, p.y);
}

uint32_t PictureReplay::strokeOf(int mn, int dn)
{
    if (lastStroke_ != UINT32_MAX && strokes_[lastStroke_].mn == mn && strokes_[lastStroke_].dn == dn)
        return lastStroke_;
    const quint64 key = (quint64(uint32_t(mn)) << 32) | uint32_t(dn);
    auto [it, added] = strokeIndex_.try_emplace(key, uint32_t(strokes_.size()));
    if (added)
        strokes_.push_back({mn, dn});
    return lastStroke_ = it->second;
}

void PictureReplay::AddRow(const StrokeRow &r)
{
    follow();
    if (r.n <= 0 || r.n > INT32_MAX || image_.isNull())
        return;
    QRect box;
    uint32_t index = 0;
    if (!boxOf(r.type, r.size, r.x, r.y, box) || !insert(r, box, index))
        return;
    const bool onTop = r.n > maxN_;
    maxN_ = std::max(maxN_, r.n);
    if (onTop && !ownMeets(tilesOf(box))) {
        drawPacked(row(index), box);
        changed_ |= box;
    } else {
        markDirty(box);
    }
}

void PictureReplay::AddOwn(quint64 key, const PenTip &pen, QPoint p)
{
    follow();
    if (!own_.empty() && own_.back().key == key && samePen(own_.back().pen, pen)) {
        if (!own_.back().points.empty() && own_.back().points.back() == p)
            return; // on top already
    } else {
        own_.push_back({key, pen, {}});
    }
    own_.back().points.push_back(p);
    QRect box;
    if (image_.isNull() || !boxOf(pen.type, pen.size, p.x(), p.y(), box))
        return;
    countOwn(box, +1);
    DrawStamp(image_, box, pen.type, pen.size, pen.color, p.x(), p.y());
    changed_ |= box;
}

void PictureReplay::OwnStored(quint64 key, const StrokeRow &r)
{
    follow();
    // Points are stored in the order drawn: the oldest of the stroke with this pen and place.
    const QPoint at(r.x, r.y);
    auto s = own_.begin();
    std::deque<QPoint>::iterator p;
    for (; s != own_.end(); ++s) {
        if (s->key != key || !samePen(s->pen, r))
            continue;
        p = std::find(s->points.begin(), s->points.end(), at);
        if (p != s->points.end())
            break;
    }
    if (s == own_.end()) {
        AddRow(r);
        return;
    }
    const bool lowest = s == own_.begin() && p == s->points.begin();
    const PenTip pen = s->pen;
    s->points.erase(p);
    if (s->points.empty())
        own_.erase(s);
    if (image_.isNull())
        return;
    QRect box;
    if (!boxOf(pen.type, pen.size, at.x(), at.y(), box))
        return; // painted nothing, as its row
    countOwn(box, -1);
    uint32_t index = 0;
    if (r.n > 0 && r.n <= INT32_MAX && insert(r, box, index)) {
        const bool onTop = r.n > maxN_;
        maxN_ = std::max(maxN_, r.n);
        // The lowest own point becoming the highest row: the same stamp at the same height.
        if (onTop && lowest)
            return;
    }
    markDirty(box);
}

bool PictureReplay::Repaint(const std::function<bool()> &goOn)
{
    follow();
    while (!dirtyTiles_.empty()) {
        if (goOn && !goOn())
            return false;
        const int i = dirtyTiles_.back();
        dirtyTiles_.pop_back();
        repaintTile(tiles_[size_t(i)], i % gridW_, i / gridW_);
    }
    return true;
}

void PictureReplay::repaintTile(Tile &t, int, int)
{
    const QRect clip = t.dirty;
    t.dirty = QRect();
    t.queued = false;
    if (clip.isEmpty() || image_.isNull())
        return;
    for (int y = clip.top(); y <= clip.bottom(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(image_.scanLine(y)) + clip.left(), clip.width(), kWhite);
    auto meets = [&clip](int type, int size, int x, int y) {
        const StampBox b = StampBounds(type, size, x, y);
        return b.x0 <= clip.right() && b.x1 >= clip.left() && b.y0 <= clip.bottom() && b.y1 >= clip.top();
    };
    auto draw = [&](uint32_t i) {
        const Packed &p = row(i);
        if (meets(int(p.colorType >> 24), p.size, p.x, p.y))
            drawPacked(p, clip);
    };
    // The tile's rows and the big ones, merged in N order.
    size_t a = 0, b = 0;
    while (a < t.rows.size() || b < big_.size()) {
        if (b == big_.size() || (a < t.rows.size() && row(t.rows[a]).n < row(big_[b]).n))
            draw(t.rows[a++]);
        else
            draw(big_[b++]);
    }
    if (t.own > 0)
        for (const OwnStroke &s : own_)
            for (const QPoint &p : s.points)
                if (meets(s.pen.type, s.pen.size, p.x(), p.y()))
                    DrawStamp(image_, clip, s.pen.type, s.pen.size, s.pen.color, p.x(), p.y());
    changed_ |= clip;
}

bool PictureReplay::paints(const Packed &p, QPoint at) const
{
    const int type = int(p.colorType >> 24);
    const StampBox b = StampBounds(type, p.size, p.x, p.y);
    if (at.x() < b.x0 || at.x() > b.x1 || at.y() < b.y0 || at.y() > b.y1)
        return false;
    // Outlines and lines leave most of their box alone: the stamp drawn on one pixel says.
    // Stamps are the same wherever they stand, so that pixel can be a scratch one at 0, 0.
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(0xFFFFFFFF);
    DrawStamp(dot, dot.rect(), type, p.size, 0, int(int64_t(p.x) - at.x()), int(int64_t(p.y) - at.y()));
    return dot.pixel(0, 0) != 0xFFFFFFFF;
}

std::optional<PictureReplay::Author> PictureReplay::StrokeAt(QPoint at) const
{
    if (image_.isNull() || !QRect(QPoint(0, 0), size_).contains(at) || tiles_.empty())
        return std::nullopt;
    const Tile &t = tiles_[size_t(at.y() >> TileShift) * size_t(gridW_) + size_t(at.x() >> TileShift)];
    // From the top down: the tile's rows and the big ones, merged in N order.
    size_t a = t.rows.size(), b = big_.size();
    while (a > 0 || b > 0) {
        uint32_t i;
        if (b == 0 || (a > 0 && row(t.rows[a - 1]).n > row(big_[b - 1]).n))
            i = t.rows[--a];
        else
            i = big_[--b];
        if (!paints(row(i), at))
            continue;
        const Stroke &s = strokes_[row(i).stroke];
        return Author{row(i).n, s.mn, s.dn};
    }
    return std::nullopt;
}

QRect PictureReplay::TakeChanged()
{
    return std::exchange(changed_, QRect());
}

int PictureReplay::OwnPoints() const
{
    int count = 0;
    for (const OwnStroke &s : own_)
        count += static_cast<int>(s.points.size());
    return count;
}

qint64 PictureReplay::RowBytes() const
{
    return qint64(blocks_.capacity()) * 8 + qint64(blocks_.size()) * (qint64(1) << BlockShift) * qint64(sizeof(Packed));
}

qint64 PictureReplay::IndexBytes() const
{
    qint64 bytes = qint64(big_.capacity()) * 4 + qint64(tiles_.capacity()) * qint64(sizeof(Tile))
                   + qint64(strokes_.capacity()) * qint64(sizeof(Stroke)) + qint64(strokeIndex_.size()) * 32;
    for (const Tile &t : tiles_)
        bytes += qint64(t.rows.capacity()) * 4;
    return bytes;
}
