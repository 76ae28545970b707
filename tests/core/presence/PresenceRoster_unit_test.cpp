#include "core/presence/PresenceRoster.h"
#include "db/Tables.h"

#include <gtest/gtest.h>

// What the monitoring tables hold is anybody's: only this program's variables count,
// each member once per picture, and the shown order puts the PC user first.
TEST(PresenceRoster, TakesOnlyPresenceVariablesAndShowsTheUserFirst)
{
    const struct {
        const char *variable, *value;
    } rows[] = {
        {"OEKAKI_IMG_12", "3"},  {"OEKAKI_IMG_12", "1"},  {"OEKAKI_IMG_12", "3"},   // a second window or PC
        {"OEKAKI_IMG_12", " 2 "}, {"OEKAKI_IMG_7", "3"},  {"OEKAKI_IMG_007", "5"},  // not a number we write
        {"OEKAKI_IMG_", "5"},    {"OEKAKI_IMG_8x", "5"},  {"OEKAKI_IMG_-4", "5"},   {"OEKAKI_IMG_9", "0"},
        {"OEKAKI_IMG_9", "abc"}, {"OEKAKI_IMG_9", ""},    {"OTHER_12", "4"},        {"OEKAKI_IMG_99999999999999999999", "4"},
    };
    PresenceRoster roster;
    for (const auto &r : rows)
        roster.Add(QString::fromUtf8(r.variable), QString::fromUtf8(r.value));
    EXPECT_EQ(roster.MembersOf(12), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(roster.MembersOf(7), (std::vector<int>{3}));
    EXPECT_TRUE(roster.MembersOf(9).empty());
    EXPECT_EQ(roster.byPicture.size(), 2u);
    EXPECT_EQ(roster.Members(), (QList<int>{1, 2, 3}));

    const QHash<int, QString> names{{1, QStringLiteral("山田")}, {2, QStringLiteral("あべ")}, {4, QStringLiteral("  ")}};
    const struct {
        int self;
        QList<int> order;
    } orders[] = {
        {3, {3, 2, 1}},    // the user first, then by the name shown (kana before kanji)
        {1, {1, 2, 3}},    // an unnamed member goes by "メンバー3"
        {7, {7, 2, 3, 1}}, // the user even when the read has not seen them yet
        {0, {2, 3, 1}},
    };
    for (const auto &o : orders)
        EXPECT_EQ(ShownOrder(roster.MembersOf(12), o.self, names), o.order) << o.self;
    EXPECT_EQ(NameList({3, 2, 4}, names), QStringLiteral("メンバー3、あべ、メンバー4"));

    // The names a program writes are the names it reads back; others are not its own.
    for (qint64 n : {1LL, 12LL, 2147483647LL}) {
        EXPECT_EQ(PresenceMark::ImageOfVariable(PresenceMark::VariableOf(n)), n);
        EXPECT_EQ(PresenceMark::ImageOfEvent(PresenceMark::EventOf(n)), n);
    }
    for (const char *event : {"IMG_12", "IMG__HERE", "IMG_x_HERE", "XIMG_3_HERE", "IMG_3_HERE_"})
        EXPECT_EQ(PresenceMark::ImageOfEvent(QString::fromUtf8(event)), 0) << event;
}
