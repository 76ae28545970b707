#include "RegisterFixture.h"

#include "registers/Unit4.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace {

class MemberRegister : public RegisterFixture {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(Form1->Db().CreateMemberTable());
    }
    void WithSections()
    {
        ASSERT_TRUE(Form1->Db().CreateSectionTable());
        Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
        Sql(QStringLiteral("INSERT INTO SECTION VALUES (2, '開発')"));
    }
    void Open()
    {
        Form4->show();
        ASSERT_TRUE(Form4->isVisible());
    }
    void TearDown() override
    {
        if (Form4)
            Form4->hide();
        RegisterFixture::TearDown();
    }
    QStringList Members()
    {
        return Rows(QStringLiteral("N,SN,PNAME"), QStringLiteral("MEMBER"), QStringLiteral("N"));
    }
    void Add(const QString &number, int sectionIndex, const QString &name)
    {
        Form4->Edit1->setText(number);
        Form4->ComboBox1->setCurrentIndex(sectionIndex);
        Form4->Edit2->setText(name);
        Form4->Button1Click();
    }
};

TEST_F(MemberRegister, MenuCreatesMemberTableButNotSection)
{
    ASSERT_TRUE(Form1->Db().DropTable(QStringLiteral("MEMBER")));
    QTimer::singleShot(0, Form4, [] { Form4->Button3Click(); });
    Form1->mnuAddTable2Click();
    EXPECT_TRUE(Form1->TableExists(QStringLiteral("MEMBER")));
    EXPECT_FALSE(Form1->TableExists(QStringLiteral("SECTION")));
    EXPECT_FALSE(Form4->isVisible());
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(MemberRegister, OpeningRefusedWithoutSettingsOrConnection)
{
    ServerDataDir = QStringLiteral("  ");
    Form4->exec();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("最初にデータベースの設定を行って下さい。")});
    EXPECT_FALSE(Form4->isVisible());

    messages.messages.clear();
    ServerDataDir = database.folder();
    Form1->DisconnectDatabase();
    Form4->exec();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースに接続出来ません。設定を確認して下さい。")});
    EXPECT_FALSE(Form4->isVisible());
}

// A member must be listed whatever its section, else it could never be changed or deleted.
TEST_F(MemberRegister, EveryMemberListedOnceWhateverItsSection)
{
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (3, 9, '迷子')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (1, 0, '山田')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (2, 2, NULL)"));

    // No SECTION table at all.
    Open();
    EXPECT_EQ(GridRows(Form4->SG1),
              (QStringList{QStringLiteral("1|0||山田"), QStringLiteral("2|2||"),
                           QStringLiteral("3|9||迷子")}));
    EXPECT_EQ(Form4->ComboBox1->count(), 1);
    EXPECT_EQ(Form4->ComboBox1->currentText(), QStringLiteral("0:指定無し"));
    Form4->hide();

    // SECTION exists but is empty.
    ASSERT_TRUE(Form1->Db().CreateSectionTable());
    Open();
    EXPECT_EQ(GridRows(Form4->SG1).size(), 3);
    Form4->hide();

    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (2, '開発')"));
    Open();
    EXPECT_EQ(GridRows(Form4->SG1),
              (QStringList{QStringLiteral("1|0||山田"), QStringLiteral("2|2|開発|"),
                           QStringLiteral("3|9||迷子")}));
    EXPECT_EQ(Form4->ComboBox1->count(), 3);
    EXPECT_EQ(Form4->ComboBox1->itemText(1), QStringLiteral("1:総務"));
    EXPECT_EQ(Form4->ComboBox1->itemText(2), QStringLiteral("2:開発"));

    // A member of a section that does not exist can be deleted from the grid.
    SelectGridRow(Form4->SG1, 3);
    Form4->Button2Click();
    EXPECT_EQ(messages.messages.last(), QStringLiteral("削除OK"));
    EXPECT_EQ(GridRows(Form4->SG1).size(), 2);
}

TEST_F(MemberRegister, EmptyTableShowsOneEmptyRowAndProposesOne)
{
    Open();
    EXPECT_EQ(GridRowCount(Form4->SG1), 2);
    Form4->Edit1->setText(QStringLiteral("keep"));
    Form4->Edit2->setText(QStringLiteral("keep"));
    Form4->SG1Click();
    Form4->Button2Click();
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("keep"));
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_TRUE(messages.confirmations.isEmpty());

    QTest::mouseDClick(Form4->Edit1, Qt::LeftButton);
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(Form4->Edit2->text(), QStringLiteral("keep"));
}

TEST_F(MemberRegister, NextNumberFollowsTheLargest)
{
    for (int n : {1, 2, 7})
        Sql(QStringLiteral("INSERT INTO MEMBER VALUES (%1, 0, 'x')").arg(n));
    Open();
    Form4->Edit1DblClick();
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("8"));

    // The largest possible number proposes one that the add then refuses, not a wrapped one.
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (2147483647, 0, 'max')"));
    Form4->Edit1DblClick();
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("2147483648"));
    Form4->Button1Click();
    EXPECT_EQ(messages.messages.last(), QStringLiteral("番号は正の整数で入力して下さい"));
}

TEST_F(MemberRegister, AddStoresNumberSectionAndName)
{
    WithSections();
    Open();
    Add(QStringLiteral(" 5"), 2, QStringLiteral("山田"));
    Add(QStringLiteral("007"), 0, QString());
    Add(QStringLiteral("8"), 1, QStringLiteral("’全角”"));
    EXPECT_EQ(messages.messages, (QStringList{QStringLiteral("登録OK"), QStringLiteral("登録OK"),
                                              QStringLiteral("登録OK")}));
    EXPECT_EQ(Members(), (QStringList{QStringLiteral("5|2|山田"), QStringLiteral("7|0|"),
                                      QStringLiteral("8|1|’全角”")}));
    EXPECT_EQ(GridRows(Form4->SG1),
              (QStringList{QStringLiteral("5|2|開発|山田"), QStringLiteral("7|0||"),
                           QStringLiteral("8|1|総務|’全角”")}));
    // The boxes keep what was typed.
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("8"));

    // Without any section, a member of section 0 is stored and listed.
    ASSERT_TRUE(Form1->Db().DeleteRecords(QStringLiteral("SECTION"), QString()));
    Add(QStringLiteral("9"), 0, QStringLiteral("新人"));
    EXPECT_EQ(messages.messages.last(), QStringLiteral("登録OK"));
    EXPECT_EQ(GridRows(Form4->SG1).last(), QStringLiteral("9|0||新人"));
}

TEST_F(MemberRegister, AddRefusals)
{
    Open();
    struct Case {
        QString number, name, message;
        bool focusNumber;
    };
    const QString notPositive = QStringLiteral("番号は正の整数で入力して下さい");
    const Case cases[] = {
        {QStringLiteral("   "), QStringLiteral("a"), QStringLiteral("番号を入力して下さい（正の整数値入力）"), true},
        {QString(), QStringLiteral("a"), QStringLiteral("番号を入力して下さい（正の整数値入力）"), true},
        {QStringLiteral("5 "), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("5a"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("0"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("-3"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("2147483648"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("5"), QStringLiteral("O'Neil"), QStringLiteral("引用符「'」「\"」を入力しないで下さい"), false},
        {QStringLiteral("5"), QStringLiteral("a\"b"), QStringLiteral("引用符「'」「\"」を入力しないで下さい"), false},
    };
    for (const Case &c : cases) {
        messages.messages.clear();
        Add(c.number, 0, c.name);
        EXPECT_EQ(messages.messages, QStringList{c.message}) << c.number.toStdString();
        EXPECT_EQ(Form4->focusWidget(), c.focusNumber ? Form4->Edit1 : Form4->Edit2)
            << c.number.toStdString();
    }
    EXPECT_TRUE(Members().isEmpty());
}

TEST_F(MemberRegister, DuplicateNumberFailsAndKeepsTheRow)
{
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (4, 0, '先客')"));
    Open();
    Add(QStringLiteral("4"), 0, QStringLiteral("後客"));
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("登録失敗")});
    EXPECT_EQ(Members(), QStringList{QStringLiteral("4|0|先客")});
    EXPECT_EQ(GridRows(Form4->SG1), QStringList{QStringLiteral("4|0||先客")});
}

TEST_F(MemberRegister, ClickAndKeyboardCopyTheMemberAndItsSection)
{
    WithSections();
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (1, 0, '山田')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (2, 2, '佐藤')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (3, 1, '鈴木')"));
    Open();
    // Opening alone copies nothing.
    EXPECT_TRUE(Form4->Edit1->text().isEmpty());

    QTableWidget *grid = Form4->SG1;
    const QRect cell = grid->visualItemRect(grid->item(GridRowToTable(2), 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("2"));
    EXPECT_EQ(Form4->Edit2->text(), QStringLiteral("佐藤"));
    EXPECT_EQ(Form4->ComboBox1->currentText(), QStringLiteral("2:開発"));

    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(Form4->ComboBox1->currentIndex(), 0);
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("3"));
    EXPECT_EQ(Form4->ComboBox1->currentText(), QStringLiteral("1:総務"));
}

TEST_F(MemberRegister, ChangeReplacesSectionAndName)
{
    WithSections();
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (5, 2, '山田')"));
    Open();
    SelectGridRow(Form4->SG1, 1);
    Form4->SG1Click();
    Form4->ComboBox1->setCurrentIndex(0);
    Form4->Edit2->setText(QStringLiteral("山田花子"));
    Form4->Button4Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更OK")});
    EXPECT_EQ(Members(), QStringList{QStringLiteral("5|0|山田花子")});
    EXPECT_EQ(GridRows(Form4->SG1), QStringList{QStringLiteral("5|0||山田花子")});

    // A name longer than the column is refused by the database and reported.
    messages.messages.clear();
    Form4->Edit2->setText(QStringLiteral("あいうえおかきくけこ"));
    Form4->Button4Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更失敗")});
    EXPECT_EQ(Members(), QStringList{QStringLiteral("5|0|山田花子")});
}

TEST_F(MemberRegister, ChangeRefusalsInOrder)
{
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (5, 0, '山田')"));
    Open();
    struct Case {
        QString number, name, message;
        bool focusNumber;
    };
    const Case cases[] = {
        {QStringLiteral(" "), QString(), QStringLiteral("番号を入力して下さい（正の整数値入力）"), true},
        // The name message comes before the number's.
        {QStringLiteral("abc"), QStringLiteral(" "), QStringLiteral("氏名を入力して下さい（半角16文字まで）"), false},
        {QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("番号は正の整数で入力して下さい"), true},
        {QStringLiteral("6"), QStringLiteral("x"), QStringLiteral("入力した番号は未使用ですので変更は出来ません。再入力して下さい"), true},
        {QStringLiteral("5"), QStringLiteral("x'"), QStringLiteral("引用符「'」「\"」を入力しないで下さい"), false},
    };
    for (const Case &c : cases) {
        messages.messages.clear();
        Form4->Edit1->setText(c.number);
        Form4->Edit2->setText(c.name);
        Form4->Button4Click();
        EXPECT_EQ(messages.messages, QStringList{c.message}) << c.number.toStdString();
        EXPECT_EQ(Form4->focusWidget(), c.focusNumber ? Form4->Edit1 : Form4->Edit2)
            << c.number.toStdString();
    }
    EXPECT_EQ(Members(), QStringList{QStringLiteral("5|0|山田")});
}

TEST_F(MemberRegister, DeleteAsksFirst)
{
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (5, 0, '山田')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (6, 0, '佐藤')"));
    Open();
    Form4->Edit1->setText(QStringLiteral("6"));
    Form4->Edit2->setText(QStringLiteral("佐藤"));

    messages.answer = false;
    SelectGridRow(Form4->SG1, 1);
    Form4->Button2Click();
    EXPECT_EQ(messages.confirmations,
              QStringList{QStringLiteral("「No.5：山田」を削除します。\r\nよろしいですか？")});
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_EQ(Members().size(), 2);
    EXPECT_EQ(GridRows(Form4->SG1).size(), 2);

    messages.answer = true;
    Form4->Button2Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("削除OK")});
    EXPECT_EQ(Members(), QStringList{QStringLiteral("6|0|佐藤")});
    EXPECT_EQ(GridRows(Form4->SG1), QStringList{QStringLiteral("6|0||佐藤")});
    // The boxes are neither read nor changed by a deletion.
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("6"));
}

TEST_F(MemberRegister, DeleteFailureReported)
{
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (5, 0, '山田')"));
    Sql(QStringLiteral("CREATE EXCEPTION KEEP_MEMBER 'kept'"));
    Sql(QStringLiteral("CREATE TRIGGER MEMBER_KEEP FOR MEMBER BEFORE DELETE AS "
                       "BEGIN EXCEPTION KEEP_MEMBER; END"));
    Open();
    Form4->Button2Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("削除失敗")});
    EXPECT_EQ(GridRows(Form4->SG1), QStringList{QStringLiteral("5|0||山田")});
}

TEST_F(MemberRegister, BoxesAndSelectionSurviveReopening)
{
    WithSections();
    Open();
    Form4->Edit1->setText(QStringLiteral("12"));
    Form4->Edit2->setText(QStringLiteral("残る"));
    Form4->ComboBox1->setCurrentIndex(2);
    Form4->Button3Click();
    EXPECT_FALSE(Form4->isVisible());
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (3, '新設')"));
    Open();
    EXPECT_EQ(Form4->Edit1->text(), QStringLiteral("12"));
    EXPECT_EQ(Form4->Edit2->text(), QStringLiteral("残る"));
    EXPECT_EQ(Form4->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(Form4->ComboBox1->count(), 4);
}

} // namespace
