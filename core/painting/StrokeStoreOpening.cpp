// The opening of a picture (core/picture/PictureOpening, here or on another thread) and the
// catching-up with rows stored since, which draws the picture again when the table no
// longer holds what was drawn.

#include "core/painting/StrokeStore.h"

#include "core/painting/StrokeStoreRows.h"
#include "db/DataAccess.h"

#include <algorithm>
#include <utility>

using namespace StrokeStoreRows;

void StrokeStore::load(bool createMissing)
{
    readCount_ = 0;
    drawnUpTo_ = 0;
    highestDn_.clear();
    watermarkRow_.clear();
    ownAbove_.clear();
    lastOpening_ = {};
    openingPending_ = false;
    if (openingElsewhere_) {
        openingWanted_ = true;
        openingCreates_ = createMissing;
        return;
    }
    const PictureOpening::Result result =
        PictureOpening::Run(db_, {table_, createMissing, cached_, nullptr}, [this](const StrokeRow &r) { takeRow(r); });
    adopt(result, createMissing);
}

PictureOpening::Options StrokeStore::OpeningOptions() const
{
    return {table_, openingCreates_, cached_, nullptr};
}

void StrokeStore::Opened(const PictureOpening::Result &result)
{
    openingRunning_ = false;
    if (openingWanted_)
        return; // drawn again from scratch meanwhile: the next opening counts
    adopt(result, openingCreates_);
    if (std::exchange(redrawing_, false))
        drawPendingOver();
}

void StrokeStore::adopt(const PictureOpening::Result &result, bool createMissing)
{
    using Table = PictureOpening::Result::Table;
    openingPending_ = createMissing && result.table == Table::Unknown;
    if (result.table == Table::Missing && !createMissing)
        fail(Failure::TableGone);
    readCount_ = result.rows;
    drawnUpTo_ = result.lastN;
    watermarkRow_ = result.rows > 0 ? RowContent(result.last) : QString();
    for (const auto &[mn, dn] : result.highestDn) {
        int &known = highestDn_[mn];
        known = std::max(known, dn);
    }
    lastOpening_ = result.stats;
}

void StrokeStore::redraw(bool asOpening)
{
    if (clear_)
        clear_();
    // A table deleted from the image list stays deleted until someone opens the
    // picture again; the unstored points wait for it.
    load(asOpening);
    // Unstored points stay on the picture; they get numbers and a stroke number
    // of the table as it is now when they are stored.
    for (PendingStroke &s : pending_) {
        if (s.sendingN == 0) {
            s.dn = 0;
            s.numbered = false;
        }
    }
    if (AwaitsOpening())
        redrawing_ = true;
    else
        drawPendingOver();
    redrawn_ = true;
}

void StrokeStore::drawPendingOver()
{
    if (!draw_)
        return;
    for (const PendingStroke &s : pending_)
        if (!s.orphan)
            for (const QPoint &p : s.points)
                draw_({0, s.user, 0, s.pen.type, s.pen.size, s.pen.color, p.x(), p.y()});
}

bool StrokeStore::watermarkRowGone()
{
    // An empty answer may also be a failed query: only a table that is gone, or
    // one that can be read and lacks the row, counts.
    if (!db_.IsConnected())
        return false;
    const bool exists = db_.TableExists(table_);
    if (db_.TableListFailed() || !db_.IsConnected())
        return false;
    return !exists || db_.SelectAll(table_, QStringLiteral("N=") + num(drawnUpTo_)) == 0;
}

int StrokeStore::catchUp()
{
    if (AwaitsOpening())
        return 0;
    if (openingPending_ && db_.IsConnected()) {
        redraw(true);
        return std::max(readCount_, 1);
    }
    // From the row at the watermark on, so that a table that no longer holds it
    // (dropped, re-created, another database) shows.
    const bool check = drawnUpTo_ > 0;
    bool first = true;
    bool gone = false;
    bool gap = false;
    int drawn = 0;
    const auto take = [&](const QStringList &row, bool gapsAllowed) {
        const qint64 n = TextToInt(row.value(ImageTable::N));
        if (check && std::exchange(first, false)) {
            gone = n != drawnUpTo_ || (!watermarkRow_.isEmpty() && rowContent(row) != watermarkRow_);
            if (watermarkRow_.isEmpty() && !gone)
                watermarkRow_ = rowContent(row);
            return !gone;
        }
        // A statement commits all its rows at once and every writer numbers above the
        // highest committed N, so the committed rows are gapless. A read-committed read sees
        // each row as it passes it, though: a statement committed between two of them shows
        // its rows without the one just passed. Such a gap is read again in a snapshot.
        if (!gapsAllowed && n != drawnUpTo_ + 1) {
            gap = true;
            return false;
        }
        takeRow(row);
        drawnUpTo_ = n;
        watermarkRow_ = rowContent(row);
        ++drawn;
        return true;
    };
    const int m = db_.ForEachRowFrom(table_, check ? drawnUpTo_ : drawnUpTo_ + 1,
                                     [&](const QStringList &row) { return take(row, false); });
    if (gap && !gone) {
        first = false;
        db_.ForEachRow(QStringLiteral("*"), table_, QStringLiteral("N>") + num(drawnUpTo_), QStringLiteral("N"),
                       [&](const QStringList &row) { return take(row, true); });
    }
    if (check && m == 0)
        gone = watermarkRowGone();
    if (gone) {
        redraw(false);
        return std::max(readCount_, 1);
    }
    readCount_ += drawn;
    return drawn;
}

int StrokeStore::Refresh()
{
    lastFailure_ = Failure::None;
    return catchUp();
}
