// The two registers' controls, without a database.
#include "app/FormUtil.h"
#include "app/UnitV.h"
#include "registers/Unit3.h"
#include "registers/Unit4.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Types each character as a key press with that text (QTest only types ASCII).
void Type(QWidget *w, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &release);
    }
}

QStringList Headers(const QTableWidget *grid)
{
    QStringList h;
    for (int c = 0; c < grid->columnCount(); ++c)
        h << grid->horizontalHeaderItem(c)->text();
    return h;
}

QList<QWidget *> TabChain(QWidget *first, int steps)
{
    QList<QWidget *> chain{first};
    QWidget *w = first;
    for (int i = 0; i < steps; ++i) {
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        chain << w;
    }
    return chain;
}

TEST(RegisterLayout, SectionRegister)
{
    TForm3 f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("所属（SECTION）の登録"));
    EXPECT_EQ(f.size(), QSize(390, 261));
    EXPECT_EQ(Headers(f.SG1), (QStringList{QStringLiteral("番号"), QStringLiteral("名称")}));
    EXPECT_EQ(f.SG1->columnWidth(0), 57);
    EXPECT_EQ(f.SG1->columnWidth(1), 294);
    EXPECT_EQ(GridRowCount(f.SG1), 2);
    EXPECT_EQ(f.SG1->geometry(), QRect(8, 24, 377, 120));
    EXPECT_EQ(f.Panel1->geometry(), QRect(8, 152, 225, 73));
    EXPECT_EQ(f.Edit1->geometry(), QRect(48, 8, 81, 21));
    EXPECT_EQ(f.Edit2->geometry(), QRect(48, 32, 169, 21));
    EXPECT_EQ(f.Button1->text(), QStringLiteral("追加登録(&A)"));
    EXPECT_EQ(f.Button2->geometry(), QRect(248, 152, 137, 25));
    EXPECT_EQ(f.Button4->geometry(), QRect(248, 192, 137, 25));
    EXPECT_EQ(f.Button3->text(), QStringLiteral("閉じる(&C)"));
    EXPECT_EQ(f.Edit1->maxLength(), 16);
    EXPECT_FALSE(f.Edit1->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_EQ(f.SG1->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(f.SG1->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(f.SG1->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    EXPECT_EQ(TabChain(f.SG1, 6),
              (QList<QWidget *>{f.SG1, f.Edit1, f.Edit2, f.Button1, f.Button2, f.Button4, f.Button3}));
}

TEST(RegisterLayout, MemberRegister)
{
    TForm4 f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("メンバー（MEMBER）の登録"));
    EXPECT_EQ(f.size(), QSize(390, 277));
    EXPECT_EQ(Headers(f.SG1), (QStringList{QStringLiteral("番号"), QStringLiteral("所属No"),
                                           QStringLiteral("所属"), QStringLiteral("氏名")}));
    EXPECT_EQ(f.SG1->columnWidth(0), 57);
    EXPECT_EQ(f.SG1->columnWidth(1), 10);
    EXPECT_EQ(f.SG1->columnWidth(2), 130);
    EXPECT_EQ(f.SG1->columnWidth(3), 153);
    EXPECT_EQ(f.Panel1->geometry(), QRect(8, 152, 225, 89));
    EXPECT_EQ(f.ComboBox1->geometry(), QRect(48, 32, 169, 21));
    EXPECT_FALSE(f.ComboBox1->isEditable());
    EXPECT_EQ(f.Edit2->geometry(), QRect(48, 56, 169, 21));
    EXPECT_EQ(f.Button1->geometry(), QRect(8, 248, 225, 25));
    EXPECT_EQ(f.Button4->geometry(), QRect(248, 200, 137, 25));
    EXPECT_EQ(f.Button3->geometry(), QRect(248, 248, 137, 25));
    EXPECT_EQ(TabChain(f.SG1, 7), (QList<QWidget *>{f.SG1, f.Edit1, f.ComboBox1, f.Edit2, f.Button1,
                                                    f.Button2, f.Button4, f.Button3}));
}

// The name boxes count CP932 bytes: a full-width character takes two.
TEST(RegisterLimits, NameBoxesCountBytes)
{
    TForm4 member;
    Type(member.Edit2, QString(20, QLatin1Char('a')));
    EXPECT_EQ(member.Edit2->text(), QString(16, QLatin1Char('a')));
    member.Edit2->clear();
    Type(member.Edit2, QStringLiteral("山田太郎山田太郎山田"));
    EXPECT_EQ(member.Edit2->text(), QStringLiteral("山田太郎山田太郎"));
    member.Edit2->clear();
    Type(member.Edit2, QStringLiteral("abc山田太郎山田太郎"));
    EXPECT_EQ(member.Edit2->text(), QStringLiteral("abc山田太郎山田"));
    Type(member.Edit2, QStringLiteral("d"));
    EXPECT_EQ(Cp932Length(member.Edit2->text()), 16);

    TForm3 section;
    Type(section.Edit2, QString(40, QLatin1Char('b')));
    EXPECT_EQ(section.Edit2->text(), QString(32, QLatin1Char('b')));
    section.Edit2->clear();
    Type(section.Edit2, QString(20, QChar(0x90E8))); // 部
    EXPECT_EQ(section.Edit2->text(), QString(16, QChar(0x90E8)));

    // The number box takes 16 characters.
    Type(section.Edit1, QString(20, QLatin1Char('9')));
    EXPECT_EQ(section.Edit1->text().size(), 16);
}

TEST(RegisterKeys, EnterAndEscapePressNoButton)
{
    TForm3 f;
    QSignalSpy closed(&f, &QDialog::finished);
    QTest::keyClick(f.Edit1, Qt::Key_Escape);
    QTest::keyClick(f.Edit1, Qt::Key_Return);
    QTest::keyClick(f.SG1, Qt::Key_Escape);
    TForm4 g;
    QSignalSpy closed4(&g, &QDialog::finished);
    QTest::keyClick(g.Edit2, Qt::Key_Escape);
    QTest::keyClick(g.Edit2, Qt::Key_Enter);
    EXPECT_EQ(closed.count() + closed4.count(), 0);
}

} // namespace
