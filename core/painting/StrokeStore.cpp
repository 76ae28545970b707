// The storing of strokes: each block one statement that commits all its rows at once, the
// waiting strokes in order, and what their journal entries note of it.

#include "core/painting/StrokeStore.h"

#include "core/painting/StrokeStoreRows.h"
#include "core/picture/Stamp.h"
#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Statements.h"
#include "db/Tables.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>
#include <utility>

using namespace StrokeStoreRows;

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
        if (!s.kept)
            count += static_cast<int>(s.points.size());
    return count;
}

int StrokeStore::StorableStrokes() const
{
    return int(std::count_if(pending_.begin(), pending_.end(), [](const PendingStroke &p) {
        return !p.orphan && (!p.points.empty() || !p.open);
    }));
}

bool StrokeStore::OnlyOpenStrokesWait() const
{
    bool any = false;
    for (const PendingStroke &p : pending_) {
        if (p.orphan || (p.points.empty() && p.open))
            continue;
        if (!p.open)
            return false;
        any = true;
    }
    return any;
}

int StrokeStore::OrphanPoints() const
{
    int count = 0;
    for (const PendingStroke &s : pending_)
        if (s.orphan)
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

void StrokeStore::takeRow(const QStringList &row)
{
    takeRow(rowOf(row));
}

void StrokeStore::takeRow(const StrokeRow &r)
{
    auto it = ownAbove_.upper_bound(r.n);
    if (it != ownAbove_.begin()) {
        --it;
        if (r.n < it->first + it->second) {
            if (r.n == it->first + it->second - 1)
                ownAbove_.erase(it);
            return;
        }
    }
    drawRow(r);
}

bool StrokeStore::readFailed()
{
    return db_.LastErrorCode() != 0 || !db_.IsConnected();
}

// Waits a random while that grows with the clashes in a row (catching up and sending
// again only): another writer that has just taken a number is storing a stroke, so
// racing it again at once mostly fails again.
void StrokeStore::backOff(int clashesInRow)
{
    const int limitUs = 1000 << std::min(clashesInRow - 1, 4);
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, limitUs)(random_)));
}

void StrokeStore::committed(PendingStroke &stroke, qint64 firstN, int dn, int count, bool now)
{
    stroke.dn = dn;
    stroke.numbered = true;
    int &known = highestDn_[stroke.user];
    if (dn > known)
        known = dn;
    if (stroke.journal)
        stroke.journal->NoteStored(firstN, dn, count);
    stroke.sendingN = 0;
    stroke.sendingDn = 0;
    stroke.sendingCount = 0;
    stroke.sendingAttachment = {};
    stroke.lastStoredN = firstN + count - 1;
    const QPoint last = stroke.points[size_t(count - 1)];
    if (onOwnRow && stroke.tag != 0)
        for (int i = 0; i < count; ++i) {
            const QPoint p = stroke.points[size_t(i)];
            onOwnRow({firstN + i, stroke.user, dn, stroke.pen.type, stroke.pen.size, stroke.pen.color, p.x(), p.y(),
                      stroke.tag});
        }
    if (now)
        stroke.storedNow += count;
    // Drawn live already: the watermark moves past it without drawing it again.
    if (firstN == drawnUpTo_ + 1) {
        drawnUpTo_ = firstN + count - 1;
        watermarkRow_ = rowContent(valuesOf(drawnUpTo_, stroke.user, dn, stroke.pen, last));
        readCount_ += count;
    } else if (firstN > drawnUpTo_) {
        ownAbove_[firstN] = count;
    }
    stroke.points.erase(stroke.points.begin(), stroke.points.begin() + count);
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
    int clashesInRow = 0;
    bool redrawn = false;
    while (!stroke.points.empty()) {
        const qint64 hint = drawnUpTo_;
        // Until its first row is stored the stroke takes the number after any stroke of the
        // same author drawn so far (the statement looks at the rows above the hint itself).
        const int dn = stroke.numbered ? stroke.dn : highestDn_[stroke.user] + 1;
        Statements::StrokeBlockText block;
        block.table = table_;
        block.hint = hint;
        block.hintRow = watermarkRow_;
        block.mn = stroke.user;
        block.dn = dn;
        block.dnFixed = stroke.numbered;
        block.ptyp = stroke.pen.type;
        block.psiz = stroke.pen.size;
        block.pcol = stroke.pen.color;
        block.findOnServer = clashesOnServer_;
        int k = std::min<int>(int(stroke.points.size()), Statements::BlockPointLimit);
        if (stroke.journal)
            k = std::min(k, stroke.journal->MaxNotePoints());
        QList<Statements::BlockPoint> points;
        const auto take = [&] {
            points.clear();
            for (int i = 0; i < k; ++i)
                points.append({stroke.points[size_t(i)].x(), stroke.points[size_t(i)].y()});
        };
        // A held stroke's blocks, and any block once its statement is prepared, go as the
        // prepared statement with their values (the server compiles no text per block); a
        // stroke alone goes as its text, without the round trip of a prepare.
        const int places = Statements::PreparedBlockPlaces(k);
        const QString key = table_ + QLatin1Char('/') + QString::number(places);
        const bool prepared = clashesOnServer_ && (stroke.open || db_.IsPrepared(key));
        QStringList lines;
        take();
        while (!prepared) {
            lines = Statements::StrokeBlock(block, points);
            if (k == 1 || Statements::Join(lines).size() <= Statements::BlockTextLimit)
                break;
            k = k * 3 / 4;
            take();
        }
        if (hint + k > INT_MAX) {
            fail(Failure::Refused);
            return false;
        }
        // The attachment it goes out on, so that a lost answer can be settled for sure.
        const DataAccess::Identity sender = db_.AttachmentIdentity();
        if (sender.id <= 0) {
            fail(Failure::ConnectionLost);
            return false;
        }
        if (stroke.journal)
            stroke.journal->NoteSender(sender.id, sender.started, sender.database);
        if (stroke.journal && !stroke.journal->NoteSending(hint + 1, dn, k)) {
            lastFailure_ = Failure::JournalUnwritable;
            lastFailureText_ = stroke.journal->LastError();
            return false;
        }
        if (beforeInsert)
            beforeInsert(static_cast<int>(hint + 1));
        std::vector<qint64> answer;
        const bool answered = prepared ? db_.ExecutePrepared(key, [&] { return Statements::PreparedStrokeBlock(table_, places); },
                                                             Statements::PreparedStrokeBlockParameters(block, points, places),
                                                             2, answer)
                                       : db_.ExecuteBlock(lines, 2, answer);
        if (answered) {
            const qint64 firstN = answer[0];
            if (firstN > 0) {
                if (firstN != hint + 1)
                    ++clashes; // others stored past the hint meanwhile
                ++posts_; // the block posted the picture's event with its commit
                committed(stroke, firstN, int(answer[1]), k, true);
                clashesInRow = 0;
                continue;
            }
            if (firstN == -2 && !redrawn) {
                // The table does not hold the rows drawn (deleted and made again, another
                // database): draw it as it stands, then number from what it holds.
                if (stroke.journal)
                    stroke.journal->NoteNotSent();
                redrawn = true;
                redraw(false);
                if (AwaitsOpening())
                    return false; // stored once the opening elsewhere is done
                continue;
            }
            // It clashed with a row not committed yet: another writer's statement holds it.
            if (stroke.journal)
                stroke.journal->NoteNotSent();
            fail(firstN == -1 ? Failure::Locked : Failure::Refused);
            return false;
        }
        if (db_.LastFailureWasConnectionLoss() || !db_.IsConnected()) {
            // The server may have committed it before the connection broke: the next store
            // looks for its rows before anything else is sent.
            stroke.sendingN = hint + 1;
            stroke.sendingDn = dn;
            stroke.sendingCount = k;
            stroke.sendingAttachment = sender;
            stroke.lostAtMs = nowMs();
            fail(Failure::ConnectionLost);
            return false;
        }
        // Answered with a refusal: nothing of it is stored.
        if (stroke.journal)
            stroke.journal->NoteNotSent();
        if (db_.LastFailureWasLockTimeout()) {
            fail(Failure::Locked);
            return false;
        }
        if (clashesOnServer_ || !db_.LastFailureWasDuplicate()) {
            fail(Failure::Refused); // a dropped table, a check of another tool, ...
            return false;
        }
        // Another writer stored a number first: draw what the others stored meanwhile,
        // then send it again above it.
        backOff(++clashesInRow);
        catchUp();
        if (drawnUpTo_ <= hint) {
            // Refused, yet no committed row holds the number: another writer's statement
            // is not committed yet (or was undone). A lock, not a lasting refusal.
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
    s.open = in.open;
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
            s.sendingCount = std::clamp<int>(j.sendingCount, 1, int(s.points.size()));
            s.sendingAttachment = {j.attachment, j.attachmentStarted, j.attachmentDatabase};
        }
        s.lastStoredN = j.lastN;
        s.recovered = in.journal->Recovered();
        s.journal = std::move(in.journal);
    }
    auto at = pending_.end();
    if (s.recovered) {
        // Before the strokes of this run that have not begun: they were drawn later.
        at = std::find_if(pending_.begin(), pending_.end(), [](const PendingStroke &p) {
            return !p.recovered && !p.numbered && p.sendingN == 0;
        });
    }
    pending_.insert(at, std::move(s));
}

void StrokeStore::Extend(quint64 tag, const std::vector<QPoint> &points, bool last)
{
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [tag](const PendingStroke &p) { return p.open && !p.recovered && p.tag == tag; });
    if (it == pending_.end())
        return;
    it->points.insert(it->points.end(), points.begin(), points.end());
    if (it->journal) {
        // A note that could not be written is written again with the next one; the entry
        // keeps the points in memory meanwhile.
        if (!points.empty())
            it->journal->NoteAppended(points);
        if (last)
            it->journal->NoteEnded();
    }
    if (last)
        it->open = false;
}

bool StrokeStore::StorePending()
{
    lastClashes_ = 0;
    lastFailure_ = Failure::None;
    lastFailureText_.clear();
    const auto storable = [this] { return StorableStrokes() > 0; };
    if (!storable())
        return true;
    if (AwaitsOpening())
        return false; // the opening elsewhere comes first
    if (!db_.IsConnected()) {
        fail(Failure::ConnectionLost);
        return false;
    }
    // One transaction for the store, each statement committed as it completes.
    // A stroke still being drawn keeps the run's transaction for its next block.
    struct RowRun {
        DataAccess &db;
        bool keep = false;
        explicit RowRun(DataAccess &d) : db(d) { db.BeginRowRun(); }
        ~RowRun()
        {
            if (keep)
                db.PauseRowRun();
            else
                db.EndRowRun();
        }
    } run(db_);
    if (openingPending_) {
        catchUp();
        if (AwaitsOpening())
            return false;
    }
    // Every unanswered statement is looked for first, whatever has been drawn since:
    // nothing of its stroke is sent again before it is known not to be stored.
    int orphaned = 0;
    const auto tellOrphans = [&] {
        if (orphaned > 0 && onOrphaned)
            onOrphaned(std::exchange(orphaned, 0));
    };
    for (PendingStroke &s : pending_) {
        if (s.sendingN <= 0 || s.orphan)
            continue;
        // A stroke of another picture is not looked for here, and its attachment left alone.
        if (!checkPicture(s, orphaned)) {
            tellOrphans();
            fail(Failure::ConnectionLost);
            return false;
        }
        if (s.orphan)
            continue;
        const Found found = findSent(s);
        if (found == Found::Unknown) {
            tellOrphans();
            fail(db_.LastFailureWasConnectionLoss() ? Failure::ConnectionLost : Failure::Refused);
            return false;
        }
        if (found == Found::NotYet) {
            tellOrphans();
            // As good as still unanswered: tried again at the worker's next round.
            lastFailure_ = Failure::ConnectionLost;
            lastFailureText_ = QStringLiteral("a statement whose answer was lost may still be running");
            return false;
        }
    }
    if (afterCatchUp)
        afterCatchUp();
    int clashes = 0;
    bool stopped = false;
    for (auto it = pending_.begin(); it != pending_.end();) {
        PendingStroke &s = *it;
        if (s.orphan) {
            ++it;
            continue;
        }
        if (!checkPicture(s, orphaned)) {
            fail(Failure::ConnectionLost);
            stopped = true;
            break;
        }
        if (s.orphan) {
            ++it;
            continue;
        }
        // A stroke found stored whole by the looking-up above has no points left.
        if (!s.points.empty() && !storeStroke(s, clashes)) {
            stopped = true;
            break;
        }
        if (s.open) {
            ++it; // the rest comes as it is drawn
            continue;
        }
        if (s.journal)
            s.journal->Finish();
        const quint64 tag = s.tag;
        const int rows = s.storedNow;
        it = pending_.erase(it);
        if (onStored)
            onStored(tag, rows);
    }
    tellOrphans();
    // Others stored between this picture's rows and the strokes just stored: drawn now,
    // as every window would.
    if (!ownAbove_.empty() && db_.IsConnected())
        catchUp();
    lastClashes_ = clashes;
    run.keep = !stopped && std::any_of(pending_.begin(), pending_.end(), [](const PendingStroke &p) { return p.open; });
    return !stopped && !storable();
}

void StrokeStore::DiscardPending()
{
    for (PendingStroke &s : pending_)
        if (s.journal)
            s.journal->Discard();
    pending_.clear();
}

void StrokeStore::DiscardOrphans()
{
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (!it->orphan) {
            ++it;
            continue;
        }
        if (it->journal)
            it->journal->Discard();
        it = pending_.erase(it);
    }
}

void StrokeStore::KeepOrphans()
{
    for (PendingStroke &s : pending_)
        s.kept = s.kept || s.orphan;
}

int StrokeStore::MarkOrphans()
{
    for (PendingStroke &s : pending_)
        s.orphan = true;
    return PendingPoints();
}

bool StrokeStore::Store(int user, const PenTip &pen, const std::vector<QPoint> &points)
{
    if (!points.empty())
        Add({0, user, pen, points, nullptr});
    return StorePending();
}
