#include "core/painting/StrokeStore.h"

#include "core/picture/PictureCache.h"
#include "core/picture/RangeReaders.h"
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

namespace {
// How long a statement whose answer was lost may still be running on the server (its
// wait for a lock, and some): not looked for as missing before that.
constexpr qint64 kStillRunningMs = (DataAccess::LockWaitSeconds + 2) * 1000;
// How long one look-up waits for the attachment of a lost statement to go, once deleted.
constexpr int kAttachmentGoneMs = 3000;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

QString num(qint64 v) { return QString::number(v); }

// The table's relation id as a value of a SELECT: a table dropped and made again gets a new one.
QString relationIdOf(const QString &table)
{
    return QStringLiteral("(SELECT RDB$RELATION_ID FROM RDB$RELATIONS WHERE RDB$RELATION_NAME='%1')").arg(table.toUpper());
}

bool sameRow(const StrokeRow &a, const StrokeRow &b)
{
    return a.n == b.n && a.mn == b.mn && a.dn == b.dn && a.type == b.type && a.size == b.size && a.color == b.color
           && a.x == b.x && a.y == b.y;
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

int StrokeStore::StorableStrokes() const
{
    return int(std::count_if(pending_.begin(), pending_.end(), [](const PendingStroke &p) {
        return !p.orphan && (!p.points.empty() || !p.open);
    }));
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

void StrokeStore::load(bool createMissing)
{
    readCount_ = 0;
    drawnUpTo_ = 0;
    highestDn_.clear();
    watermarkRow_.clear();
    ownAbove_.clear();
    lastOpening_ = {};
    const bool exists = db_.TableExists(table_);
    openingPending_ = createMissing && (!db_.IsConnected() || db_.TableListFailed());
    if (!exists) {
        if (createMissing && db_.IsConnected() && !db_.TableListFailed())
            db_.CreateImageTable(table_);
        else if (db_.IsConnected() && !db_.TableListFailed())
            fail(Failure::TableGone);
        return;
    }
    // Rows are drawn as they arrive; what came before a failure is a gapless start of the
    // table and stays drawn, the rest comes with the next refresh.
    std::vector<StrokeRow> copyRows; // what the new local copy holds
    // The last row and its NULLs, for the text of the row at the watermark.
    StrokeRow last;
    bool lastNulls[kRowColumns] = {};
    bool lastKnown = false;
    const auto take = [&](const StrokeRow &r, const bool *nulls) {
        takeRow(r);
        ++readCount_;
        drawnUpTo_ = std::max<qint64>(r.n, 0);
        last = r;
        lastKnown = nulls != nullptr;
        if (nulls)
            std::copy(nulls, nulls + kRowColumns, lastNulls);
        if (cached_)
            copyRows.push_back(r);
    };
    const QString key = cached_ ? PictureCache::KeyOf(db_.DatabasePath(), table_) : QString();
    int relationId = 0;
    if (cached_) {
        PictureCache::Copy copy = PictureCache::Read(key);
        if (!copy.rows.empty()) {
            const CopyCheck check = checkCopy(copy.rows, copy.relationId);
            if (check == CopyCheck::Same) {
                for (const StrokeRow &r : copy.rows) {
                    takeRow(r);
                    ++readCount_;
                }
                drawnUpTo_ = copy.rows.back().n;
                lastOpening_.fromCopy = readCount_;
                relationId = copy.relationId;
                copyRows = std::move(copy.rows);
            } else if (check == CopyCheck::Differs) {
                PictureCache::Remove(key);
                lastOpening_.copyRefused = true;
            }
        }
    }
    bool ok = true;
    if (lastOpening_.fromCopy > 0) {
        db_.ForEachIntegerRow(QStringLiteral("*"), table_, QStringLiteral("N>") + num(drawnUpTo_), QStringLiteral("N"),
                              [&](const qint64 *values, const bool *nulls) {
                                  take(RangeReaders::RowOf(values), nulls);
                                  return true;
                              });
        ok = !readFailed();
    } else {
        relationId = db_.RelationIdOf(table_);
        ok = readWhole(take);
    }
    lastOpening_.fromServer = readCount_ - lastOpening_.fromCopy;
    if (readCount_ > 0 && lastKnown) {
        QStringList row = valuesOf(last.n, last.mn, last.dn, {last.type, last.size, last.color}, {last.x, last.y});
        for (int i = 0; i < kRowColumns; ++i)
            if (lastNulls[i])
                row[i].clear();
        watermarkRow_ = rowContent(row);
    }
    // Otherwise not known: the next refresh takes it from the row at the watermark.
    if (cached_ && ok && relationId > 0 && lastOpening_.fromServer > 0) {
        auto copy = std::make_shared<PictureCache::Copy>();
        copy->relationId = relationId;
        copy->rows = std::move(copyRows);
        PictureCache::WriteLater(key, std::move(copy));
    }
}

StrokeStore::CopyCheck StrokeStore::checkCopy(const std::vector<StrokeRow> &rows, int relationId)
{
    // The first, the last and a few between, chosen afresh each time.
    std::map<qint64, const StrokeRow *> sample;
    const size_t last = rows.size() - 1;
    sample[rows.front().n] = &rows.front();
    sample[rows.back().n] = &rows.back();
    for (int i = 0; i < 6 && last > 1; ++i) {
        const size_t at = 1 + std::uniform_int_distribution<size_t>(0, last - 2)(random_);
        sample[rows[at].n] = &rows[at];
    }
    QStringList numbers;
    for (const auto &[n, row] : sample)
        numbers << num(n);
    int same = 0;
    bool otherTable = false;
    db_.ForEachRow(QStringLiteral("T.*, ") + relationIdOf(table_), table_ + QStringLiteral(" T"),
                   QStringLiteral("T.N IN (") + numbers.join(QLatin1Char(',')) + QLatin1Char(')'),
                   QStringLiteral("T.N"), [&](const QStringList &row) {
                       const StrokeRow r = rowOf(row);
                       auto it = sample.find(r.n);
                       if (TextToInt(row.value(kRowColumns)) != relationId)
                           otherTable = true;
                       else if (it != sample.end() && sameRow(r, *it->second))
                           ++same;
                   });
    if (readFailed())
        return CopyCheck::Unknown;
    return !otherTable && same == int(sample.size()) ? CopyCheck::Same : CopyCheck::Differs;
}

bool StrokeStore::readWhole(const std::function<void(const StrokeRow &, const bool *nulls)> &each)
{
    // Read here from the first row on; a large table's rows further on come from extra
    // readers, planned while these are read.
    std::unique_ptr<RangeReaders> readers;
    const int extras = RangeReaders::Extras.load();
    const qint64 startAfter = RangeReaders::StartAfter.load();
    qint64 stopAt = 0;
    bool stopped = false;
    db_.ForEachIntegerRow(QStringLiteral("*"), table_, QString(), QStringLiteral("N"),
                          [&](const qint64 *values, const bool *nulls) {
                              const StrokeRow r = RangeReaders::RowOf(values);
                              if (readers) {
                                  if (stopAt == 0)
                                      stopAt = readers->PlannedFrom();
                                  if (stopAt > 0 && r.n >= stopAt) {
                                      stopped = true;
                                      return false;
                                  }
                                  if ((r.n & 255) == 0)
                                      readers->At(r.n);
                              } else if (extras > 0 && r.n >= startAfter) {
                                  readers = std::make_unique<RangeReaders>(db_.DatabasePath(), table_);
                                  readers->At(r.n);
                              }
                              each(r, nulls);
                              return true;
                          });
    if (!stopped)
        return !readFailed();
    const bool ok = readers->Read(db_, each);
    lastOpening_.fromExtras = readers->RowsFromExtras();
    if (!ok)
        return false;
    // What was stored above the ranges meanwhile.
    db_.ForEachIntegerRow(QStringLiteral("*"), table_, QStringLiteral("N>") + num(readers->PlannedTo()),
                          QStringLiteral("N"), [&](const qint64 *values, const bool *nulls) {
                              each(RangeReaders::RowOf(values), nulls);
                              return true;
                          });
    return !readFailed();
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
        if (draw_ && !s.orphan)
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
    return !exists || db_.SelectAll(table_, QStringLiteral("N=") + num(drawnUpTo_)) == 0;
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
    stroke.sendingAttachment = 0;
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

StrokeStore::Found StrokeStore::findSent(PendingStroke &stroke)
{
    const int k = std::min<int>(stroke.sendingCount, int(stroke.points.size()));
    if (k < 1) {
        stroke.sendingN = 0;
        return Found::No;
    }
    // Only what no server can still commit is trusted to be missing: the attachment that sent
    // it is made to go first (looked up after that, the answer cannot change any more).
    if (stroke.sendingAttachment > 0) {
        switch (db_.EndAttachment(stroke.sendingAttachment, kAttachmentGoneMs)) {
        case DataAccess::AttachmentEnd::Unknown:
            return Found::Unknown;
        case DataAccess::AttachmentEnd::StillThere:
            return Found::NotYet;
        case DataAccess::AttachmentEnd::Gone:
            break;
        }
    }
    const QPoint p0 = stroke.points.front();
    // Where its first row could be: the statement numbers from sendingN on, above the rows of
    // its stroke committed before (stored above undrawn rows, they may lie past sendingN),
    // and takes the author's next stroke number unless it continues a stroke.
    const QString where = QStringLiteral("N>=%1 AND MN=%2 AND PTYP=%3 AND PSIZ=%4 AND PCOL=%5 AND X=%6 AND Y=%7 AND DN")
                              .arg(std::max(stroke.sendingN, stroke.lastStoredN + 1))
                              .arg(stroke.user)
                              .arg(stroke.pen.type)
                              .arg(stroke.pen.size)
                              .arg(stroke.pen.color)
                              .arg(p0.x())
                              .arg(p0.y())
                          + (stroke.numbered ? QStringLiteral("=") : QStringLiteral(">=")) + num(stroke.sendingDn);
    std::vector<std::pair<qint64, int>> starts;
    db_.ForEachRow(QStringLiteral("N,DN"), table_, where, QStringLiteral("N"), [&](const QStringList &row) {
        starts.emplace_back(TextToInt(row.value(0)), int(TextToInt(row.value(1))));
    });
    if (readFailed())
        return Found::Unknown;
    for (const auto &[n, dn] : starts) {
        // Every one of its rows, compared with the statement's points.
        int same = 0;
        db_.ForEachRow(QStringLiteral("*"), table_, QStringLiteral("N>=%1 AND N<=%2").arg(n).arg(n + k - 1),
                       QStringLiteral("N"), [&](const QStringList &row) {
                           const qint64 i = TextToInt(row.value(ImageTable::N)) - n;
                           if (i == same
                               && rowContent(row)
                                      == rowContent(valuesOf(0, stroke.user, dn, stroke.pen, stroke.points[size_t(i)])))
                               ++same;
                       });
        if (readFailed())
            return Found::Unknown;
        if (same == k) {
            committed(stroke, n, dn, k, false);
            return Found::Yes;
        }
    }
    // Nothing of it: the statement was never committed (a statement is all or nothing),
    // once it cannot be running any more (its attachment gone, else after a while).
    if (stroke.sendingAttachment == 0 && stroke.lostAtMs > 0 && nowMs() - stroke.lostAtMs < kStillRunningMs)
        return Found::NotYet;
    stroke.lostAtMs = 0;
    stroke.sendingN = 0;
    stroke.sendingDn = 0;
    stroke.sendingCount = 0;
    stroke.sendingAttachment = 0;
    return Found::No;
}

StrokeStore::Found StrokeStore::samePicture(const PendingStroke &stroke)
{
    const JournalStroke &j = stroke.journal->Stroke();
    if (j.anchorN <= 0)
        return Found::Yes; // drawn in an empty picture, or by a version that did not say
    QString row;
    const int n = db_.ForEachRow(QStringLiteral("*"), table_, QStringLiteral("N=") + num(j.anchorN), QString(),
                                 [&](const QStringList &r) { row = rowContent(r); });
    if (readFailed())
        return db_.LastFailureWasConnectionLoss() ? Found::Unknown : Found::No;
    return n == 1 && row == j.anchorRow ? Found::Yes : Found::No;
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
        QStringList lines;
        for (;;) {
            QList<Statements::BlockPoint> points;
            points.reserve(k);
            for (int i = 0; i < k; ++i)
                points.append({stroke.points[size_t(i)].x(), stroke.points[size_t(i)].y()});
            lines = Statements::StrokeBlock(block, points);
            if (k == 1 || Statements::Join(lines).size() <= Statements::BlockTextLimit)
                break;
            k = k * 3 / 4;
        }
        if (hint + k > INT_MAX) {
            fail(Failure::Refused);
            return false;
        }
        // The attachment it goes out on, so that a lost answer can be settled for sure.
        const qint64 sender = db_.AttachmentId();
        if (sender <= 0) {
            fail(Failure::ConnectionLost);
            return false;
        }
        if (stroke.journal)
            stroke.journal->NoteSender(sender);
        if (stroke.journal && !stroke.journal->NoteSending(hint + 1, dn, k)) {
            lastFailure_ = Failure::JournalUnwritable;
            lastFailureText_ = stroke.journal->LastError();
            return false;
        }
        if (beforeInsert)
            beforeInsert(static_cast<int>(hint + 1));
        std::vector<qint64> answer;
        if (db_.ExecuteBlock(lines, 2, answer)) {
            const qint64 firstN = answer[0];
            if (firstN > 0) {
                if (firstN != hint + 1)
                    ++clashes; // others stored past the hint meanwhile
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
            s.sendingAttachment = j.attachment;
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
    if (openingPending_)
        catchUp();
    // Every unanswered statement is looked for first, whatever has been drawn since:
    // nothing of its stroke is sent again before it is known not to be stored.
    for (PendingStroke &s : pending_) {
        if (s.sendingN <= 0 || s.orphan)
            continue;
        const Found found = findSent(s);
        if (found == Found::Unknown) {
            fail(db_.LastFailureWasConnectionLoss() ? Failure::ConnectionLost : Failure::Refused);
            return false;
        }
        if (found == Found::NotYet) {
            // As good as still unanswered: tried again at the worker's next round.
            lastFailure_ = Failure::ConnectionLost;
            lastFailureText_ = QStringLiteral("a statement whose answer was lost may still be running");
            return false;
        }
    }
    if (afterCatchUp)
        afterCatchUp();
    int clashes = 0;
    int orphaned = 0;
    bool stopped = false;
    for (auto it = pending_.begin(); it != pending_.end();) {
        PendingStroke &s = *it;
        if (s.orphan) {
            ++it;
            continue;
        }
        if (s.recovered && s.journal && !s.anchorChecked && s.storedNow == 0) {
            const Found same = samePicture(s);
            if (same == Found::Unknown) {
                fail(Failure::ConnectionLost);
                stopped = true;
                break;
            }
            s.anchorChecked = true;
            if (same == Found::No) {
                s.orphan = true;
                orphaned += int(s.points.size());
                ++it;
                continue;
            }
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
    if (orphaned > 0 && onOrphaned)
        onOrphaned(orphaned);
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
