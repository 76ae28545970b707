#include "windows/ImageList.h"

#include <gtest/gtest.h>

TEST(PageStatement, LinesWithAndWithoutFilter)
{
    EXPECT_EQ(ImageList::PageStatement(QString(), "N"),
              (QStringList{"SELECT * FROM IMGLIST", "  ORDER BY N;"}));
    EXPECT_EQ(ImageList::PageStatement("INAME LIKE '%a%'", "MEMO1 DESC,N DESC"),
              (QStringList{"SELECT * FROM IMGLIST", "  WHERE INAME LIKE '%a%'", "  ORDER BY MEMO1 DESC,N DESC;"}));
}

TEST(PageStatement, SortChoices)
{
    const QStringList orders{"N",       "N DESC",           "INAME",   "INAME DESC",        "MEMO1,N",
                             "MEMO1 DESC,N DESC", "DATE1,N", "DATE1 DESC,N DESC", "DATE2,N", "DATE2 DESC,N DESC"};
    for (int i = 0; i < orders.size(); ++i)
        EXPECT_EQ(ImageList::SortOrderFor(i), orders[i]);
    EXPECT_TRUE(ImageList::SortOrderFor(-1).isEmpty());
    EXPECT_TRUE(ImageList::SortOrderFor(10).isEmpty());
}

TEST(PageStatement, FilterConditionKeepsTheTextInsideItsLiteral)
{
    EXPECT_EQ(ImageList::FilterConditionFor(1, QStringLiteral("花")), QStringLiteral("INAME LIKE '%花%'"));
    EXPECT_EQ(ImageList::FilterConditionFor(2, " a "), "MEMO1 LIKE '% a %'");
    EXPECT_EQ(ImageList::FilterConditionFor(3, "2010"), "DATE1 LIKE '%2010%'");
    EXPECT_EQ(ImageList::FilterConditionFor(4, "_%"), "DATE2 LIKE '%_%%'");
    EXPECT_EQ(ImageList::FilterConditionFor(1, "a'b"), "INAME LIKE '%a''b%'");
    EXPECT_EQ(ImageList::FilterConditionFor(1, "'') OR (1=1"), "INAME LIKE '%'''') OR (1=1%'");
    // No filter for "（無し）", an empty text or an unknown column.
    EXPECT_TRUE(ImageList::FilterConditionFor(0, "x").isEmpty());
    EXPECT_TRUE(ImageList::FilterConditionFor(2, "").isEmpty());
    EXPECT_TRUE(ImageList::FilterConditionFor(5, "x").isEmpty());
}
