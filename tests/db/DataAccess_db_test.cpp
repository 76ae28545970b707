#include "TestDatabase.h"

#include <gtest/gtest.h>

TEST(DataAccessSmoke, CreateInsertSelect)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    DataAccess db;
    db.ConnectDatabase(t.serverPath());
    ASSERT_TRUE(db.IsConnected());
    EXPECT_FALSE(db.TableExists("SECTION"));
    EXPECT_TRUE(db.CreateSectionTable());
    EXPECT_TRUE(db.TableExists("section"));
    EXPECT_TRUE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"5", "'総務'"}));
    EXPECT_FALSE(db.InsertRecord("SECTION", 2, {"N", "SNAME"}, {"5", "'x'"}));
    EXPECT_TRUE(db.LastFailureWasDuplicate());
    EXPECT_EQ(db.SelectAll("SECTION", ""), 1);
    EXPECT_EQ(db.SelectOrdered("*", "SECTION", "", "N"), 1);
    QStringList buf(2);
    db.FetchFirst(buf);
    EXPECT_EQ(buf[0], "5");
    EXPECT_EQ(buf[1], QString::fromUtf8("総務"));
    QString max;
    db.SelectMax("SECTION", "N", "", max);
    EXPECT_EQ(max, "5");
}
