#pragma once
// One connection, transaction and query, with the operations every window uses.
// Failures never escape: each operation reports through its result.
// Threads: an object is used by one thread at a time (the main window's on the window's
// thread, a worker's on its own); its callbacks run on that thread. Only CancelCall and
// CancelAllCalls may be called from any thread.

#include "db/RowSet.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

// The client library's types stay inside db/.
namespace isc {
class Attachment;
class Transaction;
class Statement;
struct Status;
} // namespace isc

class DataAccess {
public:
    // Seconds an attach may wait for an unreachable server before it gives up.
    static constexpr int ConnectTimeoutSeconds = 10;
    // Seconds DropTable waits for another PC that still has the table in use
    // (a SELECT there keeps its transaction open); then it gives up with false.
    static constexpr int DropWaitSeconds = 10;
    // The server's administrator account, the one every PC signs in with.
    static constexpr const char *User = "SYSDBA";
    static constexpr const char *Password = "plumstone";
    // Seconds a call on an established connection may go without an answer; then it is
    // cut and reported as a lost connection.
    static constexpr int ReplyTimeoutSeconds = 10;
    // A disconnect waits for no more than this: a program ending at logout on a silent
    // network would otherwise be killed before it has written its settings.
    static constexpr int DetachTimeoutSeconds = 2;
    // Seconds a change waits for a row another connection has locked; then it fails
    // with LastFailureWasLockTimeout().
    static constexpr int LockWaitSeconds = 3;

    DataAccess();
    ~DataAccess();
    DataAccess(const DataAccess &) = delete;
    DataAccess &operator=(const DataAccess &) = delete;

    // ---- connection ----
    // Creates the database file; on success the connection is left open on it.
    void CreateDatabase(const QString &path);
    // Attaches unless already attached; on failure the connection is closed.
    void ConnectDatabase(const QString &path);
    // Closes the query, rolls back the transaction, detaches. Harmless in any state.
    void DisconnectDatabase();
    // The same for a connection known to be lost: the line is cut first, so that no
    // round trip waits for a server that does not answer.
    void DropConnection();
    bool IsConnected() const;
    QString DatabasePath() const { return path_; }
    // Takes over the attachment `from` made (on another thread, now finished with it);
    // this object's own connection is closed first. `from` is left closed.
    void AdoptAttachment(DataAccess &from);

    // This attachment on the server: its number (CURRENT_CONNECTION), its start
    // (MON$ATTACHMENTS.MON$TIMESTAMP) and its database's creation time (MON$DATABASE), as
    // Statements::TimestampText has them. Numbers start again with a database made again
    // or restored: only the three together name an attachment. Read once per attachment;
    // id 0 when it cannot be read (not connected, connection lost).
    struct Identity {
        qint64 id = 0;
        QString started;
        QString database;
    };
    Identity AttachmentIdentity();
    qint64 AttachmentId() { return AttachmentIdentity().id; }
    // What became of another attachment of this database, after EndAttachment.
    enum class AttachmentEnd { Gone, StillThere, Unknown };
    // Makes sure the attachment of that number and start can no longer change anything:
    // it is deleted from MON$ATTACHMENTS (the server then cancels its statement and drops
    // it), then looked for until it is gone, at most waitMs. An attachment of that number
    // that started at another time is another's and left alone (the one meant is gone).
    // Unknown when this connection could not ask. Never ends this object's own attachment.
    AttachmentEnd EndAttachment(qint64 id, const QString &started, int waitMs);

    // An attach to `path` that was given up at its deadline (on another object): this one
    // reports it as a lost connection.
    void GiveUpConnect(const QString &path);

    // Any thread: cuts this connection's call in progress now, as its deadline would
    // (the caller then sees a lost connection). Nothing happens between calls.
    void CancelCall();
    // Any thread: the same for every connection of the process.
    static void CancelAllCalls();
    // Any thread: from now on every call of the process gets at most this long without
    // an answer (for the end of the process, when nobody can wait ReplyTimeoutSeconds).
    static void ShortenReplyTimeout(int milliseconds);

    // ---- schema ----
    // True when a user table of that name exists (case-insensitive). Reads the
    // names in a transaction of its own and leaves the shared query alone.
    bool TableExists(const QString &name);
    // True when the last TableExists could not read the names (its false then
    // means "unknown", not "missing").
    bool TableListFailed() const { return tableListFailed_; }
    // The relation id of that table as the last TableExists listed it (0: not listed). A
    // table dropped and made again under the same name gets a new one.
    int RelationIdOf(const QString &name) const { return relationIds_.value(name.trimmed().toUpper()); }
    bool CreateSectionTable();
    bool CreateMemberTable();
    bool CreateImgListTable();
    bool CreateImageTable(const QString &name);
    bool ExecuteSql(const QStringList &lines);
    bool DropTable(const QString &name);

    // ---- a run of rows, each committed as it is inserted ----
    // Between these two calls InsertRecord works in one transaction kept for the run that
    // commits every statement as it completes (read committed, autocommit): a row costs one
    // round trip instead of three, and is committed, visible to every other connection and
    // kept whatever follows, when the call returns. A refused row changes nothing.
    // Any other change ends the run's transaction first; the next row starts a new one,
    // as does every RunRowLimit-th row, so the server's oldest transaction keeps moving.
    static constexpr int RunRowLimit = 1000;
    void BeginRowRun() { rowRun_ = true; }
    void EndRowRun();
    // Ends the run but keeps its transaction for the next one (a stroke still being drawn
    // sends its next block soon): its start and end cost no round trip per block. Every
    // statement of it is committed already; EndRowRun or any other change ends it.
    void PauseRowRun() { rowRun_ = false; }

    // ---- statements ----
    bool InsertRecord(const QString &table, int count, const QStringList &names,
                      const QStringList &values);
    bool UpdateRecord(const QString &table, int count, const QStringList &names,
                      const QStringList &values, const QString &condition);
    bool DeleteRecords(const QString &table, const QString &condition);
    int SelectAll(const QString &table, const QString &condition);
    bool SelectMatch(const QString &table, const QString &column, const QString &condition,
                     int value);
    void SelectMax(const QString &table, const QString &column, const QString &condition,
                   QString &result);
    int SelectFields(const QString &list, const QString &table, const QString &condition,
                     QStringList &buffer);
    int SelectOrdered(const QString &list, const QString &table, const QString &condition,
                      const QString &order);
    void FetchFirst(QStringList &buffer);
    void FetchNext(QStringList &buffer);
    // The rows of that SELECT in order, `each(row)` for each as it arrives from the server
    // (nothing is read ahead: a large result takes no memory and its first rows come at
    // once), then CloseQuery; returns the rows handed over (0 on failure, which leaves
    // LastErrorCode set, also after some rows). The row holds the columns from entry 0 and
    // may be changed. An `each` that returns bool ends the rows early by returning false.
    // `each` must not use this object.
    template <class Each>
    int ForEachRow(const QString &list, const QString &table, const QString &condition,
                   const QString &order, Each &&each)
    {
        const int count = OpenRows(list, table, condition, order) ? eachRow([this](QStringList &r) { return NextRow(r); }, each) : 0;
        CloseQuery();
        return count;
    }
    // ForEachRow for a SELECT of integer columns (a stroke table's) without making text:
    // `each(values, nulls)`, one entry per column, a NULL as 0 with its flag set. Ends
    // early when `each` returns false.
    int ForEachIntegerRow(const QString &list, const QString &table, const QString &condition,
                          const QString &order, const std::function<bool(const qint64 *values, const bool *nulls)> &each);
    // ForEachRow by hand: the SELECT opened, then one row per NextRow (false at the end or
    // on failure), then CloseQuery.
    bool OpenRows(const QString &list, const QString &table, const QString &condition,
                  const QString &order);
    bool NextRow(QStringList &row);

    // ---- the refresh: the rows of a table from N on, in N order ----
    // Its statement stays prepared per table, and it reads in a read-only read-committed
    // transaction kept open (it holds back no garbage collection): a refresh costs its
    // execute and fetches. Prepared, it keeps its table in use (a DROP TABLE elsewhere
    // waits for it): ReleaseRefresh lets it go when the refreshes pause. Returns the rows
    // handed to `each` (which may end them by returning false); 0 on failure, with
    // LastErrorCode set. `each` must not use this object.
    template <class Each> int ForEachRowFrom(const QString &table, qint64 from, Each &&each)
    {
        const int count = openRowsFrom(table, from) ? eachRow([this](QStringList &r) { return nextRowFrom(r); }, each) : 0;
        closeRowsFrom();
        return count;
    }
    void ReleaseRefresh();
    bool RefreshPrepared() const;

    // ---- a stroke as one statement ----
    // Sends one EXECUTE BLOCK that returns one row of `count` integers, in one autocommit
    // transaction (the row run's while one is open): one round trip, its changes committed
    // when it returns true. Its wait for another connection's lock counts LockWaitSeconds
    // on top of the reply deadline.
    bool ExecuteBlock(const QStringList &lines, int count, std::vector<qint64> &values);
    // The same for a statement kept prepared under `key` (made from `lines`, whose '?' are
    // integer parameters, the first time): the server compiles it once, and each run costs
    // its execute. Like the refresh's, a prepared statement keeps its table in use:
    // ReleasePrepared lets them go when the stores pause.
    bool ExecutePrepared(const QString &key, const std::function<QStringList()> &lines,
                         const std::vector<std::optional<qint64>> &parameters, int count, std::vector<qint64> &values);
    bool IsPrepared(const QString &key) const;
    void ReleasePrepared();
    void CloseQuery();
    void EndQuery();
    bool IsQueryOpen() const { return rowsOpen_ || cursorOpen_ || streamOpen_; }
    bool IsTransactionActive() const;

    // ---- a cursor on the shared query, for the image list's own page statement ----
    // Opens the statement on the shared query and transaction (the caller ends both first)
    // and moves to the first row. False on failure.
    bool OpenCursor(const QStringList &lines);
    bool CursorEof() const { return !cursorOpen_ || cursorEof_; }
    // Moves forward; false at the end or on failure.
    bool CursorNext();
    // The current row's column of that name as text; NULL as empty text.
    QString CursorValue(const QString &column) const;

    // ---- what the last failure was (for callers that must tell a clash from a lost server) ----
    intptr_t LastErrorCode() const;
    bool LastFailureWasDuplicate() const { return lastDuplicate_; }
    bool LastFailureWasConnectionLoss() const;
    // The last error itself was the line's (unreachable, lost, or given up at a deadline),
    // unlike LastFailureWasConnectionLoss also when nothing was open to begin with.
    bool LastErrorWasNoAnswer() const;
    // The change waited LockWaitSeconds for a row another connection holds and gave up.
    // The connection is fine; try again later.
    bool LastFailureWasLockTimeout() const { return lastLockTimeout_; }
    QString LastErrorText() const;
    // The change's commit was sent and its answer never came (the connection was lost or
    // the call cut meanwhile): it may be stored. Read the row again before telling anyone.
    // LastFailureWasConnectionLoss() is true too.
    bool LastFailureMayBeStored() const { return lastMayBeStored_; }

    // Called when a call on an open connection failed because the server is gone.
    // The connection is still open then; the owner detaches once the call is over.
    std::function<void()> onConnectionLost;

    // Receives the table names each time TableExists lists them.
    std::function<void(const QStringList &)> onTableNames;

private:
    friend class EventWatcher; // waits for events on this attachment
    class Call;
    bool runChange(const QStringList &lines, int lockWaitSeconds = LockWaitSeconds);
    bool insertInRun(const QStringList &lines);
    void endRunTransaction();
    bool runBlock(int count, std::vector<qint64> &values,
                  const std::function<bool(isc::Transaction &, isc::Status &, std::vector<int64_t> &)> &run);
    // Ends any open result, starts the transaction, prepares and executes a SELECT.
    bool openSelect(const QStringList &lines);
    void fail(const isc::Status &st);
    void clearRows();
    // Hands the rows `next` reads to `each` until either says no more; their count.
    template <class Next, class Each> static int eachRow(Next &&next, Each &&each)
    {
        int count = 0;
        QStringList row;
        while (next(row)) {
            ++count;
            if constexpr (std::is_same_v<decltype(each(row)), bool>) {
                if (!each(row))
                    break;
            } else {
                each(row);
            }
        }
        return count;
    }
    bool fetchRow(isc::Statement &q, QStringList &row);
    bool openRowsFrom(const QString &table, qint64 from);
    bool nextRowFrom(QStringList &row);
    void closeRowsFrom();

    struct Handles;
    std::unique_ptr<Handles> handles_;
    isc::Attachment &db_;
    isc::Transaction &tr_;
    // The kept autocommit transaction of a run of row inserts.
    isc::Transaction &runTr_;
    bool rowRun_ = false;
    int runRows_ = 0;
    // A statement of the run failed: the run ends with a rollback, not a commit.
    bool runFailed_ = false;
    isc::Statement &query_;
    isc::Status &lastError_;
    QString path_;

    RowSet rows_;
    bool rowsOpen_ = false;
    bool streamOpen_ = false;
    isc::Statement *refreshOpen_ = nullptr; // the refresh statement whose rows are being read
    bool cursorOpen_ = false;
    bool cursorEof_ = true;

    bool lastDuplicate_ = false;
    bool lastLockTimeout_ = false;
    bool lastMayBeStored_ = false;
    bool tableListFailed_ = false;
    Identity identity_; // id 0: not read yet for this attachment
    QHash<QString, int> relationIds_;
    // The guard of the operation in progress on this object's thread, if any.
    Call *call_ = nullptr;
};
