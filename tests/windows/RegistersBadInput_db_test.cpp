// Odd input in the two registers: what each box takes, what is refused, and
// that the table holds exactly what was accepted.
#include "DbAnswers.h"
#include "RegisterFixture.h"
#include "core/TextRoutines.h"
#include "TestInput.h"

#include "windows/SectionRegister.h"
#include "windows/MemberRegister.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {


const QString kBlankNumber = QStringLiteral("番号を入力して下さい（正の整数値入力）");
const QString kNotPositive = QStringLiteral("番号は正の整数で入力して下さい");
const QString kQuote = QStringLiteral("引用符「'」「\"」を入力しないで下さい");
const QString kUnused = QStringLiteral("入力した番号は未使用ですので変更は出来ません。再入力して下さい");
const QString kAdded = QStringLiteral("登録OK");
const QString kAddFailed = QStringLiteral("登録失敗");
const QString kChanged = QStringLiteral("変更OK");
const QString kChangeFailed = QStringLiteral("変更失敗");


enum Op { Add, Change };
enum Focus { NoFocus, NumberBox, NameBox };

struct Row {
    Op op;
    QString number;
    QString name;
    bool typed;     // the name goes in through the keyboard, not setText
    QString inBox;  // what the name box holds after typing
    QString message;
    Focus focus;
};

// Runs one table against a register whose two boxes and buttons are given.
template <class Form>
void RunTable(Form *f, const std::vector<Row> &rows, MessageRecorder &messages)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &r = rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i << " number [" << r.number.toStdString()
                                        << "] name [" << r.name.toStdString() << "]");
        f->Edit1->setText(r.number);
        if (r.typed) {
            TypeInto(f->Edit2, r.name);
            EXPECT_EQ(f->Edit2->text(), r.inBox);
        } else {
            f->Edit2->setText(r.name);
        }
        f->Button1->setFocus(); // the press moves the focus to the button first
        messages.messages.clear();
        if (r.op == Add)
            f->Button1Click();
        else
            f->Button4Click();
        WaitForDbAnswers();
        EXPECT_EQ(Show(messages.messages), r.message.toStdString());
        if (r.focus == NumberBox)
            EXPECT_EQ(f->focusWidget(), f->Edit1);
        else if (r.focus == NameBox)
            EXPECT_EQ(f->focusWidget(), f->Edit2);
        else
            EXPECT_EQ(f->focusWidget(), f->Button1);
    }
}

class RegisterBadInput : public RegisterFixture {
protected:
    void TearDown() override
    {
        if (sectionRegister)
            sectionRegister->hide();
        if (memberRegister)
            memberRegister->hide();
        RegisterFixture::TearDown();
    }
    int Count(const QString &table, const QString &condition)
    {
        const int n = mainWindow->Db().SelectOrdered(QStringLiteral("*"), table, condition, QString());
        mainWindow->Db().CloseQuery();
        return n;
    }
};

TEST_F(RegisterBadInput, SectionNumbersAndNames)
{
    ASSERT_TRUE(mainWindow->Db().CreateSectionTable());
    sectionRegister->show();
    WaitForDbAnswers();
    const QString fullWidthQuotes = QStringLiteral("’全角”＂＇");
    ASSERT_GT(Cp932Length(fullWidthQuotes), 0);
    const QString a33(33, QLatin1Char('a'));
    const std::vector<Row> rows = {
        {Add, QStringLiteral(" "), QStringLiteral("a"), false, {}, kBlankNumber, NumberBox},
        {Add, QStringLiteral("\t\r\n"), QStringLiteral("a"), false, {}, kBlankNumber, NumberBox},
        {Add, QStringLiteral("+5"), QStringLiteral("plus"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("-5"), QStringLiteral("minus"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("-0"), QStringLiteral("zero"), false, {}, kNotPositive, NumberBox},
        // Hexadecimal is a number to TextToInt; only its decimal form reaches the table.
        {Add, QStringLiteral("$1F"), QStringLiteral("hex"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("0x10"), QStringLiteral("hex0x"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("$FFFFFFFF"), QStringLiteral("minus one"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("$7FFFFFFF"), QStringLiteral("max"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("2147483647"), QStringLiteral("same"), false, {}, kAddFailed, NoFocus},
        {Add, QStringLiteral("2147483648"), QStringLiteral("over"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("0000000000000009"), QStringLiteral("zeros"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("１２"), QStringLiteral("wide"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("1e2"), QStringLiteral("exp"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("12"), QStringLiteral("a'b"), false, {}, kQuote, NameBox},
        {Add, QStringLiteral("12"), QStringLiteral("a\"b"), false, {}, kQuote, NameBox},
        {Add, QStringLiteral("12"), fullWidthQuotes, false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("13"), QStringLiteral("総務:第一"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("14"), QStringLiteral("  "), false, {}, kAdded, NoFocus},
        // Control characters are text like any other and come back unchanged.
        {Add, QStringLiteral("19"), QString::fromUtf16(u"a\0b\x7f", 4), false, {}, kAdded, NoFocus},
        // Text that slipped past the box's validator is refused by the data layer.
        {Add, QStringLiteral("15"), QStringLiteral("😀"), false, {}, kAddFailed, NoFocus},
        {Add, QStringLiteral("15"), QStringLiteral("𠮷"), false, {}, kAddFailed, NoFocus},
        {Add, QStringLiteral("15"), a33, false, {}, kAddFailed, NoFocus},
        // Typed, the box keeps 32 bytes and drops what CP932 cannot hold.
        {Add, QStringLiteral("15"), a33, true, a33.left(32), kAdded, NoFocus},
        {Add, QStringLiteral("20"), QStringLiteral("部😀署𠮷"), true, QStringLiteral("部署"), kAdded, NoFocus},
        {Add, QStringLiteral("21"), QStringLiteral("①②ｱｲ"), true, QStringLiteral("①②ｱｲ"), kAdded, NoFocus},
        {Add, QStringLiteral("22"), QString(17, QChar(0x90E8)), true, QString(16, QChar(0x90E8)), kAdded, NoFocus},
        {Change, QStringLiteral("5"), QStringLiteral("😀"), false, {}, kChangeFailed, NoFocus},
        {Change, QStringLiteral("5"), QString(17, QChar(0x3042)), false, {}, kChangeFailed, NoFocus},
        {Change, QStringLiteral("5"), QStringLiteral("\t"), false, {}, QStringLiteral("名称を入力して下さい（半角32文字まで）"), NameBox},
        {Change, QStringLiteral("$63"), QStringLiteral("none"), false, {}, kUnused, NumberBox},
        {Change, QStringLiteral("0x05"), QStringLiteral("it's"), false, {}, kQuote, NameBox},
        {Change, QStringLiteral("$5"), QStringLiteral("新"), false, {}, kChanged, NoFocus},
    };
    RunTable(sectionRegister, rows, messages);

    const QString a32(32, QLatin1Char('a'));
    EXPECT_EQ(Show(Rows(QStringLiteral("N,SNAME"), QStringLiteral("SECTION"), QStringLiteral("N"))),
              Show({QStringLiteral("5|新"), QStringLiteral("9|zeros"), "12|" + fullWidthQuotes,
                           QStringLiteral("13|総務:第一"), QStringLiteral("14|  "), "15|" + a32,
                           QStringLiteral("16|hex0x"), "19|" + QString::fromUtf16(u"a\0b\x7f", 4), QStringLiteral("20|部署"),
                           QStringLiteral("21|①②ｱｲ"), "22|" + QString(16, QChar(0x90E8)),
                           QStringLiteral("31|hex"), QStringLiteral("2147483647|max")}));
    EXPECT_EQ(Count(QStringLiteral("SECTION"), QStringLiteral("SNAME IS NULL")), 0);
    EXPECT_EQ(GridRowCount(sectionRegister->SG1), 14);
}

TEST_F(RegisterBadInput, MemberNumbersAndNames)
{
    ASSERT_TRUE(mainWindow->Db().CreateMemberTable());
    ASSERT_TRUE(mainWindow->Db().CreateSectionTable());
    Sql(QStringLiteral("INSERT INTO SECTION VALUES (2, '開発')"));
    memberRegister->show();
    WaitForDbAnswers();
    memberRegister->ComboBox1->setCurrentIndex(1);
    ASSERT_EQ(memberRegister->ComboBox1->currentText(), QStringLiteral("2:開発"));
    const QString b17(17, QLatin1Char('b'));
    const std::vector<Row> rows = {
        {Add, QStringLiteral("  "), QStringLiteral("a"), false, {}, kBlankNumber, NumberBox},
        {Add, QStringLiteral("+6"), QStringLiteral("plus"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("$A"), QStringLiteral("hex"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("x0B"), QStringLiteral("hexx"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("$80000000"), QStringLiteral("min"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("2147483648"), QStringLiteral("over"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("0012"), QStringLiteral("zeros"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("１３"), QStringLiteral("wide"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("13 "), QStringLiteral("trailing"), false, {}, kNotPositive, NumberBox},
        {Add, QStringLiteral("13"), QStringLiteral("O'Neil"), false, {}, kQuote, NameBox},
        {Add, QStringLiteral("13"), QStringLiteral("\"\""), false, {}, kQuote, NameBox},
        {Add, QStringLiteral("13"), QStringLiteral("山:田"), false, {}, kAdded, NoFocus},
        {Add, QStringLiteral("14"), QStringLiteral("𠮷田"), false, {}, kAddFailed, NoFocus},
        {Add, QStringLiteral("14"), QStringLiteral("山田太郎山田太郎山"), false, {}, kAddFailed, NoFocus},
        {Add, QStringLiteral("14"), b17, true, b17.left(16), kAdded, NoFocus},
        {Add, QStringLiteral("15"), QStringLiteral("山田太郎山田太郎山"), true, QStringLiteral("山田太郎山田太郎"), kAdded, NoFocus},
        {Add, QStringLiteral("16"), QStringLiteral("😀"), true, QString(), kAdded, NoFocus},
        {Change, QStringLiteral("6"), QStringLiteral("𠮷田"), false, {}, kChangeFailed, NoFocus},
        {Change, QStringLiteral("6"), QStringLiteral("\x01"), false, {}, QStringLiteral("氏名を入力して下さい（半角16文字まで）"), NameBox},
        {Change, QStringLiteral("0"), QStringLiteral("x"), false, {}, kNotPositive, NumberBox},
        {Change, QStringLiteral("$6"), QStringLiteral("新人"), false, {}, kChanged, NoFocus},
    };
    RunTable(memberRegister, rows, messages);

    EXPECT_EQ(Show(Rows(QStringLiteral("N,SN,PNAME"), QStringLiteral("MEMBER"), QStringLiteral("N"))),
              Show({QStringLiteral("6|2|新人"), QStringLiteral("10|2|hex"), QStringLiteral("11|2|hexx"),
                           QStringLiteral("12|2|zeros"), QStringLiteral("13|2|山:田"),
                           "14|2|" + b17.left(16), QStringLiteral("15|2|山田太郎山田太郎"),
                           QStringLiteral("16|2|")}));
    // The emoji alone was dropped while typing: the empty name is stored as NULL.
    EXPECT_EQ(Count(QStringLiteral("MEMBER"), QStringLiteral("PNAME IS NULL")), 1);
    EXPECT_EQ(GridRowCount(memberRegister->SG1), 9);
}

} // namespace
