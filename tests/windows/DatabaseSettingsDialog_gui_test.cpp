#include "TestDatabase.h"
#include "windows/DatabaseSettingsDialog.h"
#include "core/settings/SharedSettings.h"

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

TEST(DbSettingsLayout, TabOrder)
{
    DatabaseSettingsDialog f;
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
    DatabaseSettingsDialog f;
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
