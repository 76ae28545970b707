#include "core/journal/StrokeJournal.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <climits>
#include <csignal>
#include <functional>
#include <iostream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>
#include <zlib.h>

namespace {

const QString DbA = QStringLiteral("127.0.0.1/3050:/データ/絵.FDB");
const QString DbB = QStringLiteral("127.0.0.1/3050:/データ/別.FDB");

JournalStroke stroke(const QString &database, int imageNo, int pointCount = 3)
{
    JournalStroke s;
    s.database = database;
    s.imageNo = imageNo;
    s.user = 42;
    s.penType = 3;
    s.penSize = 17;
    s.penColor = 0x00ABCDEF;
    const QPoint edge[] = {{INT_MIN, INT_MAX}, {-1, 0}, {640, -480}, {7, 7}};
    for (int i = 0; i < pointCount; ++i)
        s.points.push_back(i < 4 ? edge[i] : QPoint(i, -i));
    // The picture it was drawn in, by the highest row drawn then.
    s.anchorN = 5000000001LL;
    s.anchorRow = QStringLiteral("7,3,0,1,-16777216,640,-480");
    return s;
}

std::unique_ptr<JournalEntry> create(const QString &folder, const JournalStroke &s)
{
    QString error;
    auto e = JournalEntry::Create(folder, s, &error);
    EXPECT_TRUE(e) << qPrintable(error);
    return e;
}

QByteArray readBytes(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// One progress note: 'B' sending, 'C' stored, 'R' refused; of `count` points from the first not stored;
// 'A' the attachment n sends from now on; 'P' `count` points drawn since appended, 'E' the stroke ended.
struct Note {
    char kind;
    qint64 n = 0;
    int dn = 0;
    int count = 1;
};

// The points drawn after the first block, from index `from` on.
std::vector<QPoint> appended(int from, int count)
{
    std::vector<QPoint> p;
    for (int i = from; i < from + count; ++i)
        p.emplace_back(1000 + i, -i);
    return p;
}

// The start an attachment of that number noted (its database is DbIdentity).
QString startOf(qint64 attachment)
{
    return QStringLiteral("2026-12-08 07:00:%1.0000").arg(attachment % 60, 2, 10, QLatin1Char('0'));
}
const QString DbIdentity = QStringLiteral("2026-01-02 03:04:05.6789");

void sentOn(JournalStroke &s, qint64 attachment)
{
    s.attachment = attachment;
    s.attachmentStarted = attachment > 0 ? startOf(attachment) : QString();
    s.attachmentDatabase = attachment > 0 ? DbIdentity : QString();
}

void apply(JournalEntry &e, const Note &note)
{
    switch (note.kind) {
    case 'B': e.NoteSending(note.n, note.dn, note.count); break;
    case 'C': e.NoteStored(note.n, note.dn, note.count); break;
    case 'R': e.NoteNotSent(); break;
    case 'A': e.NoteSender(note.n, startOf(note.n), DbIdentity); break;
    case 'P': e.NoteAppended(appended(int(e.Stroke().points.size()), note.count)); break;
    case 'E': e.NoteEnded(); break;
    }
}

JournalStroke withProgress(JournalStroke s, int dn, int stored, qint64 lastN, qint64 sendingN = 0, int sendingDn = 0,
                           int sendingCount = 1)
{
    s.dn = dn;
    s.stored = stored;
    s.lastN = lastN;
    s.sendingN = sendingN;
    s.sendingDn = sendingDn;
    s.sendingCount = sendingN > 0 ? sendingCount : 0;
    return s;
}

const qint64 BigN = 5000000000LL;   // above 32 bits: the byte order of the whole i64 counts

struct ProgressCase {
    const char *name;
    int points;
    std::vector<Note> notes;
    int dn, stored;
    qint64 lastN, sendingN;
    int sendingDn;
    int sendingCount = 1;
    qint64 attachment = 0;
    // A stroke sent while drawn: begun open, with this many points in the end, still open or not.
    bool open = false;
    int finalPoints = 0; // 0: `points`
    bool stillOpen = false;
};

const ProgressCase progressCases[] = {
    {"nothing sent yet", 3, {}, 0, 0, 0, 0, 0},
    {"first point sent, no answer", 3, {{'B', 1, 5}}, 0, 0, 0, 1, 5},
    {"first point stored", 3, {{'B', 1, 5}, {'C', 1, 5}}, 5, 1, 1, 0, 0},
    {"refused, then sent again and stored, next sent",
     3, {{'B', 1, 5}, {'R'}, {'B', 3, 5}, {'C', 3, 5}, {'B', 4, 5}}, 5, 1, 3, 4, 5},
    {"every point stored with large N",
     4, {{'C', BigN, 70000}, {'C', BigN + 1, 70000}, {'C', BigN + 9, 70000}, {'C', BigN + 10, 70000}},
     70000, 4, BigN + 10, 0, 0},
    {"notes past the last point change nothing",
     2, {{'C', 1, 2}, {'C', 2, 2}, {'C', 3, 2}, {'B', 4, 2}, {'R'}}, 2, 2, 2, 0, 0},
    {"a statement of three points sent, no answer", 4, {{'B', 10, 2, 3}}, 0, 0, 0, 10, 2, 3},
    {"three stored as one statement higher up, the last one sent",
     4, {{'B', 10, 2, 3}, {'C', 12, 3, 3}, {'B', 15, 3, 1}}, 3, 3, 14, 15, 3, 1},
    {"a statement larger than the points left is no note",
     3, {{'B', 10, 2, 4}, {'C', 10, 2, 4}}, 0, 0, 0, 0, 0},
    {"a refusal after a statement of two points: nothing of it stored",
     3, {{'B', 10, 2, 2}, {'R'}}, 0, 0, 0, 0, 0},
    {"sent on an attachment, no answer", 3, {{'A', BigN}, {'B', 1, 5}}, 0, 0, 0, 1, 5, 1, BigN},
    {"refused, then sent again on another attachment",
     3, {{'A', 7}, {'B', 1, 5}, {'R'}, {'A', 8}, {'B', 1, 5, 2}}, 0, 0, 0, 1, 5, 2, 8},
    {"stored on one attachment, the rest sent on it again: noted once",
     3, {{'A', 7}, {'B', 1, 5}, {'C', 1, 5}, {'A', 7}, {'B', 2, 5}}, 5, 1, 1, 2, 5, 1, 7},
    {"drawn: first block stored, two more appended, still held",
     2, {{'B', 1, 4, 2}, {'C', 1, 4, 2}, {'P', 0, 0, 3}, {'P', 0, 0, 1}}, 4, 2, 2, 0, 0, 1, 0, true, 6, true},
    {"drawn: an appended block sent without answer, then the end",
     2, {{'C', 1, 4, 2}, {'P', 0, 0, 2}, {'B', 3, 4, 2}, {'E'}}, 4, 2, 2, 3, 4, 2, 0, true, 4, false},
    {"drawn: ended, appended after its end is no note",
     2, {{'E'}, {'P', 0, 0, 2}}, 0, 0, 0, 0, 0, 1, 0, true, 2, false},
    {"an append to a stroke not drawn open is no note", 2, {{'P', 0, 0, 2}}, 0, 0, 0, 0, 0},
};

class StrokeJournalTest : public ::testing::Test {
protected:
    QString folder() const { return dir.path(); }
    QTemporaryDir dir;
};

TEST_F(StrokeJournalTest, ProgressReadsBackAsNoted)
{
    for (bool sync : {false, true}) {
        for (const ProgressCase &c : progressCases) {
            SCOPED_TRACE(std::string(c.name) + (sync ? ", synced" : ", not synced"));
            JournalStroke drawn = stroke(DbA, 12, c.points);
            drawn.open = c.open;
            JournalStroke full = drawn;
            const std::vector<QPoint> more = appended(c.points, std::max(c.finalPoints - c.points, 0));
            full.points.insert(full.points.end(), more.begin(), more.end());
            full.open = c.stillOpen;
            JournalStroke expected =
                withProgress(full, c.dn, c.stored, c.lastN, c.sendingN, c.sendingDn, c.sendingCount);
            sentOn(expected, c.attachment);
            QString name;
            {
                // Progress handed to Create is not written: nothing of a new stroke is stored yet.
                auto e = create(folder(), withProgress(drawn, 99, 1, 77, 5, 6));
                ASSERT_TRUE(e);
                EXPECT_EQ(e->Stroke(), drawn);
                name = e->FileName();
                EXPECT_TRUE(name.startsWith(folder() + QLatin1Char('/')));
                for (const Note &n : c.notes)
                    apply(*e, n);
                if (sync)
                    e->Sync();
                EXPECT_EQ(e->Stroke(), expected);
                EXPECT_EQ(e->LastError(), QString());
            }
            auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
            ASSERT_EQ(claimed.size(), 1u);
            EXPECT_EQ(claimed[0]->Stroke(), expected);
            EXPECT_EQ(claimed[0]->FileName(), name);
            // A claimed entry goes on where it stopped.
            if (size_t(expected.stored) < expected.points.size()) {
                claimed[0]->NoteStored(BigN * 2, 9);
                JournalStroke further = withProgress(full, 9, expected.stored + 1, BigN * 2);
                sentOn(further, expected.attachment);
                EXPECT_EQ(claimed[0]->Stroke(), further);
                claimed.clear();
                claimed = JournalEntry::ClaimUnheld(folder(), DbA);
                ASSERT_EQ(claimed.size(), 1u);
                EXPECT_EQ(claimed[0]->Stroke(), further);
            }
            claimed[0]->Finish();
        }
    }
}

// The journal thread notes the points of a stroke being drawn before the store takes them
// on its own thread: each point is in the file once, and nothing is noted once the entry is gone.
TEST_F(StrokeJournalTest, PointsNotedByTheAppenderAreWrittenOnce)
{
    JournalStroke s = stroke(DbA, 3, 2);
    s.open = true;
    auto e = create(folder(), s);
    ASSERT_TRUE(e);
    JournalAppender a = e->Appender();
    EXPECT_TRUE(a.NoteAppended(appended(2, 3)));
    EXPECT_TRUE(a.NoteAppended(appended(5, 1)));
    EXPECT_TRUE(a.NoteEnded());
    // The store takes them behind the appender.
    EXPECT_TRUE(e->NoteAppended(appended(2, 3)));
    EXPECT_TRUE(e->NoteSending(1, 4, 5));
    EXPECT_TRUE(e->NoteAppended(appended(5, 1)));
    EXPECT_TRUE(e->NoteEnded());
    JournalStroke expected = withProgress(s, 0, 0, 0, 1, 4, 5);
    const auto more = appended(2, 4);
    expected.points.insert(expected.points.end(), more.begin(), more.end());
    expected.open = false;
    EXPECT_EQ(e->Stroke(), expected);
    e.reset();
    EXPECT_FALSE(a.NoteAppended(appended(6, 1))) << "noted after the entry was let go";
    auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0]->Stroke(), expected);
}

TEST_F(StrokeJournalTest, ATornLastRecordCostsOnlyThatRecord)
{
    const std::vector<Note> before = {{'B', 1, 3}, {'C', 1, 3}, {'B', 2, 3}, {'R'}};
    const JournalStroke drawn = stroke(DbA, 4, 5);
    const JournalStroke beforeState = withProgress(drawn, 3, 1, 1);
    const struct {
        Note last;
        JournalStroke after;
    } cases[] = {
        {{'B', BigN, 3}, withProgress(drawn, 3, 1, 1, BigN, 3)},
        {{'C', BigN, 3}, withProgress(drawn, 3, 2, BigN)},
        {{'R'}, beforeState},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("last record ") + c.last.kind);
        QString name;
        qint64 good = 0;
        {
            // A 'B' first, so the refusal at the end has a send to clear.
            auto e = create(folder(), drawn);
            ASSERT_TRUE(e);
            name = e->FileName();
            for (const Note &n : before)
                apply(*e, n);
            if (c.last.kind == 'R')
                e->NoteSending(2, 3);
            good = QFileInfo(name).size();
            apply(*e, c.last);
        }
        const QByteArray full = readBytes(name);
        ASSERT_GT(full.size(), good);
        const JournalStroke cut = c.last.kind == 'R' ? withProgress(drawn, 3, 1, 1, 2, 3) : beforeState;
        for (qint64 at = good; at < full.size(); ++at) {
            SCOPED_TRACE("cut at " + std::to_string(at));
            writeBytes(name, full.left(at));
            auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
            ASSERT_EQ(claimed.size(), 1u);
            EXPECT_EQ(claimed[0]->Stroke(), cut);
            // The torn bytes go, so the next record follows the last good one.
            EXPECT_EQ(QFileInfo(name).size(), good);
        }
        writeBytes(name, full);
        auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
        ASSERT_EQ(claimed.size(), 1u);
        EXPECT_EQ(claimed[0]->Stroke(), c.after);
        claimed[0]->Discard();
    }
}

// Warnings are collected, so the test can see that a damaged entry is told about.
QStringList *warnings = nullptr;
void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (warnings && type == QtWarningMsg)
        *warnings << text;
}

TEST_F(StrokeJournalTest, ADamagedStrokeRecordIsSkippedAndLeftInPlace)
{
    QString name;
    qint64 strokeRecord = 0;
    {
        auto e = create(folder(), stroke(DbA, 1, 4));
        ASSERT_TRUE(e);
        name = e->FileName();
        strokeRecord = QFileInfo(name).size();
        e->NoteStored(1, 1);
    }
    {
        auto good = create(folder(), stroke(DbA, 2));
        ASSERT_TRUE(good);
    }
    const QByteArray full = readBytes(name);
    QStringList seen;
    warnings = &seen;
    qInstallMessageHandler(collect);
    const struct {
        const char *name;
        std::function<QByteArray(qint64)> damage;
    } damages[] = {
        {"cut short", [&](qint64 at) { return full.left(at); }},
        {"one byte flipped",
         [&](qint64 at) {
             QByteArray b = full;
             b[at] = char(b[at] ^ 0x20);
             return b;
         }},
    };
    for (const auto &d : damages) {
        for (qint64 at = 0; at < strokeRecord; ++at) {
            SCOPED_TRACE(std::string(d.name) + " at " + std::to_string(at));
            const QByteArray damaged = d.damage(at);
            writeBytes(name, damaged);
            seen.clear();
            auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
            ASSERT_EQ(claimed.size(), 1u);
            EXPECT_EQ(claimed[0]->Stroke().imageNo, 2);
            EXPECT_EQ(readBytes(name), damaged);
            EXPECT_TRUE(seen.filter(name).size() == 1) << qPrintable(seen.join(QLatin1Char('\n')));
            claimed.clear();
            const auto peeked = JournalEntry::PeekUnheld(folder());
            ASSERT_EQ(peeked.size(), 1u);
            EXPECT_EQ(peeked[0].imageNo, 2);
        }
    }
    qInstallMessageHandler(nullptr);
    warnings = nullptr;
}

TEST_F(StrokeJournalTest, ClaimsOnlyItsDatabaseInCreationOrder)
{
    // Names that differ only slightly from DbA are other databases.
    const QString databases[] = {DbA, DbB, DbA + QLatin1Char(' '), DbA.toLower(), DbA};
    std::vector<int> ofA, all;
    std::vector<std::unique_ptr<JournalEntry>> heldHere;
    for (int i = 1; i <= 40; ++i) {
        const QString &db = databases[(i * 7) % 5];
        auto e = create(folder(), stroke(db, i));
        ASSERT_TRUE(e);
        all.push_back(i);
        if (db == DbA)
            ofA.push_back(i);
        if (i == 40)
            heldHere.push_back(std::move(e));   // this process holds the newest one
    }
    if (ofA.back() == 40)
        ofA.pop_back();
    all.pop_back();

    auto imageNos = [](const auto &list, auto get) {
        std::vector<int> out;
        for (const auto &x : list)
            out.push_back(get(x));
        return out;
    };
    auto peekNos = [&] {
        return imageNos(JournalEntry::PeekUnheld(folder()), [](const JournalStroke &s) { return s.imageNo; });
    };
    EXPECT_EQ(peekNos(), all);
    auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    EXPECT_EQ(imageNos(claimed, [](const auto &e) { return e->Stroke().imageNo; }), ofA);
    for (const auto &e : claimed)
        EXPECT_EQ(e->Stroke().database, DbA);
    // Claimed entries are held: neither claimed again nor peeked.
    EXPECT_TRUE(JournalEntry::ClaimUnheld(folder(), DbA).empty());
    std::vector<int> rest;
    std::set_difference(all.begin(), all.end(), ofA.begin(), ofA.end(), std::back_inserter(rest));
    EXPECT_EQ(peekNos(), rest);
    claimed.clear();
    EXPECT_EQ(peekNos(), all);
}

TEST_F(StrokeJournalTest, ANoteThatCannotBeWrittenIsWrittenWithTheNext)
{
    auto e = create(folder(), stroke(DbA, 5, 4));
    ASSERT_TRUE(e);
    e->NoteStored(1, 2);
    const QString name = e->FileName();
    const qint64 good = QFileInfo(name).size();
    // A full disk, as a file size limit: the record is cut after a few bytes.
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = rlim_t(good + 5);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    // Nothing may be sent unnoted: the caller learns it.
    EXPECT_FALSE(e->NoteSending(2, 2));
    EXPECT_EQ(e->Stroke().sendingN, 0);
    e->NoteStored(2, 2);
    EXPECT_FALSE(e->Sync());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(e->LastError().isEmpty());
    EXPECT_EQ(QFileInfo(name).size(), good);
    EXPECT_EQ(e->Stroke(), withProgress(stroke(DbA, 5, 4), 2, 2, 2));

    // The disk has room again: the next note goes, and what was left over with it.
    EXPECT_TRUE(e->NoteSending(3, 2));
    EXPECT_EQ(e->LastError(), QString());
    e.reset();
    auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0]->Stroke(), withProgress(stroke(DbA, 5, 4), 2, 2, 2, 3, 2));
    EXPECT_TRUE(claimed[0]->Recovered());
}

// Entries of the versions before: version 1 with no picture anchor and one point per note,
// version 3 with the sending attachment named by its number alone.
TEST_F(StrokeJournalTest, AnEntryOfTheFormerVersionIsReadAndGoesOn)
{
    struct Rec {
        QByteArray body;
        void u32(quint32 v) { body.append(reinterpret_cast<const char *>(&v), 4); }
        void i32(qint32 v) { body.append(reinterpret_cast<const char *>(&v), 4); }
        void i64(qint64 v) { body.append(reinterpret_cast<const char *>(&v), 8); }
        QByteArray framed() const
        {
            quint32 head[2] = {quint32(body.size()),
                               quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(body.constData()),
                                             uInt(body.size())))};
            return QByteArray(reinterpret_cast<const char *>(head), 8) + body;
        }
    };
    JournalStroke old = stroke(DbA, 3, 3);
    old.anchorN = 0;
    old.anchorRow.clear();
    Rec s;
    s.body = QByteArray("SOKJL", 5);
    s.body.append(char(1)).append(char(0));
    s.i64(1700000000000000000LL);
    const QByteArray db = old.database.toUtf8();
    s.u32(quint32(db.size()));
    s.body.append(db);
    for (int v : {old.imageNo, old.user, old.penType, old.penSize, old.penColor})
        s.i32(v);
    s.u32(3);
    for (const QPoint &p : old.points) {
        s.i32(p.x());
        s.i32(p.y());
    }
    Rec stored, sending;
    stored.body = "C";
    stored.u32(0);
    stored.i64(8);
    stored.i32(4);
    sending.body = "B";
    sending.u32(1);
    sending.i64(9);
    sending.i32(4);
    writeBytes(folder() + "/00000000000000000001-1-1.stroke", s.framed() + stored.framed() + sending.framed());
    auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0]->Stroke(), withProgress(old, 4, 1, 8, 9, 4, 1));
    // Its notes keep its format: one point per statement.
    EXPECT_EQ(claimed[0]->MaxNotePoints(), 1);
    EXPECT_FALSE(claimed[0]->NoteSending(9, 4, 2));
    // Nor does it learn to name the sending attachment.
    claimed[0]->NoteSender(77, startOf(77), DbIdentity);
    EXPECT_EQ(claimed[0]->Stroke().attachment, 0);
    EXPECT_TRUE(claimed[0]->NoteStored(9, 4, 2));
    const QString name = claimed[0]->FileName();
    claimed.clear();
    claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0]->Stroke(), withProgress(old, 4, 3, 10));
    claimed[0]->Finish();

    // Version 3 names the sending attachment by its number alone: read as such, and its
    // notes keep that format.
    JournalStroke three = stroke(DbA, 3, 3);
    Rec s3;
    s3.body = QByteArray("SOKJL", 5);
    s3.body.append(char(3)).append(char(0));
    s3.i64(1700000000000000001LL);
    s3.u32(quint32(db.size()));
    s3.body.append(db);
    for (int v : {three.imageNo, three.user, three.penType, three.penSize, three.penColor})
        s3.i32(v);
    s3.u32(3);
    for (const QPoint &p : three.points) {
        s3.i32(p.x());
        s3.i32(p.y());
    }
    s3.i64(three.anchorN);
    const QByteArray anchor = three.anchorRow.toUtf8();
    s3.u32(quint32(anchor.size()));
    s3.body.append(anchor);
    Rec sender, sending3;
    sender.body = "A";
    sender.i64(41);
    sending3.body = "B";
    sending3.u32(0);
    sending3.i64(1);
    sending3.i32(2);
    sending3.u32(3);
    writeBytes(folder() + "/00000000000000000002-1-1.stroke", s3.framed() + sender.framed() + sending3.framed());
    claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    ASSERT_EQ(claimed.size(), 1u);
    JournalStroke expected = withProgress(three, 0, 0, 0, 1, 2, 3);
    expected.attachment = 41;
    EXPECT_EQ(claimed[0]->Stroke(), expected);
    claimed[0]->NoteSender(42, startOf(42), DbIdentity);
    expected.attachment = 42;
    EXPECT_EQ(claimed[0]->Stroke(), expected) << "a start kept that its file cannot hold";
    EXPECT_TRUE(claimed[0]->NoteSending(1, 2, 3));
    claimed.clear();
    claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0]->Stroke(), expected);
}

TEST_F(StrokeJournalTest, FinishAndDiscardRemoveTheFile)
{
    const struct {
        const char *name;
        void (JournalEntry::*end)();
        bool claimedFirst;
    } cases[] = {
        {"Finish", &JournalEntry::Finish, false},
        {"Discard", &JournalEntry::Discard, false},
        {"Finish after a claim", &JournalEntry::Finish, true},
        {"Discard after a claim", &JournalEntry::Discard, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto e = create(folder(), stroke(DbA, 3, 2));
        ASSERT_TRUE(e);
        e->NoteStored(1, 1);
        if (c.claimedFirst) {
            e.reset();
            auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
            ASSERT_EQ(claimed.size(), 1u);
            e = std::move(claimed[0]);
        }
        const QString name = e->FileName();
        ASSERT_TRUE(QFileInfo::exists(name));
        ((*e).*c.end)();
        EXPECT_FALSE(QFileInfo::exists(name));
        EXPECT_EQ(e->LastError(), QString());
        // Late notes do not bring it back.
        e->NoteStored(2, 1);
        e->Sync();
        e.reset();
        EXPECT_EQ(filesIn(folder()), QStringList());
        EXPECT_TRUE(JournalEntry::ClaimUnheld(folder(), DbA).empty());
    }
}

TEST_F(StrokeJournalTest, CreateIntoAMissingFolderFailsWithTheReason)
{
    QString error;
    EXPECT_FALSE(JournalEntry::Create(folder() + QStringLiteral("/missing"), stroke(DbA, 1), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing"))) << qPrintable(error);
}

TEST_F(StrokeJournalTest, ACreateCutShortByACrashIsPutInPlaceOrRemoved)
{
    // What Create leaves where it must write under a temporary name and dies before the rename.
    QTemporaryDir other;
    QByteArray complete;
    {
        auto e = create(other.path(), stroke(DbA, 8));
        ASSERT_TRUE(e);
        complete = readBytes(e->FileName());
    }
    const QString whole = folder() + QStringLiteral("/.00000000000000000001-1-1.stroke.tmp");
    const QString torn = folder() + QStringLiteral("/.00000000000000000002-1-2.stroke.tmp");
    const QString young = folder() + QStringLiteral("/.00000000000000000003-1-3.stroke.tmp");
    writeBytes(whole, complete);
    writeBytes(torn, complete.left(complete.size() - 1));
    writeBytes(young, complete);
    const utimbuf old{time(nullptr) - 120, time(nullptr) - 120};
    ASSERT_EQ(utime(QFile::encodeName(whole).constData(), &old), 0);
    ASSERT_EQ(utime(QFile::encodeName(torn).constData(), &old), 0);

    auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0]->Stroke(), stroke(DbA, 8));
    EXPECT_EQ(claimed[0]->FileName(), folder() + QStringLiteral("/00000000000000000001-1-1.stroke"));
    // One just made may belong to a Create still running: left alone.
    EXPECT_EQ(filesIn(folder()),
              QStringList({QStringLiteral(".00000000000000000003-1-3.stroke.tmp"),
                           QStringLiteral("00000000000000000001-1-1.stroke")}));
}

TEST(StrokeJournalFolderTest, FollowsXdgStateHomeElseHome)
{
    const QByteArray savedXdg = qgetenv("XDG_STATE_HOME"), savedHome = qgetenv("HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_STATE_HOME");
    QTemporaryDir xdg, home;
    const struct {
        const char *name;
        const char *xdg;   // nullptr: unset
        QString expected;
    } cases[] = {
        {"XDG_STATE_HOME set", "x", xdg.path() + QStringLiteral("/oekaki")},
        {"XDG_STATE_HOME unset", nullptr, home.path() + QStringLiteral("/.local/state/oekaki")},
        {"XDG_STATE_HOME empty", "", home.path() + QStringLiteral("/.local/state/oekaki")},
        {"XDG_STATE_HOME relative", "relative/state", home.path() + QStringLiteral("/.local/state/oekaki")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(home.path() + QStringLiteral("/.local")).removeRecursively();
        QDir(xdg.path() + QStringLiteral("/oekaki")).removeRecursively();
        qputenv("HOME", QFile::encodeName(home.path()));
        if (!c.xdg)
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", strcmp(c.xdg, "x") == 0 ? QFile::encodeName(xdg.path()) : QByteArray(c.xdg));
        EXPECT_EQ(StrokeJournalFolder(), c.expected);
        struct stat st;
        ASSERT_EQ(stat(QFile::encodeName(c.expected).constData(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        // Usable as it is.
        EXPECT_TRUE(JournalEntry::Create(c.expected, stroke(DbA, 1)));
    }
    qputenv("HOME", savedHome);
    if (hadXdg)
        qputenv("XDG_STATE_HOME", savedXdg);
    else
        qunsetenv("XDG_STATE_HOME");
}

// The helper process, driven by lines on stdin and stdout; every wait is bounded.
class Holder {
public:
    explicit Holder(const QStringList &args) : Holder(QStringLiteral(OEKAKI_JOURNAL_HOLDER), args) {}
    Holder(const QString &program, const QStringList &args)
    {
        proc.setProgram(program);
        proc.setArguments(args);
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start();
    }
    ~Holder()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(10000);
        }
    }
    // The next line, or an empty string after the deadline or the end of the process.
    QString line(QDeadlineTimer deadline)
    {
        while (!proc.canReadLine() && !deadline.hasExpired() && proc.state() != QProcess::NotRunning)
            proc.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 100)));
        return proc.canReadLine() ? QString::fromLocal8Bit(proc.readLine()).trimmed() : QString();
    }
    // The lines with `prefix` up to "ready"; fails the test when "ready" does not come in time.
    QStringList untilReady(const char *prefix, const std::function<void()> &meanwhile = {})
    {
        QStringList out;
        const QDeadlineTimer deadline(30000);
        while (true) {
            if (meanwhile)
                meanwhile();
            const QString l = line(QDeadlineTimer(50));
            if (l == QLatin1String("ready"))
                return out;
            if (l.startsWith(QLatin1String(prefix)))
                out << l.mid(int(strlen(prefix)));
            else if (!l.isEmpty())
                ADD_FAILURE() << "helper said: " << qPrintable(l);
            if (deadline.hasExpired() || (l.isEmpty() && proc.state() == QProcess::NotRunning && !proc.canReadLine())) {
                ADD_FAILURE() << "the helper did not get ready within 30 s";
                return out;
            }
        }
    }
    void exit()
    {
        proc.write("exit\n");
        EXPECT_TRUE(proc.waitForFinished(10000)) << "the helper did not exit within 10 s";
    }
    void killHard()
    {
        ::kill(pid_t(proc.processId()), SIGKILL);
        EXPECT_TRUE(proc.waitForFinished(10000)) << "the helper did not die within 10 s";
        EXPECT_EQ(proc.exitStatus(), QProcess::CrashExit);
    }
    QProcess proc;
};

TEST_F(StrokeJournalTest, TwoClaimingProcessesNeverShareAnEntry)
{
    QSet<QString> all;
    for (int i = 1; i <= 30; ++i) {
        auto e = create(folder(), stroke(DbA, i));
        ASSERT_TRUE(e);
        all << e->FileName();
    }
    Holder one({QStringLiteral("claim"), folder(), DbA});
    Holder two({QStringLiteral("claim"), folder(), DbA});
    const QStringList byOne = one.untilReady("claimed ");
    const QStringList byTwo = two.untilReady("claimed ");
    const QSet<QString> setOne(byOne.begin(), byOne.end()), setTwo(byTwo.begin(), byTwo.end());
    EXPECT_EQ(setOne.size(), byOne.size());
    EXPECT_FALSE(setOne.intersects(setTwo));
    EXPECT_EQ(setOne + setTwo, all);
    // While they hold them, nothing is claimable or waiting here.
    EXPECT_TRUE(JournalEntry::ClaimUnheld(folder(), DbA).empty());
    EXPECT_TRUE(JournalEntry::PeekUnheld(folder()).empty());

    // An orderly exit and a SIGKILL both let go.
    one.exit();
    auto claimed = JournalEntry::ClaimUnheld(folder(), DbA);
    QSet<QString> got;
    for (const auto &e : claimed)
        got << e->FileName();
    EXPECT_EQ(got, setOne);
    two.killHard();
    auto rest = JournalEntry::ClaimUnheld(folder(), DbA);
    got.clear();
    for (const auto &e : rest)
        got << e->FileName();
    EXPECT_EQ(got, setTwo);
}

TEST_F(StrokeJournalTest, EntriesOfACreatorKilledMidStoreAreClaimableWithTheirProgress)
{
    const QString helper = QStringLiteral(OEKAKI_JOURNAL_HOLDER);
    const struct {
        const char *name;
        QString program;
        QStringList prefix;
    } ways[] = {
        {"unnamed until complete", helper, {}},
        // Without /proc an unnamed file cannot be given a name: a temporary name, then a rename.
        {"named temporary file where /proc is missing", QStringLiteral("unshare"),
         {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
          QStringLiteral("mount -t tmpfs none /proc && exec \"$0\" \"$@\""), helper}},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        if (!way.prefix.isEmpty() && QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}) != 0) {
            std::cout << "[ SKIPPED  ] " << way.name << ": no mount namespace here\n";
            continue;
        }
        QTemporaryDir journal;
        const int count = 25;
        Holder creator(way.program, way.prefix + QStringList{QStringLiteral("create"), journal.path(), DbA, QString::number(count)});
        int claims = 0;
        bool stole = false;
        // Claiming all along never takes an entry that is being made or that its creator holds.
        const QStringList created = creator.untilReady("created ", [&] {
            ++claims;
            stole = stole || !JournalEntry::ClaimUnheld(journal.path(), DbA).empty()
                 || !JournalEntry::PeekUnheld(journal.path()).empty();
        });
        EXPECT_FALSE(stole) << "claimed an entry its creator held, in " << claims << " tries";
        ASSERT_EQ(created.size(), count);
        creator.killHard();
        EXPECT_EQ(filesIn(journal.path()).filter(QStringLiteral(".tmp")), QStringList());

        const auto claimed = JournalEntry::ClaimUnheld(journal.path(), DbA);
        ASSERT_EQ(claimed.size(), size_t(count));
        for (int i = 1; i <= count; ++i) {
            SCOPED_TRACE("entry " + std::to_string(i));
            const JournalEntry &e = *claimed[i - 1];
            EXPECT_EQ(e.FileName(), created[i - 1]);
            JournalStroke expected;
            expected.database = DbA;
            expected.imageNo = i;
            expected.user = 7;
            for (int p = 0; p < 5; ++p)
                expected.points.emplace_back(i, p);
            EXPECT_EQ(e.Stroke(), withProgress(expected, i, 2, 100 * i + 2, 100 * i + 3, i));
        }
    }
}

}   // namespace
