#include "core/picture/PictureHistory.h"

#include "core/picture/Stamp.h"

#include <algorithm>
#include <climits>
#include <numeric>

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
// Rows stamped between two looks at the clock.
constexpr uint32_t kChunk = 2048;
// Snapshots kept at most, whatever the budget.
constexpr int kMaxSnapshots = 16;

} // namespace

PictureHistory::PictureHistory(const PictureReplay &replay, qint64 snapshotBytes)
    : replay_(replay), snapshotBytes_(snapshotBytes)
{
    Update();
}

uint32_t PictureHistory::endOf(qint64 n) const
{
    const auto it = std::upper_bound(order_.begin(), order_.end(), n,
                                     [this](qint64 v, uint32_t i) { return v < replay_.row(i).n; });
    return uint32_t(it - order_.begin());
}

void PictureHistory::restart()
{
    generation_ = replay_.Generation();
    seen_ = replay_.rowCount_;
    order_.resize(seen_);
    std::iota(order_.begin(), order_.end(), 0u);
    // Rows mostly come in N order.
    const auto byN = [this](uint32_t a, uint32_t b) { return replay_.row(a).n < replay_.row(b).n; };
    if (!std::is_sorted(order_.begin(), order_.end(), byN))
        std::sort(order_.begin(), order_.end(), byN);
    cutSteps();
    step_ = std::min(step_, Steps());
    const QSize size = replay_.size_;
    if (size.isEmpty())
        image_ = QImage();
    else if (image_.size() != size)
        image_ = QImage(size, QImage::Format_RGB32);
    shown_ = 0;
    if (!image_.isNull() && replay_.own_.empty() && replay_.dirtyTiles_.empty() && replay_.image_.size() == size
        && replay_.image_.format() == QImage::Format_RGB32) {
        // The window's picture is the whole history when no own point lies on it: it starts
        // there, shared until either is drawn on.
        image_ = replay_.image_;
        shown_ = uint32_t(order_.size());
        step_ = Steps();
    } else if (!image_.isNull()) {
        image_.fill(kWhite);
    }
    tileDirty_.assign(size_t(replay_.gridW_) * size_t(replay_.gridH_), QRect());
    dirtyTiles_.clear();
    changed_ = image_.rect();
    back_ = {};
    snapshots_.clear();
    spacing_ = 0;
    build_ = QImage();
    built_ = 0;
}

void PictureHistory::cutSteps()
{
    stepEnds_.clear();
    for (uint32_t p = 0; p < order_.size(); ++p)
        if (p + 1 == order_.size() || row(p).stroke != row(p + 1).stroke)
            stepEnds_.push_back(p + 1);
}

void PictureHistory::Update()
{
    if (replay_.Generation() != generation_) {
        restart();
        return;
    }
    const uint32_t count = replay_.rowCount_;
    if (seen_ == count)
        return;
    bool above = true;
    qint64 previous = nAt(uint32_t(order_.size())), lowest = LLONG_MAX;
    for (uint32_t i = seen_; i < count; ++i) {
        const qint64 n = replay_.row(i).n;
        above = above && n > previous;
        previous = n;
        lowest = std::min(lowest, n);
    }
    if (above) {
        // The usual way: rows above all others, which only make the last step longer or add steps.
        for (uint32_t i = seen_; i < count; ++i) {
            const bool sameStroke = !order_.empty() && row(uint32_t(order_.size()) - 1).stroke == replay_.row(i).stroke;
            order_.push_back(i);
            if (sameStroke)
                ++stepEnds_.back();
            else
                stepEnds_.push_back(uint32_t(order_.size()));
        }
        seen_ = count;
        return;
    }
    // Rows below others: the steps are cut again, and the pictures made with too few rows mended.
    const qint64 shownN = nAt(shown_), targetN = nAt(target()), builtN = nAt(built_);
    const size_t old = order_.size();
    const uint32_t first = seen_;
    for (uint32_t i = seen_; i < count; ++i)
        order_.push_back(i);
    seen_ = count;
    const auto byN = [this](uint32_t a, uint32_t b) { return replay_.row(a).n < replay_.row(b).n; };
    std::sort(order_.begin() + std::ptrdiff_t(old), order_.end(), byN);
    std::inplace_merge(order_.begin(), order_.begin() + std::ptrdiff_t(old), order_.end(), byN);
    cutSteps();
    for (uint32_t i = first; i < count; ++i) {
        const Packed &r = replay_.row(i);
        QRect box;
        if (r.n <= shownN && replay_.boxOf(int(r.colorType >> 24), r.size, r.x, r.y, box))
            markDirty(box);
    }
    shown_ = endOf(shownN);
    step_ = StepOf(targetN);
    back_ = {};
    // Those below every new row keep their place.
    snapshots_.erase(std::remove_if(snapshots_.begin(), snapshots_.end(), [lowest](const Snapshot &s) { return lowest < s.lastN; }),
                     snapshots_.end());
    if (lowest < builtN) {
        build_ = QImage();
        built_ = 0;
    } else {
        built_ = endOf(builtN);
    }
}

int PictureHistory::StepOf(qint64 n) const
{
    const auto it = std::upper_bound(stepEnds_.begin(), stepEnds_.end(), n,
                                     [this](qint64 v, uint32_t end) { return v < nAt(end); });
    return int(it - stepEnds_.begin());
}

void PictureHistory::Show(int step)
{
    step_ = std::clamp(step, 0, Steps());
}

PictureHistory::StepInfo PictureHistory::Step(int step) const
{
    if (step < 1 || step > Steps())
        return {};
    const uint32_t begin = step == 1 ? 0 : stepEnds_[size_t(step - 2)], end = stepEnds_[size_t(step - 1)];
    const PictureReplay::Stroke &s = replay_.strokes_[row(begin).stroke];
    return {s.mn, s.dn, row(begin).n, row(end - 1).n, int(end - begin)};
}

void PictureHistory::stamp(QImage &image, uint32_t from, uint32_t to, QRect *changed) const
{
    for (uint32_t p = from; p < to; ++p) {
        const Packed &r = row(p);
        QRect box;
        if (!replay_.boxOf(int(r.colorType >> 24), r.size, r.x, r.y, box))
            continue;
        PictureReplay::drawPacked(image, r, box);
        if (changed)
            *changed |= box;
    }
}

qint64 PictureHistory::touched(uint32_t from, uint32_t to, qint64 lastN, std::vector<QRect> &areas) const
{
    const int side = 1 << PictureReplay::TileShift, gridW = replay_.gridW_;
    std::vector<QRect> area(tileDirty_.size());
    std::vector<int> tiles;
    for (uint32_t p = from; p < to; ++p) {
        const Packed &r = row(p);
        QRect box;
        if (!replay_.boxOf(int(r.colorType >> 24), r.size, r.x, r.y, box))
            continue;
        const PictureReplay::Range range = replay_.tilesOf(box);
        for (int ty = range.ty0; ty <= range.ty1; ++ty)
            for (int tx = range.tx0; tx <= range.tx1; ++tx) {
                const int t = ty * gridW + tx;
                if (area[size_t(t)].isEmpty())
                    tiles.push_back(t);
                area[size_t(t)] |= box & QRect(tx * side, ty * side, side, side);
            }
    }
    // Each tile goes through its rows up to lastN and the big ones, and paints its area white.
    const auto upTo = [this, lastN](const std::vector<uint32_t> &list) {
        return qint64(std::upper_bound(list.begin(), list.end(), lastN,
                                       [this](qint64 v, uint32_t i) { return v < replay_.row(i).n; })
                      - list.begin());
    };
    const qint64 big = upTo(replay_.big_);
    qint64 cost = 0;
    for (int t : tiles) {
        const QRect &a = area[size_t(t)];
        cost += upTo(replay_.tiles_[size_t(t)].rows) + big + qint64(a.width()) * a.height() / 1024;
        areas.push_back(a);
    }
    return cost;
}

void PictureHistory::markDirty(const QRect &box)
{
    const int side = 1 << PictureReplay::TileShift, gridW = replay_.gridW_;
    const PictureReplay::Range range = replay_.tilesOf(box);
    for (int ty = range.ty0; ty <= range.ty1; ++ty)
        for (int tx = range.tx0; tx <= range.tx1; ++tx) {
            const int t = ty * gridW + tx;
            QRect &d = tileDirty_[size_t(t)];
            if (d.isEmpty())
                dirtyTiles_.push_back(t);
            d |= box & QRect(tx * side, ty * side, side, side);
        }
}

void PictureHistory::repaintTile(int index, qint64 lastN)
{
    const QRect clip = std::exchange(tileDirty_[size_t(index)], QRect());
    if (clip.isEmpty())
        return;
    for (int y = clip.top(); y <= clip.bottom(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(image_.scanLine(y)) + clip.left(), clip.width(), kWhite);
    const auto draw = [&](uint32_t i) {
        const Packed &p = replay_.row(i);
        const StampBox b = StampBounds(int(p.colorType >> 24), p.size, p.x, p.y);
        if (b.x0 <= clip.right() && b.x1 >= clip.left() && b.y0 <= clip.bottom() && b.y1 >= clip.top())
            PictureReplay::drawPacked(image_, p, clip);
    };
    // The tile's rows and the big ones, merged in N order, up to lastN.
    const std::vector<uint32_t> &rows = replay_.tiles_[size_t(index)].rows, &big = replay_.big_;
    size_t a = 0, b = 0;
    while (true) {
        const bool moreA = a < rows.size() && replay_.row(rows[a]).n <= lastN;
        const bool moreB = b < big.size() && replay_.row(big[b]).n <= lastN;
        if (!moreA && !moreB)
            break;
        if (!moreB || (moreA && replay_.row(rows[a]).n < replay_.row(big[b]).n))
            draw(rows[a++]);
        else
            draw(big[b++]);
    }
    changed_ |= clip;
}

bool PictureHistory::Render(const std::function<bool()> &goOn)
{
    if (image_.isNull()) {
        shown_ = target();
        return true;
    }
    while (true) {
        const uint32_t to = target();
        if (shown_ == to && dirtyTiles_.empty())
            return true;
        if (goOn && !goOn())
            return false;
        if (shown_ == to) {
            const int t = dirtyTiles_.back();
            dirtyTiles_.pop_back();
            repaintTile(t, nAt(to));
            continue;
        }
        // The nearest snapshot at or below the step; the white picture counts as one.
        const Snapshot *from = nullptr;
        for (const Snapshot &s : snapshots_)
            if (s.end <= to)
                from = &s;
        const uint32_t fromEnd = from ? from->end : 0;
        const qint64 viaSnapshot = qint64(to - fromEnd) + copyCost();
        if (to > shown_) {
            if (fromEnd <= shown_ || qint64(to - shown_) <= viaSnapshot) {
                const uint32_t next = std::min(to, shown_ + kChunk);
                stamp(image_, shown_, next, &changed_);
                shown_ = next;
                continue;
            }
        } else {
            if (back_.cost < 0 || back_.from != to || back_.to != shown_) {
                back_.from = to;
                back_.to = shown_;
                back_.areas.clear();
                back_.cost = touched(to, shown_, nAt(to), back_.areas);
            }
            if (back_.cost <= viaSnapshot) {
                for (const QRect &a : back_.areas)
                    markDirty(a);
                shown_ = to;
                back_ = {};
                continue;
            }
        }
        if (from)
            image_ = from->image;
        else
            image_.fill(kWhite);
        shown_ = fromEnd;
        for (int t : dirtyTiles_)
            tileDirty_[size_t(t)] = QRect();
        dirtyTiles_.clear();
        changed_ = image_.rect();
        back_ = {};
    }
}

int PictureHistory::snapshotRoom() const
{
    const qint64 bytes = image_.sizeInBytes();
    if (bytes <= 0)
        return 0;
    // The image they are made in counts too.
    return int(std::clamp<qint64>(snapshotBytes_ / bytes - 1, 0, kMaxSnapshots));
}

bool PictureHistory::Prepare(const std::function<bool()> &goOn)
{
    const int room = snapshotRoom();
    const auto rows = uint32_t(order_.size());
    if (room == 0 || rows < 2 * SnapshotSpacingMin) {
        build_ = QImage();
        return true;
    }
    if (spacing_ == 0)
        spacing_ = std::max(SnapshotSpacingMin, (rows + uint32_t(room)) / uint32_t(room + 1));
    while (true) {
        const uint32_t last = snapshots_.empty() ? 0 : snapshots_.back().end, next = last + spacing_;
        if (int(snapshots_.size()) >= room || next >= rows) {
            build_ = QImage();
            built_ = 0;
            return true;
        }
        if (goOn && !goOn())
            return false;
        if (build_.isNull() || built_ < last || built_ > next) {
            if (snapshots_.empty()) {
                build_ = QImage(image_.size(), QImage::Format_RGB32);
                build_.fill(kWhite);
            } else {
                build_ = snapshots_.back().image;
            }
            built_ = last;
        }
        const uint32_t to = std::min(next, built_ + kChunk);
        stamp(build_, built_, to, nullptr);
        built_ = to;
        // Shared until the next stamp, which copies it.
        if (built_ == next)
            snapshots_.push_back({nAt(next), next, build_});
    }
}

qint64 PictureHistory::SnapshotBytes() const
{
    qint64 bytes = 0;
    for (const Snapshot &s : snapshots_)
        bytes += s.image.sizeInBytes();
    if (!build_.isNull() && (snapshots_.empty() || build_.constBits() != snapshots_.back().image.constBits()))
        bytes += build_.sizeInBytes();
    return bytes;
}

qint64 PictureHistory::IndexBytes() const
{
    return qint64(order_.capacity() + stepEnds_.capacity()) * 4 + qint64(tileDirty_.capacity()) * qint64(sizeof(QRect))
           + qint64(dirtyTiles_.capacity()) * 4;
}

TimelapsePlan PictureHistory::Plan(int stride) const
{
    TimelapsePlan plan;
    plan.size = image_.size();
    plan.stamps.reserve(order_.size());
    for (uint32_t p = 0; p < order_.size(); ++p) {
        const Packed &r = row(p);
        plan.stamps.push_back({r.x, r.y, r.size, r.colorType});
    }
    stride = std::max(1, stride);
    for (int k = stride; k < Steps(); k += stride)
        plan.frameEnds.push_back(stepEnds_[size_t(k - 1)]);
    if (Steps() > 0)
        plan.frameEnds.push_back(stepEnds_.back());
    return plan;
}
