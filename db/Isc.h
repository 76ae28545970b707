#pragma once
// Thin RAII layer over the Firebird ISC C API: one attachment, transactions,
// and a statement whose output buffers are sized from the server's description.

#include <ibase.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class RowSet;

namespace isc {

// The outcome of the last call; the first error code tells what kind of failure it was.
struct Status {
    ISC_STATUS_ARRAY vector{};
    // A failure with that one code, for what is refused before the server is asked.
    static Status Fail(ISC_STATUS code);
    bool failed() const { return vector[0] == 1 && vector[1] != 0; }
    ISC_STATUS code() const { return failed() ? vector[1] : 0; }
    QString text() const;
};

// True for codes that mean the connection to the server is gone.
bool IsConnectionLoss(ISC_STATUS code);
// True for a unique or primary key violation.
bool IsDuplicateKey(const Status &status);
// True when a change met another transaction's lock (and waited for it, if allowed).
bool IsLockTimeout(const Status &status);

class Attachment {
public:
    Attachment() = default;
    ~Attachment();
    Attachment(const Attachment &) = delete;
    Attachment &operator=(const Attachment &) = delete;

    bool attach(const QByteArray &path, const QByteArray &user, const QByteArray &password,
                int connectTimeoutSeconds, Status &st);
    // CREATE DATABASE sent immediately; on success the new database stays attached.
    bool createDatabase(const QByteArray &statement, Status &st);
    void detach();
    // Closes the line to the server at once, without a round trip; the handle stays
    // until detach(), whose calls then fail at once.
    void abort();
    // Takes over the other's attachment; the other is left closed.
    void takeFrom(Attachment &other)
    {
        detach();
        handle_ = other.handle_;
        other.handle_ = 0;
    }
    bool isOpen() const { return handle_ != 0; }
    isc_db_handle *handle() { return &handle_; }

private:
    isc_db_handle handle_ = 0;
};

class Transaction {
public:
    Transaction() = default;
    ~Transaction() { rollback(); }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    struct Options {
        // Read committed and no wait: for the catalogue lookups.
        bool readOnly = false;
        // Above 0: wait for a lock no longer than this (also with autoCommit);
        // 0: as long as the server's default.
        int lockWaitSeconds = 0;
        // Read committed, wait, each statement committed as it completes: one round trip
        // per row, and a failed statement is undone without ending the transaction.
        bool autoCommit = false;
    };
    // Server defaults (snapshot, wait, read-write) unless the options say otherwise.
    bool start(Attachment &db, Status &st, const Options &options);
    bool start(Attachment &db, Status &st) { return start(db, st, Options{}); }
    bool commit(Status &st);
    void rollback();
    bool isActive() const { return handle_ != 0; }
    isc_tr_handle *handle() { return &handle_; }

private:
    isc_tr_handle handle_ = 0;
};

// Sends one statement that returns no rows (dialect 3).
bool ExecuteImmediate(Attachment &db, Transaction &tr, const QByteArray &sql, Status &st);

// Sends one statement that returns one row of `count` integer values (an EXECUTE BLOCK
// with RETURNS): one round trip. A NULL comes back as 0.
bool ExecuteImmediateReturning(Attachment &db, Transaction &tr, const QByteArray &sql, int count,
                               std::vector<int64_t> &values, Status &st);

// One column value as fetched: NULL, an integer, or raw text bytes.
struct Value {
    enum Kind : uint8_t { Null, Integer, Text, Other } kind = Null;
    int64_t integer = 0;
    int scale = 0;
    QByteArray text; // Text: CP932 bytes as stored; Other: already formatted (ASCII)
};

class Statement {
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool prepare(Attachment &db, Transaction &tr, const QByteArray &sql, Status &st);
    bool execute(Transaction &tr, Status &st);
    // With one BIGINT parameter (the statement's only '?').
    bool execute(Transaction &tr, Status &st, int64_t parameter);
    bool isPrepared() const { return handle_ != 0 && isSelect_; }
    // A statement that answers with one row of integers (an EXECUTE BLOCK that suspends
    // once), prepared: run with integer parameters (nullopt: NULL), its row in `values` (a
    // NULL as 0), in one round trip.
    bool executeReturning(Transaction &tr, Status &st, const std::vector<std::optional<int64_t>> &parameters,
                          int count, std::vector<int64_t> &values);
    bool isAllocated() const { return handle_ != 0; }
    // Moves to the next row; false at the end or on failure (st tells which).
    bool fetch(Status &st);
    void closeCursor();
    // Frees the server statement; needed before the attachment goes.
    void release();

    int columnCount() const { return out_ ? out_->sqld : 0; }
    QByteArray columnName(int i) const; // alias name as the SELECT list gives it
    Value value(int i) const;
    // Adds the current row to the rows, column by column.
    void appendRowTo(RowSet &rows) const;

private:
    void allocateOutput(int columns);
    isc_stmt_handle handle_ = 0;
    std::unique_ptr<char[]> outMem_;
    XSQLDA *out_ = nullptr;
    std::vector<std::unique_ptr<char[]>> buffers_;
    std::vector<short> nulls_;
    bool cursorOpen_ = false;
    bool isSelect_ = false;
};

} // namespace isc
