#include "db/DataAccess.h"

#include "db/Cp932.h"
#include "db/Isc.h"
#include "db/BlockingServerCheck.h"
#include "db/CallWatchdog.h"
#include "db/Statements.h"

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <utility>

static const QByteArray kUser = DataAccess::User;
static const QByteArray kPassword = DataAccess::Password;

struct DataAccess::Handles {
    isc::Attachment db;
    isc::Transaction tr;
    isc::Transaction runTr;
    isc::Statement query;
    isc::Status lastError;
    // The refresh's statements by table, and their read-only read-committed transaction.
    std::map<QString, std::unique_ptr<isc::Statement>> refresh;
    isc::Transaction refreshTr;
};

static_assert(sizeof(isc_db_handle) == sizeof(unsigned int));

// One operation on the server: its calls are under the reply deadline, and unless it
// only tidies up, the "last failure" flags start afresh. Nested operations share the
// outer one's guard.
class DataAccess::Call {
public:
    // A wait for another connection's lock gets no answer either: it adds to the limit.
    explicit Call(DataAccess &d, bool fresh = true, int lockWaitSeconds = 0,
                  int replySeconds = ReplyTimeoutSeconds)
        : guard(&d, *d.db_.handle(), std::chrono::seconds(replySeconds + lockWaitSeconds)),
          d_(d),
          outer_(d.call_ == nullptr)
    {
        if (!outer_)
            return;
        d.call_ = this;
        if (fresh) {
            d.lastError_ = isc::Status{};
            d.lastDuplicate_ = false;
            d.lastLockTimeout_ = false;
            d.lastMayBeStored_ = false;
            d.tableListFailed_ = false;
        }
    }
    ~Call()
    {
        if (outer_)
            d_.call_ = nullptr;
    }
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;
    isc::CallGuard guard;

private:
    DataAccess &d_;
    bool outer_;
};

DataAccess::DataAccess()
    : handles_(std::make_unique<Handles>()), db_(handles_->db), tr_(handles_->tr),
      runTr_(handles_->runTr), query_(handles_->query), lastError_(handles_->lastError)
{
}

DataAccess::~DataAccess()
{
    DisconnectDatabase();
}

void DataAccess::fail(const isc::Status &failure)
{
    isc::Status st = failure;
    // A cut call may report a cancel rather than a broken line: it is lost all the same.
    if (call_ && call_->guard.WasCut() && !isc::IsConnectionLoss(st.code()))
        st = isc::Status::Fail(isc_net_read_err);
    lastError_ = st;
    lastDuplicate_ = isc::IsDuplicateKey(st);
    lastLockTimeout_ = isc::IsLockTimeout(st);
    if (db_.isOpen() && isc::IsConnectionLoss(st.code()) && onConnectionLost)
        onConnectionLost();
}

void DataAccess::CancelCall()
{
    isc::CancelOwner(this);
}

void DataAccess::CancelAllCalls()
{
    isc::CancelAll();
}

void DataAccess::ShortenReplyTimeout(int milliseconds)
{
    isc::CapAllCalls(std::chrono::milliseconds(milliseconds));
}

void DataAccess::AdoptAttachment(DataAccess &from)
{
    DisconnectDatabase();
    from.ReleaseRefresh();
    from.clearRows();
    from.query_.release();
    from.tr_.rollback();
    from.runTr_.rollback();
    db_.takeFrom(from.db_);
    attachmentId_ = std::exchange(from.attachmentId_, 0);
    path_ = from.path_;
    lastError_ = isc::Status{};
}

bool DataAccess::IsConnected() const
{
    return db_.isOpen();
}

bool DataAccess::IsTransactionActive() const
{
    return tr_.isActive();
}

intptr_t DataAccess::LastErrorCode() const
{
    return lastError_.code();
}

QString DataAccess::LastErrorText() const
{
    return lastError_.text();
}

bool DataAccess::LastFailureWasConnectionLoss() const
{
    return !db_.isOpen() || isc::IsConnectionLoss(lastError_.code());
}

bool DataAccess::LastErrorWasNoAnswer() const
{
    return isc::IsConnectionLoss(lastError_.code());
}

// ---- connection ----

void DataAccess::CreateDatabase(const QString &path)
{
    DisconnectDatabase();
    Call call(*this);
    path_ = path;
    const QByteArray sql = cp932::Encode(Statements::CreateDatabase(
        path, QString::fromLatin1(kUser), QString::fromLatin1(kPassword)));
    isc::Status st;
    if (!isc::ServerAnswers(cp932::Encode(path), ConnectTimeoutSeconds, kUser, kPassword)) {
        st = isc::Status::Fail(isc_network_error);
        fail(st);
        return;
    }
    if (!db_.createDatabase(sql, st))
        fail(st);
}

void DataAccess::ConnectDatabase(const QString &path)
{
    if (db_.isOpen())
        return;
    path_ = path;
    DisconnectDatabase();
    Call call(*this);
    isc::Status st;
    if (!db_.attach(cp932::Encode(path), kUser, kPassword, ConnectTimeoutSeconds, st)) {
        fail(st);
        DisconnectDatabase();
    }
}

qint64 DataAccess::AttachmentId()
{
    if (attachmentId_ > 0 || !db_.isOpen())
        return attachmentId_;
    QStringList id;
    if (SelectFields(QStringLiteral("CURRENT_CONNECTION"), QStringLiteral("RDB$DATABASE"), QString(), id) == 1)
        attachmentId_ = id.value(0).toLongLong();
    EndQuery();
    return attachmentId_;
}

DataAccess::AttachmentEnd DataAccess::EndAttachment(qint64 id, int waitMs)
{
    const qint64 own = AttachmentId();
    if (own <= 0)
        return AttachmentEnd::Unknown;
    if (id <= 0 || id == own)
        return AttachmentEnd::Gone;
    const QString table = QStringLiteral("MON$ATTACHMENTS");
    const QString which = QStringLiteral("MON$ATTACHMENT_ID=") + QString::number(id);
    // Each look is a transaction of its own: the monitoring tables are a snapshot per transaction.
    const auto there = [&] {
        const int n = SelectAll(table, which);
        EndQuery();
        return n;
    };
    int n = there();
    if (n > 0 && !DeleteRecords(table, which) && LastFailureWasConnectionLoss())
        return AttachmentEnd::Unknown;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (n > 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        n = there();
    }
    if (n < 0)
        return AttachmentEnd::Unknown;
    return n == 0 ? AttachmentEnd::Gone : AttachmentEnd::StillThere;
}

void DataAccess::GiveUpConnect(const QString &path)
{
    DisconnectDatabase();
    path_ = path;
    lastError_ = isc::Status::Fail(isc_network_error);
}

void DataAccess::DisconnectDatabase()
{
    Call call(*this, false, 0, DetachTimeoutSeconds);
    clearRows();
    ReleaseRefresh();
    query_.release();
    tr_.rollback();
    runTr_.rollback(); // its rows are committed already
    db_.detach();
    attachmentId_ = 0;
}

void DataAccess::DropConnection()
{
    db_.abort();
    DisconnectDatabase();
}

void DataAccess::clearRows()
{
    rows_.clear();
    rowsOpen_ = false;
    streamOpen_ = false;
    cursorOpen_ = false;
    cursorEof_ = true;
}

// ---- schema ----

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

// A character without a CP932 form would reach the server as a substitute byte
// pair and be stored wrongly: such a statement is not sent at all.
static bool encodeStatement(const QStringList &lines, QByteArray &sql, isc::Status &st)
{
    bool ok = false;
    sql = cp932::Encode(Statements::Join(lines), &ok);
    if (!ok) {
        st = isc::Status::Fail(isc_transliteration_failed);
    }
    return ok;
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

// ---- statements ----

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
    QByteArray sql;
    std::vector<int64_t> got;
    bool ok = encodeStatement(lines, sql, st)
              && (tr.isActive()
                  || tr.start(db_, st, {.lockWaitSeconds = LockWaitSeconds, .autoCommit = true}))
              && isc::ExecuteImmediateReturning(db_, tr, sql, count, got, st);
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

bool DataAccess::openSelect(const QStringList &lines)
{
    Call call(*this);
    EndQuery();
    isc::Status st;
    QByteArray sql;
    const bool ok = encodeStatement(lines, sql, st)
                    && tr_.start(db_, st, {.lockWaitSeconds = LockWaitSeconds})
                    && query_.prepare(db_, tr_, sql, st)
                    && query_.execute(tr_, st);
    if (!ok) {
        fail(st);
        query_.release();
    }
    return ok;
}

// Fetches every row of the open statement into rows_. False when a fetch failed.
static bool fetchAll(isc::Statement &q, RowSet &rows, isc::Status &st, isc::CallGuard &guard)
{
    rows.clear();
    rows.setColumns(q.columnCount());
    while (q.fetch(st)) {
        guard.Touch();
        q.appendRowTo(rows);
    }
    q.release();
    return !st.failed();
}

bool DataAccess::OpenRows(const QString &list, const QString &table, const QString &condition,
                          const QString &order)
{
    Call call(*this);
    if (!db_.isOpen()) {
        fail(isc::Status::Fail(isc_bad_db_handle));
        return false;
    }
    if (!openSelect(Statements::SelectOrdered(list, table, condition, order)))
        return false;
    rows_.clear();
    streamOpen_ = true;
    return true;
}

bool DataAccess::NextRow(QStringList &row)
{
    if (!streamOpen_)
        return false;
    Call call(*this);
    streamOpen_ = fetchRow(query_, row);
    return streamOpen_;
}

// One row of `q` as text; false at the end or on a failure (noted).
bool DataAccess::fetchRow(isc::Statement &q, QStringList &row)
{
    isc::Status st;
    if (!q.fetch(st)) {
        if (st.failed())
            fail(st);
        return false;
    }
    rows_.reuse();
    rows_.setColumns(q.columnCount());
    q.appendRowTo(rows_);
    rows_.rewind();
    rows_.readRow(row);
    return true;
}

bool DataAccess::openRowsFrom(const QString &table, qint64 from)
{
    Call call(*this);
    if (!db_.isOpen()) {
        fail(isc::Status::Fail(isc_bad_db_handle));
        return false;
    }
    isc::Status st;
    auto &q = handles_->refresh[table];
    if (!q)
        q = std::make_unique<isc::Statement>();
    isc::Transaction &tr = handles_->refreshTr;
    bool ok = tr.isActive() || tr.start(db_, st, {.readOnly = true});
    if (ok && !q->isPrepared()) {
        QByteArray sql;
        ok = encodeStatement(Statements::SelectOrdered(QStringLiteral("*"), table, QStringLiteral("N>=?"),
                                                       QStringLiteral("N")),
                             sql, st)
             && q->prepare(db_, tr, sql, st);
    }
    ok = ok && q->execute(tr, st, from);
    if (!ok) {
        fail(st);
        // A dropped table, a lost line: prepared again next time, in a fresh transaction.
        q->release();
        tr.rollback();
        return false;
    }
    refreshOpen_ = q.get();
    rows_.clear();
    return true;
}

bool DataAccess::nextRowFrom(QStringList &row)
{
    if (!refreshOpen_)
        return false;
    Call call(*this);
    if (!fetchRow(*refreshOpen_, row))
        refreshOpen_ = nullptr;
    return refreshOpen_ != nullptr;
}

void DataAccess::closeRowsFrom()
{
    Call call(*this, false);
    // Read to the end the cursor is closed by the server already; else the rest is let go.
    if (refreshOpen_)
        refreshOpen_->closeCursor();
    refreshOpen_ = nullptr;
    rows_.clear();
}

void DataAccess::ReleaseRefresh()
{
    Call call(*this, false);
    refreshOpen_ = nullptr;
    // Released, not destroyed: the client library zeroes the handles of an attachment it
    // drops, so the statements stay until the attachment has gone.
    for (auto &[table, q] : handles_->refresh)
        q->release();
    handles_->refreshTr.rollback();
}

bool DataAccess::RefreshPrepared() const
{
    for (const auto &[table, q] : handles_->refresh)
        if (q->isPrepared())
            return true;
    return handles_->refreshTr.isActive();
}

int DataAccess::ForEachIntegerRow(const QString &list, const QString &table, const QString &condition,
                                  const QString &order,
                                  const std::function<bool(const qint64 *values, const bool *nulls)> &each)
{
    int count = 0;
    if (OpenRows(list, table, condition, order)) {
        const int columns = query_.columnCount();
        std::vector<qint64> values(size_t(columns), 0);
        std::unique_ptr<bool[]> nulls(new bool[size_t(columns)]);
        for (;;) {
            Call call(*this);
            isc::Status st;
            if (!query_.fetch(st)) {
                streamOpen_ = false;
                if (st.failed())
                    fail(st);
                break;
            }
            for (int i = 0; i < columns; ++i) {
                const isc::Value v = query_.value(i);
                nulls[size_t(i)] = v.kind == isc::Value::Null;
                values[size_t(i)] = v.kind == isc::Value::Integer ? v.integer : 0;
            }
            ++count;
            if (!each(values.data(), nulls.get()))
                break;
        }
    }
    CloseQuery();
    return count;
}

int DataAccess::SelectAll(const QString &table, const QString &condition)
{
    Call call(*this);
    if (!db_.isOpen())
        return -1;
    if (!openSelect(Statements::SelectAll(table, condition)))
        return -1;
    // Counting by reading to the end, without keeping the rows.
    isc::Status st;
    int count = 0;
    while (query_.fetch(st)) {
        call.guard.Touch();
        ++count;
    }
    query_.release();
    if (st.failed()) {
        fail(st);
        return -1;
    }
    return count;
}

bool DataAccess::SelectMatch(const QString &table, const QString &column, const QString &condition,
                             int value)
{
    Call call(*this);
    if (!db_.isOpen())
        return false;
    if (!openSelect(Statements::SelectMatch(table, column, condition, value)))
        return false;
    isc::Status st;
    const bool found = query_.fetch(st);
    if (st.failed())
        fail(st);
    query_.release();
    return found;
}

void DataAccess::SelectMax(const QString &table, const QString &column, const QString &condition,
                           QString &result)
{
    Call call(*this);
    result.clear();
    if (!db_.isOpen())
        return;
    if (!openSelect(Statements::SelectMax(table, column, condition)))
        return;
    isc::Status st;
    if (query_.fetch(st) && query_.columnCount() > 0) {
        RowSet one;
        one.setColumns(1);
        query_.appendRowTo(one);
        QStringList buf;
        one.readRow(buf);
        result = buf.value(0);
    } else if (st.failed()) {
        fail(st);
    }
    query_.release();
}

int DataAccess::SelectFields(const QString &list, const QString &table, const QString &condition,
                             QStringList &buffer)
{
    Call call(*this);
    if (!db_.isOpen())
        return -1;
    if (!openSelect(Statements::SelectFields(list, table, condition)))
        return -1;
    isc::Status st;
    int copied = -1;
    if (query_.fetch(st)) {
        RowSet one;
        one.setColumns(query_.columnCount());
        query_.appendRowTo(one);
        one.readRow(buffer);
        copied = query_.columnCount();
    } else if (st.failed()) {
        fail(st);
    }
    query_.release();
    return copied;
}

int DataAccess::SelectOrdered(const QString &list, const QString &table, const QString &condition,
                              const QString &order)
{
    Call call(*this);
    if (!db_.isOpen())
        return 0;
    if (!openSelect(Statements::SelectOrdered(list, table, condition, order)))
        return 0;
    isc::Status st;
    if (!fetchAll(query_, rows_, st, call.guard)) {
        fail(st);
        rows_.clear();
        return 0;
    }
    rowsOpen_ = true;
    rows_.rewind();
    return static_cast<int>(rows_.rows());
}

static void emptyEntries(QStringList &buffer, int k)
{
    if (buffer.size() < k)
        buffer.resize(k);
    for (int i = 0; i < k; ++i)
        buffer[i].clear();
}

void DataAccess::FetchFirst(QStringList &buffer)
{
    if (!rowsOpen_)
        return;
    rows_.rewind();
    if (!rows_.readRow(buffer))
        emptyEntries(buffer, rows_.columns());
}

void DataAccess::FetchNext(QStringList &buffer)
{
    if (!rowsOpen_)
        return;
    if (!rows_.readRow(buffer))
        emptyEntries(buffer, rows_.columns());
}

// The statement is freed, not only closed: while prepared it keeps its tables
// in use, so that a DROP TABLE here fails and one from another PC waits.
void DataAccess::CloseQuery()
{
    Call call(*this, false);
    clearRows();
    query_.release();
}

void DataAccess::EndQuery()
{
    Call call(*this, false);
    CloseQuery();
    tr_.rollback();
}

// ---- cursor ----

bool DataAccess::OpenCursor(const QStringList &lines)
{
    Call call(*this);
    if (!db_.isOpen())
        return false;
    CloseQuery();
    isc::Status st;
    QByteArray sql;
    const bool ok = encodeStatement(lines, sql, st)
                    && (tr_.isActive() || tr_.start(db_, st, {.lockWaitSeconds = LockWaitSeconds}))
                    && query_.prepare(db_, tr_, sql, st)
                    && query_.execute(tr_, st);
    if (!ok) {
        fail(st);
        query_.release();
        return false;
    }
    cursorOpen_ = true;
    cursorEof_ = false;
    return CursorNext() || !lastError_.failed();
}

bool DataAccess::CursorNext()
{
    if (!cursorOpen_ || cursorEof_)
        return false;
    Call call(*this);
    isc::Status st;
    if (query_.fetch(st))
        return true;
    cursorEof_ = true;
    if (st.failed()) {
        fail(st);
        return false;
    }
    lastError_ = isc::Status{};
    return false;
}

QString DataAccess::CursorValue(const QString &column) const
{
    if (!cursorOpen_ || cursorEof_)
        return QString();
    const QByteArray name = column.toUpper().toLatin1();
    for (int c = 0; c < query_.columnCount(); ++c) {
        if (query_.columnName(c) != name)
            continue;
        const isc::Value v = query_.value(c);
        switch (v.kind) {
        case isc::Value::Null:
            return QString();
        case isc::Value::Integer:
            return QString::number(v.integer);
        case isc::Value::Text:
            return cp932::Decode(v.text);
        case isc::Value::Other:
            return QString::fromLatin1(v.text);
        }
    }
    return QString();
}
