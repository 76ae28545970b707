// The states a power cut, a full disk or a lost answer leave between the journal and the
// picture's table, made by hand, and what the next store makes of them: every point of
// every stroke in the table exactly once, N gapless.
#include "DelayRelay.h"
#include "Outages.h"
#include "TestDatabase.h"

#include "core/journal/StrokeJournal.h"
#include "core/painting/StrokeStore.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/resource.h>
#include <tuple>

namespace {

const QString kTable = QStringLiteral("IMG_1");
const QString kDatabase = QStringLiteral("the picture's database");

JournalStroke drawn(int user, int x0, int count)
{
    JournalStroke s;
    s.database = kDatabase;
    s.imageNo = 1;
    s.user = user;
    s.penType = 1;
    s.penSize = 2;
    s.penColor = 0x00FF00;
    for (int i = 0; i < count; ++i)
        s.points.emplace_back(x0 + i, 10 + i);
    return s;
}

class Scene {
public:
    Scene()
    {
        EXPECT_TRUE(t.created());
        db.ConnectDatabase(t.serverPath());
        EXPECT_TRUE(db.CreateImageTable(kTable));
    }

    // A run's strokes in the journal, left behind (not held) with the progress `notes` made.
    std::unique_ptr<JournalEntry> entry(const JournalStroke &s)
    {
        QString error;
        auto e = JournalEntry::Create(journal.path(), s, &error);
        EXPECT_TRUE(e) << error.toStdString();
        strokes.push_back(s);
        return e;
    }
    // What the next run claims.
    std::vector<std::unique_ptr<JournalEntry>> claim()
    {
        return JournalEntry::ClaimUnheld(journal.path(), kDatabase);
    }
    void add(StrokeStore &store, std::vector<std::unique_ptr<JournalEntry>> entries)
    {
        for (auto &e : entries) {
            const JournalStroke &j = e->Stroke();
            std::vector<QPoint> rest(j.points.begin() + j.stored, j.points.end());
            store.Add({0, j.user, {j.penType, j.penSize, j.penColor}, std::move(rest), std::move(e)});
        }
    }
    // Rows of the stroke `s` committed as one statement from N = n on (another run's).
    void commit(const JournalStroke &s, int n, int dn, int from = 0)
    {
        for (int i = from; i < int(s.points.size()); ++i)
            ASSERT_TRUE(db.InsertRecord(kTable, 8, ImageTable::ColumnNames(),
                                        {QString::number(n + i - from), QString::number(s.user), QString::number(dn),
                                         QString::number(s.penType), QString::number(s.penSize),
                                         QString::number(s.penColor), QString::number(s.points[size_t(i)].x()),
                                         QString::number(s.points[size_t(i)].y())}));
    }
    // Every point of every stroke once, nothing else, N gapless from 1.
    void expectEachPointOnce(const char *why)
    {
        SCOPED_TRACE(why);
        std::map<std::tuple<int, int, int>, int> want, got;
        for (const JournalStroke &s : strokes)
            for (const QPoint &p : s.points)
                ++want[{s.user, p.x(), p.y()}];
        qint64 expectN = 1;
        db.ForEachRow(QStringLiteral("*"), kTable, QString(), QStringLiteral("N"), [&](const QStringList &r) {
            EXPECT_EQ(r.value(ImageTable::N).toLongLong(), expectN++) << "a gap or a doubled N";
            ++got[{r.value(ImageTable::MN).toInt(), r.value(ImageTable::X).toInt(), r.value(ImageTable::Y).toInt()}];
        });
        int lost = 0, doubled = 0;
        for (const auto &[key, n] : want) {
            const int g = got.count(key) ? got[key] : 0;
            lost += std::max(0, n - g);
            doubled += std::max(0, g - n);
        }
        EXPECT_EQ(lost, 0);
        EXPECT_EQ(doubled, 0);
        EXPECT_EQ(got.size(), want.size()) << "rows of no stroke";
    }

    // A store of the table on `on`: a new one of this run, or the next run's, which takes
    // over what the journal holds (once the store before it is gone and has let go of it).
    std::unique_ptr<StrokeStore> store(DataAccess &on, bool nextRun = false)
    {
        auto s = std::make_unique<StrokeStore>(on, image);
        s->SetTable(kTable);
        s->Load(!nextRun);
        if (nextRun)
            add(*s, claim());
        return s;
    }
    // Every attachment but `killer`'s is deleted on the server, as an administrator can.
    static void cutOthers(DataAccess &killer)
    {
        ASSERT_TRUE(killer.ExecuteSql(
            {"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID<>" + QString::number(killer.AttachmentId())}));
    }

    // The stroke numbers the rows of `user` got.
    std::set<int> dnsOf(int user)
    {
        std::set<int> out;
        db.ForEachRow(QStringLiteral("DN"), kTable, QStringLiteral("MN=") + QString::number(user), QString(),
                      [&](const QStringList &r) { out.insert(r.value(0).toInt()); });
        return out;
    }

    TestDatabase t;
    QTemporaryDir journal;
    DataAccess db;
    QImage image{64, 64, QImage::Format_RGB32};
    std::vector<JournalStroke> strokes;
};

// The scene's database through a relay that a case cuts, and attached again after the cut.
struct RelayedLine {
    explicit RelayedLine(Scene &sc)
    {
        EXPECT_TRUE(relay.start(0));
        path = sc.t.pathVia(relay.port());
        db.ConnectDatabase(path);
        EXPECT_TRUE(db.IsConnected());
    }
    // The line back after a cut: the same store goes on, or (the program died meanwhile)
    // the next run's takes over.
    bool comeBack(Scene &sc, std::unique_ptr<StrokeStore> &store, bool sameStore)
    {
        db.DisconnectDatabase();
        db.ConnectDatabase(path);
        if (!sameStore) {
            store.reset();
            store = sc.store(db, true);
        }
        return db.IsConnected();
    }
    DelayRelay relay;
    QString path;
    DataAccess db;
};

TEST(StrokeRecovery, NothingLostNothingDoubledWhateverTheJournalWasLeftWith)
{
    {
        SCOPED_TRACE("a sending note not synced: only what was on disk when the statement left counts");
        Scene sc;
        StrokeStore store(sc.db, sc.image);
        store.SetTable(kTable);
        store.Load();
        const JournalStroke s = drawn(3, 1, 4);
        auto e = sc.entry(s);
        const QString file = e->FileName();
        QByteArray atSend;
        store.beforeInsert = [&](int) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            atSend = f.readAll();
        };
        store.Add({0, s.user, {s.penType, s.penSize, s.penColor}, s.points, std::move(e)});
        EXPECT_TRUE(store.StorePending());
        // The power goes: the stored note and the removal never reached the disk.
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(atSend);
        f.close();
        StrokeStore next(sc.db, sc.image);
        next.SetTable(kTable);
        next.Load(false);
        int rows = -1;
        next.onStored = [&](quint64, int n) { rows = n; };
        sc.add(next, sc.claim());
        EXPECT_TRUE(next.StorePending());
        EXPECT_EQ(rows, 0) << "found stored, not stored again";
        EXPECT_TRUE(sc.claim().empty());
        sc.expectEachPointOnce("not synced");
    }
    {
        SCOPED_TRACE("two waiting strokes with one sending N");
        Scene sc;
        const JournalStroke a = drawn(3, 1, 3), b = drawn(4, 20, 2);
        auto ea = sc.entry(a), eb = sc.entry(b);
        ASSERT_TRUE(ea->NoteSending(1, 1, 3));
        ASSERT_TRUE(eb->NoteSending(1, 1, 2));
        sc.commit(a, 1, 1); // a's statement went through, b's never left
        ea.reset();
        eb.reset();
        StrokeStore store(sc.db, sc.image);
        store.SetTable(kTable);
        store.Load(false);
        std::vector<int> rows;
        store.onStored = [&](quint64, int n) { rows.push_back(n); };
        sc.add(store, sc.claim());
        EXPECT_TRUE(store.StorePending());
        EXPECT_EQ(rows, (std::vector<int>{0, 2}));
        sc.expectEachPointOnce("two with one N");
    }
    {
        SCOPED_TRACE("a claim into a session that has drawn past its N");
        Scene sc;
        const JournalStroke a = drawn(3, 1, 3), other = drawn(9, 40, 5);
        auto ea = sc.entry(a);
        ASSERT_TRUE(ea->NoteSending(1, 1, 3));
        sc.commit(a, 1, 1);
        sc.strokes.push_back(other);
        sc.commit(other, 4, 1);
        ea.reset();
        StrokeStore store(sc.db, sc.image);
        store.SetTable(kTable);
        store.Load(false);
        ASSERT_EQ(store.DrawnUpTo(), 8);
        sc.add(store, sc.claim());
        EXPECT_TRUE(store.StorePending());
        sc.expectEachPointOnce("past N");
    }
    {
        SCOPED_TRACE("refused after sending: an answered refusal, nothing of it stored");
        Scene sc;
        const JournalStroke a = drawn(3, 1, 3);
        auto ea = sc.entry(a);
        ASSERT_TRUE(ea->NoteSending(1, 1, 3));
        ASSERT_TRUE(ea->NoteNotSent());
        ea.reset();
        StrokeStore store(sc.db, sc.image);
        store.SetTable(kTable);
        store.Load(false);
        sc.add(store, sc.claim());
        EXPECT_TRUE(store.StorePending());
        sc.expectEachPointOnce("refused");
    }
    {
        SCOPED_TRACE("an unanswered statement is looked for first and never noted as refused");
        Scene sc;
        const JournalStroke a = drawn(3, 1, 3);
        auto ea = sc.entry(a);
        ASSERT_TRUE(ea->NoteSending(1, 1, 3));
        sc.commit(a, 1, 1);
        ea.reset();
        {
            DataAccess away; // the server cannot be reached yet
            StrokeStore store(away, sc.image);
            store.SetTable(kTable);
            sc.add(store, sc.claim());
            EXPECT_FALSE(store.StorePending());
            EXPECT_EQ(store.LastFailure(), StrokeStore::Failure::ConnectionLost);
        }
        auto again = sc.claim();
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0]->Stroke().sendingN, 1) << "the sending note was overwritten";
        StrokeStore store(sc.db, sc.image);
        store.SetTable(kTable);
        store.Load(false);
        sc.add(store, std::move(again));
        EXPECT_TRUE(store.StorePending());
        sc.expectEachPointOnce("looked for first");
    }
    {
        SCOPED_TRACE("a full disk: nothing is sent unnoted, and it goes on once there is room");
        Scene sc;
        StrokeStore store(sc.db, sc.image);
        store.SetTable(kTable);
        store.Load();
        const JournalStroke a = drawn(3, 1, 5);
        auto ea = sc.entry(a);
        const qint64 size = QFile(ea->FileName()).size();
        store.Add({7, a.user, {a.penType, a.penSize, a.penColor}, a.points, std::move(ea)});
        const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit saved;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit full = saved;
        full.rlim_cur = rlim_t(size + 3);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
        const bool stored = store.StorePending();
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(stored);
        EXPECT_EQ(store.LastFailure(), StrokeStore::Failure::JournalUnwritable);
        EXPECT_FALSE(store.LastFailureText().isEmpty());
        EXPECT_EQ(sc.db.SelectAll(kTable, QString()), 0);
        EXPECT_EQ(store.PendingPoints(), 5);
        EXPECT_TRUE(store.StorePending());
        EXPECT_EQ(store.LastFailure(), StrokeStore::Failure::None);
        sc.expectEachPointOnce("full disk");
    }
    {
        SCOPED_TRACE("a re-created table: the strokes of the old picture are orphans");
        Scene sc;
        const JournalStroke first = drawn(5, 30, 2);
        sc.commit(first, 1, 1);
        JournalStroke a = drawn(3, 1, 3);
        a.anchorN = 2;
        a.anchorRow = QStringLiteral("5,1,1,2,65280,31,11");
        JournalStroke b = a;
        b.points = {QPoint(50, 50)};
        auto ea = sc.entry(a);
        ea.reset();
        {
            // Its own picture still: stored.
            StrokeStore store(sc.db, sc.image);
            store.SetTable(kTable);
            store.Load(false);
            sc.strokes.push_back(first);
            sc.add(store, sc.claim());
            EXPECT_TRUE(store.StorePending());
            sc.expectEachPointOnce("its own picture");
        }
        auto eb = sc.entry(b);
        sc.strokes.pop_back();
        eb.reset();
        ASSERT_TRUE(sc.db.DropTable(kTable));
        ASSERT_TRUE(sc.db.CreateImageTable(kTable));
        sc.strokes = {drawn(6, 1, 3)};
        sc.commit(sc.strokes[0], 1, 1);
        StrokeStore store(sc.db, sc.image);
        store.SetTable(kTable);
        store.Load(false);
        int orphans = 0;
        store.onOrphaned = [&](int points) { orphans += points; };
        sc.add(store, sc.claim());
        EXPECT_TRUE(store.StorePending());
        EXPECT_EQ(orphans, 1);
        EXPECT_EQ(store.OrphanPoints(), 1);
        EXPECT_EQ(store.PendingPoints(), 1) << "kept until the user gives it up";
        sc.expectEachPointOnce("re-created");
        store.DiscardPending();
        EXPECT_TRUE(sc.claim().empty());
    }
    {
        SCOPED_TRACE("a lost answer on a statement, found by the same store and by the next run");
        for (bool sameStore : {true, false}) {
            Scene sc;
            RelayedLine line(sc);
            auto &relay = line.relay;
            auto store = sc.store(line.db);
            const JournalStroke a = drawn(3, 1, 300); // two statements
            store->beforeInsert = [&](int n) {
                if (n > 1)
                    relay.CutAfterNextRequest(64);
            };
            store->Add({1, a.user, {a.penType, a.penSize, a.penColor}, a.points, sc.entry(a)});
            EXPECT_FALSE(store->StorePending());
            EXPECT_EQ(store->LastFailure(), StrokeStore::Failure::ConnectionLost);
            store->beforeInsert = nullptr;
            ASSERT_TRUE(line.comeBack(sc, store, sameStore));
            int rows = -1;
            store->onStored = [&](quint64, int n) { rows = n; };
            EXPECT_TRUE(store->StorePending());
            // The first statement was answered; the second was committed, only its answer lost.
            EXPECT_EQ(rows, sameStore ? 240 : 0);
            sc.expectEachPointOnce(sameStore ? "same store" : "next run");
        }
    }
    {
        SCOPED_TRACE("cut mid-drag (a crash or a signal while the button is held): what was handed over, once");
        // Cut: 0 after its first block is stored, 1 with a block appended and not sent,
        // 2 with an appended block sent and committed, its answer never noted.
        for (int cut : {0, 1, 2}) {
            SCOPED_TRACE(cut);
            Scene sc;
            JournalStroke a = drawn(3, 1, 3);
            a.open = true;
            const JournalStroke before = drawn(4, 40, 2);
            sc.strokes.push_back(before);
            sc.commit(before, 1, 1);
            {
                StrokeStore store(sc.db, sc.image);
                store.SetTable(kTable);
                store.Load(false);
                store.Add({5, a.user, {a.penType, a.penSize, a.penColor}, a.points, sc.entry(a), true});
                EXPECT_TRUE(store.StorePending()) << "an open stroke stored so far leaves nothing to store";
                EXPECT_EQ(store.PendingStrokes(), 1) << "held until its end";
                std::vector<QPoint> more;
                for (int i = 0; i < 4; ++i)
                    more.emplace_back(60 + i, 5);
                sc.strokes.back().points.insert(sc.strokes.back().points.end(), more.begin(), more.end());
                if (cut >= 1)
                    store.Extend(5, more, false);
                else
                    sc.strokes.back().points.resize(3);
                if (cut == 2) {
                    // The block reaches the server; the program dies before its answer is noted.
                    store.beforeInsert = [&](int n) {
                        sc.commit(sc.strokes.back(), n, 1, 3);
                        throw 0;
                    };
                    try {
                        store.StorePending();
                    } catch (int) {
                    }
                }
                // The store goes with the program: the entry is let go, not ended.
            }
            StrokeStore next(sc.db, sc.image);
            next.SetTable(kTable);
            next.Load(false);
            auto claimed = sc.claim();
            ASSERT_EQ(claimed.size(), 1u);
            EXPECT_TRUE(claimed[0]->Stroke().open) << "read back without its end";
            EXPECT_EQ(claimed[0]->Stroke().points.size(), sc.strokes.back().points.size());
            sc.add(next, std::move(claimed));
            EXPECT_TRUE(next.StorePending()) << "stored whole as it stands";
            EXPECT_EQ(next.PendingStrokes(), 0);
            EXPECT_TRUE(sc.claim().empty());
            sc.expectEachPointOnce("cut mid-drag");
            EXPECT_EQ(sc.dnsOf(3).size(), 1u) << "one stroke number for all its blocks";
        }
    }
    {
        SCOPED_TRACE("a line lost while the button is held: the blocks after it keep the stroke's number");
        for (bool sameStore : {true, false}) {
            SCOPED_TRACE(sameStore ? "the line comes back" : "the program dies while the line is gone");
            Scene sc;
            RelayedLine line(sc);
            auto &relay = line.relay;
            auto store = sc.store(line.db);
            JournalStroke a = drawn(3, 1, 5);
            a.open = true;
            store->Add({1, a.user, {a.penType, a.penSize, a.penColor}, a.points, sc.entry(a), true});
            EXPECT_TRUE(store->StorePending());
            // Another PC's stroke falls between two blocks.
            const JournalStroke other = drawn(9, 30, 2);
            sc.strokes.push_back(other);
            sc.commit(other, 6, 1);
            std::vector<QPoint> second{{70, 1}, {71, 2}}, third{{72, 3}};
            for (const QPoint &p : second)
                sc.strokes[0].points.push_back(p);
            store->Extend(1, second, false);
            store->beforeInsert = [&](int) { relay.CutAfterNextRequest(64); };
            EXPECT_FALSE(store->StorePending());
            EXPECT_EQ(store->LastFailure(), StrokeStore::Failure::ConnectionLost);
            store->beforeInsert = nullptr;
            for (const QPoint &p : third)
                sc.strokes[0].points.push_back(p);
            store->Extend(1, third, true); // released while the line is gone
            ASSERT_TRUE(line.comeBack(sc, store, sameStore));
            EXPECT_TRUE(store->StorePending());
            EXPECT_EQ(store->PendingStrokes(), 0);
            sc.expectEachPointOnce("lost line mid-drag");
            EXPECT_EQ(sc.dnsOf(3), (std::set<int>{1}));
        }
    }
    {
        SCOPED_TRACE("a statement lost before the server ran it is sent again once its attachment is gone");
        Scene sc;
        DataAccess killer;
        killer.ConnectDatabase(sc.t.serverPath());
        ASSERT_GT(killer.AttachmentId(), 0);
        auto store = sc.store(sc.db);
        const JournalStroke a = drawn(3, 1, 4);
        store->beforeInsert = [&](int) {
            Scene::cutOthers(killer);
        };
        store->Add({1, a.user, {a.penType, a.penSize, a.penColor}, a.points, sc.entry(a)});
        EXPECT_FALSE(store->StorePending());
        store->beforeInsert = nullptr;
        sc.db.DisconnectDatabase();
        sc.db.ConnectDatabase(sc.t.serverPath());
        ASSERT_TRUE(sc.db.IsConnected());
        // Its attachment is gone: nothing can commit it any more, so it goes again at once.
        EXPECT_TRUE(store->StorePending());
        sc.expectEachPointOnce("lost before it ran");
    }
    {
        // The client's side of the line is reset while the server's copy of the statement
        // waits through a chain of other writers' locks, longer than any fixed wait.
        SCOPED_TRACE("a half-cut line with chained lock waits, by the same store and by the next run");
        for (bool sameStore : {true, false}) {
            SCOPED_TRACE(sameStore ? "same store" : "next run");
            Scene sc;
            RelayedLine line(sc);
            auto &relay = line.relay;
            const JournalStroke other = drawn(9, 40, 4);
            sc.strokes.push_back(other);
            // Holder i commits 2 s after the one before it, counted from the moment the
            // stroke's statement goes (each wait shorter than the lock timeout): the server's
            // copy could commit at about 8 s, after any fixed wait the store may have.
            // An ASCII path: isql may garble other bytes read from a pipe.
            QTemporaryDir gate(QDir::tempPath() + QStringLiteral("/oekaki-chain-XXXXXX"));
            const QByteArray go = QFile::encodeName(gate.filePath(QStringLiteral("go")));
            const QString script = gate.filePath(QStringLiteral("wait.sh"));
            {
                // isql's SHELL line ends at the first ';': the waiting is a script of its own.
                QFile f(script);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write("n=0\nwhile [ ! -e \"$1\" ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done\nsleep \"$2\"\n");
            }
            std::vector<std::unique_ptr<UncommittedChange>> holders;
            for (int i = 0; i < 4; ++i) {
                holders.push_back(std::make_unique<UncommittedChange>(
                    sc.t.serverPath(),
                    QStringLiteral("INSERT INTO IMG_1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES "
                                   "(%1, 9, 1, 1, 2, 65280, %2, %3)")
                        .arg(i + 1)
                        .arg(other.points[size_t(i)].x())
                        .arg(other.points[size_t(i)].y())
                        .toLatin1(),
                    "SHELL sh " + QFile::encodeName(script) + " " + go + " " + QByteArray::number(2 * (i + 1))
                        + ";\nCOMMIT;\n"));
                ASSERT_TRUE(holders.back()->ready()) << holders.back()->output().toStdString();
            }
            auto store = sc.store(line.db);
            const JournalStroke a = drawn(3, 1, 10);
            store->beforeInsert = [&](int) {
                relay.HalfCutAfterNextRequest(64, 500);
                QFile started(QString::fromLocal8Bit(go));
                EXPECT_TRUE(started.open(QIODevice::WriteOnly));
            };
            store->Add({1, a.user, {a.penType, a.penSize, a.penColor}, a.points, sc.entry(a)});
            QElapsedTimer chain;
            chain.start();
            EXPECT_FALSE(store->StorePending());
            EXPECT_EQ(store->LastFailure(), StrokeStore::Failure::ConnectionLost);
            store->beforeInsert = nullptr;
            ASSERT_TRUE(line.comeBack(sc, store, sameStore));
            bool stored = false;
            while (!stored && chain.elapsed() < 30000) {
                stored = store->StorePending();
                QThread::msleep(100);
            }
            EXPECT_TRUE(stored) << "not stored within 30 s: " << store->LastFailureText().toStdString();
            // Whatever the server's copy could still do, it has done or never will: look again.
            QThread::msleep(1000);
            const int rows = sc.db.SelectAll(kTable, QStringLiteral("MN=3"));
            std::printf("[          ] half-cut line, chained lock waits (%s): %d rows for a 10-point stroke\n",
                        sameStore ? "same store" : "next run", rows);
            EXPECT_EQ(rows, 10);
            sc.expectEachPointOnce("half-cut");
            EXPECT_TRUE(sc.claim().empty());
        }
    }
    {
        // Block 1 lies above another writer's rows the store has not drawn, and the stroke
        // comes back over its first point: block 2's look-up must not take block 1 for it.
        SCOPED_TRACE("a split stroke whose second block is lost, its path crossing itself");
        Scene sc;
        DataAccess killer;
        killer.ConnectDatabase(sc.t.serverPath());
        ASSERT_GT(killer.AttachmentId(), 0);
        auto store = sc.store(sc.db);
        const JournalStroke other = drawn(9, 40, 5);
        sc.strokes.push_back(other);
        sc.commit(other, 1, 1);
        JournalStroke a = drawn(3, 1, 241);
        a.points[240] = a.points[0];
        int sends = 0;
        store->beforeInsert = [&](int) {
            if (++sends == 2) {
                Scene::cutOthers(killer);
            }
        };
        store->Add({1, a.user, {a.penType, a.penSize, a.penColor}, a.points, sc.entry(a)});
        EXPECT_FALSE(store->StorePending());
        EXPECT_EQ(sends, 2);
        store->beforeInsert = nullptr;
        sc.db.DisconnectDatabase();
        sc.db.ConnectDatabase(sc.t.serverPath());
        ASSERT_TRUE(sc.db.IsConnected());
        EXPECT_TRUE(store->StorePending());
        const int points = sc.db.SelectAll(kTable, QStringLiteral("MN=3"));
        std::printf("[          ] split stroke, lost second block: %d of 241 points stored\n", points);
        EXPECT_EQ(points, 241);
        sc.expectEachPointOnce("split stroke");
        EXPECT_TRUE(sc.claim().empty());
    }
    {
        // Numbers start again with a database made again or restored: the journal's number
        // may name another program's attachment now. Only the attachment of that number,
        // start and database is ended, and a stroke of another picture ends none.
        SCOPED_TRACE("a lost statement's attachment that is no more: nobody else's is ended");
        struct Case {
            const char *what;
            bool otherStart, otherDatabase, otherPicture;
        } cases[] = {
            {"its number now another attachment's", true, false, false},
            {"sent to a database made again since", false, true, false},
            {"of another picture, its attachment named in full", false, false, true},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            Scene sc;
            DataAccess other; // another program's attachment
            other.ConnectDatabase(sc.t.serverPath());
            const DataAccess::Identity named = other.AttachmentIdentity();
            ASSERT_GT(named.id, 0);
            JournalStroke a = drawn(3, 1, 3);
            if (c.otherPicture) {
                const JournalStroke now = drawn(9, 40, 1);
                sc.commit(now, 1, 1);
                a.anchorN = 1;
                a.anchorRow = QStringLiteral("5,1,1,2,65280,31,11");
            }
            auto e = sc.entry(a);
            e->NoteSender(named.id, c.otherStart ? QStringLiteral("2001-01-01 00:00:00.0000") : named.started,
                          c.otherDatabase ? QStringLiteral("2001-01-01 00:00:00.0000") : named.database);
            ASSERT_TRUE(e->NoteSending(1, 1, 3));
            e.reset();
            auto store = sc.store(sc.db, true);
            int orphans = 0;
            store->onOrphaned = [&](int points) { orphans += points; };
            EXPECT_TRUE(store->StorePending()) << store->LastFailureText().toStdString();
            EXPECT_EQ(other.SelectAll(QStringLiteral("RDB$DATABASE"), QString()), 1)
                << "another program's attachment was ended: " << other.LastErrorText().toStdString();
            if (c.otherPicture) {
                EXPECT_EQ(orphans, 3);
                sc.strokes = {drawn(9, 40, 1)};
            }
            sc.expectEachPointOnce(c.what);
        }
    }
}

// Another tool may leave a NULL in any column but N. Drawn as 0, it is compared as NULL: the
// block's check of the row at the watermark and a journal stroke's anchor on that row match
// it, and storing goes on at once.
TEST(StrokeRecovery, ANullInTheTopRowIsAValueLikeAnyOther)
{
    const char *const columns[] = {"MN", "DN", "PTYP", "PSIZ", "PCOL", "X", "Y"};
    for (int c = 0; c < 7; ++c) {
        SCOPED_TRACE(columns[c]);
        Scene sc;
        const JournalStroke other = drawn(9, 40, 3);
        sc.strokes.push_back(other);
        sc.commit(other, 1, 1);
        ASSERT_TRUE(sc.db.ExecuteSql({QStringLiteral("UPDATE IMG_1 SET %1 = NULL WHERE N = 3").arg(columns[c])}));
        // A run before drew a stroke with that row on top, and stored none of it.
        StrokeRow top{3, other.user, 1, other.penType, other.penSize, other.penColor, other.points[2].x(),
                      other.points[2].y()};
        top.nulls = quint8(1u << (c + 1));
        JournalStroke before = drawn(4, 20, 2);
        before.anchorN = 3;
        before.anchorRow = RowContent(top);
        sc.entry(before).reset();
        auto store = sc.store(sc.db, true);
        int orphans = 0;
        store->onOrphaned = [&](int points) { orphans += points; };
        EXPECT_EQ(store->Refresh(), 0);
        EXPECT_FALSE(store->TakeRedrawn()) << "the row at the watermark taken for another";
        // And a stroke of this run after it.
        const JournalStroke now = drawn(3, 1, 4);
        store->Add({1, now.user, {now.penType, now.penSize, now.penColor}, now.points, sc.entry(now)});
        EXPECT_TRUE(store->StorePending()) << store->LastFailureText().toStdString();
        EXPECT_EQ(store->LastFailure(), StrokeStore::Failure::None);
        EXPECT_FALSE(store->TakeRedrawn());
        EXPECT_EQ(orphans, 0);
        EXPECT_EQ(store->PendingPoints(), 0);
        EXPECT_TRUE(sc.claim().empty());
        // The row as it was, for the count by author and place.
        const int was[] = {top.mn, top.dn, top.type, top.size, top.color, top.x, top.y};
        ASSERT_TRUE(sc.db.ExecuteSql({QStringLiteral("UPDATE IMG_1 SET %1 = %2 WHERE N = 3").arg(columns[c]).arg(was[c])}));
        sc.expectEachPointOnce(columns[c]);
    }
}

} // namespace

