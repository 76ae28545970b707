// A reply lost with the connection: the relay lets the request reach the server and
// cuts the connection before the answer comes back. The change may or may not be
// committed then; the client only learns that the connection is gone.
#include "DelayRelay.h"
#include "TestDatabase.h"

#include "db/DataAccess.h"
#include "db/Statements.h"

#include <gtest/gtest.h>

namespace {

// Rows of that table and condition, read past the relay.
int rowsWhere(const TestDatabase &t, const QString &table, const QString &condition)
{
    DataAccess direct;
    direct.ConnectDatabase(t.serverPath());
    const int n = direct.SelectAll(table, condition);
    direct.CloseQuery();
    return n;
}

// A stroke of three points by author `mn`, as the painting windows send it.
bool sendStroke(DataAccess &db, int mn)
{
    Statements::StrokeBlockText b;
    b.table = QStringLiteral("IMG_1");
    b.mn = mn;
    std::vector<qint64> answer;
    return db.ExecuteBlock(Statements::StrokeBlock(b, {{1, 1}, {2, 2}, {3, 3}}), 2, answer) && answer[0] > 0;
}

// Smaller than any insert's request, larger than a transaction's start or end.
constexpr int kInsertBytes = 64;

TEST(LostReply, TheRequestIsDoneAndOnlyItsAnswerIsLost)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    struct Case {
        const char *name;
        bool rowRun;   // a stroke's statement in an autocommit run, or a change of its own
        bool committed; // what the server did with the request whose answer was lost
        // Requests that pass before the one whose answer is lost (start and execute: the
        // commit), and whether the outcome is told as "may be stored" (-1: not asked).
        int skip = 0;
        int mayBeStored = -1;
    };
    const Case cases[] = {
        {"a change in its own transaction: the commit is never sent", false, false, 0, 0},
        {"a stroke's statement: committed with the request", true, true},
        {"a change whose commit's answer is lost: committed, told as may be stored", false, true, 2, 1},
    };
    {
        DataAccess make;
        make.ConnectDatabase(t.serverPath());
        ASSERT_TRUE(make.CreateSectionTable());
        ASSERT_TRUE(make.CreateImageTable("IMG_1"));
    }
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DelayRelay relay;
        ASSERT_TRUE(relay.start(0));
        DataAccess db;
        int lost = 0;
        db.onConnectionLost = [&] { ++lost; };
        db.ConnectDatabase(t.pathVia(relay.port()));
        ASSERT_TRUE(db.IsConnected()) << db.LastErrorText().toStdString();
        const QString name = QStringLiteral("lost%1").arg(n + 1);
        if (c.rowRun) {
            db.BeginRowRun();
            ASSERT_TRUE(sendStroke(db, 100 + n));
            relay.CutAfterNextRequest(kInsertBytes);
            EXPECT_FALSE(sendStroke(db, 200 + n));
        } else {
            relay.CutAfterNextRequest(c.skip > 0 ? 1 : kInsertBytes, 100, c.skip);
            EXPECT_FALSE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {QString::number(++n), "'" + name + "'"}));
        }
        EXPECT_TRUE(db.LastFailureWasConnectionLoss()) << db.LastErrorText().toStdString();
        if (c.mayBeStored >= 0) {
            EXPECT_EQ(db.LastFailureMayBeStored(), c.mayBeStored == 1);
        }
        EXPECT_FALSE(db.LastFailureWasDuplicate());
        EXPECT_EQ(lost, 1);
        EXPECT_EQ(relay.cuts(), 1);
        if (c.rowRun)
            db.EndRowRun();
        db.DisconnectDatabase();
        if (c.rowRun) {
            // All of the statement or nothing of it.
            EXPECT_EQ(rowsWhere(t, "IMG_1", QStringLiteral("MN=%1").arg(200 + n)), c.committed ? 3 : 0);
            EXPECT_EQ(rowsWhere(t, "IMG_1", QStringLiteral("MN=%1").arg(100 + n)), 3);
        } else {
            EXPECT_EQ(rowsWhere(t, "SECTION", QStringLiteral("SNAME='%1'").arg(name)), c.committed ? 1 : 0);
        }

        // One cut per call: the next connection through the relay works as before.
        DataAccess again;
        again.ConnectDatabase(t.pathVia(relay.port()));
        ASSERT_TRUE(again.IsConnected()) << again.LastErrorText().toStdString();
        EXPECT_TRUE(again.InsertRecord("SECTION", 2, {"N", "SNAME"}, {QString::number(++n), "'after'"}));
        EXPECT_EQ(relay.cuts(), 1);
    }
}

TEST(LostReply, RequestsSmallerThanTheMarkPassAndTheCutWaitsForALargerOne)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    DelayRelay relay;
    ASSERT_TRUE(relay.start(0));
    DataAccess db;
    db.ConnectDatabase(t.pathVia(relay.port()));
    ASSERT_TRUE(db.IsConnected());
    ASSERT_TRUE(db.CreateSectionTable());
    relay.CutAfterNextRequest(1 << 20);
    // Nothing this small is aimed at: many round trips, no cut.
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {QString::number(i), "'a'"}));
    EXPECT_EQ(db.SelectAll("SECTION", ""), 5);
    db.CloseQuery();
    EXPECT_TRUE(db.IsConnected());
    EXPECT_EQ(relay.cuts(), 0);
    // Armed anew with a size the next insert reaches: that one is cut.
    relay.CutAfterNextRequest(kInsertBytes);
    EXPECT_FALSE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"6", "'b'"}));
    EXPECT_TRUE(db.LastFailureWasConnectionLoss());
    EXPECT_EQ(relay.cuts(), 1);
}

} // namespace
