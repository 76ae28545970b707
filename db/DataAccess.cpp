// DataAccess's connection: creating and attaching a database, the failures of the last
// operation, cutting calls, and ending attachments.
#include "db/DataAccess.h"

#include "db/BlockingServerCheck.h"
#include "db/DataAccessInternals.h"

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <utility>

static const QByteArray kUser = DataAccess::User;
static const QByteArray kPassword = DataAccess::Password;

static_assert(sizeof(isc_db_handle) == sizeof(unsigned int));

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
    from.ReleasePrepared();
    from.clearRows();
    from.query_.release();
    from.tr_.rollback();
    from.runTr_.rollback();
    db_.takeFrom(from.db_);
    identity_ = std::exchange(from.identity_, {});
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

DataAccess::Identity DataAccess::AttachmentIdentity()
{
    if (identity_.id > 0 || !db_.isOpen())
        return identity_;
    QStringList row;
    if (SelectFields(QStringLiteral("A.MON$ATTACHMENT_ID, ") + Statements::TimestampText(QStringLiteral("A.MON$TIMESTAMP"))
                         + QStringLiteral(", ") + Statements::TimestampText(QStringLiteral("D.MON$CREATION_DATE")),
                     QStringLiteral("MON$ATTACHMENTS A CROSS JOIN MON$DATABASE D"),
                     QStringLiteral("A.MON$ATTACHMENT_ID=CURRENT_CONNECTION"), row)
            == 3
        && !row.value(1).isEmpty() && !row.value(2).isEmpty())
        identity_ = {row.value(0).toLongLong(), row.value(1), row.value(2)};
    EndQuery();
    return identity_;
}

DataAccess::AttachmentEnd DataAccess::EndAttachment(qint64 id, const QString &started, int waitMs)
{
    const qint64 own = AttachmentId();
    if (own <= 0)
        return AttachmentEnd::Unknown;
    if (id <= 0 || id == own)
        return AttachmentEnd::Gone;
    const QString table = QStringLiteral("MON$ATTACHMENTS");
    QString quoted = started;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    const QString which = QStringLiteral("MON$ATTACHMENT_ID=%1 AND %2='%3'")
                              .arg(id)
                              .arg(Statements::TimestampText(QStringLiteral("MON$TIMESTAMP")), quoted);
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
    ReleasePrepared();
    query_.release();
    tr_.rollback();
    runTr_.rollback(); // its rows are committed already
    db_.detach();
    identity_ = {};
}

void DataAccess::DropConnection()
{
    db_.abort();
    DisconnectDatabase();
}
