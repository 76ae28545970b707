// DataAccess's reads: the one query's rows as texts, the refresh's kept statements, and the
// image list's cursor.
#include "db/DataAccessInternals.h"

#include <utility>

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

static void emptyEntries(QStringList &buffer, int k)
{
    if (buffer.size() < k)
        buffer.resize(k);
    for (int i = 0; i < k; ++i)
        buffer[i].clear();
}

void DataAccess::clearRows()
{
    rows_.clear();
    rowsOpen_ = false;
    streamOpen_ = false;
    cursorOpen_ = false;
    cursorEof_ = true;
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
