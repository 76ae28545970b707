#include "forms/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

std::function<void(const QString &)> MessageHook;
std::function<bool(const QString &)> ConfirmHook;

static QString applicationTitle()
{
    return QApplication::applicationName();
}

void ShowMessage(const QString &text)
{
    if (MessageHook) {
        MessageHook(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

bool ConfirmBox(const QString &text, bool yesIsDefault)
{
    if (ConfirmHook)
        return ConfirmHook(text);
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton *yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yesIsDefault ? yes : no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() != no;
}
