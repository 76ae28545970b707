#include "ConnectedMainWindow.h"
#include "app/Unit1.h"
#include "app/Unit5.h"
#include "app/UnitV.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class PcUserDialog : public ConnectedMainWindow {
protected:
    void Members(const QStringList &values)
    {
        ASSERT_TRUE(Form1->Db().CreateMemberTable());
        for (const QString &v : values)
            ASSERT_TRUE(Form1->Db().ExecuteSql({QStringLiteral("INSERT INTO MEMBER VALUES (") + v
                                                + QStringLiteral(")")}));
    }
    static QStringList Items()
    {
        QStringList items;
        for (int i = 0; i < Form5->ComboBox1->count(); ++i)
            items << Form5->ComboBox1->itemText(i);
        return items;
    }
    // Opens the dialog from the menu; `answer` runs once it is open.
    void RunMenu(const std::function<void()> &answer)
    {
        QTimer::singleShot(0, Form5, [answer] {
            answer();
            if (Form5->isVisible())
                Form5->Button2Click();
        });
        Form1->mnuPCnameSetClick();
    }
    MessageRecorder messages;
};

TEST_F(PcUserDialog, ListsEveryMemberAndSelectsTheCurrentUser)
{
    // Members of section 0 and of a section that does not exist are listed too.
    Members({QStringLiteral("4, 0, '鈴木'"), QStringLiteral("1, 9, '山田'"),
             QStringLiteral("3, 2, '佐藤'")});
    PcUserNo = 3;
    QStringList items;
    QString selected;
    RunMenu([&] {
        items = Items();
        selected = Form5->ComboBox1->currentText();
    });
    EXPECT_EQ(items, (QStringList{QStringLiteral("1:山田"), QStringLiteral("3:佐藤"),
                                  QStringLiteral("4:鈴木")}));
    EXPECT_EQ(selected, QStringLiteral("3:佐藤"));

    // A PC user that no longer exists selects nothing.
    PcUserNo = 2;
    int index = 0;
    RunMenu([&] { index = Form5->ComboBox1->currentIndex(); });
    EXPECT_EQ(index, -1);
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(PcUserDialog, ChoiceIsKeptAndWrittenAtExit)
{
    Members({QStringLiteral("1, 0, '山田'"), QStringLiteral("2, 0, 'a:b'"),
             QStringLiteral("3, 0, NULL")});
    RunMenu([] {
        EXPECT_EQ(Form5->ComboBox1->currentIndex(), -1);
        Form5->Button1Click();
        EXPECT_TRUE(Form5->isVisible());
        Form5->ComboBox1->setCurrentIndex(1);
        Form5->Button1Click();
    });
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("PC利用者名を指定して下さい")});
    // The name after the first colon stays whole.
    EXPECT_EQ(PcUserNo, 2);
    EXPECT_EQ(PcUserName, QStringLiteral("a:b"));

    RunMenu([] {
        Form5->ComboBox1->setCurrentIndex(2);
        Form5->Button1Click();
    });
    EXPECT_EQ(PcUserNo, 3);
    EXPECT_TRUE(PcUserName.isEmpty());

    RunMenu([] {
        Form5->ComboBox1->setCurrentIndex(0);
        Form5->Button1Click();
    });
    EXPECT_EQ(PcUserNo, 1);
    EXPECT_EQ(PcUserName, QStringLiteral("山田"));

    TempServerDir dir;
    Form1->SettingFileName = dir.path() + QStringLiteral("draw.dat");
    Form1->FormClose();
    QFile file(Form1->SettingFileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[3], QByteArray("1\r"));
    EXPECT_EQ(FromCp932(lines[4]), QStringLiteral("山田\r"));
}

TEST_F(PcUserDialog, CancelEscAndCloseChangeNothingEnterChooses)
{
    Members({QStringLiteral("1, 0, '山田'"), QStringLiteral("2, 0, '佐藤'")});
    PcUserNo = 1;
    PcUserName = QStringLiteral("山田");
    RunMenu([] {
        Form5->ComboBox1->setCurrentIndex(1);
        Form5->Button2Click();
    });
    RunMenu([] {
        Form5->ComboBox1->setCurrentIndex(1);
        Form5->close();
    });
    // Enter with the focus on cancel presses cancel; Esc cancels wherever the focus is.
    const std::pair<QWidget *, Qt::Key> keys[] = {{Form5->Button2, Qt::Key_Return},
                                                  {Form5->Button2, Qt::Key_Escape},
                                                  {Form5->Button1, Qt::Key_Escape},
                                                  {Form5->ComboBox1, Qt::Key_Escape}};
    for (const auto &[focus, key] : keys) {
        RunMenu([focus, key] {
            Form5->ComboBox1->setCurrentIndex(1);
            focus->setFocus();
            QTest::keyClick(focus, key);
        });
    }
    EXPECT_EQ(PcUserNo, 1);
    EXPECT_EQ(PcUserName, QStringLiteral("山田"));

    // Enter in the list, or on OK, chooses.
    for (QWidget *focus : {static_cast<QWidget *>(Form5->ComboBox1), static_cast<QWidget *>(Form5->Button1)}) {
        PcUserNo = 1;
        RunMenu([focus] {
            Form5->ComboBox1->setCurrentIndex(1);
            focus->setFocus();
            QTest::keyClick(focus, Qt::Key_Enter);
        });
        EXPECT_EQ(PcUserNo, 2);
    }
}

TEST_F(PcUserDialog, NoMembersMeansRegisterMembersFirst)
{
    // No MEMBER table at all, then an empty one.
    ASSERT_FALSE(Form1->TableExists(QStringLiteral("MEMBER")));
    for (int round = 0; round < 2; ++round) {
        messages.messages.clear();
        RunMenu([] {
            EXPECT_EQ(Form5->ComboBox1->count(), 0);
            Form5->Button1Click();
            EXPECT_TRUE(Form5->isVisible());
        });
        EXPECT_EQ(messages.messages, QStringList{QStringLiteral("最初にメンバーの登録を行って下さい")});
        if (round == 0)
            Members({});
    }
    EXPECT_EQ(PcUserNo, 0);
}

TEST_F(PcUserDialog, ClosesAtOnceWithoutSettingsOrConnection)
{
    ServerDataDir = QStringLiteral(" ");
    Form5->exec();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("最初にデータベースの設定を行って下さい。")});
    EXPECT_FALSE(Form5->isVisible());

    messages.messages.clear();
    ServerDataDir = database.folder();
    Form1->DisconnectDatabase();
    Form5->exec();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースに接続出来ません。設定を確認して下さい。")});

    // The menu command itself does nothing while unconnected.
    messages.messages.clear();
    Form1->mnuPCnameSetClick();
    EXPECT_TRUE(messages.messages.isEmpty());
}

} // namespace
