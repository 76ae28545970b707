// The two registers' controls, without a database.
#include "DbAnswers.h"
#include "TestInput.h"
#include "TestDatabase.h"
#include "forms/FormUtil.h"
#include "core/TextRoutines.h"
#include "windows/SectionRegister.h"
#include "windows/MemberRegister.h"

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

TEST(RegisterLayout, TabOrder)
{
    SectionRegister f;
    EXPECT_EQ(TabChain(f.SG1, 6),
              (QList<QWidget *>{f.SG1, f.Edit1, f.Edit2, f.Button1, f.Button2, f.Button4, f.Button3}));
    MemberRegister g;
    EXPECT_EQ(TabChain(g.SG1, 7), (QList<QWidget *>{g.SG1, g.Edit1, g.ComboBox1, g.Edit2, g.Button1,
                                                    g.Button2, g.Button4, g.Button3}));
}

// The name boxes count CP932 bytes: a full-width character takes two.
TEST(RegisterLimits, NameBoxesCountBytes)
{
    MemberRegister member;
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

    SectionRegister section;
    Type(section.Edit2, QString(40, QLatin1Char('b')));
    EXPECT_EQ(section.Edit2->text(), QString(32, QLatin1Char('b')));
    section.Edit2->clear();
    Type(section.Edit2, QString(20, QChar(0x90E8))); // 部
    EXPECT_EQ(section.Edit2->text(), QString(16, QChar(0x90E8)));

    // The number box takes 16 characters.
    Type(section.Edit1, QString(20, QLatin1Char('9')));
    EXPECT_EQ(section.Edit1->text().size(), 16);
}

// Every header reads whole at the first opening, and the grid needs no more width
// than designed (the narrow section number column borrows from the widest).
TEST(RegisterLayout, EveryHeaderReadsWhole)
{
    struct Grid {
        const char *name;
        RegisterDialog *form;
        int designedWidth;
    };
    SectionRegister section;
    MemberRegister member;
    MessageRecorder messages; // neither has a database to open on
    for (const Grid &g : {Grid{"sections", &section, 57 + 294}, Grid{"members", &member, 57 + 10 + 130 + 153}}) {
        g.form->show();
        QHeaderView *header = g.form->SG1->horizontalHeader();
        int total = 0;
        for (int c = 0; c < g.form->SG1->columnCount(); ++c) {
            EXPECT_GE(g.form->SG1->columnWidth(c), header->sectionSizeHint(c))
                << g.name << ": " << g.form->SG1->horizontalHeaderItem(c)->text().toStdString();
            total += g.form->SG1->columnWidth(c);
        }
        EXPECT_EQ(total, g.designedWidth) << g.name;
        g.form->hide();
    }
    EXPECT_GE(member.SG1->columnWidth(1), member.SG1->fontMetrics().horizontalAdvance(QStringLiteral("所属No")));
}

} // namespace
