// DataAccess's changes: the tables made and dropped, one statement in a transaction of its
// own, and the stroke rows' run of blocks in one autocommit transaction.
#include "db/DataAccessInternals.h"

#include <thread>
#include <utility>

bool DataAccess::TableExists(const QString &name)
{
    Call call(*this);
    if (!db_.isOpen())
        return false;
    QStringList names;
    relationIds_.clear();
    isc::Status st;
    isc::Transaction tr;
    bool ok = tr.start(db_, st, {.readOnly = true});
    if (ok) {
        isc::Statement stmt;
        ok = stmt.prepare(db_, tr,
                          "SELECT RDB$RELATION_NAME, RDB$RELATION_ID FROM RDB$RELATIONS"
                          " WHERE RDB$VIEW_BLR IS NULL"
                          " AND (RDB$SYSTEM_FLAG IS NULL OR RDB$SYSTEM_FLAG = 0)"
                          " ORDER BY RDB$RELATION_NAME",
                          st)
             && stmt.execute(tr, st);
        while (ok && stmt.fetch(st)) {
            call.guard.Touch();
            const isc::Value v = stmt.value(0);
            names << cp932::Decode(v.text).trimmed();
            relationIds_.insert(names.last().toUpper(), int(stmt.value(1).integer));
        }
        ok = ok && !st.failed();
        stmt.closeCursor();
        stmt.release();
        isc::Status commitStatus;
        tr.commit(commitStatus);
    }
    if (!ok) {
        fail(st);
        tableListFailed_ = true;
    }
    names.sort();
    if (onTableNames)
        onTableNames(names);
    return ok && names.contains(name.trimmed(), Qt::CaseInsensitive);
}

bool DataAccess::CreateSectionTable()
{
    return ExecuteSql(Statements::CreateSectionTable());
}

bool DataAccess::CreateMemberTable()
{
    return ExecuteSql(Statements::CreateMemberTable());
}

bool DataAccess::CreateImgListTable()
{
    return ExecuteSql(Statements::CreateImgListTable());
}

bool DataAccess::CreateImageTable(const QString &name)
{
    return ExecuteSql(Statements::CreateImageTable(name));
}

bool DataAccess::ExecuteSql(const QStringList &lines)
{
    if (lines.isEmpty())
        return false;
    return runChange(lines);
}

bool DataAccess::DropTable(const QString &name)
{
    return runChange(Statements::DropTable(name), DropWaitSeconds);
}

// One statement in a transaction of its own: start, execute, commit; rolled back on failure.
bool DataAccess::runChange(const QStringList &lines, int lockWaitSeconds)
{
    Call call(*this, true, lockWaitSeconds);
    endRunTransaction();
    clearRows();
    // A statement left prepared keeps its tables in use, and DROP TABLE would fail.
    query_.release();
    tr_.rollback();
    isc::Status st;
    QByteArray sql;
    bool ok = db_.isOpen() && encodeStatement(lines, sql, st)
              && tr_.start(db_, st, {.lockWaitSeconds = lockWaitSeconds})
              && isc::ExecuteImmediate(db_, tr_, sql, st);
    const bool committing = ok;
    ok = ok && tr_.commit(st);
    if (!ok) {
        if (!db_.isOpen() && !st.failed()) {
            st = isc::Status::Fail(isc_bad_db_handle);
        }
        fail(st);
        // The commit went out and its answer did not come back: the server may have
        // committed it all the same.
        lastMayBeStored_ = committing && isc::IsConnectionLoss(lastError_.code());
        tr_.rollback();
    }
    return ok;
}

bool DataAccess::InsertRecord(const QString &table, int count, const QStringList &names,
                              const QStringList &values)
{
    Call call(*this, true, LockWaitSeconds);
    if (!db_.isOpen())
        return false;
    if (rowRun_)
        return insertInRun(Statements::InsertRecord(table, count, names, values));
    return runChange(Statements::InsertRecord(table, count, names, values));
}

// Every row of the run is committed already; after a failure the transaction may be
// in an unknown state, so it is rolled back rather than committed.
void DataAccess::endRunTransaction()
{
    Call call(*this, false);
    isc::Status st;
    if (runTr_.isActive() && (runFailed_ || !runTr_.commit(st)))
        runTr_.rollback();
    runRows_ = 0;
    runFailed_ = false;
}

void DataAccess::EndRowRun()
{
    rowRun_ = false;
    endRunTransaction();
}

bool DataAccess::insertInRun(const QStringList &lines)
{
    clearRows();
    query_.release();
    tr_.rollback();
    if (runRows_ >= RunRowLimit)
        endRunTransaction();
    isc::Status st;
    QByteArray sql;
    const bool ok = encodeStatement(lines, sql, st)
                    && (runTr_.isActive()
                        || runTr_.start(db_, st, {.lockWaitSeconds = LockWaitSeconds, .autoCommit = true}))
                    && isc::ExecuteImmediate(db_, runTr_, sql, st);
    if (!ok) {
        runFailed_ = runTr_.isActive();
        fail(st);
        // A refused duplicate leaves the transaction usable; anything else may not have.
        if (!lastDuplicate_)
            endRunTransaction();
        return false;
    }
    ++runRows_;
    return true;
}

bool DataAccess::ExecuteBlock(const QStringList &lines, int count, std::vector<qint64> &values)
{
    Call call(*this, true, LockWaitSeconds);
    return runBlock(count, values, [&](isc::Transaction &tr, isc::Status &st, std::vector<int64_t> &got) {
        QByteArray sql;
        return encodeStatement(lines, sql, st) && isc::ExecuteImmediateReturning(db_, tr, sql, count, got, st);
    });
}

bool DataAccess::ExecutePrepared(const QString &key, const std::function<QStringList()> &lines,
                                 const std::vector<std::optional<qint64>> &parameters, int count,
                                 std::vector<qint64> &values)
{
    Call call(*this, true, LockWaitSeconds);
    auto &q = handles_->prepared[key];
    if (!q)
        q = std::make_unique<isc::Statement>();
    const std::vector<std::optional<int64_t>> in(parameters.begin(), parameters.end());
    const bool ok = runBlock(count, values, [&](isc::Transaction &tr, isc::Status &st, std::vector<int64_t> &got) {
        QByteArray sql;
        return (q->isAllocated() || (encodeStatement(lines(), sql, st) && q->prepare(db_, tr, sql, st)))
               && q->executeReturning(tr, st, in, count, got);
    });
    // Prepared again next time, should its table have changed under it.
    if (!ok && !lastDuplicate_ && !lastLockTimeout_)
        q->release();
    return ok;
}

bool DataAccess::IsPrepared(const QString &key) const
{
    auto it = handles_->prepared.find(key);
    return it != handles_->prepared.end() && it->second->isAllocated();
}

void DataAccess::ReleasePrepared()
{
    Call call(*this, false);
    // Released, not destroyed: the client library zeroes the handles of an attachment it
    // drops, so the statements stay until the attachment has gone.
    for (auto &[key, q] : handles_->prepared)
        q->release();
}

// A statement answering one row, in one autocommit transaction (the row run's while one is
// open): its changes are committed when it returns true.
bool DataAccess::runBlock(int count, std::vector<qint64> &values,
                          const std::function<bool(isc::Transaction &, isc::Status &, std::vector<int64_t> &)> &run)
{
    values.assign(size_t(count), 0);
    isc::Status st;
    if (!db_.isOpen()) {
        fail(isc::Status::Fail(isc_bad_db_handle));
        return false;
    }
    clearRows();
    query_.release();
    tr_.rollback();
    if (runRows_ >= RunRowLimit)
        endRunTransaction();
    isc::Transaction own;
    isc::Transaction &tr = rowRun_ ? runTr_ : own;
    std::vector<int64_t> got;
    bool ok = (tr.isActive() || tr.start(db_, st, {.lockWaitSeconds = LockWaitSeconds, .autoCommit = true}))
              && run(tr, st, got);
    if (ok)
        values.assign(got.begin(), got.end());
    if (!rowRun_) {
        // Committed with the statement already: ending the transaction changes nothing.
        isc::Status end;
        if (ok && !own.commit(end))
            own.rollback();
        own.rollback();
    }
    if (!ok) {
        if (rowRun_)
            runFailed_ = runTr_.isActive();
        fail(st);
        // A refused block leaves the transaction usable; anything else may not have.
        if (rowRun_ && !lastDuplicate_ && !lastLockTimeout_)
            endRunTransaction();
        return false;
    }
    ++runRows_;
    return true;
}

bool DataAccess::UpdateRecord(const QString &table, int count, const QStringList &names,
                              const QStringList &values, const QString &condition)
{
    Call call(*this, true, LockWaitSeconds);
    if (!db_.isOpen())
        return false;
    return runChange(Statements::UpdateRecord(table, count, names, values, condition));
}

bool DataAccess::DeleteRecords(const QString &table, const QString &condition)
{
    Call call(*this, true, LockWaitSeconds);
    if (!db_.isOpen())
        return false;
    return runChange(Statements::DeleteRecords(table, condition));
}
