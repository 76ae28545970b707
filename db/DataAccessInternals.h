#pragma once
// What the files of DataAccess share inside db/: the handles behind one DataAccess, the
// guard of one operation on the server, and a statement's text as the server takes it.

#include "db/Cp932.h"
#include "db/DataAccess.h"
#include "db/CallWatchdog.h"
#include "db/Isc.h"
#include "db/Statements.h"

#include <chrono>
#include <map>
#include <memory>

struct DataAccess::Handles {
    isc::Attachment db;
    isc::Transaction tr;
    isc::Transaction runTr;
    isc::Statement query;
    isc::Status lastError;
    // The refresh's statements by table, and their read-only read-committed transaction.
    std::map<QString, std::unique_ptr<isc::Statement>> refresh;
    isc::Transaction refreshTr;
    // Statements kept prepared by a name of the caller's (a held stroke's blocks).
    std::map<QString, std::unique_ptr<isc::Statement>> prepared;
};

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

// A character without a CP932 form would reach the server as a substitute byte
// pair and be stored wrongly: such a statement is not sent at all.
inline bool encodeStatement(const QStringList &lines, QByteArray &sql, isc::Status &st)
{
    bool ok = false;
    sql = cp932::Encode(Statements::Join(lines), &ok);
    if (!ok) {
        st = isc::Status::Fail(isc_transliteration_failed);
    }
    return ok;
}
