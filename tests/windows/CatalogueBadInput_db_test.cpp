// Odd input in the image record editor and in the list's filter box.
#include "DbAnswers.h"
#include "CatalogueFixture.h"
#include "core/TextRoutines.h"
#include "TestInput.h"

#include "forms/FormUtil.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <map>

namespace {



const QString kStored = QStringLiteral("画像一覧データを登録しました");
const QString kNotStored = QStringLiteral("画像一覧データが登録出来ませんでした");
const QString kSize = QStringLiteral("画像の横サイズは8～2000の範囲内で入力して下さい。");
const QString kDate = QStringLiteral("日付は yyyymmdd形式（例：20100101）で有効な内容を入力して下さい。");
const QString kNameColon = QStringLiteral("プロジェクト名に引用符「'」「\"」「:」を入力しないで下さい");
const QString kQuote = QStringLiteral("引用符「'」「\"」を入力しないで下さい");

// Boxes by number: 1 = Edit1 ... 9 = Edit9.
QLineEdit *Box(ImageRecordEditor *f, int i)
{
    QLineEdit *boxes[] = {f->Edit1, f->Edit2, f->Edit3, f->Edit4, f->Edit5,
                          f->Edit6, f->Edit7, f->Edit8, f->Edit9};
    return boxes[i - 1];
}

struct EditorRow {
    QString number;
    std::vector<std::pair<int, QString>> set; // boxes changed from the valid base
    int typedBox;                             // 0: nothing typed by key
    QString typed, inBox;
    QString message;
    int focus;      // box that must hold the focus; 0: the focus stays on the button
    QString stored; // the stored row "INAME|MEMO1|MEMO2|MEMO3|SX|SY|DATE1|DATE2"; empty: none
};

// The list's numbers, top to bottom.
QStringList Page(ImageList *f)
{
    QStringList shown;
    for (int r = 1; r < GridRowCount(f->SG1); ++r)
        if (!GridCell(f->SG1, 0, r).isEmpty())
            shown << GridCell(f->SG1, 0, r);
    return shown;
}

} // namespace

using CatalogueBadInput = CatalogueTest;

TEST_F(CatalogueBadInput, EditorTable)
{
    mainWindow->mnuImageNewClick();
    WaitForDbAnswers();
    auto *f = LastChild<ImageRecordEditor>();
    ASSERT_NE(f, nullptr);
    MessageRecorder rec;
    const QString wide33(33, QChar(0x3042)), wide40(40, QChar(0x3042));
    const QString m90(90, QLatin1Char('m'));
    const std::vector<EditorRow> rows = {
        // Numbers: refused silently and emptied; an existing one is named.
        {QStringLiteral("-1"), {}, 0, {}, {}, {}, 1, {}},
        {QStringLiteral("１"), {}, 0, {}, {}, {}, 1, {}},
        {QStringLiteral("-$1"), {}, 0, {}, {}, {}, 1, {}},
        {QStringLiteral("$20"), {}, 0, {}, {}, kStored, 0, QStringLiteral("花||||320|240|20100101|")},
        {QStringLiteral("32"), {}, 0, {}, {}, QStringLiteral("指定した番号は既に存在します。再入力して下さい。"), 1, {}},
        // Sizes.
        {QStringLiteral("40"), {{6, "7"}}, 0, {}, {}, kSize, 6, {}},
        {QStringLiteral("40"), {{6, "2001"}}, 0, {}, {}, kSize, 6, {}},
        {QStringLiteral("40"), {{6, ""}}, 0, {}, {}, kSize, 6, {}},
        {QStringLiteral("40"), {{6, "abc"}}, 0, {}, {}, kSize, 6, {}},
        {QStringLiteral("40"), {{6, "-8"}}, 0, {}, {}, kSize, 6, {}},
        {QStringLiteral("40"), {{6, "８"}}, 0, {}, {}, kSize, 6, {}},
        {QStringLiteral("40"), {{6, "8 "}}, 0, {}, {}, kSize, 6, {}},
        {QStringLiteral("40"), {{7, "2001"}}, 0, {}, {}, kSize, 7, {}},
        {QStringLiteral("40"), {{7, "1e3"}}, 0, {}, {}, kSize, 7, {}},
        {QStringLiteral("40"), {{6, "8"}, {7, "2000"}}, 0, {}, {}, kStored, 0, QStringLiteral("花||||8|2000|20100101|")},
        {QStringLiteral("41"), {{6, " 8"}, {7, "$7D0"}}, 0, {}, {}, kStored, 0, QStringLiteral("花||||8|2000|20100101|")},
        {QStringLiteral("42"), {}, 6, QStringLiteral("12345"), QStringLiteral("1234"), kStored, 0, QStringLiteral("花||||1234|240|20100101|")},
        // Dates.
        {QStringLiteral("50"), {{8, "20100230"}}, 0, {}, {}, kDate, 8, {}},
        {QStringLiteral("50"), {{8, "19000229"}}, 0, {}, {}, kDate, 8, {}},
        {QStringLiteral("50"), {{8, "18991229"}}, 0, {}, {}, kDate, 8, {}},
        {QStringLiteral("50"), {{8, "2010/1/1"}}, 0, {}, {}, kDate, 8, {}},
        {QStringLiteral("50"), {{8, "   "}}, 0, {}, {}, kDate, 8, {}},
        {QStringLiteral("50"), {{8, "２０１００１０１"}}, 0, {}, {}, kDate, 8, {}},
        {QStringLiteral("50"), {{8, "2010010"}}, 0, {}, {}, kDate, 8, {}},
        {QStringLiteral("50"), {{9, "20100230"}}, 0, {}, {}, kDate, 9, {}},
        {QStringLiteral("50"), {{8, ""}, {9, "20100101"}}, 0, {}, {}, QStringLiteral("更新日付が指定されているのに作成日付が指定されていません"), 8, {}},
        {QStringLiteral("50"), {{8, "20100102"}, {9, "20100101"}}, 0, {}, {}, QStringLiteral("作成日付の方が後の日付になっています"), 8, {}},
        {QStringLiteral("50"), {{8, "20000229"}, {9, "20000229"}}, 0, {}, {}, kStored, 0, QStringLiteral("花||||320|240|20000229|20000229")},
        {QStringLiteral("51"), {{8, "18991230"}}, 0, {}, {}, kStored, 0, QStringLiteral("花||||320|240|18991230|")},
        {QStringLiteral("52"), {}, 8, QStringLiteral("201001011"), QStringLiteral("20100101"), kStored, 0, QStringLiteral("花||||320|240|20100101|")},
        // The name and the memo lines.
        {QStringLiteral("60"), {{2, "\t \x1f"}}, 0, {}, {}, QStringLiteral("プロジェクト名を入力して下さい。"), 2, {}},
        {QStringLiteral("60"), {{2, "a:b"}}, 0, {}, {}, kNameColon, 2, {}},
        {QStringLiteral("60"), {{2, "a'b"}}, 0, {}, {}, kNameColon, 2, {}},
        {QStringLiteral("60"), {{2, "a\"b"}}, 0, {}, {}, kNameColon, 2, {}},
        {QStringLiteral("60"), {{3, "it's"}}, 0, {}, {}, kQuote, 2, {}},
        {QStringLiteral("60"), {{4, "say \"hi\""}}, 0, {}, {}, kQuote, 2, {}},
        {QStringLiteral("60"), {{5, "'"}}, 0, {}, {}, kQuote, 2, {}},
        {QStringLiteral("60"), {{2, "：全角’”"}, {3, "a:b"}, {4, "%_\\"}, {5, "①"}}, 0, {}, {}, kStored, 0,
         QStringLiteral("：全角’”|a:b|%_\\|①|320|240|20100101|")},
        // Text the boxes would not have let through is refused by the data layer.
        {QStringLiteral("61"), {{2, "😀花"}}, 0, {}, {}, kNotStored, 0, {}},
        {QStringLiteral("61"), {{4, "𠮷"}}, 0, {}, {}, kNotStored, 0, {}},
        {QStringLiteral("61"), {{2, wide33}}, 0, {}, {}, kNotStored, 0, {}},
        {QStringLiteral("61"), {{3, QString(41, QChar(0x3042))}}, 0, {}, {}, kNotStored, 0, {}},
        // Typed, the boxes keep their byte limits and drop what CP932 cannot hold.
        {QStringLiteral("61"), {}, 2, wide40, wide40.left(32), kStored, 0, wide40.left(32) + QStringLiteral("||||320|240|20100101|")},
        {QStringLiteral("62"), {}, 3, m90, m90.left(80), kStored, 0, QStringLiteral("花|") + m90.left(80) + QStringLiteral("|||320|240|20100101|")},
        {QStringLiteral("63"), {}, 5, QStringLiteral("花😀𠮷"), QStringLiteral("花"), kStored, 0, QStringLiteral("花|||花|320|240|20100101|")},
    };
    const QString base[9] = {{}, QStringLiteral("花"), {}, {}, {}, "320", "240", "20100101", {}};
    std::map<int, QString> expected;
    for (size_t i = 0; i < rows.size(); ++i) {
        const EditorRow &r = rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i << " number " << r.number.toStdString());
        for (int b = 1; b <= 9; ++b)
            Box(f, b)->setText(base[b - 1]);
        f->Edit1->setText(r.number);
        for (const auto &[b, text] : r.set)
            Box(f, b)->setText(text);
        if (r.typedBox) {
            TypeInto(Box(f, r.typedBox), r.typed);
            EXPECT_EQ(Box(f, r.typedBox)->text(), r.inBox);
        }
        f->Button1->setFocus();
        rec.messages.clear();
        f->Button1Click();
        WaitForDbAnswers();
        WaitForDbAnswers();
        EXPECT_EQ(Show(rec.messages), r.message.toStdString());
        EXPECT_EQ(f->focusWidget(), r.focus ? Box(f, r.focus) : static_cast<QWidget *>(f->Button1));
        if (r.message.isEmpty()) {
            EXPECT_TRUE(f->Edit1->text().isEmpty());
        }
        if (!r.stored.isEmpty())
            expected[TextToInt(r.number)] = r.stored;
    }

    // Exactly the accepted rows, each as typed, the author the PC user, empty texts as NULL.
    QStringList want, got;
    for (const auto &[n, text] : expected)
        want << QString::number(n) + "|3|" + text;
    DataAccess &db = Db();
    const int count = db.SelectOrdered(QStringLiteral("*"), QStringLiteral("IMGLIST"), QString(), QStringLiteral("N"));
    QStringList row(10);
    for (int i = 0; i < count; ++i) {
        i == 0 ? db.FetchFirst(row) : db.FetchNext(row);
        got << row.join(QLatin1Char('|'));
    }
    db.CloseQuery();
    EXPECT_EQ(Show(got), Show(want));
    int emptyMemo1 = 0, emptyDate2 = 0;
    for (const auto &[n, text] : expected) {
        emptyMemo1 += text.split(QLatin1Char('|'))[1].isEmpty();
        emptyDate2 += text.split(QLatin1Char('|'))[7].isEmpty();
    }
    EXPECT_EQ(CountWhere(QStringLiteral("MEMO1 IS NULL")), emptyMemo1);
    EXPECT_EQ(CountWhere(QStringLiteral("DATE2 IS NULL")), emptyDate2);
    db.CloseQuery();
}

TEST_F(CatalogueBadInput, FilterTable)
{
    const QStringList names = {QStringLiteral("花:春"), "100%", "a_b", "C:\\data\\",
                               "'; DROP TABLE IMGLIST; --", QStringLiteral("①"), "abc"};
    for (int i = 0; i < names.size(); ++i)
        AddImage(i + 1, names[i], QStringLiteral("memo"), 320, 240, "20100101");
    mainWindow->mnuImageListClick();
    WaitForDbAnswers();
    auto *f = LastChild<ImageList>();
    ASSERT_NE(f, nullptr);
    const QStringList all = {"1", "2", "3", "4", "5", "6", "7"};
    ASSERT_EQ(Page(f), all);

    const struct {
        int column;
        QString text;
        bool typed;
        QStringList shown;
    } rows[] = {
        {1, QStringLiteral("花"), false, {"1"}},
        {1, "%", false, all}, // the LIKE wildcards keep their meaning
        {1, "_", false, all},
        {1, "a%c", false, {"7"}},
        {1, "0%", false, {"2"}},
        {1, "\\", false, {"4"}},
        {1, ":", false, {"1", "4"}},
        {1, "'; DROP TABLE IMGLIST; --", false, {"5"}},
        {1, "' OR ''='", false, {}},
        {1, "'); DELETE FROM IMGLIST; --", false, {}},
        {2, "\"", false, {}},
        {1, QStringLiteral("①"), false, {"6"}},
        {1, QStringLiteral("①"), true, {"6"}},
        // Text without a CP932 form: the data layer sends nothing, the page stays empty.
        {1, QStringLiteral("😀"), false, {}},
        // Typed, it never reaches the box: the empty box removes the filter.
        {1, QStringLiteral("😀"), true, all},
        {3, QString(40000, QLatin1Char('2')), false, {}},
        {4, "2010", false, {}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "column " << r.column << " text " << r.text.left(40).toStdString());
        if (r.typed)
            TypeInto(f->Edit1, r.text);
        else
            f->Edit1->setText(r.text);
        f->ComboBox2->setCurrentIndex(r.column);
        f->ComboBox2Select();
        WaitForDbAnswers();
        EXPECT_EQ(Show(Page(f)), Show(r.shown));
        EXPECT_EQ(f->pageTop(), 1);
    }
    // Whatever the filter held, the tables are as they were, and the list still works.
    EXPECT_TRUE(mainWindow->TableExists(QStringLiteral("IMGLIST")));
    EXPECT_TRUE(mainWindow->TableExists(QStringLiteral("MEMBER")));
    EXPECT_EQ(CountWhere(QString()), names.size());
    Db().CloseQuery();
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(StoredImage(i + 1).value(2), names[i]);
    f->ComboBox2->setCurrentIndex(0);
    f->ComboBox2Select();
    WaitForDbAnswers();
    EXPECT_EQ(Show(Page(f)), Show(all));
}
