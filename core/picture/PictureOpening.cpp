#include "core/picture/PictureOpening.h"

#include "core/picture/OpeningStop.h"
#include "core/picture/PictureCache.h"
#include "core/picture/RangeReaders.h"
#include "core/picture/StrokeRowsRead.h"
#include "db/DataAccess.h"
#include "db/Statements.h"

#include <QStringList>
#include <algorithm>
#include <future>
#include <pthread.h>
#include <utility>
#include <vector>

namespace {

enum class CopyCheck { Same, Differs, Unknown };

bool failed(DataAccess &db)
{
    return db.LastErrorCode() != 0 || !db.IsConnected();
}

// One opening's state: what it drew, and what its new copy holds.
class Reading {
public:
    Reading(DataAccess &db, const PictureOpening::Options &o, const std::function<void(const StrokeRow &)> &draw)
        : db_(db), o_(o), draw_(draw)
    {
    }
    PictureOpening::Result go();

private:
    bool stopped() const { return o_.stop && o_.stop->Stopped(); }
    // Each N once and in N order, whichever read brings it (the readers' ranges may begin
    // below where the opening's own read stopped).
    void take(const StrokeRow &row, qint64 version)
    {
        if (r_.rows > 0 && row.n <= r_.lastN)
            return;
        drawn(row);
        if (o_.cached) {
            copy_.rows.push_back(row);
            copy_.versions += version;
        }
    }
    void drawn(const StrokeRow &row)
    {
        draw_(row);
        ++r_.rows;
        r_.lastN = row.n;
        r_.last = row;
        int &dn = r_.highestDn[row.mn];
        dn = std::max(dn, row.dn);
    }
    CopyCheck check(const PictureCache::Copy &copy);
    bool readWhole();
    bool readAbove(qint64 n);

    DataAccess &db_;
    const PictureOpening::Options &o_;
    const std::function<void(const StrokeRow &)> &draw_;
    PictureOpening::Result r_;
    PictureCache::Copy copy_;
};

CopyCheck Reading::check(const PictureCache::Copy &copy)
{
    QStringList got;
    db_.ForEachRow(QStringLiteral("COUNT(*), SUM(T.RDB$RECORD_VERSION), "
                                  "(SELECT RDB$RELATION_ID FROM RDB$RELATIONS WHERE RDB$RELATION_NAME='%1'), "
                                  "(SELECT %2 FROM MON$DATABASE)")
                       .arg(o_.table.toUpper(), Statements::TimestampText(QStringLiteral("MON$CREATION_DATE"))),
                   o_.table + QStringLiteral(" T"), QStringLiteral("T.N<=") + QString::number(copy.lastN),
                   QString(), [&](const QStringList &row) { got = row; });
    if (failed(db_) || got.size() != 4)
        return CopyCheck::Unknown;
    const bool same = got[0].toLongLong() == qint64(copy.count) && got[1].toLongLong() == copy.versions
                      && got[2].toInt() == copy.relationId && !copy.database.isEmpty() && got[3] == copy.database;
    return same ? CopyCheck::Same : CopyCheck::Differs;
}

bool Reading::readAbove(qint64 n)
{
    db_.ForEachIntegerRow(StrokeRowColumns(QStringLiteral("T")), o_.table + QStringLiteral(" T"),
                          QStringLiteral("T.N>") + QString::number(n), QStringLiteral("T.N"),
                          [&](const qint64 *values, const bool *nulls) {
                              take(RangeReaders::RowOf(values, nulls), values[RowVersionColumn]);
                              return !stopped();
                          });
    return !failed(db_) && !stopped();
}

bool Reading::readWhole()
{
    // Read here from the first row on; a large table's rows further on come from extra
    // readers, planned while these are read.
    std::unique_ptr<RangeReaders> readers;
    const int extras = RangeReaders::Extras.load();
    const qint64 startAfter = RangeReaders::StartAfter.load();
    qint64 stopAt = 0;
    bool handOver = false;
    db_.ForEachIntegerRow(StrokeRowColumns(QStringLiteral("T")), o_.table + QStringLiteral(" T"), QString(),
                          QStringLiteral("T.N"), [&](const qint64 *values, const bool *nulls) {
                              const StrokeRow row = RangeReaders::RowOf(values, nulls);
                              if (readers) {
                                  if (stopAt == 0)
                                      stopAt = readers->PlannedFrom();
                                  if (stopAt > 0 && row.n >= stopAt) {
                                      handOver = true;
                                      return false;
                                  }
                                  readers->At(row.n);
                              } else if (extras > 0 && row.n >= startAfter) {
                                  readers = std::make_unique<RangeReaders>(db_.DatabasePath(), o_.table, o_.stop);
                                  readers->At(row.n);
                              }
                              take(row, values[RowVersionColumn]);
                              return !stopped();
                          });
    if (!handOver)
        return !failed(db_) && !stopped();
    const bool ok = readers->Read(db_, [&](const StrokeRow &row, qint64 version) { take(row, version); });
    r_.stats.fromExtras = readers->RowsFromExtras();
    // What was stored above the ranges meanwhile.
    return ok && readAbove(std::max(readers->PlannedTo(), r_.lastN));
}

PictureOpening::Result Reading::go()
{
    using Table = PictureOpening::Result::Table;
    if (stopped())
        return r_;
    const bool exists = db_.TableExists(o_.table);
    if (!db_.IsConnected() || db_.TableListFailed())
        return r_;
    if (!exists) {
        r_.table = o_.createMissing && db_.CreateImageTable(o_.table) ? Table::Made : Table::Missing;
        r_.complete = r_.table == Table::Made;
        return r_;
    }
    r_.table = Table::There;
    const QString key = o_.cached ? PictureCache::KeyOf(db_.DatabasePath(), o_.table) : QString();
    if (o_.cached) {
        const PictureCache::Copy said = PictureCache::ReadHeader(key);
        if (said.count > 0) {
            // Read whole on a thread of its own while the server proves what it says of itself.
            auto whole = std::async(std::launch::async, [key] {
                pthread_setname_np(pthread_self(), "picture-cache");
                return PictureCache::Read(key);
            });
            const CopyCheck check = this->check(said);
            PictureCache::Copy copy = whole.get();
            const bool intact = copy.count == said.count && copy.lastN == said.lastN && copy.versions == said.versions
                                && copy.relationId == said.relationId && copy.database == said.database;
            if (check == CopyCheck::Same && intact && !copy.rows.empty()) {
                for (const StrokeRow &row : copy.rows)
                    drawn(row);
                r_.stats.fromCopy = r_.rows;
                copy_ = std::move(copy);
            } else if (check == CopyCheck::Differs) {
                PictureCache::Remove(key);
                r_.stats.copyRefused = true;
            }
        }
    }
    // Rows are drawn as they arrive; what came before a failure is a gapless start of the
    // table and stays drawn, the rest comes with the next refresh.
    if (r_.stats.fromCopy > 0) {
        r_.complete = readAbove(r_.lastN);
    } else {
        copy_.relationId = db_.RelationIdOf(o_.table);
        r_.complete = readWhole();
    }
    r_.stats.fromServer = r_.rows - r_.stats.fromCopy;
    if (o_.cached && r_.complete && copy_.relationId > 0 && r_.stats.fromServer > 0) {
        if (copy_.database.isEmpty())
            copy_.database = db_.AttachmentIdentity().database;
        if (!copy_.database.isEmpty())
            PictureCache::WriteLater(key, std::make_shared<PictureCache::Copy>(std::move(copy_)));
    }
    return r_;
}

} // namespace

PictureOpening::Result PictureOpening::Run(DataAccess &db, const Options &options,
                                           const std::function<void(const StrokeRow &)> &draw)
{
    OpeningStop::Watching watching(options.stop.get(), db);
    return Reading(db, options, draw).go();
}
