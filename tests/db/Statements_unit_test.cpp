#include "db/Statements.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using Lines = QStringList;

TEST(StatementsChange, InsertSectionHasEightLines)
{
    const Lines got = Statements::InsertRecord("SECTION", 2, {"N", "SNAME"}, {"5", "'総務'"});
    const Lines want{"INSERT INTO SECTION (", "   N,",        "   SNAME", "   ) ",
                     "   VALUES (",           "   5,",        "   '総務'", "   );"};
    EXPECT_EQ(got, want);
}

TEST(StatementsChange, InsertUsesOnlyCountEntries)
{
    const Lines got = Statements::InsertRecord("MEMBER", 1, {"N", "SN", "PNAME"}, {"7", "0", "'x'"});
    const Lines want{"INSERT INTO MEMBER (", "   N", "   ) ", "   VALUES (", "   7", "   );"};
    EXPECT_EQ(got, want);

    // Nothing to insert: the server is left to reject it.
    EXPECT_EQ(Statements::InsertRecord("T", 0, {}, {}),
              (Lines{"INSERT INTO T (", "   ) ", "   VALUES (", "   );"}));
}

TEST(StatementsChange, UpdateWithAndWithoutCondition)
{
    EXPECT_EQ(Statements::UpdateRecord("MEMBER", 2, {"SN", "PNAME"}, {"3", "NULL"}, "N=12"),
              (Lines{"UPDATE MEMBER SET ", "   SN=3,", "   PNAME=NULL", "   WHERE N=12", "   ;"}));
    EXPECT_EQ(Statements::UpdateRecord("SECTION", 1, {"SNAME", "N"}, {"'a'", "9"}, ""),
              (Lines{"UPDATE SECTION SET ", "   SNAME='a'", "   ;"}));
}

TEST(StatementsChange, DeleteWithAndWithoutCondition)
{
    EXPECT_EQ(Statements::DeleteRecords("SECTION", "N=5"), Lines{"DELETE FROM SECTION WHERE N=5 ;"});
    EXPECT_EQ(Statements::DeleteRecords("IMG_3", ""), Lines{"DELETE FROM IMG_3 ;"});
}

TEST(StatementsSelect, AllMaxAndFieldsTakeAnOptionalWhere)
{
    EXPECT_EQ(Statements::SelectAll("MEMBER", ""), (Lines{"SELECT * ", "   FROM MEMBER ", "   ;"}));
    EXPECT_EQ(Statements::SelectAll("MEMBER", "SN=3"),
              (Lines{"SELECT * ", "   FROM MEMBER ", "   WHERE SN=3 ", "   ;"}));

    EXPECT_EQ(Statements::SelectMax("IMGLIST", "N", ""),
              (Lines{"SELECT MAX(N) ", "   FROM IMGLIST ", "   ;"}));
    EXPECT_EQ(Statements::SelectMax("IMG_4", "N", "MN=2"),
              (Lines{"SELECT MAX(N) ", "   FROM IMG_4 ", "   WHERE MN=2 ", "   ;"}));

    EXPECT_EQ(Statements::SelectFields("N,PNAME", "MEMBER", ""),
              (Lines{"SELECT N,PNAME ", "   FROM MEMBER ", "   ;"}));
    EXPECT_EQ(Statements::SelectFields("SX,SY", "IMGLIST", "N=4"),
              (Lines{"SELECT SX,SY ", "   FROM IMGLIST ", "   WHERE N=4 ", "   ;"}));
}

TEST(StatementsSelect, MatchAlwaysComparesTheColumn)
{
    EXPECT_EQ(Statements::SelectMatch("MEMBER", "SN", "", 3),
              (Lines{"SELECT SN ", "   FROM MEMBER ", "   WHERE (SN=3) ", "   ;"}));
    EXPECT_EQ(Statements::SelectMatch("MEMBER", "N", "SN=2", -15),
              (Lines{"SELECT N ", "   FROM MEMBER ", "   WHERE (SN=2) AND (N=-15) ", "   ;"}));
}

TEST(StatementsSelect, OrderedHasOptionalWhereAndOrderLines)
{
    const QString list = "MEMBER.N,MEMBER.SN,SECTION.SNAME,MEMBER.PNAME";
    EXPECT_EQ(Statements::SelectOrdered(list, "MEMBER,SECTION", "MEMBER.SN=SECTION.N OR MEMBER.SN=0",
                                        "MEMBER.N"),
              (Lines{"SELECT " + list + " ", "   FROM MEMBER,SECTION ",
                     "   WHERE MEMBER.SN=SECTION.N OR MEMBER.SN=0 ", "   ORDER BY MEMBER.N ", "   ;"}));
    EXPECT_EQ(Statements::SelectOrdered("*", "IMG_1", "", "N"),
              (Lines{"SELECT * ", "   FROM IMG_1 ", "   ORDER BY N ", "   ;"}));
    EXPECT_EQ(Statements::SelectOrdered("*", "IMG_1", "N>10", ""),
              (Lines{"SELECT * ", "   FROM IMG_1 ", "   WHERE N>10 ", "   ;"}));
    EXPECT_EQ(Statements::SelectOrdered("N", "SECTION", "", ""),
              (Lines{"SELECT N ", "   FROM SECTION ", "   ;"}));
}

TEST(StatementsSchema, FixedTables)
{
    EXPECT_EQ(Statements::CreateSectionTable(),
              (Lines{"CREATE TABLE SECTION (", "  N INTEGER NOT NULL UNIQUE,", "  SNAME VARCHAR(32)",
                     "  );"}));
    EXPECT_EQ(Statements::CreateMemberTable(),
              (Lines{"CREATE TABLE MEMBER (", "  N  INTEGER NOT NULL UNIQUE,", "  SN INTEGER,",
                     "  PNAME VARCHAR(16)", "  );"}));
    EXPECT_EQ(Statements::CreateImgListTable(),
              (Lines{"CREATE TABLE IMGLIST (", "  N  INTEGER NOT NULL UNIQUE,", "  MN    INTEGER,",
                     "  INAME VARCHAR(64),", "  MEMO1 VARCHAR(80),", "  MEMO2 VARCHAR(80),",
                     "  MEMO3 VARCHAR(80),", "  SX    INTEGER,", "  SY    INTEGER,",
                     "  DATE1 VARCHAR(8),", "  DATE2 VARCHAR(8)", "  );"}));
}

TEST(StatementsSchema, StrokeTableAndDrop)
{
    EXPECT_EQ(Statements::CreateImageTable("IMG_12"),
              (Lines{"CREATE TABLE IMG_12 (", "  N    INTEGER NOT NULL UNIQUE,", "  MN   INTEGER,",
                     "  DN   INTEGER,", "  PTYP INTEGER,", "  PSIZ INTEGER,", "  PCOL INTEGER,",
                     "  X    INTEGER,", "  Y    INTEGER", "  );"}));
    EXPECT_EQ(Statements::DropTable("IMG_12"), Lines{"DROP TABLE IMG_12;"});
}

TEST(StatementsConnection, CreateDatabaseTextAndQuotedPath)
{
    EXPECT_EQ(Statements::CreateDatabase("localhost:C:\\data\\PAINT.FDB", "SYSDBA", "plumstone"),
              QString("CREATE DATABASE 'localhost:C:\\data\\PAINT.FDB' USER \"SYSDBA\"\r\n"
                      "PASSWORD \"plumstone\"\r\nPAGE_SIZE 4096\r\n"));
    // A quote in the folder must not end the literal.
    const QString text = Statements::CreateDatabase("localhost:/srv/o'k/P.FDB", "SYSDBA", "plumstone");
    EXPECT_TRUE(text.startsWith("CREATE DATABASE 'localhost:/srv/o''k/P.FDB' USER"));
}

TEST(StatementsConnection, JoinKeepsEveryLineAndBlank)
{
    const QString joined = Statements::Join(Statements::SelectAll("T", ""));
    EXPECT_EQ(joined.split(QRegularExpression("\r?\n")), (Lines{"SELECT * ", "   FROM T ", "   ;"}));
}
