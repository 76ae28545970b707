#include "DbAnswers.h"
#include "CommitCut.h"
#include "CatalogueFixture.h"

#include "forms/FormUtil.h"
#include "windows/PaintWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

namespace {

// The numbers shown, top to bottom; stops at the first empty row and checks
// that every row below it is empty too.
QStringList Page(ImageList *f)
{
    QStringList shown;
    bool ended = false;
    for (int r = 1; r < GridRowCount(f->SG1); ++r) {
        const QString n = GridCell(f->SG1, 0, r);
        if (n.isEmpty()) {
            ended = true;
            for (int c = 1; c < 7; ++c)
                EXPECT_TRUE(GridCell(f->SG1, c, r).isEmpty()) << "row " << r;
        } else {
            EXPECT_FALSE(ended) << "row " << r << " filled below an empty row";
            shown << n;
        }
    }
    return shown;
}

QStringList Range(int from, int to)
{
    QStringList l;
    for (int i = from; i <= to; ++i)
        l << QString::number(i);
    return l;
}

ImageList *OpenList()
{
    mainWindow->mnuImageListClick();
    WaitForDbAnswers();
    auto subs = mainWindow->MdiArea()->subWindowList();
    return subs.isEmpty() ? nullptr : qobject_cast<ImageList *>(subs.last());
}

void Select(ImageList *f, int gridRow)
{
    f->SG1->setCurrentCell(GridRowToTable(gridRow), 0);
    // The detail panel is read on the main-db thread.
    WaitForDbAnswers();
}

} // namespace

using ImageListDb = CatalogueTest;

TEST_F(ImageListDb, EmptyTableGivesAnEmptyPageThatStaysPut)
{
    ImageList *f = OpenList();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GridRowCount(f->SG1), 101);
    EXPECT_EQ(GridCell(f->SG1, 0, 0), QString()); // header lives in the header view
    EXPECT_EQ(f->SG1->horizontalHeaderItem(5)->text(), QStringLiteral("作成日付"));
    EXPECT_TRUE(Page(f).isEmpty());
    EXPECT_EQ(f->pageTop(), 1);
    EXPECT_EQ(f->nextPageTop(), 1);
    f->Button3Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->pageTop(), 1);
    EXPECT_EQ(f->nextPageTop(), 1);
}

TEST_F(ImageListDb, PagesOf250Records)
{
    for (int n = 1; n <= 250; ++n)
        AddImage(n, QStringLiteral("絵") + QString::number(n));
    ImageList *f = OpenList();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Page(f), Range(1, 100));
    EXPECT_EQ(f->nextPageTop(), 101);
    EXPECT_EQ(GridCell(f->SG1, 1, 1), QStringLiteral("絵1"));
    EXPECT_EQ(GridCell(f->SG1, 3, 1), "320");
    EXPECT_EQ(GridCell(f->SG1, 4, 1), "240");

    f->Button3Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->pageTop(), 101);
    EXPECT_EQ(Page(f), Range(101, 200));
    f->Button3Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->pageTop(), 201);
    EXPECT_EQ(Page(f), Range(201, 250));
    EXPECT_EQ(f->nextPageTop(), 251);
    f->Button3Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->pageTop(), 251);
    EXPECT_TRUE(Page(f).isEmpty());
    EXPECT_EQ(f->nextPageTop(), 251);

    f->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(Page(f), Range(151, 250));
    f->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(Page(f), Range(51, 150));
    f->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(Page(f), Range(1, 100));
    f->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->pageTop(), 1);
    EXPECT_EQ(Page(f), Range(1, 100));

    f->Button3Click();
    WaitForDbAnswers();
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(Page(f), Range(1, 100));
}

TEST_F(ImageListDb, PagesOfExactly100Records)
{
    for (int n = 1; n <= 100; ++n)
        AddImage(n, "p");
    ImageList *f = OpenList();
    EXPECT_EQ(Page(f), Range(1, 100));
    EXPECT_EQ(f->nextPageTop(), 101);
    f->Button3Click();
    WaitForDbAnswers();
    EXPECT_TRUE(Page(f).isEmpty());
    f->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->pageTop(), 1);
    EXPECT_EQ(Page(f), Range(1, 100));

    // Records added meanwhile show after "更新(&U)" on the same page.
    AddImage(0, "zero");
    f->Button4Click();
    WaitForDbAnswers();
    EXPECT_EQ(Page(f), QStringList{"0"} + Range(1, 99));
}

TEST_F(ImageListDb, EverySortOrder)
{
    // N, name, memo, date1, date2: ties on memo and dates break on N.
    AddImage(1, "c", "m2", 320, 240, "20100103", "20100105");
    AddImage(2, "a", "m1", 320, 240, "20100101", "20100106");
    AddImage(3, "d", "m2", 320, 240, "20100102", "20100105");
    AddImage(4, "b", "m1", 320, 240, "20100103", "20100104");
    ImageList *f = OpenList();
    const QList<QStringList> expected = {
        {"1", "2", "3", "4"}, {"4", "3", "2", "1"}, // N
        {"2", "4", "1", "3"}, {"3", "1", "4", "2"}, // INAME
        {"2", "4", "1", "3"}, {"3", "1", "4", "2"}, // MEMO1,N
        {"2", "3", "1", "4"}, {"4", "1", "3", "2"}, // DATE1,N
        {"4", "1", "3", "2"}, {"2", "3", "1", "4"}, // DATE2,N
    };
    ASSERT_EQ(f->ComboBox1->count(), 10);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(f->ComboBox1->itemText(i).toStdString());
        f->Button3Click(); // away from the first page, which the sort must return to
        WaitForDbAnswers();
        f->ComboBox1->setCurrentIndex(i);
        f->ComboBox1Select();
        WaitForDbAnswers();
        EXPECT_EQ(f->pageTop(), 1);
        EXPECT_EQ(Page(f), expected[i]);
    }
    EXPECT_EQ(f->sortOrder(), "DATE2 DESC,N DESC");

    // Choosing the item in force again, as a user does from the list, reloads both ways.
    AddImage(5, "e", "m1", 320, 240, "20100101", "20100107");
    emit f->ComboBox1->activated(f->ComboBox1->currentIndex());
    WaitForDbAnswers();
    EXPECT_EQ(Page(f), (QStringList{"5", "2", "3", "1", "4"}));
    f->ComboBox2->setCurrentIndex(0);
    AddImage(6, "f", "m1", 320, 240, "20100101", "20100108");
    emit f->ComboBox2->activated(0);
    WaitForDbAnswers();
    EXPECT_EQ(Page(f).value(0), "6");
}

TEST_F(ImageListDb, FilterTakesAnyTextLiterally)
{
    AddImage(1, "a'b", "x");
    AddImage(2, "ab", "x'");
    AddImage(3, "it's", "y");
    AddImage(4, "acb", "y", 320, 240, "20100101");
    AddImage(5, "%' OR ''='", "z");
    ImageList *f = OpenList();
    ASSERT_EQ(Page(f).size(), 5);
    auto filter = [f](int column, const QString &text) {
        f->Edit1->setText(text);
        f->ComboBox2->setCurrentIndex(column);
        f->ComboBox2Select();
        WaitForDbAnswers();
        return Page(f);
    };
    EXPECT_EQ(filter(1, "'"), (QStringList{"1", "3", "5"}));
    EXPECT_EQ(filter(1, "a'b"), QStringList{"1"});
    EXPECT_EQ(filter(2, "'"), QStringList{"2"});
    // Crafted text finds only itself.
    EXPECT_EQ(filter(1, "%' OR ''='"), QStringList{"5"});
    EXPECT_EQ(filter(1, "' OR 1=1 OR INAME='"), QStringList{});
    // The LIKE wildcards keep their meaning.
    EXPECT_EQ(filter(1, "a_b"), (QStringList{"1", "4"}));
    EXPECT_EQ(filter(3, "2010"), QStringList{"4"});
    // The sort stays with a filter; an empty text or "（無し）" removes the filter.
    f->ComboBox1->setCurrentIndex(1);
    f->ComboBox1Select();
    WaitForDbAnswers();
    EXPECT_EQ(filter(2, "y"), (QStringList{"4", "3"}));
    EXPECT_EQ(filter(2, ""), (QStringList{"5", "4", "3", "2", "1"}));
    EXPECT_EQ(filter(0, "y"), (QStringList{"5", "4", "3", "2", "1"}));
    EXPECT_TRUE(f->filterCondition().isEmpty());

    // Typing alone changes nothing; "更新(&U)" reloads with the filter in force.
    filter(2, "x");
    f->Edit1->setText("y");
    f->Button4Click();
    WaitForDbAnswers();
    EXPECT_EQ(Page(f), (QStringList{"2", "1"}));
}

TEST_F(ImageListDb, DetailPanelShowsTheSelectedRecord)
{
    AddImage(12, QStringLiteral("花"), QStringLiteral("春"), 320, 240, "20100101", QString(), 3);
    AddImage(13, QStringLiteral("空"), QString(), 64, 48, "20100101", "20100202", 9);
    ImageList *f = OpenList();
    // The highlighted first row is shown from the opening on.
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("花"));
    f->Edit2->clear();

    f->SG1SelectCell(0, 1);
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("花"));
    EXPECT_EQ(f->Edit3->text(), QStringLiteral("春"));
    EXPECT_EQ(f->LabelA->text(), QStringLiteral("作成者：山田花子"));
    EXPECT_EQ(f->LabelB->text(), QStringLiteral("サイズ：320×240"));
    EXPECT_EQ(f->LabelC->text(), QStringLiteral("日　付：20100101　"));

    // An author without a member record gives the caption alone.
    f->SG1SelectCell(0, 2);
    WaitForDbAnswers();
    EXPECT_EQ(f->LabelA->text(), QStringLiteral("作成者："));
    EXPECT_EQ(f->LabelC->text(), QStringLiteral("日　付：20100101　20100202"));

    // Without a MEMBER table at all the same, and nothing is said.
    {
        MessageRecorder rec;
        ASSERT_TRUE(Db().DropTable(QStringLiteral("MEMBER")));
        f->SG1SelectCell(0, 1);
        WaitForDbAnswers();
        EXPECT_EQ(f->Edit2->text(), QStringLiteral("花"));
        EXPECT_EQ(f->LabelA->text(), QStringLiteral("作成者："));
        EXPECT_TRUE(rec.messages.isEmpty()) << rec.messages.join(' ').toStdString();
    }

    // The record vanished after the page was loaded.
    ASSERT_TRUE(Db().DeleteRecords("IMGLIST", "N=12"));
    f->SG1SelectCell(0, 1);
    WaitForDbAnswers();
    EXPECT_TRUE(f->Edit2->text().isEmpty());
    EXPECT_TRUE(f->Edit3->text().isEmpty());
    EXPECT_EQ(f->LabelA->text(), QStringLiteral("作成者："));
    EXPECT_EQ(f->LabelB->text(), QStringLiteral("サイズ：×"));
    EXPECT_EQ(f->LabelC->text(), QStringLiteral("日　付：") + QChar(0x3000));

    // An empty row clears the panel and looks nothing up.
    f->SG1SelectCell(0, 2);
    WaitForDbAnswers();
    f->SG1SelectCell(0, 50);
    WaitForDbAnswers();
    EXPECT_TRUE(f->Edit2->text().isEmpty());
    EXPECT_EQ(f->LabelB->text(), QStringLiteral("サイズ："));
}

// After every load the highlighted row and the panel show one record: the row kept
// when it still holds one, else the first; nothing at all on an empty page.
TEST_F(ImageListDb, SelectionAndPanelAgreeAfterEveryLoad)
{
    for (int n = 1; n <= 103; ++n)
        AddImage(n, QStringLiteral("絵%1").arg(n));
    ImageList *f = OpenList();
    auto shown = [f] {
        const QModelIndexList rows = f->SG1->selectionModel()->selectedRows();
        const int current = GridCurrentRow(f->SG1);
        EXPECT_EQ(rows.size(), current > 0 ? 1 : 0);
        if (!rows.isEmpty()) {
            EXPECT_EQ(TableRowToGrid(rows[0].row()), current);
        }
        return std::make_pair(GridCell(f->SG1, 1, current), f->Edit2->text());
    };
    EXPECT_EQ(shown(), std::make_pair(QStringLiteral("絵1"), QStringLiteral("絵1")));
    Select(f, 5);
    f->Button3Click(); // the next page: row 5 is empty there, the first is taken
    WaitForDbAnswers();
    EXPECT_EQ(shown(), std::make_pair(QStringLiteral("絵101"), QStringLiteral("絵101")));
    Select(f, 3);
    f->Button1Click(); // row 3 holds a record on the first page too
    WaitForDbAnswers();
    EXPECT_EQ(shown(), std::make_pair(QStringLiteral("絵3"), QStringLiteral("絵3")));
    f->ComboBox1->setCurrentIndex(1);
    f->ComboBox1Select(); // descending: the same row, another record
    WaitForDbAnswers();
    EXPECT_EQ(shown(), std::make_pair(QStringLiteral("絵101"), QStringLiteral("絵101")));
    f->Edit1->setText(QStringLiteral("無い"));
    f->ComboBox2->setCurrentIndex(1);
    f->ComboBox2Select(); // nothing matches
    WaitForDbAnswers();
    EXPECT_EQ(shown(), std::make_pair(QString(), QString()));
    EXPECT_EQ(f->LabelB->text(), QStringLiteral("サイズ："));
}

TEST_F(ImageListDb, CommandsOnAnEmptyRowDoNothing)
{
    AddImage(1, "a");
    ImageList *f = OpenList();
    MessageRecorder rec;
    Select(f, 2);
    const int before = Children().size();
    f->Button7Click();
    f->Button8Click();
    f->Button9Click();
    WaitForDbAnswers();
    emit f->SG1->cellDoubleClicked(1, 0);
    EXPECT_EQ(Children().size(), before);
    EXPECT_TRUE(rec.messages.isEmpty());
    EXPECT_TRUE(rec.confirmations.isEmpty());
}

TEST_F(ImageListDb, EditAndDetailOpenWindowsOnTheRow)
{
    AddImage(12, QStringLiteral("花"), QString(), 320, 240);
    AddImage(13, QStringLiteral("空"), QString(), 64, 48);
    ImageList *f = OpenList();
    Select(f, 2);

    f->Button7Click();
    WaitForDbAnswers();
    auto *editor = LastChild<ImageRecordEditor>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("画像一覧データ編集"));
    EXPECT_EQ(editor->openMode(), 1);
    EXPECT_EQ(editor->Edit1->text(), "13");
    EXPECT_EQ(editor->Edit2->text(), QStringLiteral("空"));

    f->Button8Click();
    auto *paint = LastChild<PaintWindow>();
    ASSERT_NE(paint, nullptr);
    EXPECT_EQ(paint->windowTitle(), QStringLiteral("お絵描きソフト － 空(N:13)"));
    EXPECT_EQ(CurrentImageNo, 13);
    EXPECT_EQ(CurrentImageWidth, 64);
    EXPECT_EQ(CurrentImageHeight, 48);

    // Each use opens a further window, also on a picture already open.
    Select(f, 1);
    emit f->SG1->cellDoubleClicked(0, 0);
    emit f->SG1->cellDoubleClicked(0, 0);
    const auto subs = Children();
    ASSERT_EQ(subs.size(), 5);
    EXPECT_EQ(subs[3]->windowTitle(), QStringLiteral("お絵描きソフト － 花(N:12)"));
    EXPECT_EQ(subs[4]->windowTitle(), QStringLiteral("お絵描きソフト － 花(N:12)"));
}

TEST_F(ImageListDb, DeletesTheStrokeTableAfterConfirmation)
{
    AddImage(12, QStringLiteral("花"));
    ImageList *f = OpenList();
    Select(f, 1);
    const QString subject = QStringLiteral("画像データ「花」(N:12)");
    {
        MessageRecorder rec;
        f->Button9Click();
        WaitForDbAnswers();
        EXPECT_EQ(rec.messages, QStringList{subject + QStringLiteral("のテーブルデータは存在しません。")});
        EXPECT_TRUE(rec.confirmations.isEmpty());
    }
    ASSERT_TRUE(Db().CreateImageTable("IMG_12"));
    // The last statement read the stroke table, as an open painting window's would.
    EXPECT_EQ(Db().SelectOrdered("*", "IMG_12", "", "N"), 0);
    Db().CloseQuery();
    {
        MessageRecorder rec(false);
        f->Button9Click();
        WaitForDbAnswers();
        EXPECT_EQ(rec.confirmations, QStringList{subject + QStringLiteral("を削除します。よろしいですか？")});
        EXPECT_TRUE(rec.messages.isEmpty());
        EXPECT_TRUE(Db().TableExists("IMG_12"));
    }
    {
        MessageRecorder rec(true);
        f->Button9Click();
        WaitForDbAnswers();
        EXPECT_EQ(rec.messages, QStringList{subject + QStringLiteral("を削除しました。")});
        EXPECT_FALSE(Db().TableExists("IMG_12"));
    }
    // The record stays, and the grid is not reloaded.
    EXPECT_EQ(CountWhere("N=12"), 1);
    EXPECT_EQ(GridCell(f->SG1, 0, 1), "12");
}

// A drop whose commit reaches the server and whose answer is cut with the connection: the
// table is looked for on a new connection and, gone, the drop is shown as done.
TEST_F(ImageListDb, ADropWhoseCommitAnswerIsCutIsShownAsDone)
{
    CommitCut cut;
    ASSERT_TRUE(cut.Attach(database));
    AddImage(12, QStringLiteral("花"));
    ASSERT_TRUE(Db().CreateImageTable("IMG_12"));
    ImageList *f = OpenList();
    Select(f, 1);
    MessageRecorder rec(true);
    f->Button9Click();
    // Whether the table is there is read first.
    cut.CutNextCommit(1);
    ASSERT_TRUE(WaitForDbAnswers(40000));
    EXPECT_EQ(cut.Cuts(), 1);
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像データ「花」(N:12)を削除しました。")});
    EXPECT_EQ(mainWindow->ConnectionStatusText(), QString());
    EXPECT_FALSE(Db().TableExists("IMG_12"));
}

TEST_F(ImageListDb, FailedDropIsReported)
{
    AddImage(12, QStringLiteral("花"));
    ASSERT_TRUE(Db().CreateImageTable("IMG_12"));
    // A view built on the stroke table makes the server refuse the drop.
    ASSERT_TRUE(Db().ExecuteSql({"CREATE VIEW V12 AS SELECT N FROM IMG_12;"}));
    ImageList *f = OpenList();
    Select(f, 1);
    MessageRecorder rec(true);
    f->Button9Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像データ「花」(N:12)が削除出来ませんでした。")});
    EXPECT_TRUE(Db().TableExists("IMG_12"));
}

TEST_F(ImageListDb, MenuCommandCreatesTheTableBeforeAskingForAPcUser)
{
    ASSERT_TRUE(Db().DropTable("IMGLIST"));
    PcUserNo = 0;
    MessageRecorder rec;
    mainWindow->mnuImageListClick();
    WaitForDbAnswers();
    EXPECT_TRUE(Db().TableExists("IMGLIST"));
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("PC利用者名の登録を行って下さい")});
    EXPECT_TRUE(Children().isEmpty());
}
