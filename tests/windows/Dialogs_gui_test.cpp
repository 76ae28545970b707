// The keys of every dialog, and the real message and confirmation boxes.
#include "ModalAnswer.h"
#include "TestDatabase.h"
#include "windows/DatabaseSettingsDialog.h"
#include "core/settings/SharedSettings.h"
#include "forms/MessageBoxes.h"
#include "windows/PenTipDialog.h"
#include "windows/SectionRegister.h"
#include "windows/MemberRegister.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

enum class Pressed { Ok, Cancel, None };

struct Keys {
    const char *name;
    std::function<FormDialog *()> make;
    // The OK and cancel buttons (null for the registers: they have neither).
    std::function<QPushButton *(FormDialog *)> ok, cancel;
    // Where the focus is, and the key pressed there.
    std::function<QWidget *(FormDialog *)> focus;
    Qt::Key key;
    Pressed expected;
};

template <class T> FormDialog *Make() { return new T; }
// The member may be declared in a base of T.
template <class T, class W, class C> std::function<QWidget *(FormDialog *)> At(W *C::*member)
{
    return [member](FormDialog *d) -> QWidget * { return static_cast<T *>(d)->*member; };
}
template <class T> std::function<QPushButton *(FormDialog *)> Btn(QPushButton *T::*member)
{
    return [member](FormDialog *d) { return static_cast<T *>(d)->*member; };
}
std::function<QPushButton *(FormDialog *)> NoButton()
{
    return [](FormDialog *) -> QPushButton * { return nullptr; };
}

const char *Name(Pressed p)
{
    return p == Pressed::Ok ? "OK" : p == Pressed::Cancel ? "cancel" : "nothing";
}

TEST(DialogKeys, EnterPressesTheFocusedButtonOrTheDefaultOne)
{
    const Keys cases[] = {
        {"database settings, Enter in a box", Make<DatabaseSettingsDialog>, Btn(&DatabaseSettingsDialog::Button1), Btn(&DatabaseSettingsDialog::Button2), At<DatabaseSettingsDialog>(&DatabaseSettingsDialog::Edit1), Qt::Key_Return, Pressed::Ok},
        {"database settings, Enter on OK", Make<DatabaseSettingsDialog>, Btn(&DatabaseSettingsDialog::Button1), Btn(&DatabaseSettingsDialog::Button2), At<DatabaseSettingsDialog>(&DatabaseSettingsDialog::Button1), Qt::Key_Enter, Pressed::Ok},
        {"database settings, Enter on cancel", Make<DatabaseSettingsDialog>, Btn(&DatabaseSettingsDialog::Button1), Btn(&DatabaseSettingsDialog::Button2), At<DatabaseSettingsDialog>(&DatabaseSettingsDialog::Button2), Qt::Key_Return, Pressed::Cancel},
        {"database settings, Esc in a box", Make<DatabaseSettingsDialog>, Btn(&DatabaseSettingsDialog::Button1), Btn(&DatabaseSettingsDialog::Button2), At<DatabaseSettingsDialog>(&DatabaseSettingsDialog::Edit3), Qt::Key_Escape, Pressed::Cancel},
        {"database settings, Esc on OK", Make<DatabaseSettingsDialog>, Btn(&DatabaseSettingsDialog::Button1), Btn(&DatabaseSettingsDialog::Button2), At<DatabaseSettingsDialog>(&DatabaseSettingsDialog::Button1), Qt::Key_Escape, Pressed::Cancel},
        {"pen tip, Enter in the size box", Make<PenTipDialog>, Btn(&PenTipDialog::Button1), Btn(&PenTipDialog::Button2), At<PenTipDialog>(&PenTipDialog::Edit1), Qt::Key_Return, Pressed::Ok},
        {"pen tip, Enter in the tip list", Make<PenTipDialog>, Btn(&PenTipDialog::Button1), Btn(&PenTipDialog::Button2), At<PenTipDialog>(&PenTipDialog::ComboBox1), Qt::Key_Enter, Pressed::Ok},
        {"pen tip, Enter on cancel", Make<PenTipDialog>, Btn(&PenTipDialog::Button1), Btn(&PenTipDialog::Button2), At<PenTipDialog>(&PenTipDialog::Button2), Qt::Key_Return, Pressed::Cancel},
        {"pen tip, Esc in the size box", Make<PenTipDialog>, Btn(&PenTipDialog::Button1), Btn(&PenTipDialog::Button2), At<PenTipDialog>(&PenTipDialog::Edit1), Qt::Key_Escape, Pressed::Cancel},
        {"sections, Esc in the number box", Make<SectionRegister>, NoButton(), NoButton(), At<SectionRegister>(&SectionRegister::Edit1), Qt::Key_Escape, Pressed::None},
        {"sections, Enter in the number box", Make<SectionRegister>, NoButton(), NoButton(), At<SectionRegister>(&SectionRegister::Edit1), Qt::Key_Return, Pressed::None},
        {"sections, Esc in the grid", Make<SectionRegister>, NoButton(), NoButton(), At<SectionRegister>(&SectionRegister::SG1), Qt::Key_Escape, Pressed::None},
        {"sections, Enter on add", Make<SectionRegister>, NoButton(), NoButton(), At<SectionRegister>(&SectionRegister::Button1), Qt::Key_Return, Pressed::None},
        {"sections, Enter on close", Make<SectionRegister>, NoButton(), NoButton(), At<SectionRegister>(&SectionRegister::Button3), Qt::Key_Enter, Pressed::None},
        {"members, Esc in the name box", Make<MemberRegister>, NoButton(), NoButton(), At<MemberRegister>(&MemberRegister::Edit2), Qt::Key_Escape, Pressed::None},
        {"members, Enter in the name box", Make<MemberRegister>, NoButton(), NoButton(), At<MemberRegister>(&MemberRegister::Edit2), Qt::Key_Enter, Pressed::None},
        {"members, Enter on delete", Make<MemberRegister>, NoButton(), NoButton(), At<MemberRegister>(&MemberRegister::Button2), Qt::Key_Return, Pressed::None},
        {"members, Esc on close", Make<MemberRegister>, NoButton(), NoButton(), At<MemberRegister>(&MemberRegister::Button3), Qt::Key_Escape, Pressed::None},
    };
    MessageRecorder messages(false);
    for (const Keys &c : cases) {
        SCOPED_TRACE(c.name);
        AssignDefaultSettings();
        std::unique_ptr<FormDialog> d(c.make());
        // Every button of the dialog counts as pressed when it is clicked.
        QList<std::pair<QPushButton *, std::shared_ptr<QSignalSpy>>> clicks;
        for (QPushButton *b : d->findChildren<QPushButton *>())
            clicks.append({b, std::make_shared<QSignalSpy>(b, &QPushButton::clicked)});
        QSignalSpy finished(d.get(), &QDialog::finished);
        QPushButton *ok = c.ok(d.get());
        QPushButton *cancel = c.cancel(d.get());
        // The registers close at once when shown without a database; their keys are
        // taken before any showing matters.
        if (c.ok(d.get()))
            d->show();
        QWidget *focus = c.focus(d.get());
        focus->setFocus();
        ASSERT_EQ(d->focusWidget(), focus);
        QTest::keyClick(focus, c.key);

        int okClicks = 0, otherClicks = 0;
        for (const auto &[b, spy] : clicks)
            (b == ok ? okClicks : otherClicks) += spy->count();
        Pressed got = Pressed::None;
        if (okClicks > 0)
            got = Pressed::Ok;
        else if (otherClicks > 0 || finished.count() > 0)
            got = Pressed::Cancel;
        EXPECT_STREQ(Name(got), Name(c.expected));
        if (c.expected == Pressed::Cancel) {
            ASSERT_NE(cancel, nullptr);
            // Cancel is the only other button pressed, or the dialog was rejected.
            EXPECT_TRUE(finished.count() == 1 || otherClicks == 1);
            if (finished.count() == 1) {
                EXPECT_EQ(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
            }
        }
    }
}

struct ConfirmAnswer {
    const char *name;
    std::function<void(QMessageBox *)> answer;
    bool expected;
};

TEST(MessageBoxes, CaptionsButtonsAndTheSafeAnswer)
{
    QMessageBox *seen = nullptr;
    QString caption;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int width = 0;
    auto record = [&](QWidget *w) {
        seen = qobject_cast<QMessageBox *>(w);
        ASSERT_NE(seen, nullptr) << DescribeWindow(w).toStdString();
        caption = seen->windowTitle();
        width = seen->width();
        icon = seen->icon();
        buttons.clear();
        for (QAbstractButton *b : seen->buttons())
            buttons << b->text();
    };
    auto box = [] { return QApplication::activeModalWidget(); };

    AnswerModal(QStringLiteral("the message box"), box, [&](QWidget *w) {
        record(w);
        QTest::keyClick(w, Qt::Key_Return);
    });
    ShowMessage(QStringLiteral("登録OK"));
    EXPECT_EQ(caption, QApplication::applicationName());
    EXPECT_EQ(buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(icon, QMessageBox::NoIcon);

    // However short the text, the box is wide enough for its whole title beside the
    // frame's icon and buttons.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    auto titleRoom = [&](const QString &title) { return QFontMetrics(titleFont).horizontalAdvance(title) + 100; };
    EXPECT_GE(width, titleRoom(caption)) << caption.toStdString();
    const QString programName = QApplication::applicationName();
    for (const QString &title : {QStringLiteral("r385－お絵描きソフト（テスト用の長い名前）"), QStringLiteral("o")}) {
        QApplication::setApplicationName(title);
        for (const QString &text : {QStringLiteral("OK"), QString(), QStringLiteral("登録しました。")}) {
            AnswerModal(QStringLiteral("the message box"), box, [&](QWidget *w) {
                record(w);
                QTest::keyClick(w, Qt::Key_Return);
            });
            ShowMessage(text);
            EXPECT_EQ(caption, title);
            EXPECT_GE(width, titleRoom(title)) << title.toStdString() << " / " << text.toStdString();
            EXPECT_GE(width, TitleFittingWidth(title));
        }
    }
    QApplication::setApplicationName(programName);

    const ConfirmAnswer answers[] = {
        {"Enter: the default はい", [](QMessageBox *b) { QTest::keyClick(b, Qt::Key_Return); }, true},
        {"はい clicked", [](QMessageBox *b) { b->buttons().at(0)->click(); }, true},
        {"いいえ clicked", [](QMessageBox *b) { b->buttons().at(1)->click(); }, false},
        {"Esc counts as いいえ", [](QMessageBox *b) { QTest::keyClick(b, Qt::Key_Escape); }, false},
        {"the close box counts as いいえ", [](QMessageBox *b) { b->close(); }, false},
        {"Alt+N", [](QMessageBox *b) { QTest::keyClick(b, Qt::Key_N, Qt::AltModifier); }, false},
    };
    for (const ConfirmAnswer &a : answers) {
        SCOPED_TRACE(a.name);
        AnswerModal(QStringLiteral("the confirmation box"), box, [&](QWidget *w) {
            record(w);
            a.answer(seen);
        });
        EXPECT_EQ(ConfirmBox(QStringLiteral("削除します。\r\nよろしいですか？")), a.expected);
        EXPECT_EQ(caption, QStringLiteral("確認"));
        EXPECT_GE(width, titleRoom(caption));
        EXPECT_EQ(icon, QMessageBox::Question);
        EXPECT_EQ(buttons, (QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}));
    }
}

} // namespace
