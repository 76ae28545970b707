#include "TestDatabase.h"
#include "app/Unit2.h"
#include "app/UnitV.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QWidget *NextTabStop(QWidget *w)
{
    do
        w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
}

TEST(DbSettingsLayout, ControlsTooltipsAndTabOrder)
{
    TForm2 f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("データベース設定"));
    EXPECT_EQ(f.size(), QSize(251, 200));
    EXPECT_EQ(f.Label1->text() + f.Label5->text(),
              QStringLiteral("サーバー名（IPアドレス＋':'　又は、'localhost:'）"));
    EXPECT_EQ(f.Label5->pos(), QPoint(72, 24));
    EXPECT_EQ(f.Edit1->geometry(), QRect(24, 44, 209, 21));
    EXPECT_EQ(f.Edit2->geometry(), QRect(24, 88, 209, 21));
    EXPECT_EQ(f.Edit3->geometry(), QRect(24, 136, 209, 21));
    EXPECT_EQ(f.Button1->geometry(), QRect(8, 168, 113, 25));
    EXPECT_EQ(f.Button2->geometry(), QRect(128, 168, 113, 25));
    EXPECT_EQ(f.Button2->text(), QStringLiteral("キャンセル(&N)"));
    EXPECT_TRUE(f.Edit2->toolTip().endsWith(QStringLiteral("例：「C:\\data\\」")));
    EXPECT_TRUE(f.Edit1->toolTip().startsWith(QStringLiteral("1台で運用する場合は「localhost:」")));
    EXPECT_TRUE(f.Edit3->toolTip().contains(QStringLiteral("拡張子は「.FDB」となります。")));
    EXPECT_EQ(f.Edit1->maxLength(), QLineEdit().maxLength());
    EXPECT_EQ(NextTabStop(f.Edit1), f.Edit2);
    EXPECT_EQ(NextTabStop(f.Edit2), f.Edit3);
    EXPECT_EQ(NextTabStop(f.Edit3), f.Button1);
    EXPECT_EQ(NextTabStop(f.Button1), f.Button2);
    EXPECT_EQ(NextTabStop(f.Button2), f.Edit1);
}

TEST(DbSettingsKeys, EnterPressesOkAndEscapeCancels)
{
    MessageRecorder messages;
    AssignDefaultSettings();
    TForm2 f;
    f.show();
    EXPECT_EQ(f.focusWidget(), f.Edit1);
    f.Edit2->clear();
    QTest::keyClick(f.Edit1, Qt::Key_Return);
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("サーバーのデータのフォルダを入力して下さい")});
    QSignalSpy rejected(&f, &QDialog::rejected);
    QTest::keyClick(f.Edit2, Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 1);
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(ServerDataDir.isEmpty());
}

} // namespace
