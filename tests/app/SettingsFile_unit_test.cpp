#include "app/SettingsFile.h"
#include "app/UnitV.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readBytes(const QString &name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeBytes(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// The 35 lines of a file as written by the program, with some lines replaced.
QByteArray fileWithLines(const QMap<int, QByteArray> &replace, const char *eol = "\r\n",
                         int lineCount = SettingsLineCount)
{
    QByteArray out;
    for (int n = 1; n <= lineCount; ++n) {
        QByteArray v = replace.value(n, n <= 3 ? QByteArray("t") + QByteArray::number(n)
                                               : QByteArray::number(100 + n));
        out += v + eol;
    }
    return out;
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { AssignDefaultSettings(); }
    void TearDown() override { AssignDefaultSettings(); }
    QString path(const char *name = "draw.dat") const { return dir.path() + QLatin1Char('/') + QString::fromLatin1(name); }
    QTemporaryDir dir;
};

TEST_F(SettingsFileTest, RoundTripKeepsEverySettingAndWritesCp932)
{
    const QString name = QStringLiteral("山田ソ表～①ﾃｽﾄ");
    ServerName = QStringLiteral("127.0.0.1/3050:");
    ServerDataDir = QStringLiteral("C:\\データ\\");
    DatabaseName = QStringLiteral("絵.FDB");
    PcUserNo = 2147483647;
    PcUserName = name;
    ListWidth = 81;
    ListHeight = 9999;
    ListColWidths = {32, 33, 40, 100, 200, 300, 1000};
    ListPanelHeight = 10;
    PaintWidth = -3;
    PaintHeight = 0;
    SaveDir = QStringLiteral("/home/user/絵/");
    PenType = 5;
    PenSize = 300;
    PenColor = 0x00FFEEDD;
    WindowPlacement out;
    out.mainLeft = -8;
    out.mainTop = 3;
    out.mainWidth = 640;
    out.mainHeight = 480;
    out.dialogs = {QPoint(1, 2), QPoint(-3, -4), QPoint(5, 6), QPoint(700, 800), QPoint(-2147483647 - 1, 2147483647)};
    ASSERT_TRUE(WriteSettingsFile(path(), out));

    const QByteArray bytes = readBytes(path());
    ASSERT_TRUE(bytes.endsWith("\r\n"));
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();
    ASSERT_EQ(lines.size(), SettingsLineCount);
    for (const QByteArray &l : lines)
        ASSERT_TRUE(l.endsWith('\r'));
    EXPECT_EQ(lines[4], QByteArray::fromHex("8e529363835c955c81608740c3bdc4") + '\r');
    EXPECT_EQ(lines[3], "2147483647\r");
    EXPECT_EQ(lines[5], "-8\r");
    EXPECT_EQ(lines[32], QByteArray::number(0x00FFEEDD) + '\r');
    EXPECT_EQ(lines[33], "-2147483648\r");

    AssignDefaultSettings();
    WindowPlacement in;
    ASSERT_TRUE(ReadSettingsFile(path(), in));
    EXPECT_EQ(ServerName, QStringLiteral("127.0.0.1/3050:"));
    EXPECT_EQ(ServerDataDir, QStringLiteral("C:\\データ\\"));
    EXPECT_EQ(DatabaseName, QStringLiteral("絵.FDB"));
    EXPECT_EQ(PcUserNo, 2147483647);
    EXPECT_EQ(PcUserName, name);
    EXPECT_EQ(ListWidth, 81);
    EXPECT_EQ(ListHeight, 9999);
    EXPECT_EQ(ListColWidths, (std::array<int, 7>{32, 33, 40, 100, 200, 300, 1000}));
    EXPECT_EQ(ListPanelHeight, 10);
    EXPECT_EQ(PaintWidth, -3);
    EXPECT_EQ(PaintHeight, 0);
    EXPECT_EQ(SaveDir, QStringLiteral("/home/user/絵/"));
    EXPECT_EQ(PenType, 5);
    EXPECT_EQ(PenSize, 300);
    EXPECT_EQ(PenColor, 0x00FFEEDD);
    EXPECT_EQ(in.mainLeft, -8);
    EXPECT_EQ(in.mainTop, 3);
    EXPECT_EQ(in.mainWidth, 640);
    EXPECT_EQ(in.mainHeight, 480);
    EXPECT_EQ(in.dialogs, out.dialogs);

    // Writing again what was read gives the same bytes.
    EXPECT_EQ(FormatSettings(in), bytes);
}

TEST_F(SettingsFileTest, MinimumsApplyOnlyToTheListSizes)
{
    writeBytes(path(), fileWithLines({{18, "50"}, {19, "79"}, {20, "20"}, {21, "31"}, {22, "32"},
                                      {23, "-100"}, {24, "abc"}, {27, "5"}, {28, "0"}, {29, "-1"},
                                      {31, "-7"}, {32, "0"}, {33, "-1"}, {6, "-50"}, {8, "1"}}));
    WindowPlacement p;
    ASSERT_TRUE(ReadSettingsFile(path(), p));
    EXPECT_EQ(ListWidth, 80);
    EXPECT_EQ(ListHeight, 80);
    EXPECT_EQ(ListColWidths[0], 32);
    EXPECT_EQ(ListColWidths[1], 32);
    EXPECT_EQ(ListColWidths[2], 32);
    EXPECT_EQ(ListColWidths[3], 32);
    EXPECT_EQ(ListColWidths[4], 32);
    EXPECT_EQ(ListColWidths[5], 125);
    EXPECT_EQ(ListPanelHeight, 10);
    EXPECT_EQ(PaintWidth, 0);
    EXPECT_EQ(PaintHeight, -1);
    EXPECT_EQ(PenType, -7);
    EXPECT_EQ(PenSize, 0);
    EXPECT_EQ(PenColor, -1);
    EXPECT_EQ(p.mainLeft, -50);
    EXPECT_EQ(p.mainWidth, 1);
}

TEST_F(SettingsFileTest, ShortAndEmptyFilesFillTheRestWithEmptyAndMinimums)
{
    for (const QByteArray &content :
         {QByteArray("localhost:\r\n/srv/db/\r\nA.FDB\r\n"), QByteArray("localhost:\n/srv/db/\nA.FDB"),
          QByteArray("localhost:\r\n/srv/db/\r\nA.FDB\r")}) {
        writeBytes(path(), content);
        WindowPlacement p;
        p.mainLeft = 99;
        p.dialogs[4] = QPoint(9, 9);
        ASSERT_TRUE(ReadSettingsFile(path(), p));
        EXPECT_EQ(ServerName, QStringLiteral("localhost:"));
        EXPECT_EQ(ServerDataDir, QStringLiteral("/srv/db/"));
        EXPECT_EQ(DatabaseName, QStringLiteral("A.FDB"));
        EXPECT_EQ(PcUserNo, 0);
        EXPECT_TRUE(PcUserName.isEmpty());
        EXPECT_TRUE(SaveDir.isEmpty());
        EXPECT_EQ(ListWidth, 80);
        EXPECT_EQ(ListHeight, 80);
        for (int w : ListColWidths)
            EXPECT_EQ(w, 32);
        EXPECT_EQ(ListPanelHeight, 10);
        EXPECT_EQ(PaintWidth, 0);
        EXPECT_EQ(PaintHeight, 0);
        EXPECT_EQ(PenType, 0);
        EXPECT_EQ(PenSize, 0);
        EXPECT_EQ(PenColor, 0);
        EXPECT_EQ(p.mainLeft, 0);
        EXPECT_EQ(p.mainTop, 0);
        EXPECT_EQ(p.mainWidth, 0);
        EXPECT_EQ(p.mainHeight, 0);
        for (const QPoint &d : p.dialogs)
            EXPECT_EQ(d, QPoint(0, 0));
    }

    writeBytes(path(), QByteArray());
    WindowPlacement p;
    ASSERT_TRUE(ReadSettingsFile(path(), p));
    EXPECT_TRUE(ServerName.isEmpty());
    EXPECT_TRUE(ServerDataDir.isEmpty());
    EXPECT_TRUE(DatabaseName.isEmpty());
    EXPECT_EQ(ListWidth, 80);
}

TEST_F(SettingsFileTest, LineEndsLongLinesAndExtraLines)
{
    // LF-only, and a mixture of both ends, read like CR LF.
    const QByteArray crlf = fileWithLines({{5, "\x8e\x52"}});
    writeBytes(path(), fileWithLines({{5, "\x8e\x52"}}, "\n"));
    WindowPlacement a;
    ASSERT_TRUE(ReadSettingsFile(path(), a));
    EXPECT_EQ(PcUserName, QStringLiteral("山"));
    EXPECT_EQ(ServerName, QStringLiteral("t1"));
    EXPECT_EQ(PenColor, 133);
    EXPECT_EQ(a.dialogs[4], QPoint(134, 135));
    EXPECT_EQ(FormatSettings(a), crlf);

    QByteArray mixed = crlf;
    mixed.replace("\r\n1", "\n1");
    ASSERT_NE(mixed, crlf);
    writeBytes(path(), mixed);
    WindowPlacement b;
    ASSERT_TRUE(ReadSettingsFile(path(), b));
    EXPECT_EQ(FormatSettings(b), crlf);

    // A line of any length is one value; lines after the 35th are ignored.
    const QByteArray longName(200000, 'n');
    writeBytes(path(), fileWithLines({{5, longName}}) + "junk\r\nmore\r\n");
    WindowPlacement c;
    ASSERT_TRUE(ReadSettingsFile(path(), c));
    EXPECT_EQ(PcUserName.size(), 200000);
    EXPECT_EQ(ListWidth, 118);
    EXPECT_EQ(c.dialogs[4], QPoint(134, 135));

    // A carriage return inside a line is part of the value.
    writeBytes(path(), "a\rb\r\n");
    WindowPlacement d;
    ASSERT_TRUE(ReadSettingsFile(path(), d));
    EXPECT_EQ(ServerName, QStringLiteral("a\rb"));
}

TEST_F(SettingsFileTest, NumbersAreReadWithTextToInt)
{
    writeBytes(path(), fileWithLines({{4, " 12"}, {6, "12 "}, {7, "$10"}, {8, "0x20"},
                                      {9, "2147483648"}, {31, "+3"}, {33, "$FFFFFFFF"}, {32, "\x82\x50"}}));
    WindowPlacement p;
    ASSERT_TRUE(ReadSettingsFile(path(), p));
    EXPECT_EQ(PcUserNo, 12);
    EXPECT_EQ(p.mainLeft, 0);
    EXPECT_EQ(p.mainTop, 16);
    EXPECT_EQ(p.mainWidth, 32);
    EXPECT_EQ(p.mainHeight, 0);
    EXPECT_EQ(PenType, 3);
    EXPECT_EQ(PenSize, 0); // full-width digit read as CP932 bytes is not a number
    EXPECT_EQ(PenColor, -1);
}

TEST_F(SettingsFileTest, DamagedBytesNeitherCrashNorShiftLines)
{
    // Broken CP932 (a lead byte with no trail, a lone trail), NUL bytes.
    static const char head[] = "\x81\r\n\x80\xff\xfe\r\nA\0B\r\n";
    QByteArray broken(head, sizeof head - 1);
    broken += fileWithLines({}).mid(fileWithLines({}).indexOf("104\r\n"));
    writeBytes(path(), broken);
    WindowPlacement p;
    ASSERT_TRUE(ReadSettingsFile(path(), p));
    EXPECT_EQ(DatabaseName.size(), 3);
    EXPECT_EQ(PcUserNo, 104);
    EXPECT_EQ(p.dialogs[4], QPoint(134, 135));
}

TEST_F(SettingsFileTest, LineBreaksInsideAValueDoNotShiftTheFile)
{
    PcUserName = QStringLiteral("山田\r\n太郎\n");
    SaveDir = QStringLiteral("/a\n/");
    PenColor = 77;
    WindowPlacement out;
    out.dialogs[4] = QPoint(5, 6);
    ASSERT_TRUE(WriteSettingsFile(path(), out));
    EXPECT_EQ(readBytes(path()).count('\n'), SettingsLineCount);
    WindowPlacement in;
    ASSERT_TRUE(ReadSettingsFile(path(), in));
    EXPECT_EQ(PcUserName, QStringLiteral("山田太郎"));
    EXPECT_EQ(SaveDir, QStringLiteral("/a/"));
    EXPECT_EQ(PenColor, 77);
    EXPECT_EQ(in.dialogs[4], QPoint(5, 6));
}

TEST_F(SettingsFileTest, NoFileOrNotARegularFileGivesTheDefaults)
{
    WindowPlacement p;
    ServerDataDir = QStringLiteral("stale");
    EXPECT_FALSE(ReadSettingsFile(path("missing.dat"), p));
    EXPECT_TRUE(ServerDataDir.isEmpty());
    EXPECT_EQ(ServerName, QStringLiteral("localhost:"));
    EXPECT_EQ(ListWidth, 320);

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.dat")));
    EXPECT_FALSE(ReadSettingsFile(path("folder.dat"), p));
    EXPECT_EQ(DatabaseName, QStringLiteral("PAINT.FDB"));

    // A pipe would block the start for ever; a device would never end.
    ASSERT_EQ(mkfifo(path("pipe.dat").toLocal8Bit().constData(), 0600), 0);
    EXPECT_FALSE(ReadSettingsFile(path("pipe.dat"), p));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path("zero.dat")));
    EXPECT_FALSE(ReadSettingsFile(path("zero.dat"), p));
    EXPECT_EQ(ListWidth, 320);
}

TEST_F(SettingsFileTest, FailedWritesKeepTheOldFile)
{
    ServerDataDir = QStringLiteral("/old/");
    WindowPlacement placement;
    ASSERT_TRUE(WriteSettingsFile(path(), placement));
    const QByteArray old = readBytes(path());
    ASSERT_FALSE(old.isEmpty());
    ServerDataDir = QString(300, QLatin1Char('x'));

    // The write runs out of room half way (a file size limit stops root too).
    {
        struct rlimit saved;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto *previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tight = saved;
        tight.rlim_cur = 64;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const bool written = WriteSettingsFile(path(), placement);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_FALSE(written);
    }
    EXPECT_EQ(readBytes(path()), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("draw.dat")});

    // The folder is a regular file: nothing can be created.
    writeBytes(path("plain"), "keep");
    EXPECT_FALSE(WriteSettingsFile(path("plain") + QStringLiteral("/draw.dat"), placement));
    EXPECT_EQ(readBytes(path("plain")), "keep");

    // The settings path is a folder: it stays a folder with its content.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("taken.dat/inner")));
    EXPECT_FALSE(WriteSettingsFile(path("taken.dat"), placement));
    EXPECT_TRUE(QDir(path("taken.dat/inner")).exists());

    // After all that, a sound write still works and replaces the file.
    ASSERT_TRUE(WriteSettingsFile(path(), placement));
    WindowPlacement in;
    ASSERT_TRUE(ReadSettingsFile(path(), in));
    EXPECT_EQ(ServerDataDir, QString(300, QLatin1Char('x')));
}

TEST(SettingsFileName, ExtensionReplacedOrAppended)
{
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/opt/paint/draw.exe")), QStringLiteral("/opt/paint/draw.dat"));
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/opt/paint/oekaki")), QStringLiteral("/opt/paint/oekaki.dat"));
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/opt/pa.int/oekaki")), QStringLiteral("/opt/pa.int/oekaki.dat"));
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/opt/a.b.c")), QStringLiteral("/opt/a.b.dat"));
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/opt/絵/お絵描き")), QStringLiteral("/opt/絵/お絵描き.dat"));
}

} // namespace
