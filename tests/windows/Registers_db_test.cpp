// The section and member registers against a database: one suite for what they share,
// run on both, then what only one of them does.
#include "RegisterFixture.h"

#include "CommitCut.h"

#include "DbAnswers.h"
#include "ModalAnswer.h"
#include "StallMeter.h"

#include "windows/SectionRegister.h"
#include "windows/MemberRegister.h"
#include "forms/MessageBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QMdiArea>
#include <QPushButton>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace {

// Where the two registers differ, as far as the shared cases see it.
struct Register {
    const char *name;
    RegisterDialog *(*form)();
    QString table;
    QString list; // the stored columns read back
    bool (DataAccess::*create)();
    void (MainWindow::*menu)();
    QString nameMissing;
    // The row of number n and that name: as an INSERT, as read back, as the grid shows it.
    QString (*insert)(int n, const QString &name);
    QString (*stored)(int n, const QString &name);
    QString (*grid)(int n, const QString &name);
};

// Test names and failures show which register, not the bytes of the description.
void PrintTo(const Register &r, std::ostream *os)
{
    *os << r.name;
}

const Register kSection{
    "Section",
    [] { return static_cast<RegisterDialog *>(sectionRegister); },
    QStringLiteral("SECTION"),
    QStringLiteral("N,SNAME"),
    &DataAccess::CreateSectionTable,
    &MainWindow::mnuAddTable1Click,
    QStringLiteral("名称を入力して下さい（半角32文字まで）"),
    [](int n, const QString &name) { return QStringLiteral("INSERT INTO SECTION VALUES (%1, '%2')").arg(n).arg(name); },
    [](int n, const QString &name) { return QStringLiteral("%1|%2").arg(n).arg(name); },
    [](int n, const QString &name) { return QStringLiteral("%1|%2").arg(n).arg(name); },
};

const Register kMember{
    "Member",
    [] { return static_cast<RegisterDialog *>(memberRegister); },
    QStringLiteral("MEMBER"),
    QStringLiteral("N,SN,PNAME"),
    &DataAccess::CreateMemberTable,
    &MainWindow::mnuAddTable2Click,
    QStringLiteral("氏名を入力して下さい（半角16文字まで）"),
    [](int n, const QString &name) { return QStringLiteral("INSERT INTO MEMBER VALUES (%1, 0, '%2')").arg(n).arg(name); },
    [](int n, const QString &name) { return QStringLiteral("%1|0|%2").arg(n).arg(name); },
    [](int n, const QString &name) { return QStringLiteral("%1|0||%2").arg(n).arg(name); },
};

class RegisterTest : public RegisterFixture, public ::testing::WithParamInterface<Register> {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE((mainWindow->Db().*GetParam().create)());
    }
    void TearDown() override
    {
        if (Form())
            Form()->hide();
        RegisterFixture::TearDown();
    }
    RegisterDialog *Form() const { return GetParam().form(); }
    void Open()
    {
        Form()->show();
        WaitForDbAnswers();
        ASSERT_TRUE(Form()->isVisible());
    }
    void Insert(int n, const QString &name) { Sql(GetParam().insert(n, name)); }
    QStringList Stored() { return Rows(GetParam().list, GetParam().table, QStringLiteral("N")); }
    // Section 0 ("0:指定無し") for a member.
    void Add(const QString &number, const QString &name)
    {
        Form()->Edit1->setText(number);
        if (Form() == memberRegister)
            memberRegister->ComboBox1->setCurrentIndex(0);
        Form()->Edit2->setText(name);
        Form()->Button1Click();
        WaitForDbAnswers();
    }
    // The highlighted grid rows (header-inclusive numbers).
    QList<int> SelectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex &i : Form()->SG1->selectionModel()->selectedRows())
            rows << TableRowToGrid(i.row());
        return rows;
    }
    void Change(const QString &number, const QString &name)
    {
        Form()->Edit1->setText(number);
        Form()->Edit2->setText(name);
        Form()->Button4Click();
        WaitForDbAnswers();
    }
};

TEST_P(RegisterTest, MenuCreatesTheTableFirst)
{
    const Register &r = GetParam();
    ASSERT_TRUE(mainWindow->Db().DropTable(r.table));
    // The look-up runs on the main-db thread under the main window's busy cursor, which is
    // gone once the dialog is up.
    bool busyInDialog = true;
    RegisterDialog *form = Form();
    AnswerModal(QStringLiteral("the register"), [form]() -> QWidget * { return form->isVisible() ? form : nullptr; },
                [&](QWidget *) {
                    busyInDialog = mainWindow->cursor().shape() == Qt::BusyCursor;
                    form->Button3Click();
                });
    (mainWindow->*r.menu)();
    EXPECT_EQ(mainWindow->cursor().shape(), Qt::BusyCursor);
    EXPECT_TRUE(WaitForDbAnswers());
    EXPECT_FALSE(busyInDialog);
    EXPECT_TRUE(mainWindow->TableExists(r.table));
    EXPECT_FALSE(Form()->isVisible());
    EXPECT_TRUE(messages.messages.isEmpty());

    // Unconnected, the command opens nothing and says why.
    mainWindow->DisconnectDatabase();
    (mainWindow->*r.menu)();
    EXPECT_FALSE(Form()->isVisible());
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースに接続出来ません。設定を確認して下さい。")});
}

TEST_P(RegisterTest, OpeningRefusedWithoutSettingsOrConnection)
{
    for (QString *setting : {&DatabaseName, &ServerDataDir}) {
        const QString kept = *setting;
        *setting = setting == &DatabaseName ? QStringLiteral("\t") : QStringLiteral("  ");
        messages.messages.clear();
        Form()->exec();
        EXPECT_EQ(messages.messages, QStringList{QStringLiteral("最初にデータベースの設定を行って下さい。")});
        EXPECT_FALSE(Form()->isVisible());
        *setting = kept;
    }

    messages.messages.clear();
    mainWindow->DisconnectDatabase();
    Form()->exec();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("データベースに接続出来ません。設定を確認して下さい。")});
    EXPECT_FALSE(Form()->isVisible());
}

TEST_P(RegisterTest, EmptyTableShowsOneEmptyRowAndProposesOne)
{
    Open();
    EXPECT_EQ(GridRowCount(Form()->SG1), 2);
    EXPECT_EQ(GridRows(Form()->SG1), QStringList{QString(Form()->SG1->columnCount() - 1, QLatin1Char('|'))});
    EXPECT_EQ(SelectedRows(), QList<int>{}); // the empty row is not offered as a choice
    Form()->Edit1->setText(QStringLiteral("keep"));
    Form()->Edit2->setText(QStringLiteral("keep"));
    Form()->SG1Click();
    Form()->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(Form()->Edit1->text(), QStringLiteral("keep"));
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_TRUE(messages.confirmations.isEmpty());

    QTest::mouseDClick(Form()->Edit1, Qt::LeftButton);
    WaitForDbAnswers();
    EXPECT_EQ(Form()->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(Form()->Edit2->text(), QStringLiteral("keep"));
}

// The highlighted row is the one the boxes show, from the opening on and after every
// reload; when the boxes show no row of the grid, none is highlighted.
TEST_P(RegisterTest, SelectionFollowsTheNumberBox)
{
    for (int n : {1, 2, 3})
        Insert(n, QStringLiteral("名%1").arg(n));
    struct Step {
        const char *box;
        QList<int> selected;
    };
    const Step openings[] = {{"", {}}, {"2", {2}}, {"3", {3}}, {"9", {}}, {"x", {}}};
    for (const Step &s : openings) {
        Form()->Edit1->setText(QString::fromUtf8(s.box));
        Open();
        QApplication::processEvents(); // the focus arrives
        EXPECT_EQ(SelectedRows(), s.selected) << "box " << s.box;
        EXPECT_EQ(Form()->Edit1->text(), QString::fromUtf8(s.box)) << "the boxes keep what they held";
        Form()->Button3Click();
    }

    Open();
    Add(QStringLiteral("5"), QStringLiteral("新"));
    EXPECT_EQ(SelectedRows(), QList<int>{4});
    SelectGridRow(Form()->SG1, 1);
    EXPECT_EQ(Form()->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(SelectedRows(), QList<int>{1});
    Form()->Button2Click(); // deleted: the boxes show a row that is gone
    WaitForDbAnswers();
    EXPECT_EQ(Stored().size(), 3);
    EXPECT_EQ(SelectedRows(), QList<int>{});
    EXPECT_EQ(GridCurrentRow(Form()->SG1), 0);
    // Nothing highlighted, nothing deleted; the keyboard starts at the first row.
    messages.confirmations.clear();
    Form()->Button2Click();
    WaitForDbAnswers();
    EXPECT_TRUE(messages.confirmations.isEmpty());
    Form()->SG1->setFocus();
    QTest::keyClick(Form()->SG1, Qt::Key_Down);
    WaitForDbAnswers();
    EXPECT_EQ(SelectedRows(), QList<int>{1});
    EXPECT_EQ(Form()->Edit1->text(), QStringLiteral("2"));
}

TEST_P(RegisterTest, NextNumberFollowsTheLargest)
{
    for (int n : {1, 2, 7})
        Insert(n, QStringLiteral("x"));
    Open();
    Form()->Edit1DblClick();
    WaitForDbAnswers();
    EXPECT_EQ(Form()->Edit1->text(), QStringLiteral("8"));

    // The largest possible number proposes one that the add then refuses, not a wrapped one.
    Insert(2147483647, QStringLiteral("max"));
    Form()->Edit1DblClick();
    WaitForDbAnswers();
    EXPECT_EQ(Form()->Edit1->text(), QStringLiteral("2147483648"));
    Form()->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages.last(), QStringLiteral("番号は正の整数で入力して下さい"));
}

TEST_P(RegisterTest, AddRefusals)
{
    Open();
    const QString numberMissing = QStringLiteral("番号を入力して下さい（正の整数値入力）");
    const QString notPositive = QStringLiteral("番号は正の整数で入力して下さい");
    const QString quote = QStringLiteral("引用符「'」「\"」を入力しないで下さい");
    const struct {
        QString number, name, message;
        bool focusNumber;
    } cases[] = {
        {QStringLiteral(" \t "), QString(), numberMissing, true},
        {QStringLiteral("   "), QStringLiteral("a"), numberMissing, true},
        {QString(), QStringLiteral("a"), numberMissing, true},
        {QStringLiteral("1 "), QString(), notPositive, true},
        {QStringLiteral("5 "), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("a1"), QString(), notPositive, true},
        {QStringLiteral("5a"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("0"), QString(), notPositive, true},
        {QStringLiteral("-1"), QString(), notPositive, true},
        {QStringLiteral("-3"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("99999999999"), QString(), notPositive, true},
        {QStringLiteral("2147483648"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("1"), QStringLiteral("'"), quote, false},
        {QStringLiteral("1"), QStringLiteral("\""), quote, false},
        {QStringLiteral("5"), QStringLiteral("O'Neil"), quote, false},
        {QStringLiteral("5"), QStringLiteral("a\"b"), quote, false},
    };
    for (const auto &c : cases) {
        messages.messages.clear();
        Add(c.number, c.name);
        EXPECT_EQ(messages.messages, QStringList{c.message}) << c.number.toStdString();
        EXPECT_EQ(Form()->focusWidget(), c.focusNumber ? Form()->Edit1 : Form()->Edit2)
            << c.number.toStdString();
    }
    EXPECT_TRUE(Stored().isEmpty());
}

TEST_P(RegisterTest, DuplicateNumberFailsAndKeepsTheRow)
{
    Insert(4, QStringLiteral("先客"));
    Open();
    Add(QStringLiteral("4"), QStringLiteral("後客"));
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("登録失敗")});
    EXPECT_EQ(Stored(), QStringList{GetParam().stored(4, QStringLiteral("先客"))});
    EXPECT_EQ(GridRows(Form()->SG1), QStringList{GetParam().grid(4, QStringLiteral("先客"))});
}

TEST_P(RegisterTest, ChangeRefusalsInOrder)
{
    Insert(5, QStringLiteral("山田"));
    Open();
    const QString numberMissing = QStringLiteral("番号を入力して下さい（正の整数値入力）");
    const QString notPositive = QStringLiteral("番号は正の整数で入力して下さい");
    const QString unused = QStringLiteral("入力した番号は未使用ですので変更は出来ません。再入力して下さい");
    const QString quote = QStringLiteral("引用符「'」「\"」を入力しないで下さい");
    const struct {
        QString number, name, message;
        bool focusNumber;
    } cases[] = {
        {QStringLiteral(" "), QString(), numberMissing, true},
        {QString(), QStringLiteral("x"), numberMissing, true},
        // The name message comes before the number's.
        {QStringLiteral("abc"), QStringLiteral(" "), GetParam().nameMissing, false},
        {QStringLiteral("x"), QStringLiteral("  "), GetParam().nameMissing, false},
        {QStringLiteral("abc"), QStringLiteral("x"), notPositive, true},
        {QStringLiteral("x"), QStringLiteral("a"), notPositive, true},
        {QStringLiteral("6"), QStringLiteral("x"), unused, true},
        {QStringLiteral("4"), QStringLiteral("a"), unused, true},
        {QStringLiteral("5"), QStringLiteral("x'"), quote, false},
    };
    for (const auto &c : cases) {
        messages.messages.clear();
        Change(c.number, c.name);
        EXPECT_EQ(messages.messages, QStringList{c.message}) << c.number.toStdString();
        EXPECT_EQ(Form()->focusWidget(), c.focusNumber ? Form()->Edit1 : Form()->Edit2)
            << c.number.toStdString();
    }
    EXPECT_EQ(Stored(), QStringList{GetParam().stored(5, QStringLiteral("山田"))});
}

TEST_P(RegisterTest, DeleteAsksFirst)
{
    const Register &r = GetParam();
    Insert(5, QStringLiteral("山田"));
    Insert(6, QStringLiteral("佐藤"));
    Open();
    SelectGridRow(Form()->SG1, 1);
    Form()->Edit1->setText(QStringLiteral("6"));
    Form()->Edit2->setText(QStringLiteral("佐藤"));

    messages.answer = false;
    Form()->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.confirmations,
              QStringList{QStringLiteral("「No.5：山田」を削除します。\r\nよろしいですか？")});
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_EQ(Stored().size(), 2);
    EXPECT_EQ(GridRows(Form()->SG1).size(), 2);

    messages.answer = true;
    Form()->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("削除OK")});
    EXPECT_EQ(Stored(), QStringList{r.stored(6, QStringLiteral("佐藤"))});
    EXPECT_EQ(GridRows(Form()->SG1), QStringList{r.grid(6, QStringLiteral("佐藤"))});
    // The boxes are neither read nor changed by a deletion; the row they show is selected.
    EXPECT_EQ(Form()->Edit1->text(), QStringLiteral("6"));
    EXPECT_EQ(SelectedRows(), QList<int>{1});
}

TEST_P(RegisterTest, DeleteFailureReported)
{
    const Register &r = GetParam();
    Insert(5, QStringLiteral("山田"));
    Sql(QStringLiteral("CREATE EXCEPTION KEEP_ROW 'kept'"));
    Sql(QStringLiteral("CREATE TRIGGER KEEP_ROW_TRIGGER FOR %1 BEFORE DELETE AS BEGIN EXCEPTION KEEP_ROW; END")
            .arg(r.table));
    Open();
    SelectGridRow(Form()->SG1, 1);
    Form()->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("削除失敗")});
    EXPECT_EQ(GridRows(Form()->SG1), QStringList{r.grid(5, QStringLiteral("山田"))});
}

// Each change whose commit reaches the server and whose answer is cut with the connection:
// the row is looked for on a new connection and the change shown as done, no failure.
// A statement whose own answer is cut is not committed: it says the connection was lost.
TEST_P(RegisterTest, AChangeWhoseCommitAnswerIsCutIsShownAsStored)
{
    const Register &r = GetParam();
    enum class Command { Add, Change, Delete };
    struct Case {
        const char *name;
        Command command;
        bool commitCut; // else the statement's own answer is cut
        QString message;
        QStringList stored; // numbers and names after it
    };
    const Case cases[] = {
        {"add", Command::Add, true, QStringLiteral("登録OK"), {"4|新"}},
        {"change", Command::Change, true, QStringLiteral("変更OK"), {"4|新"}},
        {"delete", Command::Delete, true, QStringLiteral("削除OK"), {}},
        {"add, the statement's answer cut", Command::Add, false,
         QStringLiteral("登録失敗\nデータベースとの接続が切れています。"), {}},
    };
    CommitCut cut;
    ASSERT_TRUE(cut.Attach(database));
    int cuts = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sql(QStringLiteral("DELETE FROM %1").arg(r.table));
        if (c.command != Command::Add)
            Insert(4, QStringLiteral("旧"));
        Form()->hide();
        Open();
        messages.messages.clear();
        Form()->Edit1->setText(QStringLiteral("4"));
        if (Form() == memberRegister)
            memberRegister->ComboBox1->setCurrentIndex(0);
        Form()->Edit2->setText(QStringLiteral("新"));
        const bool checksFirst = c.command == Command::Change
                                 || (c.command == Command::Delete && Form() == sectionRegister);
        if (c.command == Command::Delete)
            SelectGridRow(Form()->SG1, 1);
        if (!checksFirst)
            cut.CutNextCommit(0, c.commitCut);
        if (c.command == Command::Add)
            Form()->Button1Click();
        else if (c.command == Command::Change)
            Form()->Button4Click();
        else
            Form()->Button2Click();
        if (checksFirst)
            cut.CutNextCommit(1, c.commitCut);
        ASSERT_TRUE(WaitForDbAnswers(40000));
        EXPECT_EQ(cut.Cuts(), ++cuts);
        EXPECT_EQ(messages.messages.join(QLatin1Char('|')).toStdString(), c.message.toStdString());
        QStringList stored;
        for (const QString &row : c.stored)
            stored << r.stored(4, row.section(QLatin1Char('|'), 1));
        EXPECT_TRUE(WaitUntil([] { return mainWindow->IsConnected(); }, 20000)) << "not connected again";
        EXPECT_EQ(Stored(), stored);
        if (c.commitCut) {
            EXPECT_EQ(mainWindow->ConnectionStatusText(), QString());
            EXPECT_TRUE(Form()->Button1->isEnabled());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Registers, RegisterTest, ::testing::Values(kSection, kMember),
                         [](const ::testing::TestParamInfo<Register> &info) {
                             return std::string(info.param.name);
                         });

// ---- the section register alone ----

class SectionRegisterTest : public RegisterFixture {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(mainWindow->Db().CreateSectionTable());
    }
    void Open()
    {
        sectionRegister->show();
        WaitForDbAnswers();
        ASSERT_TRUE(sectionRegister->isVisible());
    }
    void TearDown() override
    {
        if (sectionRegister)
            sectionRegister->hide();
        RegisterFixture::TearDown();
    }
    QStringList Sections()
    {
        return Rows(QStringLiteral("N,SNAME"), QStringLiteral("SECTION"), QStringLiteral("N"));
    }
    void Add(const QString &number, const QString &name)
    {
        sectionRegister->Edit1->setText(number);
        sectionRegister->Edit2->setText(name);
        sectionRegister->Button1Click();
        WaitForDbAnswers();
    }
};

TEST_F(SectionRegisterTest, AddListsInNumberOrderAndProposesNext)
{
    Open();
    Add(QStringLiteral("7"), QStringLiteral("営業"));
    Add(QStringLiteral(" 1"), QStringLiteral("総務"));
    Add(QStringLiteral("0002"), QString());
    Add(QStringLiteral("3"), QStringLiteral("’全角“"));
    EXPECT_EQ(messages.messages, QStringList(4, QStringLiteral("登録OK")));
    EXPECT_EQ(Sections(), (QStringList{QStringLiteral("1|総務"), QStringLiteral("2|"),
                                       QStringLiteral("3|’全角“"), QStringLiteral("7|営業")}));
    EXPECT_EQ(GridRows(sectionRegister->SG1), Sections());
    sectionRegister->Edit1DblClick();
    WaitForDbAnswers();
    EXPECT_EQ(sectionRegister->Edit1->text(), QStringLiteral("8"));

    messages.messages.clear();
    Add(QStringLiteral("7"), QStringLiteral("重複"));
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("登録失敗")});
    EXPECT_EQ(Sections().last(), QStringLiteral("7|営業"));
}

TEST_F(SectionRegisterTest, ChangeRenames)
{
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (3, NULL)"));
    Open();
    sectionRegister->Edit1->setText(QStringLiteral(" 03"));
    sectionRegister->Edit2->setText(QStringLiteral("総務部"));
    sectionRegister->Button4Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更OK")});
    EXPECT_EQ(GridRows(sectionRegister->SG1), QStringList{QStringLiteral("3|総務部")});

    messages.messages.clear();
    sectionRegister->Edit2->setText(QString(17, QChar(0x3042)));
    sectionRegister->Button4Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更失敗")});
    EXPECT_EQ(Sections(), QStringList{QStringLiteral("3|総務部")});
}

TEST_F(SectionRegisterTest, DeleteAsksAndRefusesASectionInUse)
{
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (3, '開発')"));
    Open();

    // Without a MEMBER table any section can go; "いいえ" leaves it.
    messages.answer = false;
    SelectGridRow(sectionRegister->SG1, 2);
    sectionRegister->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.confirmations,
              QStringList{QStringLiteral("「No.3：開発」を削除します。\r\nよろしいですか？")});
    EXPECT_TRUE(messages.messages.isEmpty());
    EXPECT_EQ(Sections().size(), 2);

    ASSERT_TRUE(mainWindow->Db().CreateMemberTable());
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (1, 3, '山田')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (2, 0, '佐藤')"));
    messages.answer = true;
    sectionRegister->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("メンバーデータで既に使用されていますので削除出来ません。")});
    EXPECT_EQ(Sections().size(), 2);

    // A member of section 0 blocks nothing.
    messages.messages.clear();
    SelectGridRow(sectionRegister->SG1, 1);
    sectionRegister->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("削除OK")});
    EXPECT_EQ(GridRows(sectionRegister->SG1), QStringList{QStringLiteral("3|開発")});
}

TEST_F(SectionRegisterTest, ClickAndKeyboardCopyTheRow)
{
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (2, '開発')"));
    Open();
    QTableWidget *grid = sectionRegister->SG1;
    const QRect cell = grid->visualItemRect(grid->item(GridRowToTable(2), 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    WaitForDbAnswers();
    EXPECT_EQ(sectionRegister->Edit1->text(), QStringLiteral("2"));
    EXPECT_EQ(sectionRegister->Edit2->text(), QStringLiteral("開発"));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Up);
    WaitForDbAnswers();
    EXPECT_EQ(sectionRegister->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(sectionRegister->Edit2->text(), QStringLiteral("総務"));
}

// ---- the member register alone: the section of each member ----

class MemberRegisterTest : public RegisterFixture {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(mainWindow->Db().CreateMemberTable());
    }
    void WithSections()
    {
        ASSERT_TRUE(mainWindow->Db().CreateSectionTable());
        Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
        Sql(QStringLiteral("INSERT INTO SECTION VALUES (2, '開発')"));
    }
    void Open()
    {
        memberRegister->show();
        WaitForDbAnswers();
        ASSERT_TRUE(memberRegister->isVisible());
    }
    void TearDown() override
    {
        if (memberRegister)
            memberRegister->hide();
        RegisterFixture::TearDown();
    }
    QStringList Members()
    {
        return Rows(QStringLiteral("N,SN,PNAME"), QStringLiteral("MEMBER"), QStringLiteral("N"));
    }
    void Add(const QString &number, int sectionIndex, const QString &name)
    {
        memberRegister->Edit1->setText(number);
        memberRegister->ComboBox1->setCurrentIndex(sectionIndex);
        memberRegister->Edit2->setText(name);
        memberRegister->Button1Click();
        WaitForDbAnswers();
    }
};

TEST_F(MemberRegisterTest, MenuCreatesMemberTableButNotSection)
{
    ASSERT_TRUE(mainWindow->Db().DropTable(QStringLiteral("MEMBER")));
    AnswerModal(QStringLiteral("the member register"), []() -> QWidget * { return memberRegister->isVisible() ? memberRegister : nullptr; },
                [](QWidget *) { memberRegister->Button3Click(); });
    mainWindow->mnuAddTable2Click();
    EXPECT_TRUE(WaitForDbAnswers());
    EXPECT_TRUE(mainWindow->TableExists(QStringLiteral("MEMBER")));
    EXPECT_FALSE(mainWindow->TableExists(QStringLiteral("SECTION")));
    EXPECT_FALSE(memberRegister->isVisible());
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(MemberRegisterTest, EveryMemberListedOnceWhateverItsSection)
{
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (3, 9, '迷子')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (1, 0, '山田')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (2, 2, NULL)"));

    // No SECTION table at all.
    Open();
    EXPECT_EQ(GridRows(memberRegister->SG1),
              (QStringList{QStringLiteral("1|0||山田"), QStringLiteral("2|2||"),
                           QStringLiteral("3|9||迷子")}));
    EXPECT_EQ(memberRegister->ComboBox1->count(), 1);
    EXPECT_EQ(memberRegister->ComboBox1->currentText(), QStringLiteral("0:指定無し"));
    memberRegister->hide();

    // SECTION exists but is empty.
    ASSERT_TRUE(mainWindow->Db().CreateSectionTable());
    Open();
    EXPECT_EQ(GridRows(memberRegister->SG1).size(), 3);
    memberRegister->hide();

    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (2, '開発')"));
    Open();
    EXPECT_EQ(GridRows(memberRegister->SG1),
              (QStringList{QStringLiteral("1|0||山田"), QStringLiteral("2|2|開発|"),
                           QStringLiteral("3|9||迷子")}));
    EXPECT_EQ(memberRegister->ComboBox1->count(), 3);
    EXPECT_EQ(memberRegister->ComboBox1->itemText(1), QStringLiteral("1:総務"));
    EXPECT_EQ(memberRegister->ComboBox1->itemText(2), QStringLiteral("2:開発"));

    // A member of a section that does not exist can be deleted from the grid.
    SelectGridRow(memberRegister->SG1, 3);
    memberRegister->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages.last(), QStringLiteral("削除OK"));
    EXPECT_EQ(GridRows(memberRegister->SG1).size(), 2);
}

TEST_F(MemberRegisterTest, AddStoresNumberSectionAndName)
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
    EXPECT_EQ(GridRows(memberRegister->SG1),
              (QStringList{QStringLiteral("5|2|開発|山田"), QStringLiteral("7|0||"),
                           QStringLiteral("8|1|総務|’全角”")}));
    // The boxes keep what was typed.
    EXPECT_EQ(memberRegister->Edit1->text(), QStringLiteral("8"));

    // Without any section, a member of section 0 is stored and listed.
    ASSERT_TRUE(mainWindow->Db().DeleteRecords(QStringLiteral("SECTION"), QString()));
    Add(QStringLiteral("9"), 0, QStringLiteral("新人"));
    EXPECT_EQ(messages.messages.last(), QStringLiteral("登録OK"));
    EXPECT_EQ(GridRows(memberRegister->SG1).last(), QStringLiteral("9|0||新人"));
}

TEST_F(MemberRegisterTest, ClickAndKeyboardCopyTheMemberAndItsSection)
{
    WithSections();
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (1, 0, '山田')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (2, 2, '佐藤')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (3, 1, '鈴木')"));
    Open();
    // Opening alone copies nothing.
    EXPECT_TRUE(memberRegister->Edit1->text().isEmpty());

    QTableWidget *grid = memberRegister->SG1;
    const QRect cell = grid->visualItemRect(grid->item(GridRowToTable(2), 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    WaitForDbAnswers();
    EXPECT_EQ(memberRegister->Edit1->text(), QStringLiteral("2"));
    EXPECT_EQ(memberRegister->Edit2->text(), QStringLiteral("佐藤"));
    EXPECT_EQ(memberRegister->ComboBox1->currentText(), QStringLiteral("2:開発"));

    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Up);
    WaitForDbAnswers();
    EXPECT_EQ(memberRegister->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(memberRegister->ComboBox1->currentIndex(), 0);
    QTest::keyClick(grid, Qt::Key_Down);
    WaitForDbAnswers();
    QTest::keyClick(grid, Qt::Key_Down);
    WaitForDbAnswers();
    EXPECT_EQ(memberRegister->Edit1->text(), QStringLiteral("3"));
    EXPECT_EQ(memberRegister->ComboBox1->currentText(), QStringLiteral("1:総務"));
}

TEST_F(MemberRegisterTest, ChangeReplacesSectionAndName)
{
    WithSections();
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (5, 2, '山田')"));
    Open();
    SelectGridRow(memberRegister->SG1, 1);
    memberRegister->SG1Click();
    memberRegister->ComboBox1->setCurrentIndex(0);
    memberRegister->Edit2->setText(QStringLiteral("山田花子"));
    memberRegister->Button4Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更OK")});
    EXPECT_EQ(Members(), QStringList{QStringLiteral("5|0|山田花子")});
    EXPECT_EQ(GridRows(memberRegister->SG1), QStringList{QStringLiteral("5|0||山田花子")});

    // A name longer than the column is refused by the database and reported.
    messages.messages.clear();
    memberRegister->Edit2->setText(QStringLiteral("あいうえおかきくけこ"));
    memberRegister->Button4Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("変更失敗")});
    EXPECT_EQ(Members(), QStringList{QStringLiteral("5|0|山田花子")});
}

TEST_F(MemberRegisterTest, BoxesAndSelectionSurviveReopening)
{
    WithSections();
    Open();
    memberRegister->Edit1->setText(QStringLiteral("12"));
    memberRegister->Edit2->setText(QStringLiteral("残る"));
    memberRegister->ComboBox1->setCurrentIndex(2);
    memberRegister->Button3Click();
    EXPECT_FALSE(memberRegister->isVisible());
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (3, '新設')"));
    Open();
    EXPECT_EQ(memberRegister->Edit1->text(), QStringLiteral("12"));
    EXPECT_EQ(memberRegister->Edit2->text(), QStringLiteral("残る"));
    EXPECT_EQ(memberRegister->ComboBox1->count(), 4);
    // The list is read again; the section the boxes showed stays chosen.
    EXPECT_EQ(memberRegister->ComboBox1->currentText(), QStringLiteral("2:開発"));
    // A section gone meanwhile falls back to none.
    memberRegister->Button3Click();
    Sql(QStringLiteral("DELETE FROM SECTION WHERE N=2"));
    Open();
    EXPECT_EQ(memberRegister->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(memberRegister->ComboBox1->count(), 3);
}

} // namespace

// The program's own attachment is ended by the server right after the deletion was
// confirmed: the check whether a member uses the section notices, reconnects once and
// reads again, and the section in use stays.
TEST_F(SectionRegisterTest, AnIdleDropBeforeTheDeletionCheckReconnectsOnce)
{
    Sql(QStringLiteral("CREATE TABLE MEMBER (N INTEGER NOT NULL UNIQUE, SN INTEGER, PNAME VARCHAR(16))"));
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (1, '総務')"));
    Sql(QStringLiteral("INSERT INTO MEMBER VALUES (7, 1, 'A')"));
    Open();
    QStringList id(1);
    ASSERT_EQ(mainWindow->Db().SelectFields("CURRENT_CONNECTION", "RDB$DATABASE", "", id), 1);
    DataAccess other;
    other.ConnectDatabase(database.serverPath());
    ASSERT_TRUE(other.IsConnected());
    ConfirmHook = [&](const QString &) {
        EXPECT_TRUE(other.ExecuteSql({"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID=" + id[0]}));
        return true;
    };
    SelectGridRow(sectionRegister->SG1, 1);
    sectionRegister->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages,
              QStringList{QStringLiteral("メンバーデータで既に使用されていますので削除出来ません。")});
    EXPECT_EQ(other.SelectAll(QStringLiteral("SECTION"), QString()), 1);
    EXPECT_TRUE(mainWindow->IsConnected());
}

// The menu commands that look for a table meet a connection dropped while idle (the
// server ended it): each notices, reconnects once and runs, without a message.
TEST_F(SectionRegisterTest, MenuCommandsReconnectOnceAfterAnIdleDrop)
{
    sectionRegister->hide();
    DataAccess other;
    other.ConnectDatabase(database.serverPath());
    ASSERT_TRUE(other.IsConnected());
    const std::vector<std::pair<const char *, void (MainWindow::*)()>> commands = {
        {"mnuAddTable2", &MainWindow::mnuAddTable2Click},
        {"mnuImageNew", &MainWindow::mnuImageNewClick},
        {"mnuImageEdit", &MainWindow::mnuImageEditClick},
        {"mnuImageList", &MainWindow::mnuImageListClick}};
    PcUserNo = 1;
    int windows = 0;
    for (const auto &[name, command] : commands) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(mainWindow->IsConnected());
        QStringList id(1);
        ASSERT_EQ(mainWindow->Db().SelectFields("CURRENT_CONNECTION", "RDB$DATABASE", "", id), 1);
        ASSERT_TRUE(other.ExecuteSql({"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID=" + id[0]}));
        messages.messages.clear();
        if (command == &MainWindow::mnuAddTable2Click)
            AnswerModal(QStringLiteral("the member register"),
                        []() -> QWidget * { return memberRegister->isVisible() ? memberRegister : nullptr; },
                        [](QWidget *) { memberRegister->Button3Click(); });
        else
            ++windows;
        (mainWindow->*command)();
        EXPECT_TRUE(WaitForDbAnswers());
        EXPECT_EQ(messages.messages, QStringList{});
        EXPECT_EQ(mainWindow->MdiArea()->subWindowList().size(), windows);
        EXPECT_TRUE(mainWindow->IsConnected());
        EXPECT_FALSE(mainWindow->Reconnecting());
    }
    EXPECT_EQ(other.SelectAll(QStringLiteral("MEMBER"), QString()), 0);
    EXPECT_EQ(other.SelectAll(QStringLiteral("IMGLIST"), QString()), 0);
}

// A change that meets a connection the server ended while idle is not run again: it says
// the connection was lost, the status bar says so too, and the window reconnects.
TEST_F(SectionRegisterTest, AChangeAfterAnIdleDropSaysTheConnectionWasLost)
{
    Open();
    QStringList id(1);
    ASSERT_EQ(mainWindow->Db().SelectFields("CURRENT_CONNECTION", "RDB$DATABASE", "", id), 1);
    DataAccess other;
    other.ConnectDatabase(database.serverPath());
    ASSERT_TRUE(other.IsConnected());
    ASSERT_TRUE(other.ExecuteSql({"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID=" + id[0]}));
    sectionRegister->Edit1->setText(QStringLiteral("4"));
    sectionRegister->Edit2->setText(QStringLiteral("新"));
    sectionRegister->Button1Click();
    EXPECT_FALSE(sectionRegister->Button1->isEnabled()) << "the dialog does not show that it works";
    EXPECT_TRUE(sectionRegister->Button3->isEnabled()) << "閉じる must stay usable";
    WaitForDbAnswers();
    EXPECT_EQ(messages.messages, QStringList{QStringLiteral("登録失敗\nデータベースとの接続が切れています。")});
    EXPECT_TRUE(sectionRegister->Button1->isEnabled());
    EXPECT_NE(mainWindow->ConnectionStatusText(), QString());
    EXPECT_EQ(other.SelectAll(QStringLiteral("SECTION"), QString()), 0);
    EXPECT_TRUE(WaitUntil([] { return mainWindow->IsConnected(); }, 20000)) << "not reconnected";
}
