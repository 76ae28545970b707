#include "windows/PresencePanel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

// The pen mark lasts DrawingMs after a member's last row, each member's on its own clock;
// a strip with nobody hides, and one too narrow for everyone still names them all in its tip;
// while a stroke holds its place, it neither comes nor goes (the canvas would move).
TEST(PresencePanel, DrawingMarksExpireAndNobodyHidesTheStrip)
{
    PresencePanel strip;
    strip.resize(400, strip.height());
    strip.SetMembers({3, 5, 6}, {{3, QStringLiteral("山田")}, {5, QStringLiteral("鈴木")}});
    strip.show();
    EXPECT_EQ(strip.Names(), (QStringList{QStringLiteral("山田"), QStringLiteral("鈴木"), QStringLiteral("メンバー6")}));
    strip.NoteDrawing(5);
    strip.NoteDrawing(9); // not listed: marks nobody
    EXPECT_EQ(strip.DrawingNow(), QList<int>{5});
    EXPECT_EQ(strip.Text(), QStringLiteral("開いている人：山田、鈴木（描画中）、メンバー6"));
    EXPECT_TRUE(strip.toolTip().startsWith(strip.Text() + QLatin1Char('\n'))) << strip.toolTip().toStdString();

    QElapsedTimer t;
    t.start();
    QThread::msleep(PresencePanel::DrawingMs / 2);
    strip.NoteDrawing(3);
    EXPECT_EQ(strip.DrawingNow(), (QList<int>{3, 5}));
    // 5's mark goes first, 3's later, and the tip follows by itself, without another row.
    const QString threeOnly = QStringLiteral("開いている人：山田（描画中）、鈴木、メンバー6");
    auto tip = [&strip] { return strip.toolTip().section(QLatin1Char('\n'), 0, 0); };
    while (tip() != threeOnly && t.elapsed() < 3 * PresencePanel::DrawingMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(tip(), threeOnly);
    EXPECT_EQ(strip.DrawingNow(), QList<int>{3});
    const QString none = QStringLiteral("開いている人：山田、鈴木、メンバー6");
    while (tip() != none && t.elapsed() < 4 * PresencePanel::DrawingMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(tip(), none);
    EXPECT_TRUE(strip.DrawingNow().isEmpty());

    strip.resize(60, strip.height());
    strip.repaint();
    EXPECT_EQ(strip.Names().size(), 3);
    strip.HoldPlace(true);
    strip.SetMembers({}, {});
    EXPECT_FALSE(strip.isHidden());
    strip.HoldPlace(false);
    EXPECT_TRUE(strip.isHidden());
    EXPECT_EQ(strip.Text(), QString());
    strip.HoldPlace(true);
    strip.SetMembers({3}, {});
    EXPECT_TRUE(strip.isHidden());
    strip.HoldPlace(false);
    EXPECT_FALSE(strip.isHidden());
}
