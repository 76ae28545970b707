#include "DbAnswers.h"
#include "ModalAnswer.h"
#include "ConnectedMainWindow.h"
#include "app/MainWindow.h"
#include "windows/PcUserDialog.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class PcUserDialogTest : public ConnectedMainWindow {
protected:
    void Members(const QStringList &values)
    {
        ASSERT_TRUE(mainWindow->Db().CreateMemberTable());
        for (const QString &v : values)
            ASSERT_TRUE(mainWindow->Db().ExecuteSql({QStringLiteral("INSERT INTO MEMBER VALUES (") + v
                                                + QStringLiteral(")")}));
    }
    static QStringList Items()
    {
        QStringList items;
        for (int i = 0; i < pcUserDialog->ComboBox1->count(); ++i)
            items << pcUserDialog->ComboBox1->itemText(i);
        return items;
    }
    // Opens the dialog from the menu; `answer` runs once it is open.
    void RunMenu(const std::function<void()> &answer)
    {
        AnswerModal(QStringLiteral("the PC user dialog"),
                    []() -> QWidget * { return pcUserDialog->isVisible() ? pcUserDialog : nullptr; },
                    [answer](QWidget *) {
                        // Its list is read once it is open.
                        WaitForDbAnswers();
                        answer();
                        if (pcUserDialog->isVisible())
                            pcUserDialog->Button2Click();
                    });
        mainWindow->mnuPCnameSetClick();
        WaitForDbAnswers();
    }
    MessageRecorder messages;
};

TEST_F(PcUserDialogTest, ListsEveryMemberAndSelectsTheCurrentUser)
{
    // Members of section 0 and of a section that does not exist are listed too.
    Members({QStringLiteral("4, 0, '鈴木'"), QStringLiteral("1, 9, '山田'"),
             QStringLiteral("3, 2, '佐藤'")});
    PcUserNo = 3;
    QStringList items;
    QString selected;
    RunMenu([&] {
        items = Items();
        selected = pcUserDialog->ComboBox1->currentText();
    });
    EXPECT_EQ(items, (QStringList{QStringLiteral("1:山田"), QStringLiteral("3:佐藤"),
                                  QStringLiteral("4:鈴木")}));
    EXPECT_EQ(selected, QStringLiteral("3:佐藤"));

    // A PC user that no longer exists selects nothing.
    PcUserNo = 2;
    int index = 0;
    RunMenu([&] { index = pcUserDialog->ComboBox1->currentIndex(); });
    EXPECT_EQ(index, -1);
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(PcUserDialogTest, ChoiceIsKeptAndWrittenAtExit)
{
    Members({QStringLiteral("1, 0, '山田'"), QStringLiteral("2, 0, 'a:b'"),
             QStringLiteral("3, 0, NULL")});
    RunMenu([] {
        EXPECT_EQ(pcUserDialog->ComboBox1->currentIndex(), -1);
        pcUserDialog->Button1Click();
        WaitForDbAnswers();
        EXPECT_TRUE(pcUserDialog->isVisible());
        pcUserDialog->ComboBox1->setCurrentIndex(1);
        pcUserDialog->Button1Click();
        WaitForDbAnswers();
    });
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("PC利用者名を指定して下さい")});
    // The name after the first colon stays whole.
    EXPECT_EQ(PcUserNo, 2);
    EXPECT_EQ(PcUserName, QStringLiteral("a:b"));

    RunMenu([] {
        pcUserDialog->ComboBox1->setCurrentIndex(2);
        pcUserDialog->Button1Click();
        WaitForDbAnswers();
    });
    EXPECT_EQ(PcUserNo, 3);
    EXPECT_TRUE(PcUserName.isEmpty());

    RunMenu([] {
        pcUserDialog->ComboBox1->setCurrentIndex(0);
        pcUserDialog->Button1Click();
        WaitForDbAnswers();
    });
    EXPECT_EQ(PcUserNo, 1);
    EXPECT_EQ(PcUserName, QStringLiteral("山田"));

    TempServerDir dir;
    mainWindow->SettingFileName = dir.path() + QStringLiteral("draw.dat");
    mainWindow->FormClose();
    QFile file(mainWindow->SettingFileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[3], QByteArray("1\r"));
    EXPECT_EQ(FromCp932(lines[4]), QStringLiteral("山田\r"));
}

TEST_F(PcUserDialogTest, CancelEscAndCloseChangeNothingEnterChooses)
{
    Members({QStringLiteral("1, 0, '山田'"), QStringLiteral("2, 0, '佐藤'")});
    PcUserNo = 1;
    PcUserName = QStringLiteral("山田");
    RunMenu([] {
        pcUserDialog->ComboBox1->setCurrentIndex(1);
        pcUserDialog->Button2Click();
        WaitForDbAnswers();
    });
    RunMenu([] {
        pcUserDialog->ComboBox1->setCurrentIndex(1);
        pcUserDialog->close();
    });
    // Enter with the focus on cancel presses cancel; Esc cancels wherever the focus is.
    const std::pair<QWidget *, Qt::Key> keys[] = {{pcUserDialog->Button2, Qt::Key_Return},
                                                  {pcUserDialog->Button2, Qt::Key_Escape},
                                                  {pcUserDialog->Button1, Qt::Key_Escape},
                                                  {pcUserDialog->ComboBox1, Qt::Key_Escape}};
    for (const auto &[focus, key] : keys) {
        RunMenu([focus, key] {
            pcUserDialog->ComboBox1->setCurrentIndex(1);
            focus->setFocus();
            QTest::keyClick(focus, key);
        });
    }
    EXPECT_EQ(PcUserNo, 1);
    EXPECT_EQ(PcUserName, QStringLiteral("山田"));

    // Enter in the list, or on OK, chooses.
    for (QWidget *focus : {static_cast<QWidget *>(pcUserDialog->ComboBox1), static_cast<QWidget *>(pcUserDialog->Button1)}) {
        PcUserNo = 1;
        RunMenu([focus] {
            pcUserDialog->ComboBox1->setCurrentIndex(1);
            focus->setFocus();
            QTest::keyClick(focus, Qt::Key_Enter);
        });
        EXPECT_EQ(PcUserNo, 2);
    }
}

TEST_F(PcUserDialogTest, NoMembersMeansRegisterMembersFirst)
{
    // No MEMBER table at all, then an empty one.
    ASSERT_FALSE(mainWindow->TableExists(QStringLiteral("MEMBER")));
    for (int round = 0; round < 2; ++round) {
        messages.messages.clear();
        RunMenu([] {
            EXPECT_EQ(pcUserDialog->ComboBox1->count(), 0);
            pcUserDialog->Button1Click();
            WaitForDbAnswers();
            EXPECT_TRUE(pcUserDialog->isVisible());
        });
        EXPECT_EQ(messages.messages, QStringList{QStringLiteral("最初にメンバーの登録を行って下さい")});
        if (round == 0)
            Members({});
    }
    EXPECT_EQ(PcUserNo, 0);
}

TEST_F(PcUserDialogTest, ClosesAtOnceWithoutSettingsOrConnection)
{
    ServerDataDir = QStringLiteral(" ");
    pcUserDialog->exec();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("最初にデータベースの設定を行って下さい。")});
    EXPECT_FALSE(pcUserDialog->isVisible());

    messages.messages.clear();
    ServerDataDir = database.folder();
    mainWindow->DisconnectDatabase();
    pcUserDialog->exec();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースに接続出来ません。設定を確認して下さい。")});

    // The menu command says so itself, in the same words, without opening the dialog.
    messages.messages.clear();
    mainWindow->mnuPCnameSetClick();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースに接続出来ません。設定を確認して下さい。")});
    EXPECT_FALSE(pcUserDialog->isVisible());
}

} // namespace
