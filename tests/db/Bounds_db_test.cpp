// Every wait on the server has a bound: a silent network, a cut from another thread,
// a row another client holds locked.
#include "DelayRelay.h"
#include "Outages.h"
#include "TestDatabase.h"

#include "db/DataAccess.h"
#include "db/EventWatcher.h"
#include "db/Statements.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <thread>

namespace {

// Resumes the relay after `seconds` unless dismissed, and cuts what is silenced: a call
// the code under test fails to cut then ends anyway, and the test fails on its time
// instead of hanging.
class ResumeLater {
public:
    ResumeLater(DelayRelay &relay, int seconds)
        : thread_([this, &relay, seconds] {
              for (int i = 0; i < seconds * 20 && !done_.load(); ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              relay.resume();
              if (!done_.load())
                  relay.cutAll();
          })
    {
    }
    ~ResumeLater()
    {
        done_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST(DbBounds, ACallWithoutAnAnswerIsCutAndReportedAsALostConnection)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    struct Case {
        const char *name;
        // Who cuts: nobody (the reply deadline), or another thread after 300 ms.
        enum { Deadline, CancelCall, CancelAllCalls } cut;
        double atMostSeconds;
    };
    const Case cases[] = {
        {"reply deadline", Case::Deadline, DataAccess::ReplyTimeoutSeconds + 1.5},
        {"CancelCall from another thread", Case::CancelCall, 1.0},
        {"CancelAllCalls from another thread", Case::CancelAllCalls, 1.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DelayRelay relay;
        ASSERT_TRUE(relay.start(0));
        DataAccess db;
        int lost = 0;
        db.onConnectionLost = [&] { ++lost; };
        db.ConnectDatabase(t.pathVia(relay.port()));
        ASSERT_TRUE(db.IsConnected()) << db.LastErrorText().toStdString();
        ASSERT_TRUE(db.TableExists("NONE") || !db.TableListFailed());
        relay.pause();
        ResumeLater guard(relay, DataAccess::ReplyTimeoutSeconds + 8);
        std::thread cutter;
        if (c.cut != Case::Deadline)
            cutter = std::thread([&db, &c] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                if (c.cut == Case::CancelCall)
                    db.CancelCall();
                else
                    DataAccess::CancelAllCalls();
            });
        QElapsedTimer took;
        took.start();
        const bool listed = db.TableExists("RDB$DATABASE");
        const double seconds = took.elapsed() / 1000.0;
        if (cutter.joinable())
            cutter.join();
        std::printf("[          ] %s: the call ended after %.2f s\n", c.name, seconds);
        EXPECT_FALSE(listed);
        EXPECT_TRUE(db.TableListFailed());
        EXPECT_LE(seconds, c.atMostSeconds);
        EXPECT_TRUE(db.LastFailureWasConnectionLoss()) << db.LastErrorText().toStdString();
        EXPECT_FALSE(db.LastFailureWasLockTimeout());
        EXPECT_EQ(lost, 1);
        db.DisconnectDatabase();
        EXPECT_FALSE(db.IsConnected());
    }
}

// Every call that waits on the line, on a line gone silent (the relay paused: the request
// waits, unsent) and on a half-open server (its connections up, every word dropped). The
// cases run side by side, each on its own thread and attachment: the deadline is per call.
TEST(DbBounds, EveryCallThatWaitsOnTheLineEndsAtItsDeadline)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    {
        DataAccess setup;
        setup.ConnectDatabase(t.serverPath());
        ASSERT_TRUE(setup.CreateImageTable("IMG_1"));
        // More rows than one fetch brings: reading them all needs the line again.
        ASSERT_TRUE(setup.ExecuteSql({"EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN",
                                      "WHILE (I < 20000) DO BEGIN",
                                      "INSERT INTO IMG_1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (:I + 1, 1, 1, 0, 1, 0, 0, 0);",
                                      "I = I + 1; END END"}));
    }
    enum Fault { Silent, HalfOpen };
    struct Call {
        const char *name;
        // Made ready before the fault (a cursor opened, an event wait armed)...
        std::function<void(DataAccess &, std::unique_ptr<EventWatcher> &)> before;
        // ...then the call under the fault; true when it reported the failure as a lost line.
        std::function<bool(DataAccess &, std::unique_ptr<EventWatcher> &)> call;
        double atMostSeconds;
    };
    const auto nothing = [](DataAccess &, std::unique_ptr<EventWatcher> &) {};
    const double reply = DataAccess::ReplyTimeoutSeconds + 2.0;
    const Call calls[] = {
        {"the table list", nothing,
         [](DataAccess &db, std::unique_ptr<EventWatcher> &) {
             return !db.TableExists("RDB$DATABASE") && db.LastFailureWasConnectionLoss();
         },
         reply},
        {"the stroke's statement", nothing,
         [](DataAccess &db, std::unique_ptr<EventWatcher> &) {
             Statements::StrokeBlockText b;
             b.table = "IMG_1";
             std::vector<qint64> answer;
             return !db.ExecuteBlock(Statements::StrokeBlock(b, {{1, 1}, {2, 2}}), 2, answer)
                    && db.LastFailureWasConnectionLoss();
         },
         reply + DataAccess::LockWaitSeconds},
        {"the fetches of an open cursor",
         [](DataAccess &db, std::unique_ptr<EventWatcher> &) {
             QStringList row;
             ASSERT_TRUE(db.OpenRows("*", "IMG_1", "", "N") && db.NextRow(row));
         },
         [](DataAccess &db, std::unique_ptr<EventWatcher> &) {
             QStringList row;
             int rows = 1;
             while (db.NextRow(row))
                 ++rows;
             db.CloseQuery();
             return rows < 20000 && db.LastFailureWasConnectionLoss();
         },
         reply},
        {"asking for an event", nothing,
         [](DataAccess &db, std::unique_ptr<EventWatcher> &w) {
             w = std::make_unique<EventWatcher>(db, "IMG_1", [](bool) {});
             return !w->Arm();
         },
         reply},
        {"cancelling an event wait",
         [](DataAccess &db, std::unique_ptr<EventWatcher> &w) {
             w = std::make_unique<EventWatcher>(db, "IMG_1", [](bool) {});
             ASSERT_TRUE(w->Arm()) << w->LastError().toStdString();
         },
         [](DataAccess &, std::unique_ptr<EventWatcher> &w) {
             w.reset();
             return true;
         },
         reply},
    };
    struct Outcome {
        std::string name;
        double seconds = -1;
        bool lost = false;
        double atMost = 0;
    };
    std::vector<Outcome> outcomes;
    for (const Call &c : calls)
        for (Fault f : {Silent, HalfOpen})
            outcomes.push_back({std::string(c.name) + (f == Silent ? ", silent line" : ", half-open server"), -1,
                                false, c.atMostSeconds});
    std::vector<std::thread> runs;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        runs.emplace_back([&, i] {
            const Call &c = calls[i / 2];
            const Fault f = i % 2 ? HalfOpen : Silent;
            DelayRelay relay;
            ASSERT_TRUE(relay.start(0));
            std::unique_ptr<EventWatcher> watcher;
            {
                DataAccess db;
                db.ConnectDatabase(t.pathVia(relay.port()));
                ASSERT_TRUE(db.IsConnected()) << db.LastErrorText().toStdString();
                c.before(db, watcher);
                ResumeLater guard(relay, DataAccess::ReplyTimeoutSeconds + 20);
                if (f == Silent)
                    relay.pause();
                else
                    relay.silenceAll();
                QElapsedTimer took;
                took.start();
                outcomes[i].lost = c.call(db, watcher);
                outcomes[i].seconds = took.elapsed() / 1000.0;
                // What is left of it ends while the line is still bad: bounded too.
                watcher.reset();
                db.DropConnection();
            }
        });
    }
    for (std::thread &r : runs)
        r.join();
    for (const Outcome &o : outcomes) {
        SCOPED_TRACE(o.name);
        std::printf("[          ] %s: ended after %.2f s\n", o.name.c_str(), o.seconds);
        EXPECT_GE(o.seconds, 0) << "never ran";
        EXPECT_LE(o.seconds, o.atMost);
        EXPECT_TRUE(o.lost) << "not reported as a lost line";
    }
}

TEST(DbBounds, CancellingBetweenCallsChangesNothing)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    DataAccess db;
    db.ConnectDatabase(t.serverPath());
    ASSERT_TRUE(db.IsConnected());
    db.CancelCall();
    DataAccess::CancelAllCalls();
    EXPECT_TRUE(db.CreateSectionTable());
    EXPECT_EQ(db.SelectAll("SECTION", ""), 0);
}

TEST(DbBounds, ARowLockedByAnotherClientEndsInALockTimeoutNotALostConnection)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    {
        DataAccess setup;
        setup.ConnectDatabase(t.serverPath());
        ASSERT_TRUE(setup.CreateSectionTable());
        ASSERT_TRUE(setup.CreateImageTable("IMG_1"));
        ASSERT_TRUE(setup.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"1", "'one'"}));
    }
    struct Case {
        const char *name;
        QByteArray other;  // run by the other client, never committed
        bool rowRun;
        std::function<bool(DataAccess &)> ours;
        // What the refusal is: a lock (timeout or deadlock), or, for an insert of a key
        // another client holds, the duplicate the server reports once the wait is over.
        bool lock;
        bool duplicate;
    };
    auto insert4 = [](DataAccess &db) {
        return db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"4", "'ours'"});
    };
    // A stroke's statement meeting it gives up without an error: its first N is -1.
    auto stroke = [](DataAccess &db) {
        Statements::StrokeBlockText b;
        b.table = "IMG_1";
        std::vector<qint64> answer;
        return db.ExecuteBlock(Statements::StrokeBlock(b, {{1, 1}, {2, 2}}), 2, answer) && answer[0] > 0;
    };
    const Case cases[] = {
        {"insert of a key inserted, not committed", "INSERT INTO SECTION (N, SNAME) VALUES (4, 'theirs')",
         false, insert4, false, true},
        {"the same in a run of rows", "INSERT INTO SECTION (N, SNAME) VALUES (4, 'theirs')", true, insert4, false,
         true},
        {"a stroke's statement", "INSERT INTO IMG_1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (1, 9, 1, 0, 1, 0, 0, 0)",
         true, stroke, false, false},
        {"update of a row updated, not committed", "UPDATE SECTION SET SNAME = 'theirs' WHERE N = 1", false,
         [](DataAccess &db) { return db.UpdateRecord("SECTION", 1, {"SNAME"}, {"'ours'"}, "N = 1"); }, true, false},
        {"delete of a row updated, not committed", "UPDATE SECTION SET SNAME = 'theirs' WHERE N = 1", false,
         [](DataAccess &db) { return db.DeleteRecords("SECTION", "N = 1"); }, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DataAccess db;
        int lost = 0;
        db.onConnectionLost = [&] { ++lost; };
        db.ConnectDatabase(t.serverPath());
        ASSERT_TRUE(db.IsConnected());
        ASSERT_EQ(db.SelectAll("SECTION", ""), 1);
        {
            UncommittedChange holder(t.serverPath(), c.other);
            ASSERT_TRUE(holder.ready()) << "isql did not run the change: " << holder.output().toStdString();
            if (c.rowRun)
                db.BeginRowRun();
            QElapsedTimer took;
            took.start();
            const bool ok = c.ours(db);
            const double seconds = took.elapsed() / 1000.0;
            std::printf("[          ] %s: refused after %.2f s: %s\n", c.name, seconds,
                        qPrintable(db.LastErrorText().simplified()));
            EXPECT_FALSE(ok);
            EXPECT_GE(seconds, DataAccess::LockWaitSeconds / 2.0);
            EXPECT_LE(seconds, DataAccess::LockWaitSeconds + 3.0);
            EXPECT_EQ(db.LastFailureWasLockTimeout(), c.lock) << db.LastErrorText().toStdString();
            EXPECT_FALSE(db.LastFailureWasConnectionLoss());
            EXPECT_EQ(db.LastFailureWasDuplicate(), c.duplicate);
            EXPECT_EQ(lost, 0);
            EXPECT_TRUE(db.IsConnected());
            if (c.rowRun)
                db.EndRowRun();
        }
        // The holder is gone (rolled back): the same change now goes through.
        EXPECT_TRUE(c.ours(db)) << db.LastErrorText().toStdString();
        EXPECT_FALSE(db.LastFailureWasLockTimeout()) << "the flag outlived a later operation";
        db.DeleteRecords("SECTION", "N = 4");
        if (!db.SelectMatch("SECTION", "N", "", 1))
            db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"1", "'one'"});
    }
}

TEST(DbBounds, FailureFlagsStartAfreshWithEveryOperationAndARunEndsCleanAfterAFailure)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    DataAccess db;
    db.ConnectDatabase(t.serverPath());
    ASSERT_TRUE(db.CreateSectionTable());
    db.BeginRowRun();
    ASSERT_TRUE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"1", "'a'"}));
    EXPECT_FALSE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"1", "'b'"}));
    EXPECT_TRUE(db.LastFailureWasDuplicate());
    // The next operation succeeds: nothing of the last failure is left.
    EXPECT_TRUE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"2", "'c'"}));
    EXPECT_FALSE(db.LastFailureWasDuplicate());
    EXPECT_EQ(db.LastErrorCode(), 0);
    EXPECT_FALSE(db.InsertRecord("NO_SUCH_TABLE", 1, {"N"}, {"1"}));
    EXPECT_FALSE(db.LastFailureWasDuplicate());
    db.EndRowRun();
    EXPECT_EQ(db.SelectAll("SECTION", ""), 2);
    // A select after a failed insert: the duplicate flag does not survive it.
    EXPECT_FALSE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"2", "'d'"}));
    EXPECT_TRUE(db.LastFailureWasDuplicate());
    EXPECT_EQ(db.SelectAll("SECTION", ""), 2);
    EXPECT_FALSE(db.LastFailureWasDuplicate());
}

} // namespace
