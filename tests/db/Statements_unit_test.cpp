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

TEST(StatementsStroke, BlockFindsItsNumberOnTheServerAndPostsTheEvent)
{
    Statements::StrokeBlockText b;
    b.table = "IMG_7";
    b.hint = 40;
    b.mn = 3;
    b.dn = 2;
    b.ptyp = 1;
    b.psiz = 5;
    b.pcol = -16777216;
    b.hintRow = "9,1,0,1,255,3,4";
    const Lines want{
        "EXECUTE BLOCK RETURNS (FIRST_N INTEGER, STROKE_DN INTEGER) AS",
        "DECLARE AT_N INTEGER = 40;",
        "DECLARE M INTEGER;",
        "BEGIN",
        "  FIRST_N = 0;",
        "  STROKE_DN = 2;",
        "  IF (NOT EXISTS (SELECT 1 FROM IMG_7 WHERE N = 40 AND MN = 9 AND DN = 1 AND PTYP = 0 AND PSIZ = 1 AND PCOL = 255 AND X = 3 AND Y = 4)) THEN",
        "    FIRST_N = -2;",
        "  WHILE (FIRST_N = 0) DO",
        "  BEGIN",
        "    M = NULL;",
        "    SELECT MAX(N) FROM IMG_7 WHERE N >= :AT_N INTO :M;",
        "    IF (M IS NOT NULL) THEN AT_N = M;",
        "    M = NULL;",
        "    SELECT MAX(DN) FROM IMG_7 WHERE N > 40 AND MN = 3 INTO :M;",
        "    IF (M >= STROKE_DN) THEN STROKE_DN = M + 1;",
        "    BEGIN",
        "      INSERT INTO IMG_7 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (:AT_N + 1, 3, :STROKE_DN, 1, 5, -16777216, 10, 20);",
        "      INSERT INTO IMG_7 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (:AT_N + 2, 3, :STROKE_DN, 1, 5, -16777216, 11, 0);",
        "      FIRST_N = AT_N + 1;",
        "      WHEN GDSCODE unique_key_violation, GDSCODE no_dup DO",
        "      BEGIN",
        "        M = NULL;",
        "        SELECT MAX(N) FROM IMG_7 WHERE N > :AT_N INTO :M;",
        "        IF (M IS NULL) THEN FIRST_N = -1;",
        "      END",
        "    END",
        "  END",
        "  IF (FIRST_N > 0) THEN",
        "    POST_EVENT 'IMG_7';",
        "  SUSPEND;",
        "END"};
    EXPECT_EQ(Statements::StrokeBlock(b, {{10, 20}, {11, 0}}), want);

    // A later block of a long stroke keeps the stroke's number.
    b.dnFixed = true;
    const Lines fixed = Statements::StrokeBlock(b, {{10, 20}});
    EXPECT_FALSE(fixed.join('\n').contains("MAX(DN)"));
    EXPECT_TRUE(fixed.contains("  STROKE_DN = 2;"));
}

TEST(StatementsStroke, BlockWithItsNumbersGivenIsRefusedWholeOnAClash)
{
    Statements::StrokeBlockText b;
    b.table = "IMG_1";
    b.hint = 0;
    b.mn = 1;
    b.dn = 1;
    b.findOnServer = false;
    const Lines want{"EXECUTE BLOCK RETURNS (FIRST_N INTEGER, STROKE_DN INTEGER) AS",
                     "DECLARE AT_N INTEGER = 0;",
                     "DECLARE M INTEGER;",
                     "BEGIN",
                     "  FIRST_N = 0;",
                     "  STROKE_DN = 1;",
                     "  IF (FIRST_N = 0) THEN",
                     "  BEGIN",
                     "    INSERT INTO IMG_1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (1, 1, :STROKE_DN, 0, 1, 0, 3, 4);",
                     "    INSERT INTO IMG_1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (2, 1, :STROKE_DN, 0, 1, 0, 5, 6);",
                     "    FIRST_N = 1;",
                     "    POST_EVENT 'IMG_1';",
                     "  END",
                     "  SUSPEND;",
                     "END"};
    EXPECT_EQ(Statements::StrokeBlock(b, {{3, 4}, {5, 6}}), want);
}

TEST(StatementsStroke, TheLongestBlockFitsTheServersLimits)
{
    // Every value at its longest.
    Statements::StrokeBlockText b;
    b.table = "IMG_2147483647";
    b.hint = 2147483000;
    b.mn = -2147483647;
    b.dn = -2147483647;
    b.ptyp = b.psiz = b.pcol = -2147483647;
    b.hintRow = "-2147483647,-2147483647,-2147483647,-2147483647,-2147483647,-2147483647,-2147483647";
    QList<Statements::BlockPoint> points(Statements::BlockPointLimit, {-2147483647, -2147483647});
    const QString text = Statements::Join(Statements::StrokeBlock(b, points));
    EXPECT_LE(text.size(), Statements::BlockTextLimit);
    // Four reads of the table besides the inserts, under the server's 255 references.
    EXPECT_EQ(text.count("INSERT INTO") + text.count("SELECT"), Statements::BlockPointLimit + 4);
    EXPECT_LE(Statements::BlockPointLimit + 4, 255);
}

// The prepared block takes one value per '?', in order: the row at the hint (an empty field
// a NULL, none without a hint), the pen, the count, then each place's X and Y (NULL past the
// points); and it reads the table no more than the block of text does.
TEST(StatementsStroke, ThePreparedBlockTakesAValuePerParameter)
{
    Statements::StrokeBlockText b;
    b.table = "IMG_9";
    b.hint = 41;
    b.hintRow = "7,2,0,1,,5,6";
    b.mn = 4;
    b.dn = 3;
    b.dnFixed = true;
    b.ptyp = 1;
    b.psiz = 2;
    b.pcol = 255;
    for (const int count : {1, 3, Statements::BlockPointLimit}) {
        SCOPED_TRACE(count);
        const int places = Statements::PreparedBlockPlaces(count);
        EXPECT_GE(places, count);
        EXPECT_LE(places, Statements::BlockPointLimit);
        QList<Statements::BlockPoint> points;
        for (int i = 0; i < count; ++i)
            points.append({i, -i});
        const auto p = Statements::PreparedStrokeBlockParameters(b, points, places);
        const QString text = Statements::Join(Statements::PreparedStrokeBlock(b.table, places));
        EXPECT_EQ(text.count('?'), int(p.size()));
        EXPECT_LE(text.size(), Statements::BlockTextLimit);
        EXPECT_EQ(text.count("INSERT INTO") + text.count("SELECT"), places + 4);
        const std::vector<std::optional<qint64>> head = {41, 1, 7, 2, 0, 1, std::nullopt, 5, 6, 4, 3, 1, 1, 2, 255, count};
        EXPECT_EQ(std::vector<std::optional<qint64>>(p.begin(), p.begin() + long(head.size())), head);
        EXPECT_EQ(p[head.size() + 2 * size_t(count - 1) + 1], std::optional<qint64>(-(count - 1))) << "the last point's Y";
        if (places > count) {
            EXPECT_FALSE(p[head.size() + 2 * size_t(count)]) << "a place past the points";
        }
    }
    b.hint = 0;
    b.hintRow.clear();
    const auto p = Statements::PreparedStrokeBlockParameters(b, {{1, 2}}, 1);
    EXPECT_EQ(p[1], std::optional<qint64>(0)) << "no row to check without a hint";
    EXPECT_FALSE(p[2]);
}
