// A real second program ended by SIGTERM while points wait, or killed (-9) while it
// stores or while a stroke it sends as it is drawn is under the mouse (also while its
// store cannot go on): started again, it stores every point of its journal exactly once.
#include "DelayRelay.h"
#include "Outages.h"
#include "TestDatabase.h"
#include "measure/BenchDatabase.h"

#include "core/journal/StrokeJournal.h"
#include "db/DataAccess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

constexpr int kUser = 4;
constexpr int kImage = 1;

// The program, driven through its stdin, with a journal folder of its own.
class Instance {
public:
    // display: an X server's to show its windows on (else offscreen).
    Instance(const QString &stateHome, const QStringList &args, const QString &display = QString())
    {
        p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display.isEmpty() ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
        p_.setProcessEnvironment(env);
        p_.start(QStringLiteral(OEKAKI_PAINT_INSTANCE), args);
        started_ = p_.waitForStarted(10000);
    }
    ~Instance()
    {
        if (p_.state() == QProcess::NotRunning)
            return;
        p_.write("quit\n");
        if (!p_.waitForFinished(10000))
            p_.kill();
        p_.waitForFinished(5000);
    }
    bool Started() const { return started_; }
    qint64 Pid() const { return p_.processId(); }

    // Sends a line (none when empty) and returns the next line of the answer; empty after `ms`.
    QString Command(const QString &line, int ms = 20000)
    {
        if (!line.isEmpty())
            p_.write((line + QLatin1Char('\n')).toUtf8());
        QDeadlineTimer deadline(ms);
        while (!p_.canReadLine() && p_.state() != QProcess::NotRunning && !deadline.hasExpired())
            p_.waitForReadyRead(50);
        return p_.canReadLine() ? QString::fromUtf8(p_.readLine()).trimmed() : QString();
    }
    // Sends the signal; true once the program has ended, normally, within `ms`.
    bool EndedBy(int signal, int ms)
    {
        ::kill(pid_t(p_.processId()), signal);
        if (!p_.waitForFinished(ms)) {
            p_.kill();
            p_.waitForFinished(5000);
            return false;
        }
        return true;
    }
    QProcess &Process() { return p_; }

private:
    QProcess p_;
    bool started_ = false;
};

// A stroke the program answers at once, while its worker stores it.
// "hold": the button is not released (the end comes while the person draws).
QString StrokeCommand(const std::vector<QPoint> &points, const char *verb = "draw")
{
    QString s = QString::fromLatin1(verb);
    for (const QPoint &p : points)
        s += QStringLiteral(" %1,%2").arg(p.x()).arg(p.y());
    return s;
}

std::vector<QPoint> Line(int x0, int y0, int count)
{
    std::vector<QPoint> p;
    for (int i = 0; i < count; ++i)
        p.emplace_back(x0 + 2 * i, y0 + (i % 3));
    return p;
}

// The picture with its list row (the journal's strokes go only into a picture still listed),
// read past the relay.
class Picture {
public:
    explicit Picture(const TestDatabase &t)
    {
        db_.ConnectDatabase(t.serverPath());
        ok_ = db_.IsConnected() && db_.CreateImgListTable()
              && db_.ExecuteSql({QStringLiteral("INSERT INTO IMGLIST (N, MN, INAME, SX, SY) VALUES (%1, %2, 'a', 120, 80)")
                                     .arg(kImage)
                                     .arg(kUser)});
    }
    bool Ok() const { return ok_; }
    int Count()
    {
        const int n = db_.TableExists(table()) ? db_.SelectAll(table(), QString()) : 0;
        db_.EndQuery();
        return n;
    }
    // Polls until the table holds `n` rows; false after `ms`.
    bool WaitForCount(int n, int ms, int pollMs = 20)
    {
        QDeadlineTimer deadline(ms);
        while (Count() != n) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(pollMs);
        }
        return true;
    }
    // n, mn, dn, x, y of every row in N order.
    std::vector<std::tuple<int, int, int, int, int>> Rows()
    {
        std::vector<std::tuple<int, int, int, int, int>> out;
        db_.ForEachRow(QStringLiteral("N,MN,DN,X,Y"), table(), QString(), QStringLiteral("N"),
                       [&](const QStringList &r) {
                           out.emplace_back(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt(),
                                            r[4].toInt());
                           return true;
                       });
        db_.EndQuery();
        return out;
    }

private:
    static QString table() { return QStringLiteral("IMG_%1").arg(kImage); }
    DataAccess db_;
    bool ok_ = false;
};

// Every point of the strokes once, in order, N without gaps, stroke k numbered k.
std::vector<std::tuple<int, int, int, int, int>> Expected(const std::vector<std::vector<QPoint>> &strokes)
{
    std::vector<std::tuple<int, int, int, int, int>> out;
    int n = 0;
    for (size_t k = 0; k < strokes.size(); ++k)
        for (const QPoint &p : strokes[k])
            out.emplace_back(++n, kUser, int(k) + 1, p.x(), p.y());
    return out;
}

int PointsIn(const std::vector<JournalStroke> &entries)
{
    int n = 0;
    for (const JournalStroke &e : entries)
        n += int(e.points.size());
    return n;
}

bool WaitUntil(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// What each case starts from: a fresh database with the picture, a journal folder of its own,
// and a relay in front of the server that the case can slow, pause or stop.
struct Scene {
    TestDatabase t;
    Picture picture{t};
    QTemporaryDir state;
    QString journal;
    DelayRelay relay;
    int port = 0;
    QStringList args;

    void SetUp()
    {
        ASSERT_TRUE(t.created());
        ASSERT_TRUE(picture.Ok());
        ASSERT_TRUE(state.isValid());
        journal = state.filePath(QStringLiteral("oekaki"));
        ASSERT_TRUE(relay.start(0));
        port = relay.port();
        args = {QStringLiteral("localhost/%1:").arg(port), t.folder(), t.fileName(),
                QString::number(kUser), QString::number(kImage), "120", "80"};
    }
};

} // namespace

TEST(PaintProcesses, SigtermWhilePointsWaitEndsPromptlyAndTheNextStartStoresThem)
{
    struct Case {
        const char *name;
        bool silent; // the network goes silent (the worker waits on a call) or refuses at once
    };
    const Case cases[] = {
        {"server refused", false},
        {"network silent, a call waiting for its answer", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        ASSERT_NO_FATAL_FAILURE(s.SetUp());
        // The fourth is still under the mouse when the signal comes.
        const std::vector<std::vector<QPoint>> strokes = {Line(5, 5, 3), Line(5, 20, 5), Line(5, 40, 4),
                                                          Line(5, 50, 3), Line(5, 60, 2)};
        qint64 endedAfter = -1;
        {
            Instance first(s.state.path(), s.args);
            ASSERT_TRUE(first.Started());
            ASSERT_EQ(first.Command(QString()), QStringLiteral("ready 0"));
            ASSERT_TRUE(first.Command(StrokeCommand(strokes[0]))== QStringLiteral("drawn"));
            ASSERT_TRUE(s.picture.WaitForCount(3, 15000)) << "the first stroke was not stored";

            // The server is away for the program.
            if (c.silent)
                s.relay.pause();
            else
                s.relay.stop();
            ASSERT_TRUE(first.Command(StrokeCommand(strokes[1]))== QStringLiteral("drawn"));
            ASSERT_TRUE(first.Command(StrokeCommand(strokes[2]))== QStringLiteral("drawn"));
            QString pending;
            EXPECT_TRUE(WaitUntil([&] { return (pending = first.Command("pending")) == "pending 9"; }, 15000))
                << "the program does not report 9 waiting points: " << pending.toStdString();

            ASSERT_EQ(first.Command(StrokeCommand(strokes[3], "hold")), QStringLiteral("held"));

            QElapsedTimer took;
            took.start();
            ASSERT_TRUE(first.EndedBy(SIGTERM, 5000)) << "still running 5 s after SIGTERM";
            endedAfter = took.elapsed();
            EXPECT_EQ(first.Process().exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(first.Process().exitCode(), 0);
        }
        const auto left = JournalEntry::PeekUnheld(s.journal);
        EXPECT_EQ(left.size(), 3u);
        EXPECT_EQ(PointsIn(left), 12);
        EXPECT_EQ(s.picture.Count(), 3);

        // Back, with whatever the silent network held dropped.
        s.relay.stop();
        s.relay.resume();
        ASSERT_TRUE(s.relay.start(0, 3050, s.port));
        QElapsedTimer back;
        back.start();
        Instance second(s.state.path(), s.args);
        ASSERT_TRUE(second.Started());
        ASSERT_TRUE(second.Command(QString()).startsWith("ready"));
        ASSERT_TRUE(s.picture.WaitForCount(15, 20000)) << "the journal's strokes were not stored: " << s.picture.Count();
        const qint64 storedAfter = back.elapsed();
        EXPECT_TRUE(WaitUntil([&] { return JournalEntry::PeekUnheld(s.journal).empty(); }, 10000))
            << "the journal still holds strokes";
        ASSERT_TRUE(second.Command(StrokeCommand(strokes[4]))== QStringLiteral("drawn"));
        ASSERT_TRUE(s.picture.WaitForCount(17, 15000));
        EXPECT_EQ(s.picture.Rows(), Expected(strokes));
        std::printf("[          ] SIGTERM, %s: ended %lld ms after the signal; the next start stored the 12 "
                    "points %lld ms after it began\n",
                    c.name, static_cast<long long>(endedAfter), static_cast<long long>(storedAfter));
    }
}

// The program is killed at a chosen moment of storing a stroke through a slow network;
// started again, the journal's "sending" note and the look for the statement's rows
// leave every point stored once.
TEST(PaintProcesses, KillDuringTheStoreLosesAndDoublesNothing)
{
    struct Case {
        const char *name;
        int killAt; // killed once this many points of the long stroke are committed
                    // (the statement's answer still on its way back); 0: right after mouse-up
                    // and the journal's sync
    };
    const Case cases[] = {
        {"right after mouse-up, its journal entry synced", 0},
        {"the stroke's statement committed, its answer (and so the stroke number) on its way", 12},
    };
    constexpr int kOneWayMs = 300; // the test has this long to see a commit before its answer arrives
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        ASSERT_NO_FATAL_FAILURE(s.SetUp());
        const std::vector<std::vector<QPoint>> strokes = {Line(5, 5, 3), Line(5, 30, 12), Line(5, 60, 2)};
        int storedAtKill = 0;
        {
            Instance first(s.state.path(), s.args);
            ASSERT_TRUE(first.Started());
            ASSERT_EQ(first.Command(QString()), QStringLiteral("ready 0"));
            ASSERT_TRUE(first.Command(StrokeCommand(strokes[0]))== QStringLiteral("drawn"));
            ASSERT_TRUE(s.picture.WaitForCount(3, 15000)) << "the first stroke was not stored";
            s.relay.setDelay(kOneWayMs * 1000);
            ASSERT_TRUE(first.Command(StrokeCommand(strokes[1]))== QStringLiteral("drawn"));
            if (c.killAt > 0) {
                ASSERT_TRUE(s.picture.WaitForCount(3 + c.killAt, 30000, 5))
                    << "the long stroke was not stored that far: " << s.picture.Count();
            }
            ::kill(pid_t(first.Pid()), SIGKILL);
            ASSERT_TRUE(first.Process().waitForFinished(5000)) << "not ended by SIGKILL";
            storedAtKill = s.picture.Count() - 3;
        }
        s.relay.setDelay(0);
        // What the dead program had sent is through the slow relay by then.
        QThread::msleep(3 * kOneWayMs);
        const auto left = JournalEntry::PeekUnheld(s.journal);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0].points.size(), strokes[1].size());
        if (c.killAt > 0) {
            // Killed between the commit and its answer: the journal cannot know.
            EXPECT_EQ(left[0].stored, 0);
            EXPECT_EQ(left[0].sendingN, 4);
            EXPECT_EQ(left[0].sendingCount, 12);
            EXPECT_EQ(left[0].sendingDn, 2);
        }

        QElapsedTimer back;
        back.start();
        Instance second(s.state.path(), s.args);
        ASSERT_TRUE(second.Started());
        ASSERT_TRUE(second.Command(QString()).startsWith("ready"));
        ASSERT_TRUE(s.picture.WaitForCount(15, 20000)) << "rows: " << s.picture.Count();
        const qint64 storedAfter = back.elapsed();
        EXPECT_TRUE(WaitUntil([&] { return JournalEntry::PeekUnheld(s.journal).empty(); }, 10000))
            << "the journal still holds strokes";
        ASSERT_TRUE(second.Command(StrokeCommand(strokes[2]))== QStringLiteral("drawn"));
        ASSERT_TRUE(s.picture.WaitForCount(17, 15000)) << "rows: " << s.picture.Count();
        EXPECT_EQ(s.picture.Rows(), Expected(strokes));
        std::printf("[          ] kill -9, %s: %d of 12 points stored at the kill; the rest stored %lld ms "
                    "after the next start began\n",
                    c.name, storedAtKill, static_cast<long long>(storedAfter));
    }
}

// A stroke under the mouse goes out slice by slice; the program ends before the button is
// released: by SIGTERM, right after more moves (the session end keeps them), or by kill -9
// once every slice is out, or while the store cannot go on (a silent line, a row locked by
// another client, another window opening a large picture), whatever the database thread
// does, every point drawn is in the journal shortly after: the next start stores what was
// drawn once, with one DN.
TEST(PaintProcesses, AStrokeCutMidDragIsStoredOnceWithItsNumber)
{
    enum class Fault { None, Silent, Locked, Opening };
    struct Case {
        const char *name;
        int signal;
        Fault fault;
    };
    const Case cases[] = {
        {"SIGTERM", SIGTERM, Fault::None},
        {"SIGKILL, every slice stored", SIGKILL, Fault::None},
        {"SIGKILL, the line silent", SIGKILL, Fault::Silent},
        {"SIGKILL, the next number locked by another client", SIGKILL, Fault::Locked},
        {"SIGKILL, another window opening a large picture", SIGKILL, Fault::Opening},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        ASSERT_NO_FATAL_FAILURE(s.SetUp());
        const std::vector<QPoint> held = Line(5, 30, 60);
        const std::vector<QPoint> firstPart(held.begin(), held.begin() + 20);
        const std::vector<std::vector<QPoint>> strokes = {Line(5, 5, 3), held, Line(5, 60, 2)};
        if (c.fault == Fault::Opening) {
            DataAccess db;
            db.ConnectDatabase(s.t.serverPath());
            ASSERT_TRUE(measure::FillBigPicture(db, 300000, QStringLiteral("IMG_2")));
        }
        std::unique_ptr<UncommittedChange> holder;
        {
            Instance first(s.state.path(), s.args);
            ASSERT_TRUE(first.Started());
            ASSERT_EQ(first.Command(QString()), QStringLiteral("ready 0"));
            ASSERT_EQ(first.Command(StrokeCommand(strokes[0])), QStringLiteral("drawn"));
            ASSERT_EQ(first.Command(StrokeCommand(firstPart, "hold")), QStringLiteral("held"));
            ASSERT_TRUE(s.picture.WaitForCount(3 + 20, 15000))
                << "the held stroke did not go out while drawn: " << s.picture.Count();
            if (c.fault == Fault::Silent)
                s.relay.pause();
            if (c.fault == Fault::Locked) {
                holder = std::make_unique<UncommittedChange>(s.t.serverPath(),
                                                             "INSERT INTO IMG_1 VALUES (24, 9, 1, 0, 1, 0, 1, 1)");
                ASSERT_TRUE(holder->ready()) << "isql did not run the insert";
            }
            if (c.fault == Fault::Opening) {
                ASSERT_EQ(first.Command(QStringLiteral("open 2 1000 1000")), QStringLiteral("opening"));
            }
            // The rest drawn over a while, as a hand does.
            for (size_t from = 20; from < held.size(); from += 10) {
                const std::vector<QPoint> part(held.begin() + long(from), held.begin() + long(from) + 10);
                ASSERT_EQ(first.Command(StrokeCommand(part, "move")), QStringLiteral("moved"));
                QThread::msleep(30);
            }
            if (c.fault != Fault::None) {
                // Within a slice and a sync, on a busy machine.
                QThread::msleep(300);
            } else if (c.signal == SIGKILL) {
                ASSERT_TRUE(s.picture.WaitForCount(3 + 60, 15000)) << s.picture.Count();
            }
            if (c.signal == SIGKILL) {
                ::kill(pid_t(first.Pid()), SIGKILL);
                ASSERT_TRUE(first.Process().waitForFinished(5000)) << "not ended by SIGKILL";
            } else {
                ASSERT_TRUE(first.EndedBy(SIGTERM, 5000)) << "still running 5 s after SIGTERM";
            }
        }
        const int storedAtKill = s.picture.Count() - 3;
        // The fault ends: the silent line's connections are dropped, the other client's insert undone.
        if (c.fault == Fault::Silent) {
            s.relay.stop();
            s.relay.resume();
            ASSERT_TRUE(s.relay.start(0, 3050, s.port));
        }
        holder.reset();
        const auto left = JournalEntry::PeekUnheld(s.journal);
        if (c.signal == SIGKILL) {
            // Ended by nobody: the entry holds every point drawn, the end not yet noted.
            ASSERT_EQ(left.size(), 1u);
            EXPECT_TRUE(left[0].open);
            EXPECT_EQ(left[0].points.size(), held.size()) << "points drawn before the kill are not in the journal";
        } else if (!left.empty()) {
            // Not all stored by the ending program: the journal has every point drawn.
            ASSERT_EQ(left.size(), 1u);
            EXPECT_EQ(left[0].points.size(), held.size());
            EXPECT_FALSE(left[0].open) << "the session's end ends the stroke";
        }
        Instance second(s.state.path(), s.args);
        ASSERT_TRUE(second.Started());
        ASSERT_TRUE(second.Command(QString()).startsWith("ready"));
        ASSERT_TRUE(s.picture.WaitForCount(3 + 60, 20000)) << "rows: " << s.picture.Count();
        EXPECT_TRUE(WaitUntil([&] { return JournalEntry::PeekUnheld(s.journal).empty(); }, 10000))
            << "the journal still holds strokes";
        ASSERT_EQ(second.Command(StrokeCommand(strokes[2])), QStringLiteral("drawn"));
        ASSERT_TRUE(s.picture.WaitForCount(3 + 60 + 2, 15000)) << "rows: " << s.picture.Count();
        EXPECT_EQ(s.picture.Rows(), Expected(strokes));
        std::printf("[          ] %s: %d of 60 held points stored at the end, every one after the restart\n", c.name,
                    storedAtKill);
    }
}

// An X server of the test's own (Xvfb), for as long as the object lives; its display is
// empty when there is none.
class XServer {
public:
    XServer()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        // It picks a free display and writes its number.
        p_.start(xvfb, {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        QDeadlineTimer deadline(10000);
        while (p_.state() != QProcess::NotRunning && !p_.canReadLine() && !deadline.hasExpired())
            p_.waitForReadyRead(50);
        if (p_.canReadLine())
            display_ = QStringLiteral(":") + QString::fromLatin1(p_.readLine()).trimmed();
    }
    ~XServer()
    {
        p_.terminate();
        if (!p_.waitForFinished(5000))
            p_.kill();
        p_.waitForFinished(5000);
    }
    QString Display() const { return display_; }

private:
    QProcess p_;
    QString display_;
};

// The mouse on an X display, driven as a hand drives it: pressed at the first position,
// moved through the others a few milliseconds apart, released at the last.
bool DragOn(const QString &display, const std::vector<QPoint> &at)
{
    QStringList args{"mousemove", QString::number(at[0].x()), QString::number(at[0].y()), "mousedown", "1"};
    for (size_t i = 1; i < at.size(); ++i)
        args << "sleep" << "0.004" << "mousemove" << QString::number(at[i].x()) << QString::number(at[i].y());
    args << "mouseup" << "1";
    QProcess xdotool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    xdotool.setProcessEnvironment(env);
    xdotool.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")), args);
    if (xdotool.waitForFinished(20000))
        return xdotool.exitCode() == 0;
    xdotool.kill();
    xdotool.waitForFinished(5000);
    return false;
}

// On a real X server, which merges mouse moves that queue up while the window is busy
// unless told not to: every position of a drag is a point, also through a stall of the
// window in its middle.
TEST(PaintProcesses, EveryPositionOfADragIsAPointThroughAStalledWindow)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "no xdotool";
    XServer x;
    if (x.Display().isEmpty())
        GTEST_SKIP() << "no X server (Xvfb)";
    const struct {
        const char *name;
        int stallMs;
    } cases[] = {{"a 60 ms stall at the 20th move", 60}, {"a 200 ms stall at the 20th move", 200}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        ASSERT_NO_FATAL_FAILURE(s.SetUp());
        Instance program(s.state.path(), s.args, x.Display());
        ASSERT_TRUE(program.Started());
        ASSERT_EQ(program.Command(QString()), QStringLiteral("ready 0"));
        // The strip of who is here comes with the first presence read and moves the canvas
        // down: the canvas is found once it is there.
        for (QDeadlineTimer d(5000);
             !d.hasExpired() && program.Command(QStringLiteral("presence")).split(QLatin1Char(' ')).value(1).isEmpty();)
            QThread::msleep(50);
        const QStringList at = program.Command(QStringLiteral("where")).split(QLatin1Char(' '));
        ASSERT_EQ(at.value(0), QStringLiteral("at"));
        const QPoint origin(at.value(1).toInt(), at.value(2).toInt());
        ASSERT_EQ(program.Command(QStringLiteral("stall 20 %1").arg(c.stallMs)), QStringLiteral("stalling"));
        std::vector<QPoint> drag, screen;
        for (int i = 0; i < 60; ++i) {
            drag.emplace_back(5 + i, 20 + (i % 3) * 7);
            screen.push_back(origin + drag.back());
        }
        ASSERT_TRUE(DragOn(x.Display(), screen)) << "xdotool failed";
        EXPECT_TRUE(s.picture.WaitForCount(60, 15000)) << s.picture.Count() << " of 60 positions stored";
        QThread::msleep(300); // nothing more comes
        EXPECT_EQ(s.picture.Rows(), Expected({drag}));
    }
}

// The program's end right after a mouse-up, with the server slow to answer: the journal
// thread ends the process once the stroke is synced, so the stroke is either stored or
// waits in the journal, whole, for the next start; nothing of it is lost.
TEST(PaintProcesses, TheEndAfterAMouseUpComesOnceTheStrokeIsJournaled)
{
    Scene s;
    ASSERT_NO_FATAL_FAILURE(s.SetUp());
    const std::vector<QPoint> stroke = Line(5, 5, 30);
    Instance first(s.state.path(), s.args);
    ASSERT_TRUE(first.Started());
    ASSERT_EQ(first.Command(QString()), QStringLiteral("ready 0"));
    s.relay.setDelay(300 * 1000);
    QString line = QStringLiteral("drawexit");
    for (const QPoint &p : stroke)
        line += QStringLiteral(" %1,%2").arg(p.x()).arg(p.y());
    first.Process().write((line + QLatin1Char('\n')).toUtf8());
    ASSERT_TRUE(first.Process().waitForFinished(10000)) << "the journal thread did not end the process";
    EXPECT_EQ(first.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.Process().exitCode(), 7);
    s.relay.setDelay(0);
    QThread::msleep(900); // what the ended program had sent is through the slow relay by then
    const int stored = s.picture.Count();
    const auto left = JournalEntry::PeekUnheld(s.journal);
    EXPECT_TRUE((stored == 0 && left.size() == 1u && PointsIn(left) == int(stroke.size()))
                || (stored == int(stroke.size()) && left.empty()))
        << stored << " rows stored, " << left.size() << " entries left";
}
