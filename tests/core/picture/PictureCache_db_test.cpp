// The opening of a picture from its local copy and from extra readers: whatever happened to
// the copy, the table or the extra attachments, what is drawn is the table replayed in N order.
#include "DelayRelay.h"
#include "TestDatabase.h"

#include "core/picture/PictureCache.h"
#include "core/picture/RangeReaders.h"
#include "core/painting/StrokeStore.h"
#include "core/catalogue/TableRequests.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <utime.h>

namespace {

const QString kTable = QStringLiteral("IMG_1");

// Rows N = from..to (at most 40000) of a made-up picture; `seed` makes another picture of the same size.
QStringList fill(const QString &table, int from, int to, int seed)
{
    const QString i = QStringLiteral("(A.I * 200 + B.I)");
    return {"INSERT INTO " + table + " (N, MN, DN, PTYP, PSIZ, PCOL, X, Y)",
            "WITH RECURSIVE R (I) AS (SELECT 0 FROM RDB$DATABASE UNION ALL SELECT I + 1 FROM R WHERE I < 199)",
            "SELECT " + i + ", 1 + MOD(" + i + ", 3), " + i + " / 50, MOD(" + i + ", 6), 1 + MOD(" + i + " + "
                + QString::number(seed) + ", 5), " + i + " * 977, MOD(" + i + " * " + QString::number(7 + seed)
                + ", 300), MOD(" + i + ", 200)",
            "FROM R A CROSS JOIN R B WHERE " + i + " BETWEEN " + QString::number(from) + " AND " + QString::number(to)};
}

std::vector<StrokeRow> replay(DataAccess &db, const QString &table)
{
    std::vector<StrokeRow> rows;
    db.ForEachIntegerRow("*", table, QString(), "N", [&](const qint64 *v, const bool *nulls) {
        rows.push_back(RangeReaders::RowOf(v, nulls));
        return true;
    });
    return rows;
}

bool same(const std::vector<StrokeRow> &a, const std::vector<StrokeRow> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].n != b[i].n || a[i].mn != b[i].mn || a[i].dn != b[i].dn || a[i].type != b[i].type
            || a[i].size != b[i].size || a[i].color != b[i].color || a[i].x != b[i].x || a[i].y != b[i].y)
            return false;
    return true;
}

struct Opened {
    std::vector<StrokeRow> drawn;
    StrokeStore::Opening opening;
};

// Opens the picture as a painting window does, and waits for its new copy to be written.
Opened open(DataAccess &db, const QString &table = kTable, std::function<void(const StrokeRow &)> during = {})
{
    Opened o;
    StrokeStore store(db, [&](const StrokeRow &r) {
        o.drawn.push_back(r);
        if (during)
            during(r);
    }, [&] { o.drawn.clear(); });
    store.SetTable(table);
    store.SetCached(true);
    store.Load(false);
    db.EndQuery();
    o.opening = store.LastOpening();
    EXPECT_TRUE(PictureCache::WaitForWrites(20000)) << "the copy was not written within 20 s";
    return o;
}

QString copyFile(DataAccess &db, const QString &table = kTable)
{
    return PictureCache::FileOf(PictureCache::KeyOf(db.DatabasePath(), table));
}

// A fresh database with a picture of 3000 rows, and no copies yet.
struct Scene {
    Scene()
    {
        EXPECT_TRUE(t.created());
        QDir(PictureCache::Folder()).removeRecursively();
        db.ConnectDatabase(t.serverPath());
        EXPECT_TRUE(db.CreateImageTable(kTable));
        EXPECT_TRUE(db.ExecuteSql(fill(kTable, 1, 3000, 0)));
    }
    ~Scene()
    {
        RangeReaders::SetPathForTests(QString());
        RangeReaders::StartAfter = 20000;
        RangeReaders::StallMs = 3000;
        db.DisconnectDatabase();
    }
    TestDatabase t;
    DataAccess db;
};

TEST(PictureCache, OpeningDrawsFromACopyOnlyWhenTheServerConfirmsIt)
{
    struct Case {
        const char *what;
        std::function<void(Scene &)> change; // after the first opening wrote its copy
        int fromCopy;                        // rows the next opening takes from the copy
        bool refused;                        // the server's table is not the copy's
    };
    const auto damage = [](std::function<void(QByteArray &)> how) {
        return [how](Scene &p) {
            QFile f(copyFile(p.db));
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            how(bytes);
            f.resize(0);
            f.seek(0);
            f.write(bytes);
        };
    };
    const auto recreate = [](int seed, int rows) {
        return [seed, rows](Scene &p) {
            ASSERT_TRUE(p.db.DropTable(kTable));
            ASSERT_TRUE(p.db.CreateImageTable(kTable));
            if (rows > 0) {
                ASSERT_TRUE(p.db.ExecuteSql(fill(kTable, 1, rows, seed)));
            }
        };
    };
    const auto sql = [](const char *statement) {
        return [statement](Scene &p) { ASSERT_TRUE(p.db.ExecuteSql({QString::fromLatin1(statement)})); };
    };
    const Case cases[] = {
        {"unchanged", [](Scene &) {}, 3000, false},
        {"rows added by others since", [](Scene &p) { ASSERT_TRUE(p.db.ExecuteSql(fill(kTable, 3001, 3050, 0))); },
         3000, false},
        {"a stroke of 12 rows deleted in the middle", sql("DELETE FROM IMG_1 WHERE N BETWEEN 1500 AND 1511"), 0, true},
        {"one row changed", sql("UPDATE IMG_1 SET X = X + 1 WHERE N = 1700"), 0, true},
        {"one colour made NULL (drawn as 0)", sql("UPDATE IMG_1 SET PCOL = NULL WHERE N = 1800"), 0, true},
        {"one row inserted below the end",
         sql("INSERT INTO IMG_1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (0, 1, 1, 1, 1, 0, 5, 5)"), 0, true},
        {"the database made again at the same path, with the same rows",
         [](Scene &p) {
             p.db.DisconnectDatabase();
             RunIsql(p.t.serverPath(), "DROP DATABASE;\n");
             p.db.CreateDatabase(p.t.serverPath());
             ASSERT_TRUE(p.db.IsConnected()) << p.db.LastErrorText().toStdString();
             ASSERT_TRUE(p.db.CreateImageTable(kTable));
             ASSERT_TRUE(p.db.ExecuteSql(fill(kTable, 1, 3000, 0)));
         },
         0, true},
        {"dropped and made again with the same rows", recreate(0, 3000), 0, true},
        {"dropped and made again with other rows, more of them", recreate(1, 3100), 0, true},
        {"dropped and made again, fewer rows", recreate(0, 2000), 0, true},
        {"dropped and made again empty", recreate(0, 0), 0, true},
        {"truncated", damage([](QByteArray &b) { b.truncate(b.size() / 2); }), 0, false},
        {"a flipped byte (bad checksum)", damage([](QByteArray &b) { b[b.size() / 2] = char(b[b.size() / 2] ^ 0x10); }), 0,
         false},
        {"empty", damage([](QByteArray &b) { b.clear(); }), 0, false},
        {"another picture's copy under this one's name (wrong key)",
         [](Scene &p) {
             ASSERT_TRUE(p.db.CreateImageTable("IMG_2"));
             ASSERT_TRUE(p.db.ExecuteSql(fill("IMG_2", 1, 3000, 2)));
             open(p.db, "IMG_2");
             QFile::remove(copyFile(p.db));
             ASSERT_TRUE(QFile::rename(copyFile(p.db, "IMG_2"), copyFile(p.db)));
         },
         0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Scene p;
        const Opened first = open(p.db);
        EXPECT_EQ(first.opening.fromCopy, 0);
        EXPECT_TRUE(QFile::exists(copyFile(p.db))) << "no copy after the first opening";
        c.change(p);
        if (::testing::Test::HasFatalFailure())
            return;
        const std::vector<StrokeRow> table = replay(p.db, kTable);
        const Opened next = open(p.db);
        EXPECT_TRUE(same(next.drawn, table)) << "drawn " << next.drawn.size() << " rows, the table holds " << table.size();
        EXPECT_EQ(next.opening.fromCopy, c.fromCopy);
        EXPECT_EQ(next.opening.fromCopy + next.opening.fromServer, int(table.size()));
        EXPECT_EQ(next.opening.copyRefused, c.refused);
        // A copy that could not be used is made again from what was read.
        const Opened third = open(p.db);
        EXPECT_TRUE(same(third.drawn, table));
        EXPECT_EQ(third.opening.fromCopy, int(table.size()));
        EXPECT_EQ(third.opening.fromServer, 0);
    }
}

TEST(PictureCache, DeletingThePictureDropsItsCopy)
{
    Scene p;
    open(p.db);
    ASSERT_TRUE(QFile::exists(copyFile(p.db)));
    EXPECT_TRUE(DropImageTable(1).work(p.db));
    EXPECT_FALSE(QFile::exists(copyFile(p.db)));
}

// Whatever the extra readers do (fail, stall, bring rows the opening read already), each
// row is drawn once, in N order, and the copy holds each once.
TEST(PictureCache, OpeningCompletesWhenTheExtraReadersFail)
{
    Scene p;
    ASSERT_TRUE(p.db.ExecuteSql(fill(kTable, 3001, 12000, 0)));
    // Odd N only: the opening's position is never a round number.
    const QString odd = QStringLiteral("IMG_3");
    ASSERT_TRUE(p.db.CreateImageTable(odd));
    ASSERT_TRUE(p.db.ExecuteSql(fill(odd, 1, 12000, 3)));
    ASSERT_TRUE(p.db.ExecuteSql({"UPDATE IMG_3 SET N = 2 * N + 1 ORDER BY N DESC"}));
    RangeReaders::StartAfter = 500;
    RangeReaders::StallMs = 500;
    // A slow line for the readers only: they are still reading when the opening has drawn
    // its own first range (1..1500).
    DelayRelay relay;
    ASSERT_TRUE(relay.start(20000));
    const QString file = p.t.folder() + p.t.fileName();
    const QString throughRelay = p.t.pathVia(relay.port());
    struct Case {
        const char *what;
        QString path;              // where the extra readers attach
        std::function<void()> cut; // done while the readers read
        bool readersBring;         // the readers surely brought rows
        QString table = kTable;
    };
    const Case cases[] = {
        {"no attach", QStringLiteral("localhost/%1:").arg(ClosedPort()) + file, {}, false},
        {"their lines cut while they read", throughRelay, [&] { relay.cutAll(); }, false},
        {"their lines gone silent while they read", throughRelay, [&] { relay.pause(); }, false},
        {"working", throughRelay, {}, true},
        {"working, odd N only", throughRelay, {}, true, odd},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QDir(PictureCache::Folder()).removeRecursively();
        RangeReaders::SetPathForTests(c.path);
        const std::vector<StrokeRow> table = replay(p.db, c.table);
        const Opened o = open(p.db, c.table, [&](const StrokeRow &r) {
            if (r.n == 1400 || r.n == 1401) {
                // Time for the readers to attach and start on their ranges.
                QThread::msleep(800);
                if (c.cut)
                    c.cut();
            }
        });
        relay.resume();
        EXPECT_TRUE(same(o.drawn, table)) << "drawn " << o.drawn.size() << " rows, the table holds " << table.size();
        if (c.readersBring)
            EXPECT_GT(o.opening.fromExtras, 0);
        else
            EXPECT_LT(o.opening.fromExtras, qint64(table.size()) - 1500) << "the readers did not fail";
        // Given up, they end by themselves.
        for (int i = 0; i < 600 && RangeReaders::AtWork() > 0; ++i)
            QThread::msleep(50);
        EXPECT_EQ(RangeReaders::AtWork(), 0) << "extra readers still at work 30 s after the opening";
        // The copy written holds each row once: the next opening draws the table from it.
        const Opened again = open(p.db, c.table);
        EXPECT_TRUE(same(again.drawn, table)) << "drawn " << again.drawn.size() << " rows from the copy";
        EXPECT_EQ(again.opening.fromCopy, int(table.size()));
    }
}

TEST(PictureCacheFiles, TheCapDropsTheLeastRecentlyOpened)
{
    QDir(PictureCache::Folder()).removeRecursively();
    PictureCache::Copy copy;
    copy.relationId = 7;
    for (int i = 1; i <= 20000; ++i)
        copy.rows.push_back({i, i % 7, i / 9, i % 6, 1 + (i * 31) % 9, i * 7919, (i * 37) % 1000, (i * 53) % 800});
    const QStringList keys = {"a\nIMG_1", "b\nIMG_1", "c\nIMG_1", "d\nIMG_1"};
    ASSERT_TRUE(PictureCache::Write(keys[0], copy));
    const qint64 size = QFileInfo(PictureCache::FileOf(keys[0])).size();
    ASSERT_TRUE(PictureCache::Write(keys[1], copy));
    ASSERT_TRUE(PictureCache::Write(keys[2], copy));
    // Opened a while ago, in this order.
    for (int i = 0; i < 3; ++i) {
        const utimbuf when{time(nullptr) - 300 + 100 * i, time(nullptr) - 300 + 100 * i};
        ASSERT_EQ(utime(QFile::encodeName(PictureCache::FileOf(keys[i])).constData(), &when), 0);
    }
    // The oldest is opened again: the next-oldest is now the least recently opened.
    EXPECT_EQ(PictureCache::Read(keys[0]).rows.size(), copy.rows.size());
    const qint64 cap = PictureCache::CapBytes.exchange(3 * size);
    const bool written = PictureCache::Write(keys[3], copy);
    PictureCache::CapBytes = cap;
    ASSERT_TRUE(written);
    EXPECT_TRUE(QFile::exists(PictureCache::FileOf(keys[0])));
    EXPECT_FALSE(QFile::exists(PictureCache::FileOf(keys[1]))) << "the least recently opened copy was kept";
    EXPECT_TRUE(QFile::exists(PictureCache::FileOf(keys[2])));
    EXPECT_TRUE(QFile::exists(PictureCache::FileOf(keys[3])));
    const PictureCache::Copy back = PictureCache::Read(keys[3]);
    EXPECT_EQ(back.relationId, 7);
    EXPECT_TRUE(same(back.rows, copy.rows));

    // What a copy says of itself is read from its start alone, however large it is.
    std::minstd_rand random(7);
    PictureCache::Copy large;
    large.relationId = 9;
    large.database = QStringLiteral("2026-01-02 03:04:05.6789");
    large.versions = 123456789012LL;
    for (int i = 1; i <= 60000; ++i)
        large.rows.push_back({2 * i, int(random() % 50), int(random()), int(random() % 6), int(random() % 30),
                              int(random()), int(random() % 4000), int(random() % 3000), 0, quint8(i % 3 == 0 ? 4 : 0)});
    ASSERT_TRUE(PictureCache::Write(keys[0], large));
    ASSERT_GT(QFileInfo(PictureCache::FileOf(keys[0])).size(), 64 * 1024);
    const PictureCache::Copy said = PictureCache::ReadHeader(keys[0]);
    EXPECT_EQ(said.count, 60000u);
    EXPECT_EQ(said.lastN, 120000);
    EXPECT_EQ(said.versions, large.versions);
    EXPECT_EQ(said.database, large.database);
    EXPECT_EQ(said.relationId, 9);
    const PictureCache::Copy whole = PictureCache::Read(keys[0]);
    ASSERT_TRUE(same(whole.rows, large.rows));
    EXPECT_EQ(whole.rows[2].nulls, 4) << "the NULLs of a row come back";
}

} // namespace
