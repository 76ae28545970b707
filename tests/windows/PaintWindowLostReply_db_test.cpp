// An insert committed by the server whose answer never came back: after the worker
// attaches again by itself, the point counts as stored, once, and its stroke keeps
// its stroke number.
#include "PaintFixture.h"

#include "db/Tables.h"

namespace {
std::vector<QPoint> Line(int x0, int y0, int count)
{
    std::vector<QPoint> p;
    for (int i = 0; i < count; ++i)
        p.emplace_back(x0 + 3 * i, y0 + i);
    return p;
}

const QString kTable = QStringLiteral("IMG_7");
// Larger than a transaction's start or end, smaller than any insert: the relay's cut
// aims at the insert that follows beforeInsert.
constexpr int kInsertBytes = 64;
} // namespace

class PaintWindowLostReply : public PaintTest {};

TEST_F(PaintWindowLostReply, ACommittedPointWhoseAnswerWasLostIsStoredOnceAndKeepsItsStroke)
{
    struct Case {
        const char *name;
        int lostAt; // index in the second stroke of the point whose answer is lost
    };
    const Case cases[] = {
        {"the first point: its insert decides the stroke number", 0},
        {"a middle point", 2},
        {"the last point: nothing of the stroke is left to insert", 4},
    };
    int image = 7;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString table = ImageTable::NameOf(++image);
        PaintWindow *a = Open(image);
        PaintWindow *watcher = Open(image);
        const QString caption = a->windowTitle();
        const auto first = Line(2, 2, 3), second = Line(2, 12, 5), third = Line(2, 30, 2);
        Stroke(a, first); // N 1..3, stroke 1
        const int lostN = 4 + c.lostAt;
        const int64_t cutsBefore = gate_.cuts();
        a->Store()->beforeInsert = [&](int n) {
            if (n == lostN)
                gate_.CutAfterNextRequest(kInsertBytes);
        };
        Stroke(a, second);
        a->Store()->beforeInsert = nullptr;
        // Held away until the facts are read: the worker would attach again within a second.
        CloseGate();
        EXPECT_EQ(gate_.cuts() - cutsBefore, 1) << "the relay cut no insert";
        EXPECT_EQ(a->UnstoredPoints(), 5 - c.lostAt);
        {
            DataAccess direct;
            direct.ConnectDatabase(db_.serverPath());
            const auto rows = Rows(table, direct);
            ASSERT_EQ(rows.size(), size_t(lostN)) << "the insert whose answer was lost was not committed";
            const StoredPoint &r = rows.back();
            EXPECT_EQ(std::make_tuple(r.n, r.mn, r.dn, r.x, r.y),
                      std::make_tuple(lostN, 3, 2, second[c.lostAt].x(), second[c.lostAt].y()));
        }

        OpenGate();
        ASSERT_TRUE(StoredOnceBack(a)) << "the worker did not store what waited";
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
