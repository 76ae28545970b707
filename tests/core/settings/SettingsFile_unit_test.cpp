#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <csignal>
#include <optional>
#include <sys/time.h>
#include <sys/wait.h>
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

namespace {

// A file whose reads fail from a given byte on, as a failing disk would.
class FailingDevice : public QIODevice {
public:
    FailingDevice(QByteArray bytes, qint64 failAt) : bytes_(std::move(bytes)), failAt_(failAt)
    {
        open(QIODevice::ReadOnly);
    }
    qint64 size() const override { return bytes_.size(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 at = pos();
        if (at >= failAt_)
            return -1;
        const qint64 n = qMin(maxSize, qMin<qint64>(failAt_, bytes_.size()) - at);
        memcpy(data, bytes_.constData() + at, size_t(n));
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 failAt_;
};

TEST_F(SettingsFileTest, AReadThatFailsPartWayKeepsTheWindowLinesNotYetRead)
{
    const QByteArray full = fileWithLines({});
    auto offsetOfLine = [&full](int n) { // first byte of line n (1-based)
        qint64 at = 0;
        for (int i = 1; i < n; ++i)
            at = full.indexOf('\n', at) + 1;
        return at;
    };
    struct Case {
        qint64 failAt;
        int linesRead; // whole lines before the failure
    };
    const Case cases[] = {
        {0, 0},
        {offsetOfLine(6), 5},
        {offsetOfLine(7) + 1, 6}, // inside line 7: the cut line is not taken
        {offsetOfLine(10), 9},
        {offsetOfLine(17), 16},
        {offsetOfLine(35), 34},
        {offsetOfLine(35) + 2, 34},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failAt);
        FailingDevice device(full, c.failAt);
        WindowPlacement p;
        p.mainLeft = -1;
        p.mainTop = -2;
        p.mainWidth = 640;
        p.mainHeight = 480;
        p.dialogs = {QPoint(1, 2), QPoint(3, 4), QPoint(5, 6), QPoint(7, 8), QPoint(9, 10)};
        const WindowPlacement before = p;
        ASSERT_TRUE(ReadSettingsFrom(device, p));
        auto value = [&](int line, int current) { return line <= c.linesRead ? 100 + line : current; };
        EXPECT_EQ(p.mainLeft, value(6, before.mainLeft));
        EXPECT_EQ(p.mainTop, value(7, before.mainTop));
        EXPECT_EQ(p.mainWidth, value(8, before.mainWidth));
        EXPECT_EQ(p.mainHeight, value(9, before.mainHeight));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(p.dialogs[i].x(), value(10 + 2 * i, before.dialogs[i].x()));
            EXPECT_EQ(p.dialogs[i].y(), value(11 + 2 * i, before.dialogs[i].y()));
        }
        EXPECT_EQ(p.dialogs[4], QPoint(value(34, 9), value(35, 10)));
        // The settings not read keep their defaults.
        EXPECT_EQ(ServerName, c.linesRead >= 1 ? QStringLiteral("t1") : QStringLiteral("localhost:"));
        EXPECT_EQ(ListWidth, c.linesRead >= 18 ? 118 : 320);
        EXPECT_EQ(PenColor, c.linesRead >= 33 ? 133 : 0);
    }
}

// Root passes every permission check; folders and files made read-only are only
// read-only for another user, so the checks run as nobody.
class Unprivileged {
public:
    Unprivileged()
    {
        if (geteuid() == 0) {
            EXPECT_EQ(setegid(65534), 0);
            EXPECT_EQ(seteuid(65534), 0);
            switched_ = true;
        }
    }
    ~Unprivileged()
    {
        if (switched_) {
            EXPECT_EQ(seteuid(0), 0);
            EXPECT_EQ(setegid(0), 0);
        }
    }

private:
    bool switched_ = false;
};

TEST_F(SettingsFileTest, WrittenBesideTheExecutableOnlyInAnOwnFolderElseInTheUsersFolder)
{
    // Who runs, whose folder, how the file beside the executable stands, where the settings go, what is read.
    enum Beside { None, Writable, ReadOnly };
    enum Runner { Nobody, Root };
    struct Case {
        const char *name;
        Runner runner;
        bool folderOwned; // by the running user
        bool folderWritable;
        Beside beside;
        bool userFileBefore;
        bool writesBeside;
        bool readsBeside; // before writing
    };
    const Case cases[] = {
        {"usual", Nobody, true, true, Writable, false, true, true},
        {"usual, an old user file too", Nobody, true, true, Writable, true, true, true},
        {"first start in an own folder", Nobody, true, true, None, false, true, true},
        {"own folder, only a user file", Nobody, true, true, None, true, true, false},
        {"read-only own folder, writable file: never in place", Nobody, true, false, Writable, false, false, true},
        {"read-only own folder, writable file, user file from before", Nobody, true, false, Writable, true, false, false},
        {"installed: nothing beside", Nobody, false, false, None, false, false, false},
        {"installed, user file from before", Nobody, false, false, None, true, false, false},
        {"read-only file beside, first start", Nobody, false, false, ReadOnly, false, false, true},
        {"read-only file beside, user file from before", Nobody, false, false, ReadOnly, true, false, false},
        {"read-only file in an own writable folder", Nobody, true, true, ReadOnly, true, false, false},
        {"someone else's writable folder: no new file there", Nobody, false, true, None, false, false, false},
        {"someone else's writable folder and file", Nobody, false, true, Writable, false, false, true},
        {"root in its own program folder: its configuration folder", Root, true, true, None, false, false, false},
        {"root, a file beside from before", Root, true, true, Writable, false, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.runner == Root && geteuid() != 0)
            continue; // only root can run as root
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const QString program = root.path() + QStringLiteral("/bin");
        const QString home = root.path() + QStringLiteral("/home");
        ASSERT_TRUE(QDir().mkpath(program));
        ASSERT_TRUE(QDir().mkpath(home));
        (void)chmod(root.path().toLocal8Bit().constData(), 0755);
        (void)chown(home.toLocal8Bit().constData(), 65534, 65534);
        SettingsPlaces places{program + QStringLiteral("/draw.dat"), home + QStringLiteral("/draw/draw.dat")};

        AssignDefaultSettings();
        if (c.beside != None) {
            ServerDataDir = QStringLiteral("/beside/");
            ASSERT_TRUE(WriteSettingsFile(places.beside, WindowPlacement()));
            (void)chmod(places.beside.toLocal8Bit().constData(), c.beside == Writable ? 0666 : 0444);
            if (c.folderOwned && c.runner == Nobody)
                (void)chown(places.beside.toLocal8Bit().constData(), 65534, 65534);
        }
        const QByteArray besideBefore = readBytes(places.beside);
        if (c.userFileBefore) {
            ServerDataDir = QStringLiteral("/user/");
            ASSERT_TRUE(WriteSettingsFile(places.user, WindowPlacement()));
            (void)chown(places.user.toLocal8Bit().constData(), 65534, 65534);
            (void)chown(QFileInfo(places.user).path().toLocal8Bit().constData(), 65534, 65534);
        }
        if (c.folderOwned && c.runner == Nobody)
            (void)chown(program.toLocal8Bit().constData(), 65534, 65534);
        (void)chmod(program.toLocal8Bit().constData(), c.folderWritable ? 0777 : 0555);
        {
            std::optional<Unprivileged> nobody;
            if (c.runner == Nobody)
                nobody.emplace();
            const QString read = SettingsFileToRead(places);
            if (c.beside == None && !c.userFileBefore) {
                EXPECT_FALSE(QFileInfo::exists(read));
            } else {
                EXPECT_EQ(read, c.readsBeside ? places.beside : places.user);
                WindowPlacement p;
                ASSERT_TRUE(ReadSettingsFile(read, p));
                EXPECT_EQ(ServerDataDir, c.readsBeside ? QStringLiteral("/beside/") : QStringLiteral("/user/"));
            }

            ServerDataDir = QStringLiteral("/new/");
            const QString target = SettingsFileToWrite(places);
            EXPECT_EQ(target, c.writesBeside ? places.beside : places.user);
            EXPECT_TRUE(WriteSettingsFile(target, WindowPlacement()));

            // The next start reads what was written.
            EXPECT_EQ(SettingsFileToRead(places), target);
            WindowPlacement p;
            ASSERT_TRUE(ReadSettingsFile(SettingsFileToRead(places), p));
            EXPECT_EQ(ServerDataDir, QStringLiteral("/new/"));
        }
        // A file beside that is not written to stays as it was; none is created.
        if (!c.writesBeside) {
            EXPECT_EQ(readBytes(places.beside), besideBefore);
            EXPECT_EQ(QFileInfo::exists(places.beside), c.beside != None);
        }
        // No temporary or probe file is left behind anywhere.
        EXPECT_EQ(QDir(program).entryList(QDir::Files | QDir::Hidden).size(), c.beside == None && !c.writesBeside ? 0 : 1);
        if (QFileInfo::exists(places.user)) {
            EXPECT_EQ(QDir(QFileInfo(places.user).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
        (void)chmod(program.toLocal8Bit().constData(), 0755);
    }
}

TEST_F(SettingsFileTest, AsRootTheInstalledProgramUsesTheUsersFolder)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const SettingsPlaces installed = SettingsPlacesFor(QStringLiteral("/usr/bin/oekaki"));
    ASSERT_FALSE(installed.user.isEmpty());
    EXPECT_EQ(SettingsFileToWrite(installed), installed.user);
}

// A write killed half way (here by the file size limit's signal, as a crash or the
// alarm would) leaves its temporary file; the next write removes it once it is old
// enough not to be another running copy's write in progress.
TEST_F(SettingsFileTest, LeftoversOfAWriteCutShortAreRemoved)
{
    ServerDataDir = QStringLiteral("/old/");
    ASSERT_TRUE(WriteSettingsFile(path(), WindowPlacement()));
    const QByteArray old = readBytes(path());
    ServerDataDir = QString(3000, QLatin1Char('x'));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit tight{64, 64};
        std::signal(SIGXFSZ, SIG_DFL);
        setrlimit(RLIMIT_FSIZE, &tight);
        WriteSettingsFile(path(), WindowPlacement());
        _exit(0);
    }
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(child, &status, WNOHANG) == 0; ++i)
        usleep(10000);
    if (waitpid(child, &status, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the writing process did not end within 10 s";
    }
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    EXPECT_EQ(readBytes(path()), old);
    // Where the file system has no unnamed temporary files, the cut write leaves a
    // named one; make one the same way when it left none.
    QStringList left = QDir(dir.path()).entryList({QStringLiteral("draw.dat.*")}, QDir::Files | QDir::Hidden);
    ASSERT_LE(left.size(), 1) << left.join(' ').toStdString();
    QString crashed;
    if (left.isEmpty()) {
        QTemporaryFile named(path() + QStringLiteral(".XXXXXX"));
        named.setAutoRemove(false);
        ASSERT_TRUE(named.open());
        named.write("t1\r\n/ol");
        crashed = named.fileName();
    } else {
        crashed = dir.path() + QLatin1Char('/') + left.first();
    }

    // Files that only look alike, and a young one, stay.
    const QStringList kept{QStringLiteral("draw.dat.bak"), QStringLiteral("draw.dat.1234567"),
                           QStringLiteral("other.dat.ABC123"), QStringLiteral("draw.dat.Young1")};
    for (const QString &k : kept)
        writeBytes(path(k.toLatin1().constData()), "keep");
    auto age = [](const QString &file, int seconds) {
        const struct timeval then[2] = {{time(nullptr) - seconds, 0}, {time(nullptr) - seconds, 0}};
        ASSERT_EQ(utimes(file.toLocal8Bit().constData(), then), 0);
    };
    for (const QString &k : kept.mid(0, 3))
        age(path(k.toLatin1().constData()), 3600);

    // Still young: another copy could be writing it.
    ASSERT_TRUE(WriteSettingsFile(path(), WindowPlacement()));
    EXPECT_TRUE(QFileInfo::exists(crashed));

    age(crashed, LeftoverAgeSeconds + 5);
    ASSERT_TRUE(WriteSettingsFile(path(), WindowPlacement()));
    EXPECT_FALSE(QFileInfo::exists(crashed));
    QStringList expected = kept;
    expected << QStringLiteral("draw.dat");
    expected.sort();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    WindowPlacement p;
    ASSERT_TRUE(ReadSettingsFile(path(), p));
    EXPECT_EQ(ServerDataDir, QString(3000, QLatin1Char('x')));
}

TEST_F(SettingsFileTest, AFailedWriteSaysWhichFileAndWhy)
{
    const struct {
        const char *name;
        QString file;
        const char *reasonPart;
    } cases[] = {
        {"folder is a file", QStringLiteral("plain/draw.dat"), "plain"},
        {"name is a folder", QStringLiteral("taken.dat"), ""},
    };
    writeBytes(path("plain"), "keep");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.dat")));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString why;
        EXPECT_FALSE(WriteSettingsFile(dir.path() + QLatin1Char('/') + c.file, WindowPlacement(), &why));
        EXPECT_FALSE(why.isEmpty());
        EXPECT_TRUE(why.contains(QString::fromLatin1(c.reasonPart))) << why.toStdString();
    }
    QString why = QStringLiteral("untouched");
    EXPECT_TRUE(WriteSettingsFile(path(), WindowPlacement(), &why));
}

TEST_F(SettingsFileTest, NoSecondPlaceMeansBesideTheExecutable)
{
    const SettingsPlaces places{path(), QString()};
    EXPECT_EQ(SettingsFileToWrite(places), path());
    EXPECT_EQ(SettingsFileToRead(places), path());
    const SettingsPlaces installed = SettingsPlacesFor(QStringLiteral("/usr/bin/oekaki"));
    EXPECT_EQ(installed.beside, QStringLiteral("/usr/bin/oekaki.dat"));
    EXPECT_TRUE(installed.user.endsWith(QStringLiteral("/oekaki/oekaki.dat"))) << installed.user.toStdString();
}

TEST_F(SettingsFileTest, SaveDirKeepsTheLastFolderTheFileCanHold)
{
    struct Step {
        QString folder;
        bool taken;
    };
    const Step steps[] = {
        {QStringLiteral("/home/user/絵/"), true},
        {QStringLiteral("/home/user/café/"), false},
        {QStringLiteral("/home/user/😀/"), false},
        {QStringLiteral("C:\\データ\\①\\"), true},
        {QStringLiteral("/tmp/한국/"), false},
        {QString(), true},
        {QStringLiteral("/srv/ﾃｽﾄ/"), true},
        {QStringLiteral("/srv/Ω∀/"), true},
        {QStringLiteral("/srv/ß/"), false},
    };
    QString expected;
    for (const Step &s : steps) {
        SCOPED_TRACE(s.folder.toStdString());
        EXPECT_EQ(RememberSaveDir(s.folder), s.taken);
        if (s.taken)
            expected = s.folder;
        EXPECT_EQ(SaveDir, expected);
        ASSERT_TRUE(WriteSettingsFile(path(), WindowPlacement()));
        AssignDefaultSettings();
        WindowPlacement p;
        ASSERT_TRUE(ReadSettingsFile(path(), p));
        EXPECT_EQ(SaveDir, expected);
    }
}

} // namespace
