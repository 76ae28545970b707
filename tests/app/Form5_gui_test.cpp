#include "app/Unit5.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(PcUserLayout, ControlsAndTabOrder)
{
    TForm5 f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("PC利用者名の登録"));
    EXPECT_EQ(f.size(), QSize(280, 72));
    EXPECT_EQ(f.pos(), QPoint(191, 106));
    EXPECT_EQ(f.Label1->text(), QStringLiteral("PC利用者名："));
    EXPECT_EQ(f.ComboBox1->geometry(), QRect(96, 8, 177, 21));
    EXPECT_FALSE(f.ComboBox1->isEditable());
    EXPECT_EQ(f.Button1->geometry(), QRect(40, 40, 113, 25));
    EXPECT_TRUE(f.Button1->isDefault());
    EXPECT_EQ(f.Button2->geometry(), QRect(160, 40, 113, 25));
    EXPECT_EQ(f.ComboBox1->nextInFocusChain(), f.Button1);
    EXPECT_EQ(f.Button1->nextInFocusChain(), f.Button2);
}
