#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "core/picture/Stamp.h"
#include "core/settings/SettingsFile.h"

#include <QDateTime>
#include <QImage>
#include <QLocale>
#include <gtest/gtest.h>

namespace {

struct IntCase {
    const char16_t *text;
    int expected;
};

TEST(TextToInt, DecimalBlanksSignsAndLimits)
{
    const IntCase cases[] = {
        {u"", 0},
        {u"0", 0},
        {u"12", 12},
        {u" 12", 12},
        {u"    12", 12},
        {u"12 ", 0},
        {u"12a", 0},
        {u"a12", 0},
        {u" ", 0},
        {u"+", 0},
        {u"-", 0},
        {u"+7", 7},
        {u"-7", -7},
        {u" -7", -7},
        {u"- 7", 0},
        {u"+-7", 0},
        {u"--7", 0},
        {u"0012", 12},
        {u"-0", 0},
        {u"2147483647", 2147483647},
        {u"-2147483648", -2147483647 - 1},
        {u"2147483648", 0},
        {u"-2147483649", 0},
        {u"99999999999999999999999", 0},
        {u"1.5", 0},
        {u"1,000", 0},
        {u"\t12", 0},
        {u"12\r", 0},
        {u"abc", 0},
        {u"１２", 0}, // full-width digits are not digits here
        {u"1２", 0},
    };
    for (const IntCase &c : cases)
        EXPECT_EQ(TextToInt(QString::fromUtf16(c.text)), c.expected)
            << "text: [" << QString::fromUtf16(c.text).toStdString() << "]";
}

TEST(TextToInt, HexadecimalPrefixesAndPatterns)
{
    const IntCase cases[] = {
        {u"$1A", 26},
        {u"x1A", 26},
        {u"X1a", 26},
        {u"0x1A", 26},
        {u"0X1a", 26},
        {u" $ff", 255},
        {u"-$10", -16},
        {u"+0x10", 16},
        {u"$7FFFFFFF", 2147483647},
        {u"$80000000", -2147483647 - 1},
        {u"$FFFFFFFF", -1},
        {u"0xFFFFFFFE", -2},
        {u"-$FFFFFFFF", 1},
        {u"$100000000", 0},  // nine digits do not fit 32 bits
        {u"$FFFFFFFFF", 0},
        {u"$", 0},
        {u"0x", 0},
        {u"x", 0},
        {u"$G", 0},
        {u"$1 ", 0},
        {u"$ 1", 0},
        {u"0x0x1", 0},
        {u"1A", 0},  // hex digits need a prefix
        {u"01A", 0},
    };
    for (const IntCase &c : cases)
        EXPECT_EQ(TextToInt(QString::fromUtf16(c.text)), c.expected)
            << "text: [" << QString::fromUtf16(c.text).toStdString() << "]";
}

TEST(TextToInt, LongInputsAreRefusedNotWrapped)
{
    // Digits that would wrap a 64-bit accumulator must still give 0.
    EXPECT_EQ(TextToInt(QString(400, QLatin1Char('9'))), 0);
    EXPECT_EQ(TextToInt(QStringLiteral("$") + QString(400, QLatin1Char('F'))), 0);
    EXPECT_EQ(TextToInt(QString(50, QLatin1Char(' ')) + QStringLiteral("5")), 5);
}

TEST(IsValidDateText, CalendarRules)
{
    struct DateCase {
        const char *text;
        bool valid;
    } cases[] = {
        {"20100101", true},   {"20000229", true},  {"20040229", true},  {"19000229", false},
        {"21000229", false},  {"20100229", false}, {"20100230", false}, {"20100431", false},
        {"20101231", true},   {"20101232", false}, {"20101301", false}, {"20100001", false},
        {"20100100", false},  {"99991231", true},  {"00000101", false},
        {"18991230", true},   {"18991231", true},  {"18991229", false}, {"18990101", false},
        {"18001231", false},  {"01001231", false}, {"19000101", true},
        {"2010010", false},   {"201001011", false}, {"", false},        {"2010/1/1", false},
        {"-", false},         {"2010-101", false}, {" 2010010", false}, {"2010010 ", false},
        {"+2010010", false},
    };
    for (const DateCase &c : cases)
        EXPECT_EQ(IsValidDateText(QString::fromLatin1(c.text)), c.valid) << c.text;
    // Full-width digits are not digits here either.
    EXPECT_FALSE(IsValidDateText(QStringLiteral("２０１０0101")));
}

TEST(ColonHalves, SplitAtFirstColon)
{
    EXPECT_EQ(TextBeforeColon(QStringLiteral("3:営業部")), QStringLiteral("3"));
    EXPECT_EQ(TextAfterColon(QStringLiteral("3:営業部")), QStringLiteral("営業部"));
    EXPECT_EQ(TextBeforeColon(QStringLiteral("0:指定無し")), QStringLiteral("0"));
    EXPECT_EQ(TextAfterColon(QStringLiteral("12:a:b")), QStringLiteral("a:b"));
    EXPECT_EQ(TextBeforeColon(QStringLiteral("12:a:b")), QStringLiteral("12"));
    EXPECT_EQ(TextBeforeColon(QStringLiteral(":x")), QString());
    EXPECT_EQ(TextAfterColon(QStringLiteral(":x")), QStringLiteral("x"));
    EXPECT_EQ(TextBeforeColon(QStringLiteral("7:")), QStringLiteral("7"));
    EXPECT_EQ(TextAfterColon(QStringLiteral("7:")), QString());
    // No colon at all: both halves empty. A full-width colon is not a colon.
    EXPECT_EQ(TextBeforeColon(QStringLiteral("name")), QString());
    EXPECT_EQ(TextAfterColon(QStringLiteral("name")), QString());
    EXPECT_EQ(TextBeforeColon(QStringLiteral("3：名前")), QString());
    EXPECT_EQ(TextAfterColon(QString()), QString());
    EXPECT_EQ(TextToInt(TextBeforeColon(QStringLiteral("42:佐藤"))), 42);
}

static int countColour(const QImage &img, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixel(x, y) == colour;
    return n;
}

TEST(ClearCanvas, PaintsExactlyTheAreaWhite)
{
    const QRgb red = qRgb(255, 0, 0), white = qRgb(255, 255, 255);
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(red);
    ClearCanvas(img, 7, 4);
    EXPECT_EQ(countColour(img, white), 7 * 4);
    EXPECT_EQ(img.pixel(0, 0), white);
    EXPECT_EQ(img.pixel(6, 3), white);
    EXPECT_EQ(img.pixel(7, 3), red); // right edge excluded
    EXPECT_EQ(img.pixel(6, 4), red); // bottom edge excluded

    // Larger than the picture: the whole picture, nothing else happens.
    img.fill(red);
    ClearCanvas(img, 5000, 5000);
    EXPECT_EQ(countColour(img, white), 20 * 10);

    // Empty or negative areas and a null image change nothing and do not crash.
    img.fill(red);
    ClearCanvas(img, 0, 10);
    ClearCanvas(img, 10, -1);
    ClearCanvas(img, -5, -5);
    EXPECT_EQ(countColour(img, red), 20 * 10);
    QImage none;
    ClearCanvas(none, 10, 10);
    EXPECT_TRUE(none.isNull());
}

TEST(SmallChecks, BlankAndQuote)
{
    EXPECT_TRUE(IsBlank(QString()));
    EXPECT_TRUE(IsBlank(QStringLiteral(" \t\r\n")));
    EXPECT_TRUE(IsBlank(QString(QChar(0)) + QChar(31) + QChar(32)));
    EXPECT_FALSE(IsBlank(QStringLiteral("  a ")));
    EXPECT_FALSE(IsBlank(QStringLiteral("　"))); // the full-width space is a character
    EXPECT_TRUE(HasQuote(QStringLiteral("it's")));
    EXPECT_TRUE(HasQuote(QStringLiteral("say \"x\"")));
    EXPECT_FALSE(HasQuote(QStringLiteral("’”「」")));
}

TEST(DefaultsAndPath, AssignDefaultSettingsRestoresEveryValue)
{
    ServerName = QStringLiteral("x");
    ServerDataDir = QStringLiteral("y");
    DatabaseName = QStringLiteral("z");
    PcUserNo = 9;
    PcUserName = QStringLiteral("n");
    ListWidth = ListHeight = ListPanelHeight = PaintWidth = PaintHeight = 1;
    ListColWidths.fill(1);
    SaveDir = QStringLiteral("s");
    PenType = PenSize = PenColor = 5;
    AssignDefaultSettings();
    EXPECT_EQ(ServerName, QStringLiteral("localhost:"));
    EXPECT_TRUE(ServerDataDir.isEmpty());
    EXPECT_EQ(DatabaseName, QStringLiteral("PAINT.FDB"));
    EXPECT_EQ(PcUserNo, 0);
    EXPECT_TRUE(PcUserName.isEmpty());
    EXPECT_EQ(ListWidth, 320);
    EXPECT_EQ(ListHeight, 240);
    for (int w : ListColWidths)
        EXPECT_EQ(w, 64);
    EXPECT_EQ(ListPanelHeight, 32);
    EXPECT_EQ(PaintWidth, 320);
    EXPECT_EQ(PaintHeight, 240);
    EXPECT_TRUE(SaveDir.isEmpty());
    EXPECT_EQ(PenType, 0);
    EXPECT_EQ(PenSize, 1);
    EXPECT_EQ(PenColor, 0);

    ServerDataDir = QStringLiteral("C:\\data\\");
    EXPECT_EQ(DatabasePath(), QStringLiteral("localhost:C:\\data\\PAINT.FDB"));
    AssignDefaultSettings();
}

// A folder without its final separator names the wrong file: the failure says which
// separator is missing, of the kind the folder already uses.
TEST(DefaultsAndPath, FolderSeparatorHintNamesTheMissingSeparator)
{
    const struct {
        const char *folder;
        const char *hint; // empty: nothing missing
    } cases[] = {
        {"/var/lib/oekaki/data", "\nサーバーのデータのフォルダの最後に「/」がありません（例：「/var/lib/oekaki/data/」）。"},
        {"C:\\data", "\nサーバーのデータのフォルダの最後に「\\」がありません（例：「C:\\data\\」）。"},
        {"C:", "\nサーバーのデータのフォルダの最後に「/」がありません（例：「C:/」）。"},
        {"C:\\a/b", "\nサーバーのデータのフォルダの最後に「/」がありません（例：「C:\\a/b/」）。"},
        {"/var/lib/oekaki/data/", ""},
        {"C:\\data\\", ""},
        {"/data/ ", ""}, // a trailing blank is not a missing separator
        {"", ""},
        {"%1%2", "\nサーバーのデータのフォルダの最後に「/」がありません（例：「%1%2/」）。"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FolderSeparatorHint(QString::fromUtf8(c.folder)), QString::fromUtf8(c.hint)) << c.folder;
}

} // namespace

// The test entry starts like the program: Japanese for Qt's own widgets whatever LANG
// says, while what is stored (yyyymmdd dates, numbers, the settings file) stays the same.
TEST(JapaneseLocale, QtWidgetsFormatJapaneseAndStoredValuesDoNotChange)
{
    const QDateTime when(QDate(2026, 12, 7), QTime(14, 59, 24));
    for (const QLocale &l : {QLocale(), QLocale::system()}) {
        SCOPED_TRACE(l.name().toStdString());
        EXPECT_EQ(l.language(), QLocale::Japanese);
        EXPECT_EQ(l.toString(when, QLocale::ShortFormat), QStringLiteral("2026/12/07 14:59"));
        EXPECT_EQ(l.monthName(12), QStringLiteral("12月"));
    }
    EXPECT_EQ(when.date().toString(QStringLiteral("yyyyMMdd")), QStringLiteral("20261207"));
    EXPECT_TRUE(IsValidDateText(QStringLiteral("20261207")));
    EXPECT_EQ(QString::number(-2147483647 - 1), QStringLiteral("-2147483648"));
    EXPECT_EQ(TextToInt(QStringLiteral("1234567")), 1234567);
    EXPECT_EQ(TextToInt(QStringLiteral("1,234")), 0);
    PenColor = 16777215;
    PaintWidth = 1234567;
    EXPECT_TRUE(FormatSettings(WindowPlacement()).contains("\r\n16777215\r\n"));
    EXPECT_TRUE(FormatSettings(WindowPlacement()).contains("\r\n1234567\r\n"));
    AssignDefaultSettings();
}
