// Odd sizes in the pen tip dialog: each is refused with the one message or taken as TextToInt reads it.
#include "TestDatabase.h"
#include "TestInput.h"
#include "windows/PenTipDialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {



TEST(PenTipBadInput, SizeTable)
{
    const QString range = QStringLiteral("サイズは 1 ～ 300 の範囲内で入力して下さい");
    const struct {
        QString text;
        bool typed;
        QString inBox;
        int size; // 0: refused
    } rows[] = {
        {QString(), false, QString(), 0},
        {QStringLiteral(" 5"), false, QStringLiteral(" 5"), 5},
        {QStringLiteral("5 "), false, QStringLiteral("5 "), 0},
        {QStringLiteral("+5"), false, QStringLiteral("+5"), 5},
        {QStringLiteral("$10"), false, QStringLiteral("$10"), 16},
        {QStringLiteral("0x10"), false, QStringLiteral("0x10"), 16},
        // Typed, the box stops at three characters: what remains is read as it stands.
        {QStringLiteral("0x10"), true, QStringLiteral("0x1"), 1},
        {QStringLiteral("3000"), true, QStringLiteral("300"), 300},
        {QStringLiteral("$12C"), false, QStringLiteral("$12C"), 300},
        {QStringLiteral("$12D"), false, QStringLiteral("$12D"), 0},
        {QStringLiteral("301"), false, QStringLiteral("301"), 0},
        {QStringLiteral("-1"), false, QStringLiteral("-1"), 0},
        {QStringLiteral("1e2"), false, QStringLiteral("1e2"), 0},
        {QStringLiteral("１０"), true, QStringLiteral("１０"), 0},
        {QStringLiteral("\t7"), false, QStringLiteral("\t7"), 0},
        {QStringLiteral("😀"), true, QStringLiteral("😀"), 0},
        {QStringLiteral("4294967297"), false, QStringLiteral("4294967297"), 0},
    };
    MessageRecorder rec;
    PenTipDialog dlg;
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "[" << r.text.toStdString() << "]" << (r.typed ? " typed" : ""));
        dlg.TipType = 4;
        dlg.TipSize = 9;
        dlg.show();
        ASSERT_TRUE(dlg.isVisible());
        dlg.ComboBox1->setCurrentIndex(2);
        if (r.typed)
            TypeInto(dlg.Edit1, r.text);
        else
            dlg.Edit1->setText(r.text);
        EXPECT_EQ(dlg.Edit1->text(), r.inBox);
        rec.messages.clear();
        dlg.Button1->setFocus();
        dlg.Button1Click();
        if (r.size == 0) {
            EXPECT_EQ(Show(rec.messages), range.toStdString());
            EXPECT_TRUE(dlg.isVisible());
            EXPECT_FALSE(dlg.Accepted);
            EXPECT_EQ(dlg.focusWidget(), dlg.Edit1);
            EXPECT_EQ(dlg.TipType, 4);
            EXPECT_EQ(dlg.TipSize, 9);
            dlg.Button2Click();
        } else {
            EXPECT_TRUE(rec.messages.isEmpty());
            EXPECT_FALSE(dlg.isVisible());
            EXPECT_TRUE(dlg.Accepted);
            EXPECT_EQ(dlg.TipType, 2);
            EXPECT_EQ(dlg.TipSize, r.size);
        }
    }
}

} // namespace
