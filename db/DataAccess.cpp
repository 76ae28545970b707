#include "db/DataAccess.h"

#include "db/Cp932.h"
#include "db/Statements.h"

static const QByteArray kUser = "SYSDBA";
static const QByteArray kPassword = "plumstone";

DataAccess::DataAccess() = default;

DataAccess::~DataAccess()
{
    DisconnectDatabase();
}

void DataAccess::fail(const isc::Status &st)
{
    lastError_ = st;
    lastDuplicate_ = isc::IsDuplicateKey(st);
    if (db_.isOpen() && isc::IsConnectionLoss(st.code()) && onConnectionLost)
        onConnectionLost();
}

bool DataAccess::LastFailureWasConnectionLoss() const
{
    return !db_.isOpen() || isc::IsConnectionLoss(lastError_.code());
}

// ---- connection ----

void DataAccess::CreateDatabase(const QString &path)
{
    DisconnectDatabase();
    path_ = path;
    const QByteArray sql = cp932::Encode(Statements::CreateDatabase(
        path, QString::fromLatin1(kUser), QString::fromLatin1(kPassword)));
    isc::Status st;
    if (!isc::ServerAnswers(cp932::Encode(path), ConnectTimeoutSeconds, kUser, kPassword)) {
        st.vector[0] = 1;
        st.vector[1] = isc_network_error;
        st.vector[2] = isc_arg_end;
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
    isc::Status st;
    if (!db_.attach(cp932::Encode(path), kUser, kPassword, ConnectTimeoutSeconds, st)) {
        fail(st);
        DisconnectDatabase();
    }
}

void DataAccess::DisconnectDatabase()
{
    clearRows();
    query_.release();
    tr_.rollback();
    db_.detach();
}

void DataAccess::clearRows()
{
    rows_.clear();
    rowsOpen_ = false;
    cursorOpen_ = false;
    cursorEof_ = true;
}

// ---- schema ----

bool DataAccess::TableExists(const QString &name)
{
    tableListFailed_ = false;
    if (!db_.isOpen())
        return false;
    QStringList names;
    isc::Status st;
    isc::Transaction tr;
    bool ok = tr.start(db_, st, true);
    if (ok) {
        isc::Statement stmt;
        ok = stmt.prepare(db_, tr,
                          "SELECT RDB$RELATION_NAME FROM RDB$RELATIONS"
                          " WHERE RDB$VIEW_BLR IS NULL"
                          " AND (RDB$SYSTEM_FLAG IS NULL OR RDB$SYSTEM_FLAG = 0)"
                          " ORDER BY RDB$RELATION_NAME",
                          st)
             && stmt.execute(tr, st);
        while (ok && stmt.fetch(st)) {
            const isc::Value v = stmt.value(0);
            names << cp932::Decode(v.text).trimmed();
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

// The server's default transaction (snapshot, read-write, wait), but waiting for a
// lock no longer than the given time.
static bool startWithLockWait(isc::Attachment &db, isc::Transaction &tr, isc::Status &st,
                              int seconds)
{
    const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait,
                        isc_tpb_lock_timeout, 4, static_cast<char>(seconds & 0xFF),
                        static_cast<char>((seconds >> 8) & 0xFF), 0, 0};
    if (isc_start_transaction(st.vector, tr.handle(), 1, db.handle(),
                              static_cast<unsigned short>(sizeof tpb), tpb)) {
        tr.abandon();
        return false;
    }
    return true;
}

// A character without a CP932 form would reach the server as a substitute byte
// pair and be stored wrongly: such a statement is not sent at all.
static bool encodeStatement(const QStringList &lines, QByteArray &sql, isc::Status &st)
{
    bool ok = false;
    sql = cp932::Encode(Statements::Join(lines), &ok);
    if (!ok) {
        st.vector[0] = 1;
        st.vector[1] = isc_transliteration_failed;
        st.vector[2] = isc_arg_end;
    }
    return ok;
}

// One statement in a transaction of its own: start, execute, commit; rolled back on failure.
bool DataAccess::runChange(const QStringList &lines, int lockWaitSeconds)
{
    clearRows();
    // A statement left prepared keeps its tables in use, and DROP TABLE would fail.
    query_.release();
    tr_.rollback();
    isc::Status st;
    QByteArray sql;
    bool ok = db_.isOpen() && encodeStatement(lines, sql, st)
              && (lockWaitSeconds > 0 ? startWithLockWait(db_, tr_, st, lockWaitSeconds)
                                      : tr_.start(db_, st))
              && isc::ExecuteImmediate(db_, tr_, sql, st)
              && tr_.commit(st);
    if (!ok) {
        if (!db_.isOpen() && !st.failed()) {
            st.vector[0] = 1;
            st.vector[1] = isc_bad_db_handle;
            st.vector[2] = isc_arg_end;
        }
        fail(st);
        tr_.rollback();
    }
    return ok;
}

// ---- statements ----

bool DataAccess::InsertRecord(const QString &table, int count, const QStringList &names,
                              const QStringList &values)
{
    if (!db_.isOpen())
        return false;
    return runChange(Statements::InsertRecord(table, count, names, values));
}

bool DataAccess::UpdateRecord(const QString &table, int count, const QStringList &names,
                              const QStringList &values, const QString &condition)
{
    if (!db_.isOpen())
        return false;
    return runChange(Statements::UpdateRecord(table, count, names, values, condition));
}

bool DataAccess::DeleteRecords(const QString &table, const QString &condition)
{
    if (!db_.isOpen())
        return false;
    return runChange(Statements::DeleteRecords(table, condition));
}

bool DataAccess::openSelect(const QStringList &lines)
{
    EndQuery();
    isc::Status st;
    QByteArray sql;
    const bool ok = encodeStatement(lines, sql, st) && tr_.start(db_, st)
                    && query_.prepare(db_, tr_, sql, st)
                    && query_.execute(tr_, st);
    if (!ok) {
        fail(st);
        query_.release();
    }
    return ok;
}

// Fetches every row of the open statement into rows_. False when a fetch failed.
static bool fetchAll(isc::Statement &q, RowSet &rows, isc::Status &st)
{
    rows.clear();
    rows.setColumns(q.columnCount());
    QByteArray row;
    while (q.fetch(st)) {
        row.clear();
        for (int c = 0; c < q.columnCount(); ++c)
            q.appendTo(row, c);
        rows.appendRow(row);
    }
    q.release();
    return !st.failed();
}

int DataAccess::SelectAll(const QString &table, const QString &condition)
{
    if (!db_.isOpen())
        return -1;
    if (!openSelect(Statements::SelectAll(table, condition)))
        return -1;
    // Counting by reading to the end, without keeping the rows.
    isc::Status st;
    int count = 0;
    while (query_.fetch(st))
        ++count;
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
    result.clear();
    if (!db_.isOpen())
        return;
    if (!openSelect(Statements::SelectMax(table, column, condition)))
        return;
    isc::Status st;
    if (query_.fetch(st) && query_.columnCount() > 0) {
        RowSet one;
        one.setColumns(1);
        QByteArray row;
        query_.appendTo(row, 0);
        one.appendRow(row);
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
    if (!db_.isOpen())
        return -1;
    if (!openSelect(Statements::SelectFields(list, table, condition)))
        return -1;
    isc::Status st;
    int copied = -1;
    if (query_.fetch(st)) {
        RowSet one;
        one.setColumns(query_.columnCount());
        QByteArray row;
        for (int c = 0; c < query_.columnCount(); ++c)
            query_.appendTo(row, c);
        one.appendRow(row);
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
    if (!db_.isOpen())
        return 0;
    if (!openSelect(Statements::SelectOrdered(list, table, condition, order)))
        return 0;
    isc::Status st;
    if (!fetchAll(query_, rows_, st)) {
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
    clearRows();
    query_.release();
}

void DataAccess::EndQuery()
{
    CloseQuery();
    tr_.rollback();
}

// ---- cursor ----

bool DataAccess::OpenCursor(const QStringList &lines)
{
    if (!db_.isOpen())
        return false;
    CloseQuery();
    isc::Status st;
    QByteArray sql;
    const bool ok = encodeStatement(lines, sql, st) && (tr_.isActive() || tr_.start(db_, st))
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
