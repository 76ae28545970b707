#include "CommitCut.h"
#include "DbAnswers.h"
#include "CatalogueFixture.h"

#include <QDate>
#include <QLabel>
#include <QLineEdit>

namespace {

ImageRecordEditor *OpenNewEditor()
{
    mainWindow->mnuImageNewClick();
    WaitForDbAnswers();
    return qobject_cast<ImageRecordEditor *>(mainWindow->MdiArea()->subWindowList().value(0) ? mainWindow->MdiArea()->subWindowList().last() : nullptr);
}

ImageRecordEditor *OpenEditorOn(int n)
{
    EditMode = 1;
    CurrentImageNo = n;
    auto *f = new ImageRecordEditor;
    f->setWindowTitle(QStringLiteral("画像一覧データ編集"));
    mainWindow->AddChild(f);
    WaitForDbAnswers();
    return f;
}

void FillValid(ImageRecordEditor *f, const QString &number)
{
    f->Edit1->setText(number);
    f->Edit2->setText(QStringLiteral("花"));
    f->Edit6->setText("320");
    f->Edit7->setText("240");
    f->Edit8->setText("20100101");
    f->Edit9->clear();
}

} // namespace

using ImageRecordEditorDb = CatalogueTest;

TEST_F(ImageRecordEditorDb, ProposesTheNextFreeNumber)
{
    ImageRecordEditor *first = OpenNewEditor();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("画像一覧データ新規作成"));
    EXPECT_EQ(first->Edit1->text(), "1");
    EXPECT_EQ(first->Label2->text(), QStringLiteral("作成者：山田花子"));
    EXPECT_EQ(first->focusWidget(), first->Edit2);

    AddImage(1, "a");
    AddImage(2, "b");
    AddImage(7, "c");
    ImageRecordEditor *second = OpenNewEditor();
    EXPECT_NE(first, second);
    EXPECT_EQ(second->Edit1->text(), "8");
    first->Edit1->setText("99");
    first->Edit1DblClick();
    WaitForDbAnswers();
    EXPECT_EQ(first->Edit1->text(), "8");
}

TEST_F(ImageRecordEditorDb, ChecksRunInOrderAndWriteNothingUntilAllPass)
{
    AddImage(4, "taken");
    ImageRecordEditor *f = OpenNewEditor();
    ASSERT_NE(f, nullptr);
    MessageRecorder rec;

    // Start with every box wrong and mend them one at a time: each press must
    // report exactly the next check, with its focus.
    struct Step {
        std::function<void()> mend;
        QString message;
        QLineEdit *focus;
    };
    f->Edit1->setText("abc");
    f->Edit2->setText("   ");
    f->Edit3->setText("it's");
    f->Edit6->setText("7");
    f->Edit7->setText("2001");
    f->Edit8->setText("20100230");
    f->Edit9->setText("2010/1/1");

    const QString sizeMsg = QStringLiteral("画像の横サイズは8～2000の範囲内で入力して下さい。");
    const QString dateMsg = QStringLiteral("日付は yyyymmdd形式（例：20100101）で有効な内容を入力して下さい。");
    const std::vector<Step> steps = {
        {[] {}, QString(), f->Edit1},
        {[f] { f->Edit1->setText("4"); }, QStringLiteral("指定した番号は既に存在します。再入力して下さい。"), f->Edit1},
        {[f] { f->Edit1->setText(" 12"); }, QStringLiteral("プロジェクト名を入力して下さい。"), f->Edit2},
        {[f] { f->Edit2->setText("a:b"); }, QStringLiteral("プロジェクト名に引用符「'」「\"」「:」を入力しないで下さい"), f->Edit2},
        {[f] { f->Edit2->setText(QStringLiteral("　　")); }, sizeMsg, f->Edit6},
        {[f] { f->Edit6->setText("8"); }, sizeMsg, f->Edit7},
        {[f] { f->Edit7->setText("2000"); }, dateMsg, f->Edit8},
        {[f] { f->Edit8->setText("  "); }, dateMsg, f->Edit8},
        {[f] { f->Edit8->clear(); }, dateMsg, f->Edit9},
        {[f] { f->Edit9->setText("20100102"); },
         QStringLiteral("更新日付が指定されているのに作成日付が指定されていません"), f->Edit8},
        {[f] { f->Edit8->setText("20100103"); }, QStringLiteral("作成日付の方が後の日付になっています"), f->Edit8},
        {[f] { f->Edit8->setText("20100102"); }, QStringLiteral("引用符「'」「\"」を入力しないで下さい"), f->Edit2},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        steps[i].mend();
        rec.messages.clear();
        f->Button1Click();
        WaitForDbAnswers();
        if (steps[i].message.isEmpty()) {
            EXPECT_TRUE(rec.messages.isEmpty());
            EXPECT_TRUE(f->Edit1->text().isEmpty());
        } else {
            EXPECT_EQ(rec.messages, QStringList{steps[i].message});
        }
        EXPECT_EQ(f->focusWidget(), steps[i].focus);
        EXPECT_EQ(CountWhere(QString()), 1);
    }

    // The colon the name refused is fine in a memo line.
    f->Edit3->setText("a:b");
    rec.messages.clear();
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データを登録しました")});
    const QStringList row = StoredImage(12);
    ASSERT_EQ(row.size(), 10);
    EXPECT_EQ(row[2], QStringLiteral("　　"));
    EXPECT_EQ(row[3], "a:b");

    // The mode stays: the same number again is refused.
    rec.messages.clear();
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("指定した番号は既に存在します。再入力して下さい。")});
}

TEST_F(ImageRecordEditorDb, RefusedNumbersLeaveTheBoxEmptyWithoutMessage)
{
    ImageRecordEditor *f = OpenNewEditor();
    MessageRecorder rec;
    for (const QString &bad : {QStringLiteral("0"), QStringLiteral("-3"), QStringLiteral("abc"), QString()}) {
        FillValid(f, bad);
        f->Button1Click();
        WaitForDbAnswers();
        EXPECT_TRUE(f->Edit1->text().isEmpty()) << bad.toStdString();
    }
    EXPECT_TRUE(rec.messages.isEmpty());
    EXPECT_EQ(CountWhere(QString()), 0);
}

TEST_F(ImageRecordEditorDb, StoresTextsAsTypedAndEmptyOnesAsNull)
{
    ImageRecordEditor *f = OpenNewEditor();
    MessageRecorder rec;
    FillValid(f, "0012");
    f->Edit2->setText(QStringLiteral(" 花 "));
    f->Edit4->setText(QStringLiteral("二行目"));
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データを登録しました")});

    const QStringList row = StoredImage(12);
    ASSERT_EQ(row.size(), 10);
    EXPECT_EQ(row, (QStringList{"12", "3", QStringLiteral(" 花 "), "", QStringLiteral("二行目"), "", "320",
                                "240", "20100101", ""}));
    EXPECT_EQ(CountWhere("N=12 AND MEMO1 IS NULL AND MEMO3 IS NULL AND DATE2 IS NULL"), 1);
    EXPECT_EQ(CountWhere("N=12 AND MEMO2 IS NOT NULL AND DATE1 IS NOT NULL"), 1);

    // The editor stays filled and in its mode.
    EXPECT_EQ(f->Edit2->text(), QStringLiteral(" 花 "));
    EXPECT_EQ(f->openMode(), 0);
}

TEST_F(ImageRecordEditorDb, NewRecordTakesThePcUserAtRegistration)
{
    ImageRecordEditor *f = OpenNewEditor();
    MessageRecorder rec;
    FillValid(f, "1");
    PcUserNo = 5;
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(StoredImage(1).value(1), "5");
}

TEST_F(ImageRecordEditorDb, EditingLoadsTheRecordAndKeepsTheAuthor)
{
    AddImage(6, QStringLiteral("海"), QStringLiteral("メモ"), 640, 480, "20100101", "20100202", 3);
    PcUserNo = 5;
    PcUserName = QStringLiteral("佐藤");
    ImageRecordEditor *f = OpenEditorOn(6);
    EXPECT_EQ(f->Edit1->text(), "6");
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("海"));
    EXPECT_EQ(f->Edit3->text(), QStringLiteral("メモ"));
    EXPECT_EQ(f->Edit6->text(), "640");
    EXPECT_EQ(f->Edit9->text(), "20100202");
    EXPECT_EQ(f->Label2->text(), QStringLiteral("作成者：山田花子"));
    EXPECT_EQ(f->focusWidget(), f->Edit2);

    MessageRecorder rec;
    f->Edit2->setText(QStringLiteral("山"));
    f->Edit3->clear();
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データを登録しました")});
    const QStringList row = StoredImage(6);
    EXPECT_EQ(row.value(1), "3");
    EXPECT_EQ(row.value(2), QStringLiteral("山"));
    EXPECT_EQ(CountWhere("N=6 AND MEMO1 IS NULL"), 1);

    // Edit mode never inserts: a number without a record is refused.
    rec.messages.clear();
    f->Edit1->setText("77");
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("指定した番号は存在しません。再入力して下さい。")});
    EXPECT_EQ(f->focusWidget(), f->Edit1);
    EXPECT_EQ(CountWhere(QString()), 1);

    // Loading a missing number empties the boxes; the author label stays.
    f->Button4Click();
    WaitForDbAnswers();
    for (QLineEdit *e : {f->Edit1, f->Edit2, f->Edit3, f->Edit6, f->Edit8, f->Edit9})
        EXPECT_TRUE(e->text().isEmpty());
    EXPECT_EQ(f->Label2->text(), QStringLiteral("作成者：山田花子"));
    EXPECT_TRUE(rec.messages.size() == 1);

    // Clear restores the PC user's name.
    f->Button2Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("作成者：佐藤"));
}

// A record whose commit reaches the server and whose answer is cut with the connection is
// looked for on a new connection and shown as stored, without a failure.
TEST_F(ImageRecordEditorDb, ARecordWhoseCommitAnswerIsCutIsShownAsStored)
{
    struct Case {
        const char *name;
        bool insert;
    };
    const Case cases[] = {{"a new record", true}, {"a changed record", false}};
    CommitCut cut;
    ASSERT_TRUE(cut.Attach(database));
    int cuts = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Db().ExecuteSql({"DELETE FROM IMGLIST"}));
        if (!c.insert)
            AddImage(6, QStringLiteral("海"));
        ImageRecordEditor *f = c.insert ? OpenNewEditor() : OpenEditorOn(6);
        ASSERT_NE(f, nullptr);
        FillValid(f, "6");
        MessageRecorder rec;
        f->Button1Click();
        // The number is looked up first.
        cut.CutNextCommit(1);
        ASSERT_TRUE(WaitForDbAnswers(40000));
        EXPECT_EQ(cut.Cuts(), ++cuts);
        EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データを登録しました")});
        EXPECT_EQ(mainWindow->ConnectionStatusText(), QString());
        EXPECT_EQ(StoredImage(6).mid(0, 3), (QStringList{"6", "3", QStringLiteral("花")}));
        EXPECT_EQ(CountWhere(QString()), 1);
        delete f;
    }
}

TEST_F(ImageRecordEditorDb, EditFromTheMenuStartsEmptyAndLoadsOnRequest)
{
    AddImage(2, QStringLiteral("空"));
    mainWindow->mnuImageEditClick();
    WaitForDbAnswers();
    auto *f = LastChild<ImageRecordEditor>();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->windowTitle(), QStringLiteral("画像一覧データ編集"));
    EXPECT_TRUE(f->Edit1->text().isEmpty());
    EXPECT_TRUE(f->Edit2->text().isEmpty());
    EXPECT_EQ(f->focusWidget(), f->Edit1);
    f->Edit1->setText("2");
    f->Button4Click();
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("空"));
}

TEST_F(ImageRecordEditorDb, FailedInsertIsReportedAndKeepsTheBoxes)
{
    ImageRecordEditor *f = OpenNewEditor();
    MessageRecorder rec;
    FillValid(f, "3");
    // Another PC takes the number between the check and the insert: here the
    // table vanishes instead, which the insert must report just the same.
    ASSERT_TRUE(Db().DropTable("IMGLIST")) << Db().LastErrorText().toStdString();
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データが登録出来ませんでした")});
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("花"));

    // Without a connection the check before the insert gets no answer: still the 登録
    // failed, told as a write (not as a read).
    rec.messages.clear();
    mainWindow->DisconnectDatabase();
    f->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages,
              QStringList{QStringLiteral("画像一覧データが登録出来ませんでした\nデータベースとの接続が切れています。")});
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("花"));
}

TEST_F(ImageRecordEditorDb, MenuCommandsGuardTheTableAndThePcUser)
{
    ASSERT_TRUE(Db().DropTable("IMGLIST"));
    mainWindow->mnuImageEditClick();
    WaitForDbAnswers();
    EXPECT_TRUE(Children().isEmpty());
    EXPECT_FALSE(Db().TableExists("IMGLIST"));

    MessageRecorder rec;
    PcUserNo = 0;
    mainWindow->mnuImageNewClick();
    WaitForDbAnswers();
    EXPECT_TRUE(Db().TableExists("IMGLIST"));
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("PC利用者名の登録を行って下さい")});
    EXPECT_TRUE(Children().isEmpty());
}

// Values set in code are shown whole: a number of nine or ten digits, or a stored
// width of five, must never turn into another record's number or a valid width.
TEST_F(ImageRecordEditorDb, LongNumbersAreShownLoadedProposedAndWrittenWhole)
{
    MessageRecorder rec;
    AddImage(10000000, "short");
    AddImage(100000000, "long", QString(), 12345, 240);
    const QStringList shortBefore = StoredImage(10000000);

    ImageRecordEditor *edit = OpenEditorOn(100000000);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->Edit1->text(), "100000000");
    EXPECT_EQ(edit->Edit2->text(), "long");
    EXPECT_EQ(edit->Edit6->text(), "12345");
    // The stored width is out of range: refused, not cut to 1234 and written back.
    edit->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages.value(0), QStringLiteral("画像の横サイズは8～2000の範囲内で入力して下さい。"));
    EXPECT_EQ(StoredImage(100000000).value(6), "12345");
    edit->Edit6->setText("320");
    edit->Edit2->setText("renamed");
    rec.messages.clear();
    edit->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データを登録しました")});
    EXPECT_EQ(StoredImage(100000000).value(2), "renamed");
    EXPECT_EQ(StoredImage(10000000), shortBefore);

    ImageRecordEditor *fresh = OpenNewEditor();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Edit1->text(), "100000001");

    // The highest number there is: the next one is proposed as the registers do, and refused.
    AddImage(2147483647, "last");
    ImageRecordEditor *atEnd = OpenNewEditor();
    ASSERT_NE(atEnd, nullptr);
    EXPECT_EQ(atEnd->Edit1->text(), "2147483648");
    atEnd->Edit2->setText(QStringLiteral("花"));
    atEnd->Edit6->setText("320");
    atEnd->Edit7->setText("240");
    const int rowsBefore = CountWhere(QString());
    atEnd->Button1Click();
    WaitForDbAnswers();
    EXPECT_EQ(CountWhere(QString()), rowsBefore);
    EXPECT_TRUE(atEnd->Edit1->text().isEmpty());
}
