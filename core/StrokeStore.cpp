#include "core/StrokeStore.h"

#include "core/Stamp.h"
#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

#include <chrono>
#include <climits>
#include <thread>
#include <utility>

namespace {
const QStringList kColumns = ImageTable::ColumnNames();
constexpr int kRowColumns = ImageTable::ColumnCount;

// A row without its number, to compare the row at a number with the one drawn there.
QString rowContent(const QStringList &row)
{
    return row.mid(1, kRowColumns - 1).join(QLatin1Char(','));
}

StrokeRow rowOf(const QStringList &row)
{
    using namespace ImageTable;
    return {TextToInt(row.value(N)),    TextToInt(row.value(MN)),   TextToInt(row.value(DN)),
            TextToInt(row.value(PTYP)), TextToInt(row.value(PSIZ)), TextToInt(row.value(PCOL)),
            TextToInt(row.value(X)),    TextToInt(row.value(Y))};
}

QStringList valuesOf(qint64 n, int user, int dn, const PenTip &pen, QPoint p)
{
    return {QString::number(n),        QString::number(user),     QString::number(dn),
            QString::number(pen.type), QString::number(pen.size), QString::number(pen.color),
            QString::number(p.x()),    QString::number(p.y())};
}
} // namespace

StrokeStore::StrokeStore(DataAccess &db, QImage &image)
    : StrokeStore(
          db,
          [&image](const StrokeRow &r) { DrawStamp(image, r.type, r.size, r.color, r.x, r.y); },
          [&image] { ClearCanvas(image, image.width(), image.height()); })
{
}

StrokeStore::StrokeStore(DataAccess &db, std::function<void(const StrokeRow &)> draw,
                         std::function<void()> clear)
    : db_(db), draw_(std::move(draw)), clear_(std::move(clear))
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

void StrokeStore::drawRow(const StrokeRow &row)
{
    if (draw_)
        draw_(row);
    int &known = highestDn_[row.mn];
    if (row.dn > known)
        known = row.dn;
}

void StrokeStore::clearSending(PendingStroke &stroke)
{
    if (stroke.sendingN > 0)
        --sending_;
    stroke.sendingN = 0;
    stroke.sendingDn = 0;
    stroke.sendingContent.clear();
}

void StrokeStore::takeRow(const QStringList &row)
{
    const StrokeRow r = rowOf(row);
    if (sending_ > 0) {
        for (PendingStroke &s : pending_) {
            if (s.sendingN != r.n)
                continue;
            const bool ours = rowContent(row) == s.sendingContent;
            const int dn = s.sendingDn;
            clearSending(s);
            if (ours) {
                // The insert was committed and only its answer lost: the point is stored,
                // drawn already, and its stroke keeps the number it was given.
                pointStored(s, r.n, dn);
                return;
            }
            break;
        }
    }
    drawRow(r);
}

void StrokeStore::load(bool createMissing)
{
    readCount_ = 0;
    drawnUpTo_ = 0;
    highestDn_.clear();
    watermarkRow_.clear();
    const bool exists = db_.TableExists(table_);
    openingPending_ = createMissing && (!db_.IsConnected() || db_.TableListFailed());
    if (!exists) {
        if (createMissing && db_.IsConnected() && !db_.TableListFailed())
            db_.CreateImageTable(table_);
        else if (db_.IsConnected() && !db_.TableListFailed())
            fail(Failure::TableGone);
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
        takeRow(buffer_);
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
    if (clear_)
        clear_();
    // The rows of another table say nothing about inserts into this one.
    for (PendingStroke &s : pending_)
        clearSending(s);
    // A table deleted from the image list stays deleted until someone opens the
    // picture again; the unstored points wait for it.
    load(asOpening);
    // Unstored points stay on the picture; they get numbers and a stroke number
    // of the table as it is now when they are stored.
    for (PendingStroke &s : pending_) {
        s.dn = 0;
        s.numbered = false;
        if (draw_)
            for (const QPoint &p : s.points)
                draw_({0, s.user, 0, s.pen.type, s.pen.size, s.pen.color, p.x(), p.y()});
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
    if (db_.TableListFailed() || !db_.IsConnected())
        return false;
    return !exists
           || db_.SelectAll(table_, QStringLiteral("N=") + QString::number(drawnUpTo_)) == 0;
}

int StrokeStore::catchUp()
{
    if (openingPending_ && db_.IsConnected()) {
        redraw(true);
        return std::max(readCount_, 1);
    }
    // From the row at the watermark on, so that a table that no longer holds it
    // (dropped, re-created, another database) shows.
    const bool check = drawnUpTo_ > 0;
    bool first = true;
    bool gone = false;
    int drawn = 0;
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
            // Every writer inserts n only after n-1 is committed, so what one statement
            // sees is gapless above the watermark.
            takeRow(row);
            drawnUpTo_ = n;
            watermarkRow_ = rowContent(row);
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
    return drawn;
}

int StrokeStore::Refresh()
{
    lastFailure_ = Failure::None;
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

void StrokeStore::pointStored(PendingStroke &stroke, qint64 n, int dn)
{
    stroke.dn = dn;
    stroke.numbered = true;
    int &known = highestDn_[stroke.user];
    if (dn > known)
        known = dn;
    if (stroke.journal)
        stroke.journal->NoteStored(n, dn);
    stroke.points.pop_front();
}

void StrokeStore::fail(Failure why)
{
    lastFailure_ = why;
    lastFailureText_ = why == Failure::TableGone ? QStringLiteral("table %1 is gone").arg(table_)
                                                 : db_.LastErrorText();
}

bool StrokeStore::storeStroke(PendingStroke &stroke, int &clashes)
{
    if (!db_.IsConnected()) {
        fail(Failure::ConnectionLost);
        return false;
    }
    // Every row up to the watermark is drawn and the row above it is the next to take;
    // the author's highest DN is known from the rows drawn.
    int clashesInRow = 0;
    while (!stroke.points.empty()) {
        const qint64 n = drawnUpTo_ + 1;
        if (n > INT_MAX) {
            fail(Failure::Refused);
            return false;
        }
        // Until its first row is stored the stroke takes the number after any stroke of the
        // same author drawn so far, a clash's included.
        if (!stroke.numbered)
            stroke.dn = highestDn_[stroke.user] + 1;
        const QStringList values = valuesOf(n, stroke.user, stroke.dn, stroke.pen, stroke.points.front());
        if (beforeInsert)
            beforeInsert(static_cast<int>(n));
        if (stroke.journal)
            stroke.journal->NoteSending(n, stroke.dn);
        if (db_.InsertRecord(table_, ImageTable::ColumnCount, kColumns, values)) {
            clearSending(stroke); // an answer lost earlier was for an insert never committed
            // Drawn live already: the watermark moves past it without drawing it again.
            drawnUpTo_ = n;
            watermarkRow_ = rowContent(values);
            ++readCount_;
            pointStored(stroke, n, stroke.dn);
            clashesInRow = 0;
            continue;
        }
        if (db_.LastFailureWasConnectionLoss() || !db_.IsConnected()) {
            // The server may have committed it before the connection broke: the catching-up
            // after reconnecting tells, by finding exactly this row at n.
            stroke.sendingN = n;
            stroke.sendingDn = stroke.dn;
            stroke.sendingContent = rowContent(values);
            ++sending_;
            fail(Failure::ConnectionLost);
            return false;
        }
        if (stroke.journal)
            stroke.journal->NoteNotSent();
        if (db_.LastFailureWasLockTimeout()) {
            fail(Failure::Locked);
            return false;
        }
        if (!db_.LastFailureWasDuplicate()) {
            fail(Failure::Refused); // a dropped table, a check of another tool, ...
            return false;
        }
        // Another writer stored this number first. Let it go on for a moment, then draw
        // what the others have stored meanwhile (that row among them) and go on past the
        // highest number seen, instead of failing on each number taken in the meantime.
        backOff(++clashesInRow);
        catchUp();
        if (drawnUpTo_ < n) {
            // The number was refused, yet no committed row holds it: another writer's
            // insert of it is not committed yet (or was undone). A lock, not a lasting refusal.
            if (lastFailure_ == Failure::None)
                fail(Failure::Locked);
            return false;
        }
        ++clashes;
    }
    return true;
}

void StrokeStore::Add(Stroke in)
{
    PendingStroke s;
    s.tag = in.tag;
    s.user = in.user;
    s.pen = in.pen;
    s.points.assign(in.points.begin(), in.points.end());
    if (in.journal) {
        // A stroke read back from the journal goes on where it stopped.
        const JournalStroke &j = in.journal->Stroke();
        if (j.stored > 0) {
            s.dn = j.dn;
            s.numbered = true;
            int &known = highestDn_[s.user];
            known = std::max(known, j.dn);
        }
        if (j.sendingN > 0 && !s.points.empty()) {
            s.sendingN = j.sendingN;
            s.sendingDn = j.sendingDn;
            s.sendingContent = rowContent(valuesOf(j.sendingN, s.user, j.sendingDn, s.pen, s.points.front()));
            ++sending_;
        }
        s.journal = std::move(in.journal);
    }
    pending_.push_back(std::move(s));
}

bool StrokeStore::StorePending()
{
    lastClashes_ = 0;
    lastFailure_ = Failure::None;
    lastFailureText_.clear();
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
        PendingStroke &s = pending_.front();
        // A point confirmed by the catching-up may have been the last.
        if (!s.points.empty() && !storeStroke(s, clashes))
            break;
        if (s.journal)
            s.journal->Finish();
        const quint64 tag = s.tag;
        clearSending(s);
        pending_.pop_front();
        if (onStored)
            onStored(tag);
    }
    for (PendingStroke &s : pending_)
        if (s.journal)
            s.journal->Sync();
    lastClashes_ = clashes;
    return pending_.empty();
}

void StrokeStore::DiscardPending()
{
    for (PendingStroke &s : pending_)
        if (s.journal)
            s.journal->Discard();
    pending_.clear();
    sending_ = 0;
}

bool StrokeStore::Store(int user, const PenTip &pen, const std::vector<QPoint> &points)
{
    if (!points.empty())
        Add({0, user, pen, points, nullptr});
    return StorePending();
}
