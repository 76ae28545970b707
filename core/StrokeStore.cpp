#include "core/StrokeStore.h"

#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Tables.h"
#include "core/Stamp.h"

#include <chrono>
#include <climits>
#include <utility>
#include <thread>

namespace {
const QStringList kColumns = ImageTable::ColumnNames();
constexpr int kRowColumns = ImageTable::ColumnCount;

// A row without its number, to compare the row at a number with the one drawn there.
QString rowContent(const QStringList &row)
{
    return row.mid(1, kRowColumns - 1).join(QLatin1Char(','));
}
} // namespace

StrokeStore::StrokeStore(DataAccess &db, QImage &image) : db_(db), image_(image)
{
    buffer_.resize(kRowColumns);
}

int StrokeStore::PendingPoints() const
{
    int count = 0;
    for (const PendingStroke &s : pending_)
        count += static_cast<int>(s.points.size());
    return count;
}

void StrokeStore::noteRow(qint64 n, int mn, int dn)
{
    if (n > highestSeen_)
        highestSeen_ = n;
    int &known = highestDn_[mn];
    if (dn > known)
        known = dn;
}

void StrokeStore::drawRow(const QStringList &row)
{
    using namespace ImageTable;
    DrawStamp(image_, TextToInt(row.value(PTYP)), TextToInt(row.value(PSIZ)),
              TextToInt(row.value(PCOL)), TextToInt(row.value(X)), TextToInt(row.value(Y)));
    noteRow(TextToInt(row.value(N)), TextToInt(row.value(MN)), TextToInt(row.value(DN)));
}

void StrokeStore::load(bool createMissing)
{
    readCount_ = 0;
    drawnUpTo_ = 0;
    highestSeen_ = 0;
    drawnAbove_.clear();
    highestDn_.clear();
    watermarkRow_.clear();
    lastOwnN_ = 0;
    const bool exists = db_.TableExists(table_);
    openingPending_ = createMissing && (!db_.IsConnected() || db_.TableListFailed());
    if (!exists) {
        if (createMissing)
            db_.CreateImageTable(table_);
        return;
    }
    // By hand, not ForEachRow: only the last row's content is kept, and the replay of a
    // large picture should not build it for every row.
    const int n = db_.SelectOrdered(QStringLiteral("*"), table_, QString(), QStringLiteral("N"));
    qint64 last = 0;
    for (int i = 0; i < n; ++i) {
        if (i == 0)
            db_.FetchFirst(buffer_);
        else
            db_.FetchNext(buffer_);
        drawRow(buffer_);
        last = TextToInt(buffer_.value(ImageTable::N));
    }
    if (n > 0)
        watermarkRow_ = rowContent(buffer_);
    db_.CloseQuery();
    readCount_ = n;
    drawnUpTo_ = std::max<qint64>(last, 0);
}

void StrokeStore::redraw(bool asOpening)
{
    ClearCanvas(image_, image_.width(), image_.height());
    // A table deleted from the image list stays deleted until someone opens the
    // picture again; the unstored points wait for it.
    load(asOpening);
    // Unstored points stay on the picture; they get numbers and a stroke number
    // of the table as it is now when they are stored.
    for (PendingStroke &s : pending_) {
        s.dn = 0;
        s.numbered = false;
        for (const QPoint &p : s.points)
            DrawStamp(image_, s.pen.type, s.pen.size, s.pen.color, p.x(), p.y());
    }
    redrawn_ = true;
}

bool StrokeStore::watermarkRowGone()
{
    // An empty answer may also be a failed query: only a table that is gone, or
    // one that can be read and lacks the row, counts.
    if (!db_.IsConnected())
        return false;
    const bool exists = db_.TableExists(table_);
    if (db_.TableListFailed())
        return false;
    return !exists
           || db_.SelectAll(table_, QStringLiteral("N=") + QString::number(drawnUpTo_)) == 0;
}

void StrokeStore::advanceWatermark()
{
    const qint64 before = drawnUpTo_;
    while (!drawnAbove_.empty() && *drawnAbove_.begin() <= drawnUpTo_ + 1) {
        drawnUpTo_ = std::max(drawnUpTo_, *drawnAbove_.begin());
        drawnAbove_.erase(drawnAbove_.begin());
    }
    if (drawnUpTo_ != before)
        watermarkRow_ = drawnUpTo_ == lastOwnN_ ? lastOwnRow_ : QString();
}

int StrokeStore::catchUp()
{
    // From the row at the watermark on, so that a table that no longer holds it
    // (dropped, re-created, another database) shows.
    if (openingPending_ && db_.IsConnected()) {
        redraw(true);
        return std::max(readCount_, 1);
    }
    const bool check = drawnUpTo_ > 0;
    bool first = true;
    bool gone = false;
    int drawn = 0;
    qint64 last = drawnUpTo_;
    QString lastRow = watermarkRow_;
    const int m = db_.ForEachRow(
        QStringLiteral("*"), table_,
        (check ? QStringLiteral("N>=") : QStringLiteral("N>")) + QString::number(drawnUpTo_),
        QStringLiteral("N"), [&](const QStringList &row) {
            const qint64 n = TextToInt(row.value(ImageTable::N));
            if (check && std::exchange(first, false)) {
                gone = n != drawnUpTo_
                       || (!watermarkRow_.isEmpty() && rowContent(row) != watermarkRow_);
                if (watermarkRow_.isEmpty() && !gone)
                    watermarkRow_ = rowContent(row);
                return !gone;
            }
            if (n > last)
                lastRow = rowContent(row);
            last = std::max(last, n);
            if (n <= drawnUpTo_ || drawnAbove_.count(n))
                return true; // this window's own point or a clash row it drew already
            drawRow(row);
            ++drawn;
            return true;
        });
    if (check && m == 0)
        gone = watermarkRowGone();
    if (gone) {
        redraw(false);
        return std::max(readCount_, 1);
    }
    readCount_ += drawn;
    // Every writer inserts n only after n-1 is committed, so what one statement
    // sees is gapless below its highest row.
    if (last != drawnUpTo_)
        watermarkRow_ = lastRow;
    drawnUpTo_ = last;
    drawnAbove_.erase(drawnAbove_.begin(), drawnAbove_.upper_bound(drawnUpTo_));
    advanceWatermark();
    return drawn;
}

int StrokeStore::Refresh()
{
    return catchUp();
}

// Waits a random while that grows with the clashes in a row: another writer that has just
// taken a number is storing a stroke and takes the next ones at once, so racing it again
// at once for the very next number mostly fails again and costs the server an insert.
void StrokeStore::backOff(int clashesInRow)
{
    const int limitUs = 1000 << std::min(clashesInRow - 1, 4);
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, limitUs)(random_)));
}

bool StrokeStore::storeStroke(PendingStroke &stroke, int &clashes)
{
    if (!db_.IsConnected())
        return false;
    // The catching-up has drawn and noted every row up to the watermark: the highest N and
    // the author's highest DN are known without asking.
    qint64 n = std::max(highestSeen_, drawnUpTo_) + 1;
    int clashesInRow = 0;
    while (!stroke.points.empty()) {
        if (n > INT_MAX || !db_.IsConnected())
            return false;
        // Until its first row is stored the stroke takes the number after any stroke of the
        // same author that a clash has brought to light.
        if (!stroke.numbered)
            stroke.dn = highestDn_[stroke.user] + 1;
        const QPoint p = stroke.points.front();
        const QStringList values = {QString::number(n),
                                    QString::number(stroke.user),
                                    QString::number(stroke.dn),
                                    QString::number(stroke.pen.type),
                                    QString::number(stroke.pen.size),
                                    QString::number(stroke.pen.color),
                                    QString::number(p.x()),
                                    QString::number(p.y())};
        if (beforeInsert)
            beforeInsert(static_cast<int>(n));
        if (db_.InsertRecord(table_, ImageTable::ColumnCount, kColumns, values)) {
            // Drawn live already; remembered so no refresh draws it again.
            noteRow(n, stroke.user, stroke.dn);
            stroke.numbered = true;
            lastOwnN_ = n;
            lastOwnRow_ = rowContent(values);
            if (n > drawnUpTo_)
                drawnAbove_.insert(n);
            ++readCount_;
            stroke.points.pop_front();
            ++n;
            clashesInRow = 0;
            continue;
        }
        if (!db_.LastFailureWasDuplicate())
            return false; // lost connection, dropped table, ...: keep the rest for later
        // Another writer stored this number first. Let it go on for a moment, then draw
        // what the others have stored meanwhile (that row among them) and go on past the
        // highest number seen, instead of failing on each number taken in the meantime.
        backOff(++clashesInRow);
        catchUp();
        if (n > drawnUpTo_ && !drawnAbove_.count(n))
            return false; // the number was refused, yet no row holds it: no clash
        ++clashes;
        n = std::max(n + 1, highestSeen_ + 1);
    }
    advanceWatermark();
    return true;
}

bool StrokeStore::Store(int user, const PenTip &pen, const std::vector<QPoint> &points)
{
    lastClashes_ = 0;
    if (!points.empty())
        pending_.push_back({user, 0, pen, std::deque<QPoint>(points.begin(), points.end())});
    // One round trip per row; the run's transaction ends with the store.
    struct RowRun {
        DataAccess &db;
        explicit RowRun(DataAccess &d) : db(d) { db.BeginRowRun(); }
        ~RowRun() { db.EndRowRun(); }
    } run(db_);
    catchUp();
    if (afterCatchUp)
        afterCatchUp();
    int clashes = 0;
    while (!pending_.empty()) {
        if (!storeStroke(pending_.front(), clashes))
            break;
        pending_.pop_front();
    }
    advanceWatermark();
    lastClashes_ = clashes;
    return pending_.empty();
}
