#include "db/Isc.h"

#include "db/RowSet.h"
#include "db/BlockingServerCheck.h"
#include "db/CallWatchdog.h"

#include <algorithm>
#include <cstring>

namespace isc {

Status Status::Fail(ISC_STATUS code)
{
    Status st;
    st.vector[0] = 1;
    st.vector[1] = code;
    st.vector[2] = isc_arg_end;
    return st;
}

QString Status::text() const
{
    QString out;
    char buf[1024];
    const ISC_STATUS *p = vector;
    while (fb_interpret(buf, sizeof buf, &p) > 0) {
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        out += QString::fromLocal8Bit(buf);
    }
    return out;
}

bool IsConnectionLoss(ISC_STATUS code)
{
    switch (code) {
    case isc_network_error:
    case isc_net_connect_err:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_lost_db_connection:
    case isc_conn_lost:
    case isc_shutdown:
    case isc_att_shutdown:
    case isc_bad_db_handle:
        return true;
    default:
        return false;
    }
}

// Whether the status vector holds that code anywhere, not only first.
static bool holds(const Status &status, ISC_STATUS code)
{
    if (!status.failed())
        return false;
    const ISC_STATUS *v = status.vector;
    for (int i = 0; i < ISC_STATUS_LENGTH - 1 && v[i] != isc_arg_end;) {
        if (v[i] == isc_arg_gds && v[i + 1] == code)
            return true;
        i += v[i] == isc_arg_cstring ? 3 : 2;
    }
    return false;
}

bool IsDuplicateKey(const Status &status)
{
    // The unique violation may come first or after a generic "violation of constraint".
    return holds(status, isc_unique_key_violation) || holds(status, isc_no_dup);
}

bool IsLockTimeout(const Status &status)
{
    // What Firebird 3 reports when a change waited out another connection's lock on the
    // row: "deadlock / update conflicts with concurrent update" for an update or delete;
    // the lock manager's own codes for explicit locks.
    return holds(status, isc_lock_timeout) || holds(status, isc_lock_conflict)
           || holds(status, isc_update_conflict) || holds(status, isc_deadlock);
}

// ---- Attachment ----

Attachment::~Attachment()
{
    detach();
}

static void addString(QByteArray &dpb, char item, const QByteArray &value)
{
    dpb += item;
    dpb += static_cast<char>(value.size() > 255 ? 255 : value.size());
    dpb += value.left(255);
}

bool Attachment::attach(const QByteArray &path, const QByteArray &user, const QByteArray &password,
                        int connectTimeoutSeconds, Status &st)
{
    detach();
    QByteArray dpb;
    dpb += static_cast<char>(isc_dpb_version1);
    addString(dpb, isc_dpb_user_name, user);
    addString(dpb, isc_dpb_password, password);
    dpb += static_cast<char>(isc_dpb_sql_dialect);
    dpb += static_cast<char>(4);
    const int32_t dialect = 3;
    dpb += QByteArray(reinterpret_cast<const char *>(&dialect), 4);
    if (connectTimeoutSeconds > 0) {
        dpb += static_cast<char>(isc_dpb_connect_timeout);
        dpb += static_cast<char>(4);
        const int32_t t = connectTimeoutSeconds;
        dpb += QByteArray(reinterpret_cast<const char *>(&t), 4);
    }
    if (path.size() > 32767) {
        st = Status::Fail(isc_bad_db_format);
        return false;
    }
    if (!HandshakeAnswers(path, connectTimeoutSeconds)) {
        st = Status::Fail(isc_network_error);
        return false;
    }
    if (isc_attach_database(st.vector, static_cast<short>(path.size()), path.constData(), &handle_,
                            static_cast<short>(dpb.size()), dpb.constData())) {
        handle_ = 0;
        return false;
    }
    return true;
}

bool Attachment::createDatabase(const QByteArray &statement, Status &st)
{
    detach();
    isc_tr_handle noTransaction = 0;
    if (statement.size() > 65535) {
        st = Status::Fail(isc_bad_db_format);
        return false;
    }
    if (isc_dsql_execute_immediate(st.vector, &handle_, &noTransaction,
                                   static_cast<unsigned short>(statement.size()),
                                   statement.constData(), 3, nullptr)) {
        if (handle_) {
            Status ignore;
            isc_detach_database(ignore.vector, &handle_);
        }
        handle_ = 0;
        return false;
    }
    return handle_ != 0;
}

void Attachment::detach()
{
    if (!handle_)
        return;
    Status st;
    ClientCall waiting;
    if (isc_detach_database(st.vector, &handle_)) {
        // A broken connection cannot be detached cleanly; drop the handle all the same.
        handle_ = 0;
    }
}

void Attachment::abort()
{
    if (!handle_)
        return;
    Status st;
    fb_cancel_operation(st.vector, &handle_, fb_cancel_abort);
}

// ---- Transaction ----

bool Transaction::start(Attachment &db, Status &st, const Options &options)
{
    if (handle_)
        rollback();
    static const char readOnlyTpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed,
                                       isc_tpb_rec_version, isc_tpb_nowait};
    const int wait = options.lockWaitSeconds;
    // The server's default transaction (snapshot, read-write, wait), but with a bounded wait.
    const char lockWaitTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait,
                                isc_tpb_lock_timeout, 4, static_cast<char>(wait & 0xFF),
                                static_cast<char>((wait >> 8) & 0xFF), 0, 0};
    // Each statement committed as it completes, in the same call; a failed one is undone
    // without ending the rest.
    const char autoCommitTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                  isc_tpb_rec_version, isc_tpb_wait, isc_tpb_autocommit,
                                  isc_tpb_lock_timeout, 4, static_cast<char>(wait & 0xFF),
                                  static_cast<char>((wait >> 8) & 0xFF), 0, 0};
    const char *tpb = nullptr;
    unsigned short tpbLength = 0;
    if (options.autoCommit) {
        tpb = autoCommitTpb;
        // Without a limit: the server's unbounded wait.
        tpbLength = wait > 0 ? sizeof autoCommitTpb : sizeof autoCommitTpb - 6;
    } else if (options.readOnly) {
        tpb = readOnlyTpb;
        tpbLength = sizeof readOnlyTpb;
    } else if (wait > 0) {
        tpb = lockWaitTpb;
        tpbLength = sizeof lockWaitTpb;
    }
    ClientCall waiting;
    if (isc_start_transaction(st.vector, &handle_, 1, db.handle(), tpbLength, tpb)) {
        handle_ = 0;
        return false;
    }
    return true;
}

bool Transaction::commit(Status &st)
{
    if (!handle_)
        return false;
    ClientCall waiting;
    if (isc_commit_transaction(st.vector, &handle_)) {
        rollback();
        return false;
    }
    handle_ = 0;
    return true;
}

void Transaction::rollback()
{
    if (!handle_)
        return;
    Status st;
    ClientCall waiting;
    if (isc_rollback_transaction(st.vector, &handle_))
        handle_ = 0; // connection gone: the server has dropped the transaction
}

bool ExecuteImmediate(Attachment &db, Transaction &tr, const QByteArray &sql, Status &st)
{
    if (sql.size() > 65535) {
        st = Status::Fail(isc_random);
        return false;
    }
    ClientCall waiting;
    return isc_dsql_execute_immediate(st.vector, db.handle(), tr.handle(),
                                      static_cast<unsigned short>(sql.size()), sql.constData(), 3,
                                      nullptr)
           == 0;
}

bool ExecuteImmediateReturning(Attachment &db, Transaction &tr, const QByteArray &sql, int count,
                               std::vector<int64_t> &values, Status &st)
{
    values.assign(size_t(count), 0);
    if (sql.size() > 65535) {
        st = Status::Fail(isc_random);
        return false;
    }
    std::vector<char> mem(XSQLDA_LENGTH(count), 0);
    XSQLDA *out = reinterpret_cast<XSQLDA *>(mem.data());
    out->version = SQLDA_VERSION1;
    out->sqln = out->sqld = static_cast<ISC_SHORT>(count);
    std::vector<ISC_INT64> data(size_t(count), 0);
    std::vector<short> nulls(size_t(count), 0);
    for (int i = 0; i < count; ++i) {
        XSQLVAR &var = out->sqlvar[i];
        var.sqltype = SQL_INT64 + 1;
        var.sqllen = sizeof(ISC_INT64);
        var.sqlscale = 0;
        var.sqldata = reinterpret_cast<char *>(&data[size_t(i)]);
        var.sqlind = &nulls[size_t(i)];
    }
    ClientCall waiting;
    if (isc_dsql_exec_immed2(st.vector, db.handle(), tr.handle(), static_cast<unsigned short>(sql.size()),
                             sql.constData(), 3, nullptr, out))
        return false;
    for (int i = 0; i < count; ++i)
        values[size_t(i)] = nulls[size_t(i)] < 0 ? 0 : data[size_t(i)];
    return true;
}

// ---- Statement ----

Statement::~Statement()
{
    release();
}

void Statement::allocateOutput(int columns)
{
    const size_t size = XSQLDA_LENGTH(columns);
    outMem_.reset(new char[size]);
    std::memset(outMem_.get(), 0, size);
    out_ = reinterpret_cast<XSQLDA *>(outMem_.get());
    out_->version = SQLDA_VERSION1;
    out_->sqln = static_cast<ISC_SHORT>(columns);
}

bool Statement::prepare(Attachment &db, Transaction &tr, const QByteArray &sql, Status &st)
{
    closeCursor();
    if (!handle_) {
        ClientCall waiting;
        if (isc_dsql_alloc_statement2(st.vector, db.handle(), &handle_)) {
            handle_ = 0;
            return false;
        }
    }
    if (!out_)
        allocateOutput(20);
    if (sql.size() > 65535) {
        st = Status::Fail(isc_random);
        return false;
    }
    ClientCall waiting;
    if (isc_dsql_prepare(st.vector, tr.handle(), &handle_, static_cast<unsigned short>(sql.size()),
                         sql.constData(), 3, out_)) {
        out_->sqld = 0;
        return false;
    }
    if (out_->sqld > out_->sqln) {
        allocateOutput(out_->sqld);
        ClientCall waiting;
        if (isc_dsql_describe(st.vector, &handle_, 1, out_))
            return false;
    }
    isSelect_ = out_->sqld > 0;
    buffers_.clear();
    nulls_.assign(out_->sqld, 0);
    for (int i = 0; i < out_->sqld; ++i) {
        XSQLVAR &var = out_->sqlvar[i];
        const int type = var.sqltype & ~1;
        size_t len = var.sqllen;
        if (type == SQL_VARYING)
            len += 2;
        if (type == SQL_NULL || len == 0)
            len = 8;
        buffers_.emplace_back(new char[len + 8]);
        var.sqldata = buffers_.back().get();
        var.sqltype |= 1; // every column may be NULL: always give an indicator
        var.sqlind = &nulls_[i];
    }
    return true;
}

bool Statement::execute(Transaction &tr, Status &st)
{
    ClientCall waiting;
    if (isc_dsql_execute(st.vector, tr.handle(), &handle_, 3, nullptr))
        return false;
    cursorOpen_ = isSelect_;
    return true;
}

bool Statement::execute(Transaction &tr, Status &st, int64_t parameter)
{
    closeCursor();
    alignas(XSQLDA) char mem[XSQLDA_LENGTH(1)] = {};
    XSQLDA *in = reinterpret_cast<XSQLDA *>(mem);
    in->version = SQLDA_VERSION1;
    in->sqln = in->sqld = 1;
    short notNull = 0;
    in->sqlvar[0].sqltype = SQL_INT64 | 1;
    in->sqlvar[0].sqllen = sizeof parameter;
    in->sqlvar[0].sqldata = reinterpret_cast<char *>(&parameter);
    in->sqlvar[0].sqlind = &notNull;
    ClientCall waiting;
    if (isc_dsql_execute2(st.vector, tr.handle(), &handle_, 3, in, nullptr))
        return false;
    cursorOpen_ = isSelect_;
    return true;
}

bool Statement::executeReturning(Transaction &tr, Status &st, const std::vector<std::optional<int64_t>> &parameters,
                                 int count, std::vector<int64_t> &values)
{
    closeCursor();
    values.assign(size_t(count), 0);
    const int n = int(parameters.size());
    std::vector<char> inMem(XSQLDA_LENGTH(std::max(n, 1)), 0), outMem(XSQLDA_LENGTH(count), 0);
    XSQLDA *in = reinterpret_cast<XSQLDA *>(inMem.data());
    in->version = SQLDA_VERSION1;
    in->sqln = in->sqld = static_cast<ISC_SHORT>(n);
    std::vector<ISC_INT64> data(size_t(n) + size_t(count), 0);
    std::vector<short> nulls(size_t(n) + size_t(count), 0);
    for (int i = 0; i < n; ++i) {
        XSQLVAR &var = in->sqlvar[i];
        var.sqltype = SQL_INT64 | 1;
        var.sqllen = sizeof(ISC_INT64);
        data[size_t(i)] = parameters[size_t(i)].value_or(0);
        nulls[size_t(i)] = parameters[size_t(i)] ? 0 : -1;
        var.sqldata = reinterpret_cast<char *>(&data[size_t(i)]);
        var.sqlind = &nulls[size_t(i)];
    }
    XSQLDA *out = reinterpret_cast<XSQLDA *>(outMem.data());
    out->version = SQLDA_VERSION1;
    out->sqln = out->sqld = static_cast<ISC_SHORT>(count);
    for (int i = 0; i < count; ++i) {
        XSQLVAR &var = out->sqlvar[i];
        var.sqltype = SQL_INT64 | 1;
        var.sqllen = sizeof(ISC_INT64);
        var.sqldata = reinterpret_cast<char *>(&data[size_t(n + i)]);
        var.sqlind = &nulls[size_t(n + i)];
    }
    ClientCall waiting;
    if (isc_dsql_execute2(st.vector, tr.handle(), &handle_, 3, in, out))
        return false;
    for (int i = 0; i < count; ++i)
        values[size_t(i)] = nulls[size_t(n + i)] < 0 ? 0 : data[size_t(n + i)];
    return true;
}

bool Statement::fetch(Status &st)
{
    if (!cursorOpen_)
        return false;
    ClientCall waiting;
    const ISC_STATUS rc = isc_dsql_fetch(st.vector, &handle_, 3, out_);
    if (rc == 0)
        return true;
    if (rc == 100)
        st.vector[0] = st.vector[1] = 0;
    return false;
}

void Statement::closeCursor()
{
    if (cursorOpen_ && handle_) {
        Status st;
        ClientCall waiting;
        isc_dsql_free_statement(st.vector, &handle_, DSQL_close);
    }
    cursorOpen_ = false;
}

void Statement::release()
{
    if (handle_) {
        Status st;
        ClientCall waiting;
        isc_dsql_free_statement(st.vector, &handle_, DSQL_drop);
        handle_ = 0;
    }
    cursorOpen_ = false;
    if (out_)
        out_->sqld = 0;
    buffers_.clear();
}

QByteArray Statement::columnName(int i) const
{
    const XSQLVAR &var = out_->sqlvar[i];
    if (var.aliasname_length > 0)
        return QByteArray(var.aliasname, var.aliasname_length);
    return QByteArray(var.sqlname, var.sqlname_length);
}

static QByteArray formatted(const char *s)
{
    return QByteArray(s);
}

Value Statement::value(int i) const
{
    Value v;
    const XSQLVAR &var = out_->sqlvar[i];
    if (var.sqlind && *var.sqlind < 0)
        return v;
    const char *d = var.sqldata;
    v.scale = var.sqlscale;
    switch (var.sqltype & ~1) {
    case SQL_SHORT: {
        short x;
        std::memcpy(&x, d, sizeof x);
        v.kind = Value::Integer;
        v.integer = x;
        break;
    }
    case SQL_LONG: {
        ISC_LONG x;
        std::memcpy(&x, d, sizeof x);
        v.kind = Value::Integer;
        v.integer = x;
        break;
    }
    case SQL_INT64: {
        ISC_INT64 x;
        std::memcpy(&x, d, sizeof x);
        v.kind = Value::Integer;
        v.integer = x;
        break;
    }
    case SQL_VARYING: {
        unsigned short len;
        std::memcpy(&len, d, sizeof len);
        v.kind = Value::Text;
        v.text = QByteArray(d + 2, len);
        break;
    }
    case SQL_TEXT: {
        v.kind = Value::Text;
        v.text = QByteArray(d, var.sqllen);
        break;
    }
    case SQL_FLOAT: {
        float x;
        std::memcpy(&x, d, sizeof x);
        v.kind = Value::Other;
        v.text = QByteArray::number(x, 'g', 7);
        break;
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        double x;
        std::memcpy(&x, d, sizeof x);
        v.kind = Value::Other;
        v.text = QByteArray::number(x, 'g', 15);
        break;
    }
    case SQL_BOOLEAN: {
        v.kind = Value::Other;
        v.text = *d ? "True" : "False";
        break;
    }
    case SQL_TYPE_DATE: {
        struct tm t {};
        isc_decode_sql_date(reinterpret_cast<const ISC_DATE *>(d), &t);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
        v.kind = Value::Other;
        v.text = formatted(buf);
        break;
    }
    case SQL_TYPE_TIME: {
        struct tm t {};
        isc_decode_sql_time(reinterpret_cast<const ISC_TIME *>(d), &t);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
        v.kind = Value::Other;
        v.text = formatted(buf);
        break;
    }
    case SQL_TIMESTAMP: {
        struct tm t {};
        isc_decode_timestamp(reinterpret_cast<const ISC_TIMESTAMP *>(d), &t);
        char buf[48];
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
        v.kind = Value::Other;
        v.text = formatted(buf);
        break;
    }
    default: // SQL_NULL, BLOB, ARRAY: shown as empty text
        break;
    }
    return v;
}

void Statement::appendRowTo(RowSet &rows) const
{
    for (int i = 0; i < columnCount(); ++i) {
        // Fast path for the integer columns that make up the stroke tables.
        const XSQLVAR &var = out_->sqlvar[i];
        if (var.sqlind && *var.sqlind < 0) {
            rows.addNull();
            continue;
        }
        const int type = var.sqltype & ~1;
        if (var.sqlscale == 0 && type == SQL_LONG) {
            ISC_LONG x;
            std::memcpy(&x, var.sqldata, sizeof x);
            rows.addInteger(x);
            continue;
        }
        if (type == SQL_VARYING) {
            unsigned short len;
            std::memcpy(&len, var.sqldata, sizeof len);
            rows.addText(var.sqldata + 2, len);
            continue;
        }
        const Value v = value(i);
        switch (v.kind) {
        case Value::Null:
            rows.addNull();
            break;
        case Value::Integer:
            rows.addScaled(v.integer, v.scale);
            break;
        case Value::Text:
            rows.addText(v.text.constData(), static_cast<size_t>(v.text.size()));
            break;
        case Value::Other:
            rows.addFormatted(v.text);
            break;
        }
    }
    rows.endRow();
}

} // namespace isc
