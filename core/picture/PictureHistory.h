#pragma once
// The picture as it stood after any of its strokes, for the painting window's history.
// The rows a PictureReplay holds are taken in N order and cut into steps where the stroke
// (MN, DN) changes; step k shows every row up to the last one of the k-th step. Moving to a
// step draws into an image of its own, in slices the caller gives time to, by whichever
// costs fewer stamps: forward, the rows in between stamped on top; back, the tiles they
// touched repainted from the replay's tile index; or from a snapshot kept along the way.
// The table is never read again. No widgets.

#include "core/picture/PictureReplay.h"
#include "core/picture/TimelapsePlan.h"

#include <QImage>
#include <QRect>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class PictureHistory {
public:
    // `replay` outlives this object. Snapshots take at most `snapshotBytes` together.
    explicit PictureHistory(const PictureReplay &replay, qint64 snapshotBytes = DefaultSnapshotBytes);

    // Takes the rows the replay got since the last call: the steps grow, and a row that
    // lands below the step shown is drawn into it. After the replay's Reset, all anew.
    void Update();

    // Steps (strokes in N order); 0 before any row.
    int Steps() const { return int(stepEnds_.size()); }
    // 0: the white picture before the first stroke; Steps(): the whole picture.
    void Show(int step);
    int Shown() const { return step_; }
    struct StepInfo {
        int mn = 0, dn = 0;
        qint64 firstN = 0, lastN = 0;
        int rows = 0;
    };
    // Step 1..Steps(); an empty StepInfo for any other.
    StepInfo Step(int step) const;
    // The last step whose rows all have numbers up to n.
    int StepOf(qint64 n) const;

    // Draws toward the step shown while `goOn` says so (always, without one); true when
    // the image shows it.
    bool Render(const std::function<bool()> &goOn = {});
    bool Rendered() const { return shown_ == target() && dirtyTiles_.empty(); }
    const QImage &Image() const { return image_; }
    // The part of the image changed since the last call.
    QRect TakeChanged() { return std::exchange(changed_, QRect()); }

    // Makes the snapshots along the way while `goOn` says so; true when all are made.
    bool Prepare(const std::function<bool()> &goOn = {});
    int Snapshots() const { return int(snapshots_.size()); }
    // Memory: the snapshots (and the image they are made in, while it lives), and the
    // rows' order with the steps.
    qint64 SnapshotBytes() const;
    qint64 IndexBytes() const;

    // The stamps in N order and where the frames end: one frame every `stride` steps, and
    // the whole picture last.
    TimelapsePlan Plan(int stride) const;

    static constexpr qint64 DefaultSnapshotBytes = 64LL << 20;
    // Below this many rows a move never costs enough for snapshots.
    static constexpr uint32_t SnapshotSpacingMin = 40000;

private:
    using Packed = PictureReplay::Packed;
    struct Snapshot {
        qint64 lastN; // rows up to it
        uint32_t end; // their count
        QImage image;
    };

    const Packed &row(uint32_t position) const { return replay_.row(order_[position]); }
    qint64 nAt(uint32_t end) const { return end == 0 ? 0 : row(end - 1).n; }
    uint32_t endOf(qint64 n) const; // rows with numbers up to n
    uint32_t target() const { return step_ == 0 ? 0 : stepEnds_[size_t(step_ - 1)]; }
    void restart();
    void cutSteps();
    void stamp(QImage &image, uint32_t from, uint32_t to, QRect *changed) const;
    // The tiles that the rows [from, to) meet, as dirty areas; what repainting them to
    // `lastN` costs, in rows gone through.
    qint64 touched(uint32_t from, uint32_t to, qint64 lastN, std::vector<QRect> &areas) const;
    void markDirty(const QRect &box);
    void repaintTile(int index, qint64 lastN);
    qint64 copyCost() const { return qint64(image_.width()) * image_.height() / 1024 + 1; }
    int snapshotRoom() const;

    const PictureReplay &replay_;
    const qint64 snapshotBytes_;
    quint64 generation_ = ~quint64(0);
    uint32_t seen_ = 0;
    std::vector<uint32_t> order_;    // replay rows, ascending N
    std::vector<uint32_t> stepEnds_; // per step, the end of its rows in order_
    int step_ = 0;

    QImage image_;
    uint32_t shown_ = 0; // image_ shows order_[0, shown_) outside the dirty tiles
    std::vector<QRect> tileDirty_;
    std::vector<int> dirtyTiles_; // repainted to target() once shown_ is there
    QRect changed_;
    // The areas a move back would repaint, worked out once per move.
    struct Back {
        uint32_t from = 0, to = 0;
        qint64 cost = -1;
        std::vector<QRect> areas;
    } back_;

    std::vector<Snapshot> snapshots_; // ascending
    uint32_t spacing_ = 0;
    QImage build_; // where the next snapshot is made
    uint32_t built_ = 0;
};
