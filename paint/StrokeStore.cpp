#include "paint/StrokeStore.h"

#include "app/UnitV.h"
#include "db/DataAccess.h"
#include "db/Tables.h"
#include "paint/Stamp.h"

#include <climits>

namespace {
const QStringList kColumns = ImageTable::ColumnNames();
} // namespace

StrokeStore::StrokeStore(DataAccess &db, QImage &image) : db_(db), image_(image)
{
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

void StrokeStore::Load()
{
    readCount_ = 0;
    drawnUpTo_ = 0;
    highestSeen_ = 0;
    drawnAbove_.clear();
    highestDn_.clear();
    if (!db_.TableExists(table_)) {
        db_.CreateImageTable(table_);
        return;
    }
    qint64 last = 0;
    const int n = db_.ForEachRow(QStringLiteral("*"), table_, QString(), QStringLiteral("N"),
                                 [&](const QStringList &row) {
                                     drawRow(row);
                                     last = TextToInt(row.value(ImageTable::N));
                                 });
    readCount_ = n;
    drawnUpTo_ = std::max<qint64>(last, 0);
}

void StrokeStore::advanceWatermark()
{
    while (!drawnAbove_.empty() && *drawnAbove_.begin() <= drawnUpTo_ + 1) {
        drawnUpTo_ = std::max(drawnUpTo_, *drawnAbove_.begin());
        drawnAbove_.erase(drawnAbove_.begin());
    }
}

int StrokeStore::catchUp()
{
    int drawn = 0;
    qint64 last = drawnUpTo_;
    db_.ForEachRow(QStringLiteral("*"), table_, QStringLiteral("N>") + QString::number(drawnUpTo_),
                   QStringLiteral("N"), [&](const QStringList &row) {
                       const qint64 n = TextToInt(row.value(ImageTable::N));
                       last = std::max(last, n);
                       if (n <= drawnUpTo_ || drawnAbove_.count(n))
                           return; // this window's own point or a clash row it drew already
                       drawRow(row);
                       ++drawn;
                   });
    readCount_ += drawn;
    // Every writer inserts n only after n-1 is committed, so what one statement
    // sees is gapless below its highest row.
    drawnUpTo_ = last;
    drawnAbove_.erase(drawnAbove_.begin(), drawnAbove_.upper_bound(drawnUpTo_));
    advanceWatermark();
    return drawn;
}

int StrokeStore::Refresh()
{
    return catchUp();
}

qint64 StrokeStore::highestN()
{
    // A range over the unique index on N; MAX over the whole table would read every row.
    QString text;
    db_.SelectMax(table_, QStringLiteral("N"), QStringLiteral("N>") + QString::number(highestSeen_),
                  text);
    if (!text.isEmpty())
        highestSeen_ = std::max<qint64>(highestSeen_, TextToInt(text));
    return std::max(highestSeen_, drawnUpTo_);
}

int StrokeStore::nextDn(int user)
{
    // Rows up to the watermark have all been drawn and noted; only those above need asking.
    QString text;
    db_.SelectMax(table_, QStringLiteral("DN"),
                  QStringLiteral("MN=") + QString::number(user) + QStringLiteral(" AND N>")
                      + QString::number(drawnUpTo_),
                  text);
    int &known = highestDn_[user];
    const int dn = std::max(known, TextToInt(text)) + 1;
    known = dn;
    return dn;
}

bool StrokeStore::storeStroke(PendingStroke &stroke, int &clashes)
{
    if (!db_.IsConnected())
        return false;
    if (stroke.dn == 0)
        stroke.dn = nextDn(stroke.user);
    qint64 n = highestN() + 1;
    while (!stroke.points.empty()) {
        if (n > INT_MAX || !db_.IsConnected())
            return false;
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
            if (n > drawnUpTo_)
                drawnAbove_.insert(n);
            ++readCount_;
            stroke.points.pop_front();
            ++n;
            continue;
        }
        if (!db_.LastFailureWasDuplicate())
            return false; // lost connection, dropped table, ...: keep the rest for later
        // Another writer stored this number first. Draw what the others have stored
        // meanwhile (that row among them) and go on past the highest number seen:
        // under many writers this skips the numbers taken in the meantime instead of
        // failing on each of them in turn.
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
