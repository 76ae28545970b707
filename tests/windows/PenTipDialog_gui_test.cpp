#include "TestDatabase.h"
#include "windows/PenTipDialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
const QString kRangeMessage = QStringLiteral("サイズは 1 ～ 300 の範囲内で入力して下さい");

// Shows the dialog modally with type/size handed in; `act` runs once it is up.
int RunDialog(PenTipDialog &dlg, int type, int size, const std::function<void()> &act)
{
    dlg.TipType = type;
    dlg.TipSize = size;
    QTimer::singleShot(0, &dlg, act);
    return dlg.exec();
}
} // namespace

TEST(PenTipDialog, Layout)
{
    PenTipDialog dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("ペン先の設定"));
    EXPECT_EQ(dlg.size(), QSize(270, 95));
    ASSERT_EQ(dlg.ComboBox1->count(), 6);
    const QStringList items = {"●", "○", "■", "□", "／", "＼"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(dlg.ComboBox1->itemText(i), items[i]);
    EXPECT_FALSE(dlg.ComboBox1->isEditable());
    EXPECT_EQ(dlg.Button1->text(), QStringLiteral("ＯＫ(&Y)"));
    EXPECT_TRUE(dlg.Button1->isDefault());
    EXPECT_EQ(dlg.Button2->text(), QStringLiteral("キャンセル(&N)"));
    EXPECT_EQ(dlg.ComboBox1->geometry(), QRect(72, 8, 145, 21));
    EXPECT_EQ(dlg.Edit1->geometry().topLeft(), QPoint(72, 32));
    EXPECT_FALSE(dlg.Edit1->testAttribute(Qt::WA_InputMethodEnabled));
}

TEST(PenTipDialog, AcceptsSizesOneToThreeHundred)
{
    MessageRecorder rec;
    PenTipDialog dlg;
    for (const QString &text : {QStringLiteral("1"), QStringLiteral("300"), QStringLiteral("25")}) {
        const int r = RunDialog(dlg, 2, 7, [&] {
            dlg.ComboBox1->setCurrentIndex(5);
            dlg.Edit1->setText(text);
            QTest::mouseClick(dlg.Button1, Qt::LeftButton);
        });
        EXPECT_EQ(r, QDialog::Accepted);
        EXPECT_TRUE(dlg.Accepted);
        EXPECT_EQ(dlg.TipType, 5);
        EXPECT_EQ(dlg.TipSize, text.toInt());
    }
    EXPECT_TRUE(rec.messages.isEmpty());
}

TEST(PenTipDialog, RefusesSizesOutOfRangeAndStaysOpen)
{
    MessageRecorder rec;
    PenTipDialog dlg;
    dlg.TipType = 3;
    dlg.TipSize = 9;
    dlg.show();
    for (const QString &text : {QStringLiteral("0"), QStringLiteral("301"), QString(),
                                QStringLiteral("abc"), QStringLiteral("-5")}) {
        rec.messages.clear();
        dlg.Edit1->setText(text);
        dlg.ComboBox1->setCurrentIndex(1);
        dlg.Button1Click();
        ASSERT_EQ(rec.messages, QStringList{kRangeMessage}) << text.toStdString();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_FALSE(dlg.Accepted);
        EXPECT_EQ(dlg.TipType, 3);
        EXPECT_EQ(dlg.TipSize, 9);
        EXPECT_EQ(dlg.Edit1->text(), text);
    }
    // The dialog is still usable: a valid size then closes it.
    dlg.Edit1->setText(QStringLiteral("12"));
    dlg.Button1Click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.Accepted);
    EXPECT_EQ(dlg.TipType, 1);
    EXPECT_EQ(dlg.TipSize, 12);
}

TEST(PenTipDialog, ShowingStartsFromTheValuesHandedIn)
{
    MessageRecorder rec;
    PenTipDialog dlg;
    // Out-of-range type shows the first tip; OK then hands back 0.
    for (int type : {-1, 6, 1000}) {
        RunDialog(dlg, type, 4, [&] {
            EXPECT_EQ(dlg.ComboBox1->currentIndex(), 0);
            EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("4"));
            dlg.Button1Click();
        });
        EXPECT_TRUE(dlg.Accepted);
        EXPECT_EQ(dlg.TipType, 0);
    }
    // A size out of range is shown whole (longer than what can be typed) and must be fixed.
    RunDialog(dlg, 4, 12345, [&] {
        EXPECT_EQ(dlg.ComboBox1->currentIndex(), 4);
        EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("12345"));
        dlg.Button1Click();
        EXPECT_EQ(rec.messages.size(), 1);
        dlg.Edit1->clear();
        QTest::keyClicks(dlg.Edit1, QStringLiteral("2999"));
        EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("299"));
        dlg.Button1Click();
    });
    EXPECT_TRUE(dlg.Accepted);
    EXPECT_EQ(dlg.TipSize, 299);
}

TEST(PenTipDialog, CancelHandsNothingBack)
{
    MessageRecorder rec;
    PenTipDialog dlg;
    auto change = [&] {
        dlg.ComboBox1->setCurrentIndex(5);
        dlg.Edit1->setText(QStringLiteral("200"));
    };
    int r = RunDialog(dlg, 2, 8, [&] {
        change();
        QTest::mouseClick(dlg.Button2, Qt::LeftButton);
    });
    EXPECT_EQ(r, QDialog::Rejected);
    EXPECT_FALSE(dlg.Accepted);
    EXPECT_EQ(dlg.TipType, 2);
    EXPECT_EQ(dlg.TipSize, 8);

    r = RunDialog(dlg, 1, 3, [&] {
        EXPECT_EQ(dlg.ComboBox1->currentIndex(), 1);
        EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("3"));
        change();
        QTest::keyClick(&dlg, Qt::Key_Escape);
    });
    EXPECT_EQ(r, QDialog::Rejected);
    EXPECT_FALSE(dlg.Accepted);
    EXPECT_EQ(dlg.TipType, 1);
    EXPECT_EQ(dlg.TipSize, 3);

    // An earlier OK does not carry over into a cancelled showing.
    RunDialog(dlg, 0, 5, [&] { dlg.Button1Click(); });
    EXPECT_TRUE(dlg.Accepted);
    RunDialog(dlg, 0, 5, [&] { dlg.close(); });
    EXPECT_FALSE(dlg.Accepted);
    EXPECT_TRUE(rec.messages.isEmpty());
}
