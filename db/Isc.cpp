#include "db/Isc.h"

#include "db/RowSet.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace isc {

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

bool IsDuplicateKey(const Status &status)
{
    if (!status.failed())
        return false;
    // The unique violation may come first or after a generic "violation of constraint".
    const ISC_STATUS *v = status.vector;
    for (int i = 0; i < ISC_STATUS_LENGTH - 1 && v[i] != isc_arg_end;) {
        if (v[i] == isc_arg_gds && (v[i + 1] == isc_unique_key_violation || v[i + 1] == isc_no_dup))
            return true;
        switch (v[i]) {
        case isc_arg_cstring:
            i += 3;
            break;
        default:
            i += 2;
            break;
        }
    }
    return false;
}

// ---- reaching the server ----

// Also gives where the server prefix ends.
static bool serverPart(const QByteArray &path, QByteArray &host, QByteArray &port, qsizetype &prefixEnd)
{
    host.clear();
    port = "3050";
    QByteArray rest;
    for (const char *scheme : {"inet://", "inet4://", "inet6://"}) {
        if (path.toLower().startsWith(scheme)) {
            rest = path.mid(static_cast<qsizetype>(strlen(scheme)));
            const qsizetype slash = rest.indexOf('/');
            if (slash <= 0)
                return false;
            host = rest.left(slash);
            prefixEnd = static_cast<qsizetype>(strlen(scheme)) + slash + 1;
            const qsizetype close = host.lastIndexOf(']');
            const qsizetype colon = host.lastIndexOf(':');
            if (colon > close && (close >= 0 || host.count(':') == 1)) {
                port = host.mid(colon + 1);
                host = host.left(colon);
            }
            break;
        }
    }
    if (rest.isEmpty()) {
        const qsizetype colon = path.indexOf(':', path.startsWith('[') ? path.indexOf(']') + 1 : 0);
        // "C:\..." is a drive, "/a:b" a local file name holding a colon.
        if (colon <= 1 || path[0] == '/' || path[0] == '\\' || path[0] == '.')
            return false;
        host = path.left(colon);
        prefixEnd = colon + 1;
        const qsizetype slash = host.indexOf('/');
        if (slash >= 0) {
            port = host.mid(slash + 1);
            host = host.left(slash);
        }
    }
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    if (port.isEmpty())
        port = "3050";
    return !host.isEmpty();
}

bool RemoteServerOf(const QByteArray &path, QByteArray &host, QByteArray &port)
{
    qsizetype prefixEnd = 0;
    return serverPart(path, host, port, prefixEnd);
}

static bool handshakeAnswers(const QByteArray &path, int timeoutSeconds)
{
    QByteArray host, port;
    if (timeoutSeconds <= 0 || !RemoteServerOf(path, host, port))
        return true;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.constData(), port.constData(), &hints, &list) != 0) {
        // An unknown service name: the client library's own default port.
        if (getaddrinfo(host.constData(), "3050", &hints, &list) != 0)
            return true; // let the client library report the unknown host
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    bool answered = false;
    for (addrinfo *ai = list; ai && !answered; ai = ai->ai_next) {
        const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0)
            continue;
        if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == ECONNREFUSED) {
            answered = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0)
                    break;
                const int r = poll(&p, 1, static_cast<int>(left));
                if (r < 0 && errno == EINTR)
                    continue;
                if (r > 0) {
                    int err = 0;
                    socklen_t len = sizeof err;
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                    // A refusal is an answer too: the client library then fails at once.
                    answered = err == 0 || err == ECONNREFUSED;
                }
                break;
            }
        }
        close(fd);
    }
    freeaddrinfo(list);
    return answered;
}

bool ServerAnswers(const QByteArray &path, int timeoutSeconds, const QByteArray &user,
                   const QByteArray &password)
{
    QByteArray host, port;
    qsizetype prefixEnd = 0;
    if (timeoutSeconds <= 0 || !serverPart(path, host, port, prefixEnd))
        return true;
    if (!handshakeAnswers(path, timeoutSeconds))
        return false;
    // A server that takes the connection but never replies: CREATE DATABASE has no
    // time-out item of its own, so ask once with one. Any reply, even a refusal, will do.
    Attachment probe;
    Status st;
    if (probe.attach(path.left(prefixEnd) + '/', user, password, timeoutSeconds, st))
        return true;
    // A time-out shows as a rejected connection; a real rejection would fail CREATE too.
    return !IsConnectionLoss(st.code()) && st.code() != isc_connect_reject;
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
        st.vector[0] = 1;
        st.vector[1] = isc_bad_db_format;
        st.vector[2] = isc_arg_end;
        return false;
    }
    if (!handshakeAnswers(path, connectTimeoutSeconds)) {
        st.vector[0] = 1;
        st.vector[1] = isc_network_error;
        st.vector[2] = isc_arg_end;
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
        st.vector[0] = 1;
        st.vector[1] = isc_bad_db_format;
        st.vector[2] = isc_arg_end;
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
    if (isc_detach_database(st.vector, &handle_)) {
        // A broken connection cannot be detached cleanly; drop the handle all the same.
        handle_ = 0;
    }
}

// ---- Transaction ----

bool Transaction::start(Attachment &db, Status &st, bool readOnly)
{
    if (handle_)
        rollback();
    static const char readOnlyTpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed,
                                       isc_tpb_rec_version, isc_tpb_nowait};
    if (isc_start_transaction(st.vector, &handle_, 1, db.handle(),
                              readOnly ? static_cast<unsigned short>(sizeof readOnlyTpb) : 0,
                              readOnly ? readOnlyTpb : nullptr)) {
        handle_ = 0;
        return false;
    }
    return true;
}

bool Transaction::startAutoCommit(Attachment &db, Status &st)
{
    if (handle_)
        rollback();
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                               isc_tpb_rec_version, isc_tpb_wait, isc_tpb_autocommit};
    if (isc_start_transaction(st.vector, &handle_, 1, db.handle(), static_cast<unsigned short>(sizeof tpb),
                              tpb)) {
        handle_ = 0;
        return false;
    }
    return true;
}

bool Transaction::commit(Status &st)
{
    if (!handle_)
        return false;
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
    if (isc_rollback_transaction(st.vector, &handle_))
        handle_ = 0; // connection gone: the server has dropped the transaction
}

bool ExecuteImmediate(Attachment &db, Transaction &tr, const QByteArray &sql, Status &st)
{
    if (sql.size() > 65535) {
        st.vector[0] = 1;
        st.vector[1] = isc_random;
        st.vector[2] = isc_arg_end;
        return false;
    }
    return isc_dsql_execute_immediate(st.vector, db.handle(), tr.handle(),
                                      static_cast<unsigned short>(sql.size()), sql.constData(), 3,
                                      nullptr)
           == 0;
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
        if (isc_dsql_alloc_statement2(st.vector, db.handle(), &handle_)) {
            handle_ = 0;
            return false;
        }
    }
    if (!out_)
        allocateOutput(20);
    if (sql.size() > 65535) {
        st.vector[0] = 1;
        st.vector[1] = isc_random;
        st.vector[2] = isc_arg_end;
        return false;
    }
    if (isc_dsql_prepare(st.vector, tr.handle(), &handle_, static_cast<unsigned short>(sql.size()),
                         sql.constData(), 3, out_)) {
        out_->sqld = 0;
        return false;
    }
    if (out_->sqld > out_->sqln) {
        allocateOutput(out_->sqld);
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
    if (isc_dsql_execute(st.vector, tr.handle(), &handle_, 3, nullptr))
        return false;
    cursorOpen_ = isSelect_;
    return true;
}

bool Statement::fetch(Status &st)
{
    if (!cursorOpen_)
        return false;
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
        isc_dsql_free_statement(st.vector, &handle_, DSQL_close);
    }
    cursorOpen_ = false;
}

void Statement::release()
{
    if (handle_) {
        Status st;
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

void Statement::appendTo(QByteArray &row, int i) const
{
    // Fast path for the integer columns that make up the stroke tables.
    const XSQLVAR &var = out_->sqlvar[i];
    if (var.sqlind && *var.sqlind < 0) {
        row += static_cast<char>(RowSet::Null);
        return;
    }
    const int type = var.sqltype & ~1;
    if (var.sqlscale == 0 && (type == SQL_LONG || type == SQL_SHORT)) {
        int32_t x;
        if (type == SQL_LONG) {
            std::memcpy(&x, var.sqldata, 4);
        } else {
            short s;
            std::memcpy(&s, var.sqldata, 2);
            x = s;
        }
        row += static_cast<char>(RowSet::Int32);
        row.append(reinterpret_cast<const char *>(&x), 4);
        return;
    }
    const Value v = value(i);
    switch (v.kind) {
    case Value::Null:
        row += static_cast<char>(RowSet::Null);
        break;
    case Value::Integer:
        if (v.scale != 0) {
            row += static_cast<char>(RowSet::Scaled);
            row += QByteArray(reinterpret_cast<const char *>(&v.integer), 8);
            row += static_cast<char>(v.scale);
        } else if (v.integer >= INT32_MIN && v.integer <= INT32_MAX) {
            const int32_t x = static_cast<int32_t>(v.integer);
            row += static_cast<char>(RowSet::Int32);
            row += QByteArray(reinterpret_cast<const char *>(&x), 4);
        } else {
            row += static_cast<char>(RowSet::Int64);
            row += QByteArray(reinterpret_cast<const char *>(&v.integer), 8);
        }
        break;
    case Value::Text:
    case Value::Other: {
        row += static_cast<char>(v.kind == Value::Text ? RowSet::Text : RowSet::Formatted);
        const uint32_t len = static_cast<uint32_t>(v.text.size());
        row += QByteArray(reinterpret_cast<const char *>(&len), 4);
        row += v.text;
        break;
    }
    }
}

} // namespace isc
