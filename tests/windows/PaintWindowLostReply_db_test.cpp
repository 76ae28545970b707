// A stroke's statement committed by the server whose answer never came back: after the
// worker attaches again by itself, its points count as stored, once, and its stroke
// keeps its stroke number; also when the line goes while the stroke is still under the mouse.
#include "PaintFixture.h"

#include "db/Tables.h"

namespace {
std::vector<QPoint> Line(int x0, int y0, int count)
{
    std::vector<QPoint> p;
    for (int i = 0; i < count; ++i)
        p.emplace_back(x0 + 3 * (i % 15), y0 + i / 15); // a long stroke stays on the picture
    return p;
}

const QString kTable = QStringLiteral("IMG_7");
// Larger than a transaction's start or end, smaller than any stroke's statement: the
// relay's cut aims at the statement that follows beforeInsert.
constexpr int kInsertBytes = 64;
} // namespace

class PaintWindowLostReply : public PaintTest {};

TEST_F(PaintWindowLostReply, ACommittedStatementWhoseAnswerWasLostIsStoredOnceAndKeepsItsStroke)
{
    struct Case {
        const char *name;
        int points;  // of the second stroke
        int lostAt;  // index in it of the first point of the statement whose answer is lost
        bool held = false; // drawn live: the answer of a block is lost, the line then closed, the
                           // rest drawn and released while it is gone
    };
    const Case cases[] = {
        {"a stroke of one statement", 5, 0},
        {"the first statement of a long stroke: it decides the stroke number", 300, 0},
        {"the last statement of a long stroke: nothing of it is left to send", 300, 240},
        {"a block of a stroke under the mouse, the rest drawn while the line is gone", 30, 10, true},
    };
    int image = 7;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString table = ImageTable::NameOf(++image);
        PaintWindow *a = Open(image);
        PaintWindow *watcher = Open(image);
        const QString caption = a->windowTitle();
        const auto first = Line(2, 2, 3), second = Line(2, 12, c.points), third = Line(2, 30, 2);
        Stroke(a, first); // N 1..3, stroke 1
        const int lostN = 4 + c.lostAt;
        const int64_t cutsBefore = gate_.cuts();
        const auto cutAtLostN = [&](int n) {
            if (n == lostN)
                gate_.CutAfterNextRequest(kInsertBytes);
        };
        if (c.held) {
            a->Image1MouseDown(Qt::LeftButton, Qt::LeftButton, second[0].x(), second[0].y());
            for (int i = 1; i < c.lostAt; ++i)
                a->Image1MouseMove(Qt::LeftButton, second[size_t(i)].x(), second[size_t(i)].y());
            ASSERT_TRUE(WaitUntil([&] { return watcher->ReadCount == 3 + c.lostAt; }))
                << "the held stroke's first block was not stored: " << watcher->ReadCount;
            ASSERT_TRUE(a->WaitIdle());
            a->Store()->beforeInsert = cutAtLostN;
            for (int i = c.lostAt; i < c.lostAt + 10; ++i)
                a->Image1MouseMove(Qt::LeftButton, second[size_t(i)].x(), second[size_t(i)].y());
            ASSERT_TRUE(WaitUntil([&] { return gate_.cuts() > cutsBefore; })) << "the relay cut no block";
            CloseGate();
            for (int i = c.lostAt + 10; i < c.points; ++i)
                a->Image1MouseMove(Qt::LeftButton, second[size_t(i)].x(), second[size_t(i)].y());
            a->Image1MouseUp(Qt::LeftButton, Qt::NoButton, second.back().x(), second.back().y());
            EXPECT_TRUE(a->WaitIdle());
            EXPECT_TRUE(a->Drawing == false);
        } else {
            a->Store()->beforeInsert = cutAtLostN;
            Stroke(a, second);
            a->Store()->beforeInsert = nullptr;
            // Held away until the facts are read: the worker would attach again within a second.
            CloseGate();
            EXPECT_EQ(a->UnstoredPoints(), c.points - c.lostAt);
        }
        EXPECT_EQ(gate_.cuts() - cutsBefore, 1) << "the relay cut no statement";
        if (c.held) {
            DataAccess direct;
            direct.ConnectDatabase(db_.serverPath());
            const auto rows = Rows(table, direct);
            ASSERT_GT(rows.size(), size_t(3 + c.lostAt)) << "the block whose answer was lost was not committed";
            ASSERT_LT(rows.size(), size_t(3 + c.points)) << "stored while the line was gone";
            EXPECT_EQ(rows.back().dn, 2);
        } else {
            DataAccess direct;
            direct.ConnectDatabase(db_.serverPath());
            const auto rows = Rows(table, direct);
            // Up to the end of that statement; nothing after it was sent.
            const int committed = std::min(c.points, c.lostAt + 240);
            ASSERT_EQ(rows.size(), size_t(3 + committed)) << "the statement whose answer was lost was not committed";
            const StoredPoint &r = rows.back();
            EXPECT_EQ(std::make_tuple(r.n, r.mn, r.dn, r.x, r.y),
                      std::make_tuple(3 + committed, 3, 2, second[committed - 1].x(), second[committed - 1].y()));
        }

        OpenGate();
        ASSERT_TRUE(StoredOnceBack(a)) << "the worker did not store what waited";
        a->Store()->beforeInsert = nullptr;
        Stroke(a, third);
        Tick(watcher);

        // Every point once, in order, N without gaps, one stroke number per stroke.
        std::vector<std::tuple<int, int, int, int>> expected; // n, dn, x, y
        int n = 0;
        for (const auto &[dn, points] : {std::pair{1, first}, std::pair{2, second}, std::pair{3, third}})
            for (const QPoint &p : points)
                expected.emplace_back(++n, dn, p.x(), p.y());
        std::vector<std::tuple<int, int, int, int>> stored;
        for (const StoredPoint &r : Rows(table))
            stored.emplace_back(r.n, r.dn, r.x, r.y);
        EXPECT_EQ(stored, expected);
        EXPECT_EQ(a->ReadCount, n);
        EXPECT_EQ(watcher->ReadCount, n);
        EXPECT_EQ(a->UnstoredPoints(), 0);
        EXPECT_EQ(a->windowTitle(), caption) << "still marked unstored";
        EXPECT_EQ(Open(image)->Bitmap, a->Bitmap) << "the window differs from a replay";
        EXPECT_EQ(watcher->Bitmap, a->Bitmap);
    }
}
