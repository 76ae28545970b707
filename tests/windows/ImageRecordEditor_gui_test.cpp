#include "DbAnswers.h"
#include "CatalogueFixture.h"
#include "TestInput.h"

#include <QClipboard>
#include <QDate>
#include <QGuiApplication>
#include <functional>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

ImageRecordEditor *OpenNewEditor()
{
    mainWindow->mnuImageNewClick();
    WaitForDbAnswers();
    const auto subs = mainWindow->MdiArea()->subWindowList();
    return subs.isEmpty() ? nullptr : qobject_cast<ImageRecordEditor *>(subs.last());
}

// Types each character as a key press carrying that text (Japanese included).
void TypeText(QWidget *w, const QString &text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(w, &press);
    }
}

} // namespace

using ImageRecordEditorGui = CatalogueTest;

TEST_F(ImageRecordEditorGui, LayoutAndLimits)
{
    ImageRecordEditor *f = OpenNewEditor();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->client()->size(), QSize(448, 223));
    EXPECT_EQ(f->Edit2->geometry(), QRect(48, 28, 345, 21));
    EXPECT_EQ(f->Button1->geometry(), QRect(8, 192, 105, 25));
    EXPECT_FALSE(f->windowFlags() & Qt::WindowMaximizeButtonHint);
    // The lengths limit typing only; a value set in code is shown whole.
    f->Edit1->clear();
    TypeText(f->Edit1, "1234567890");
    EXPECT_EQ(f->Edit1->text(), "12345678");
    f->Edit9->setFocus();
    TypeText(f->Edit9, "2010010199");
    EXPECT_EQ(f->Edit9->text(), "20100101");
    f->Edit9->clear();
    f->Edit1->setText("1234567890");
    EXPECT_EQ(f->Edit1->text(), "1234567890");
    // After a longer value set in code, typing never makes the text longer than the box allows.
    struct AfterCode {
        QLineEdit *box;
        const char *set;
        std::function<void(QLineEdit *)> edit;
        const char *expected;
    };
    auto type = [](const char *t) { return [t](QLineEdit *e) { TypeText(e, QString::fromLatin1(t)); }; };
    auto backspaces = [](int n) {
        return [n](QLineEdit *e) {
            for (int i = 0; i < n; ++i)
                QTest::keyClick(e, Qt::Key_Backspace);
        };
    };
    const AfterCode afterCode[] = {
        {f->Edit1, "2147483648", type("7"), "2147483648"},
        {f->Edit1, "2147483648", type("789"), "2147483648"},
        {f->Edit1, "2147483648", [](QLineEdit *e) { e->home(false); TypeText(e, "9"); }, "2147483648"},
        {f->Edit1, "2147483648", [](QLineEdit *e) { e->setSelection(0, 1); TypeText(e, "3"); }, "2147483648"},
        {f->Edit1, "2147483648", [](QLineEdit *e) { QTest::keyClick(e, Qt::Key_Backspace); TypeText(e, "5"); }, "214748364"},
        {f->Edit1, "2147483648", [&](QLineEdit *e) { backspaces(2)(e); TypeText(e, "12"); }, "21474836"},
        {f->Edit1, "123456789", [](QLineEdit *e) {
             QGuiApplication::clipboard()->setText(QStringLiteral("55"));
             e->paste(); }, "123456789"},
        {f->Edit6, "123456789", type("0"), "123456789"},
        {f->Edit9, "2010010199", type("1"), "2010010199"},
        {f->Edit9, "2010010199", backspaces(2), "20100101"},
    };
    for (const AfterCode &c : afterCode) {
        SCOPED_TRACE(c.set);
        c.box->setFocus();
        c.box->setText(QString::fromLatin1(c.set));
        c.edit(c.box);
        EXPECT_EQ(c.box->text(), QString::fromLatin1(c.expected));
        c.box->clear();
    }
    EXPECT_FALSE(f->Edit8->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_FALSE(f->Edit1->focusPolicy() & Qt::TabFocus);

    // The name column holds 64 bytes: 32 full-width characters, or 64 half-width.
    f->Edit2->setFocus();
    TypeText(f->Edit2, QString(40, QChar(0x82B1)));
    EXPECT_EQ(f->Edit2->text(), QString(32, QChar(0x82B1)));
    f->Edit2->clear();
    TypeText(f->Edit2, QString(70, QLatin1Char('a')));
    EXPECT_EQ(f->Edit2->text().size(), 64);
    // A memo line holds 80 bytes; characters outside the database's set are refused.
    TypeText(f->Edit3, QString(50, QChar(0x3042)));
    EXPECT_EQ(f->Edit3->text(), QString(40, QChar(0x3042)));
    f->Edit4->setFocus();
    TypeText(f->Edit4, QStringLiteral("a\u00E9b\u4E02c"));
    EXPECT_EQ(f->Edit4->text(), "abc");
    TypeText(f->Edit6, "123456");
    EXPECT_EQ(f->Edit6->text(), "1234");

    // Every label by its name, and the order Tab goes round in.
    const std::pair<QLabel *, QString> labels[] = {
        {f->Label1, "番号"}, {f->Label4, "名前"}, {f->Label7, "メモ"}, {f->Label8, "画像"},
        {f->Label9, "横サイズ"}, {f->Label10, "縦サイズ"}, {f->Label12, "作成日付"},
        {f->Label13, "更新日付"}};
    for (const auto &[label, text] : labels) {
        ASSERT_NE(label, nullptr) << text.toStdString();
        EXPECT_EQ(label->text(), text);
    }
    EXPECT_EQ(TabChain(f->Button4, 11),
              (QList<QWidget *>{f->Button4, f->Edit2, f->Edit3, f->Edit4, f->Edit5, f->Edit6,
                                f->Edit7, f->Edit8, f->Edit9, f->Button1, f->Button2, f->Button3}));

    // Clear empties every box and keeps the mode and the focus where it was.
    for (QLineEdit *e : {f->Edit1, f->Edit2, f->Edit5, f->Edit7, f->Edit9})
        e->setText(QStringLiteral("1"));
    f->Edit5->setFocus();
    const int mode = f->openMode();
    f->Button2Click();
    WaitForDbAnswers();
    for (QLineEdit *e : {f->Edit1, f->Edit2, f->Edit3, f->Edit4, f->Edit5, f->Edit6, f->Edit7,
                         f->Edit8, f->Edit9})
        EXPECT_TRUE(e->text().isEmpty());
    EXPECT_EQ(f->openMode(), mode);
    EXPECT_EQ(f->focusWidget(), f->Edit5);
}

TEST_F(ImageRecordEditorGui, EnterRegistersFromAnyBoxAndEscCloses)
{
    AddImage(5, "old");
    ImageRecordEditor *f = OpenNewEditor();
    ASSERT_NE(f, nullptr);
    MessageRecorder rec;
    f->Edit2->setText(QStringLiteral("花"));
    f->Edit6->setText("320");
    f->Edit7->setText("240");
    f->Edit1->setText("5");
    // Enter in the number box registers, it does not load record 5.
    QTest::keyClick(f->Edit1, Qt::Key_Return);
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("指定した番号は既に存在します。再入力して下さい。")});
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("花"));
    rec.messages.clear();
    f->Edit1->setText("6");
    QTest::keyClick(f->Edit5, Qt::Key_Enter);
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データを登録しました")});
    EXPECT_EQ(StoredImage(6).value(2), QStringLiteral("花"));

    QPointer<ImageRecordEditor> alive(f);
    QTest::keyClick(f->Edit3, Qt::Key_Escape);
    WaitForDbAnswers();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

TEST_F(ImageRecordEditorGui, DoubleClicksFillTheBoxClicked)
{
    AddImage(9, "x");
    ImageRecordEditor *f = OpenNewEditor();
    const QString today = QDate::currentDate().toString("yyyyMMdd");
    QTest::mouseDClick(f->Edit9, Qt::LeftButton);
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit9->text(), today);
    EXPECT_TRUE(f->Edit8->text().isEmpty());
    QTest::mouseDClick(f->Edit8, Qt::LeftButton);
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit8->text(), today);
    f->Edit1->clear();
    QTest::mouseDClick(f->Edit1, Qt::LeftButton);
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit1->text(), "10");
}
