#pragma once
// A painting window's picture: its stored rows replayed in N order, whoever drew first
// and in whatever order they arrive, with the window's own points not stored yet on top.
// A row that lands below what is drawn already, and an own point that leaves the top, are
// repainted inside their stamps' area only: a grid of tiles lists the rows whose stamps
// meet each tile, in N order. Each row keeps its stroke (MN, DN), so that PictureHistory
// can show the picture as it stood after any stroke. No widgets: the window shows the bitmap.

#include "core/StrokeRow.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <optional>
#include <vector>

class PictureReplay {
public:
    // Draws into `image`, which outlives this object; Reset() after it is made anew.
    explicit PictureReplay(QImage &image);

    // The picture white, no stored row; the own points stay, drawn on it.
    void Reset();
    // A stored row (n > 0), at once when it comes above every row drawn and no own point
    // lies under it, else through a repaint. A number already held is passed over.
    void AddRow(const StrokeRow &row);
    // A point of own stroke `key` not stored yet: drawn on top. The same point again at
    // once (the mouse moved without leaving it) draws nothing new.
    void AddOwn(quint64 key, const PenTip &pen, QPoint point);
    // The row that stores the oldest such point of stroke `key` came back. With n <= 0 it
    // went into a table drawn again since, which shows it if it holds it: it only leaves
    // the top. A row that matches no own point is drawn as any other.
    void OwnStored(quint64 key, const StrokeRow &row);

    // Repaints the areas that wait, a tile at a time while `goOn` says so (always, without
    // one). True when none waits any more.
    bool Repaint(const std::function<bool()> &goOn = {});
    bool Waiting() const { return !dirtyTiles_.empty(); }
    // The part of the bitmap changed since the last call.
    QRect TakeChanged();

    // A stroke as the rows name it: its author's member number and that author's stroke.
    struct Stroke {
        int mn = 0, dn = 0;
    };

    // The stored row whose stamp painted pixel `at` last (the topmost), with its author and
    // stroke number; none where only white or the own points not stored yet lie.
    struct Author {
        qint64 n = 0;
        int mn = 0, dn = 0;
    };
    std::optional<Author> StrokeAt(QPoint at) const;

    int StoredRows() const { return static_cast<int>(rowCount_); }
    // Goes up at every Reset: rows taken before it are gone.
    quint64 Generation() const { return generation_; }
    int OwnPoints() const;
    qint64 HighestN() const { return maxN_; }
    // What the rows, and their index, hold in memory, in bytes.
    qint64 RowBytes() const;
    qint64 IndexBytes() const;

    static constexpr int TileShift = 6; // tiles of 64 x 64 pixels
    // A stamp meeting more tiles than this is listed once, for every tile.
    static constexpr int MaxTilesPerRow = 16;

private:
    friend class PictureHistory;

    // A stored row that paints something inside the picture: 24 bytes.
    struct Packed {
        int32_t n, x, y, size;
        uint32_t colorType; // 0x00BBGGRR, the tip in the high byte
        uint32_t stroke;    // index into strokes_
    };
    struct Tile {
        std::vector<uint32_t> rows; // indices of rows, ascending N
        int own = 0;                // own points whose stamps meet it
        QRect dirty;
        bool queued = false;
    };
    struct OwnStroke {
        quint64 key;
        PenTip pen;
        std::deque<QPoint> points;
    };
    struct Range {
        int tx0, ty0, tx1, ty1;
        int count() const { return (tx1 - tx0 + 1) * (ty1 - ty0 + 1); }
    };

    // The stamp's box clipped to the picture; false when it paints nothing there.
    bool boxOf(int type, int size, int x, int y, QRect &box) const;
    Range tilesOf(const QRect &box) const;
    Tile &tile(int tx, int ty) { return tiles_[size_t(ty) * size_t(gridW_) + size_t(tx)]; }
    // Files the row under its tiles; false when its number is held already.
    bool insert(const StrokeRow &row, const QRect &box, uint32_t &index);
    bool ownMeets(const Range &r) const;
    void countOwn(const QRect &box, int delta);
    void markDirty(const QRect &box);
    void repaintTile(Tile &t, int tx, int ty);
    void drawPacked(const Packed &p, const QRect &clip) const { drawPacked(image_, p, clip); }
    static void drawPacked(QImage &image, const Packed &p, const QRect &clip);
    uint32_t strokeOf(int mn, int dn);

    // A bitmap made anew behind our back: start again from it rather than write past it.
    void follow()
    {
        if (image_.size() != size_)
            Reset();
    }

    QImage &image_;
    QSize size_;
    int gridW_ = 0, gridH_ = 0;
    std::vector<Tile> tiles_;
    // The rows in the order they came, in blocks of 4096 so that growing never copies them.
    static constexpr int BlockShift = 12;
    std::vector<std::unique_ptr<Packed[]>> blocks_;
    uint32_t rowCount_ = 0;
    Packed &row(uint32_t i) { return blocks_[i >> BlockShift][i & ((1u << BlockShift) - 1)]; }
    const Packed &row(uint32_t i) const { return blocks_[i >> BlockShift][i & ((1u << BlockShift) - 1)]; }
    bool paints(const Packed &p, QPoint at) const;
    std::vector<uint32_t> big_;   // rows meeting too many tiles, ascending N
    std::deque<OwnStroke> own_;   // oldest first
    std::vector<int> dirtyTiles_; // tiles with an area to repaint
    qint64 maxN_ = 0;
    quint64 generation_ = 0;
    // The strokes met, each once; rows of one stroke mostly come together.
    std::vector<Stroke> strokes_;
    std::unordered_map<quint64, uint32_t> strokeIndex_;
    uint32_t lastStroke_ = UINT32_MAX;
    QRect changed_;
};
