#include "RegisterFixture.h"

#include "registers/Unit3.h"

#include <QLineEdit>
#include <QMdiArea>
#include <QTest>
#include <QApplication>
#include <QTimer>

namespace {

class SectionRegister : public RegisterFixture {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(Form1->Db().CreateSectionTable());
    }
    void Open()
    {
        Form3->show();
        ASSERT_TRUE(Form3->isVisible());
    }
    void TearDown() override
    {
        if (Form3)
            Form3->hide();
        RegisterFixture::TearDown();
    }
    QStringList Sections()
    {
        return Rows(QStringLiteral("N,SNAME"), QStringLiteral("SECTION"), QStringLiteral("N"));
    }
    void Add(const QString &number, const QString &name)
    {
        Form3->Edit1->setText(number);
        Form3->Edit2->setText(name);
        Form3->Button1Click();
    }
};

TEST_F(SectionRegister, MenuCreatesTheTableFirst)
{
    ASSERT_TRUE(Form1->Db().DropTable(QStringLiteral("SECTION")));
    // The look-up runs under the busy cursor, which is gone once the dialog is up.
    bool busyWhileLooking = false, busyInDialog = true;
    const auto names = Form1->Db().onTableNames;
    Form1->Db().onTableNames = [&](const QStringList &l) {
        busyWhileLooking = QApplication::overrideCursor() != nullptr;
        names(l);
    };
    QTimer::singleShot(0, Form3, [&] {
        busyInDialog = QApplication::overrideCursor() != nullptr;
        Form3->Button3Click();
    });
    Form1->mnuAddTable1Click();
    Form1->Db().onTableNames = names;
    EXPECT_TRUE(busyWhileLooking);
    EXPECT_FALSE(busyInDialog);
    EXPECT_TRUE(Form1->TableExists(QStringLiteral("SECTION")));
    EXPECT_FALSE(Form3->isVisible());

    // Unconnected, the command does nothing at all.
    Form1->DisconnectDatabase();
    Form1->mnuAddTable1Click();
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(SectionRegister, OpeningRefusedWithoutSettingsOrConnection)
{
    DatabaseName = QStringLiteral("\t");
    Form3->exec();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("最初にデータベースの設定を行って下さい。")});
    messages.messages.clear();
    DatabaseName = database.fileName();
    Form1->DisconnectDatabase();
    Form3->exec();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースに接続出来ません。設定を確認して下さい。")});
    EXPECT_FALSE(Form3->isVisible());
}

TEST_F(SectionRegister, EmptyTable)
{
    Open();
    EXPECT_EQ(GridRowCount(Form3->SG1), 2);
    EXPECT_EQ(GridRows(Form3->SG1), QStringList{QStringLiteral("|")});
    Form3->Edit1->setText(QStringLiteral("keep"));
    Form3->SG1Click();
    Form3->Button2Click();
    EXPECT_EQ(Form3->Edit1->text(), QStringLiteral("keep"));
    EXPECT_TRUE(messages.confirmations.isEmpty());
    QTest::mouseDClick(Form3->Edit1, Qt::LeftButton);
    EXPECT_EQ(Form3->Edit1->text(), QStringLiteral("1"));
}

TEST_F(SectionRegister, AddListsInNumberOrderAndProposesNext)
{
    Open();
    Add(QStringLiteral("7"), QStringLiteral("営業"));
    Add(QStringLiteral(" 1"), QStringLiteral("総務"));
    Add(QStringLiteral("0002"), QString());
    Add(QStringLiteral("3"), QStringLiteral("’全角“"));
    EXPECT_EQ(messages.messages, QStringList(4, QStringLiteral("登録OK")));
    EXPECT_EQ(Sections(), (QStringList{QStringLiteral("1|総務"), QStringLiteral("2|"),
                                       QStringLiteral("3|’全角“"), QStringLiteral("7|営業")}));
    EXPECT_EQ(GridRows(Form3->SG1), Sections());
    Form3->Edit1DblClick();
    EXPECT_EQ(Form3->Edit1->text(), QStringLiteral("8"));

    messages.messages.clear();
    Add(QStringLiteral("7"), QStringLiteral("重複"));
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("登録失敗")});
    EXPECT_EQ(Sections().last(), QStringLiteral("7|営業"));
}

TEST_F(SectionRegister, AddRefusals)
{
    Open();
    const QString notPositive = QStringLiteral("番号は正の整数で入力して下さい");
    const QString quote = QStringLiteral("引用符「'」「\"」を入力しないで下さい");
    const struct {
        QString number, name, message;
        bool focusNumber;
    } cases[] = {
        {QStringLiteral(" \t "), QString(), QStringLiteral("番号を入力して下さい（正の整数値入力）"), true},
        {QStringLiteral("1 "), QString(), notPositive, true},
        {QStringLiteral("a1"), QString(), notPositive, true},
        {QStringLiteral("0"), QString(), notPositive, true},
        {QStringLiteral("-1"), QString(), notPositive, true},
        {QStringLiteral("99999999999"), QString(), notPositive, true},
        {QStringLiteral("1"), QStringLiteral("'"), quote, false},
        {QStringLiteral("1"), QStringLiteral("\""), quote, false},
    };
    for (const auto &c : cases) {
        messages.messages.clear();
        Add(c.number, c.name);
        EXPECT_EQ(messages.messages, QStringList{c.message}) << c.number.toStdString();
        EXPECT_EQ(Form3->focusWidget(), c.focusNumber ? Form3->Edit1 : Form3->Edit2);
    }
    EXPECT_TRUE(Sections().isEmpty());
}

TEST_F(SectionRegister, ChangeRenames)
{
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (3, NULL)"));
    Open();
    const struct {
        QString number, name, message;
        bool focusNumber;
    } refusals[] = {
        {QString(), QStringLiteral("x"), QStringLiteral("番号を入力して下さい（正の整数値入力）"), true},
        {QStringLiteral("x"), QStringLiteral("  "), QStringLiteral("名称を入力して下さい（半角32文字まで）"), false},
        {QStringLiteral("x"), QStringLiteral("a"), QStringLiteral("番号は正の整数で入力して下さい"), true},
        {QStringLiteral("4"), QStringLiteral("a"), QStringLiteral("入力した番号は未使用ですので変更は出来ません。再入力して下さい"), true},
        {QStringLiteral("3"), QStringLiteral("a'"), QStringLiteral("引用符「'」「\"」を入力しないで下さい"), false},
    };
    for (const auto &c : refusals) {
        messages.messages.clear();
        Form3->Edit1->setText(c.number);
        Form3->Edit2->setText(c.name);
        Form3->Button4Click();
        EXPECT_EQ(messages.messages, QStringList{c.message});
        EXPECT_EQ(Form3->focusWidget(), c.focusNumber ? Form3->Edit1 : Form3->Edit2);
    }
    EXPECT_EQ(Sections(), QStringList{QStringLiteral("3|")});

    messages.messages.clear();
    Form3->Edit1->setText(QStringLiteral(" 03"));
    Form3->Edit2->setText(QStringLiteral("総務部"));
    Form3->Button4Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更OK")});
    EXPECT_EQ(GridRows(Form3->SG1), QStringList{QStringLiteral("3|総務部")});

    messages.messages.clear();
    Form3->Edit2->setText(QString(17, QChar(0x3042)));
    Form3->Button4Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更失敗")});
    EXPECT_EQ(Sections(), QStringList{QStringLiteral("3|総務部")});
}

TEST_F(SectionRegister, DeleteAsksAndRefusesASectionInUse)
{
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (3, '開発')"));
    Open();

    // Without a MEMBER table any section can go; "いいえ" leaves it.
    messages.answer = false;
    SelectGridRow(Form3->SG1, 2);
    Form3->Button2Click();
    EXPECT_EQ(messages.confirmations,
              QStringList{QStringLiteral("「No.3：開発」を削除します。\r\nよろしいですか？")});
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_EQ(Sections().size(), 2);

    ASSERT_TRUE(Form1->Db().CreateMemberTable());
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (1, 3, '山田')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (2, 0, '佐藤')"));
    messages.answer = true;
    Form3->Button2Click();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("メンバーデータで既に使用されていますので削除出来ません。")});
    EXPECT_EQ(Sections().size(), 2);

    // A member of section 0 blocks nothing.
    messages.messages.clear();
    SelectGridRow(Form3->SG1, 1);
    Form3->Button2Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("削除OK")});
    EXPECT_EQ(GridRows(Form3->SG1), QStringList{QStringLiteral("3|開発")});
}

TEST_F(SectionRegister, DeleteFailureReported)
{
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("CREATE EXCEPTION KEEP_SECTION 'kept'"));
    Sql(QStringLiteral("CREATE TRIGGER SECTION_KEEP FOR SECTION BEFORE DELETE AS "
                       "BEGIN EXCEPTION KEEP_SECTION; END"));
    Open();
    Form3->Button2Click();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("削除失敗")});
    EXPECT_EQ(GridRows(Form3->SG1), QStringList{QStringLiteral("1|総務")});
}

TEST_F(SectionRegister, ClickAndKeyboardCopyTheRow)
{
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (2, '開発')"));
    Open();
    QTableWidget *grid = Form3->SG1;
    const QRect cell = grid->visualItemRect(grid->item(GridRowToTable(2), 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(Form3->Edit1->text(), QStringLiteral("2"));
    EXPECT_EQ(Form3->Edit2->text(), QStringLiteral("開発"));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(Form3->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(Form3->Edit2->text(), QStringLiteral("総務"));
}

} // namespace

// The server fails while the table names are listed (here: the program's own
// attachment is cut right after the deletion was confirmed). The user is told once
// that the database could not be read; nothing is deleted, and no "削除失敗".
TEST_F(SectionRegister, UnreadableTableListEndsTheDeletionWithOneMessage)
{
    Sql(QStringLiteral("CREATE TABLE MEMBER (N INTEGER NOT NULL UNIQUE, SN INTEGER, PNAME VARCHAR(16))"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (7, 1, 'A')"));
    Open();
    QStringList id(1);
    ASSERT_EQ(Form1->Db().SelectFields("CURRENT_CONNECTION", "RDB$DATABASE", "", id), 1);
    DataAccess other;
    other.ConnectDatabase(database.serverPath());
    ASSERT_TRUE(other.IsConnected());
    ConfirmHook = [&](const QString &) {
        EXPECT_TRUE(other.ExecuteSql({"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID=" + id[0]}));
        return true;
    };
    Form3->Button2Click();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースが読み込めませんでした。接続を確認して下さい。")});
    EXPECT_EQ(other.SelectAll(QStringLiteral("SECTION"), QString()), 1);
}

// The menu commands that look for a table end the same way, creating nothing.
TEST_F(SectionRegister, UnreadableTableListEndsEachMenuCommand)
{
    Form3->hide();
    DataAccess other;
    other.ConnectDatabase(database.serverPath());
    ASSERT_TRUE(other.IsConnected());
    const std::vector<std::pair<const char *, void (TForm1::*)()>> commands = {
        {"mnuAddTable2", &TForm1::mnuAddTable2Click},
        {"mnuImageNew", &TForm1::mnuImageNewClick},
        {"mnuImageEdit", &TForm1::mnuImageEditClick},
        {"mnuImageList", &TForm1::mnuImageListClick}};
    PcUserNo = 1;
    for (const auto &[name, command] : commands) {
        SCOPED_TRACE(name);
        if (!Form1->IsConnected())
            Form1->ConnectDatabase();
        ASSERT_TRUE(Form1->IsConnected());
        QStringList id(1);
        ASSERT_EQ(Form1->Db().SelectFields("CURRENT_CONNECTION", "RDB$DATABASE", "", id), 1);
        ASSERT_TRUE(other.ExecuteSql({"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID=" + id[0]}));
        messages.messages.clear();
        (Form1->*command)();
        EXPECT_EQ(messages.messages,
                  QStringList{QStringLiteral("データベースが読み込めませんでした。接続を確認して下さい。")});
        EXPECT_TRUE(Form1->MdiArea()->subWindowList().isEmpty());
        Form1->DisconnectDatabase();
    }
    EXPECT_EQ(other.SelectAll(QStringLiteral("MEMBER"), QString()), -1);
    EXPECT_EQ(other.SelectAll(QStringLiteral("IMGLIST"), QString()), -1);
}
