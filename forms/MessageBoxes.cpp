#include "forms/MessageBoxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

std::function<void(const QString &)> MessageHook;
std::function<bool(const QString &)> ConfirmHook;

static QString applicationTitle()
{
    return QApplication::applicationName();
}

int TitleFittingWidth(const QString &title)
{
    // The window manager draws the title in its own font, about the size of the
    // desktop's bold, beside the icon and three buttons.
    QFont font = QApplication::font();
    font.setBold(true);
    const QFontMetrics fm(font);
    return fm.horizontalAdvance(title) + TitleBarRoom + fm.height() * 4;
}

// A short text makes a box narrower than its title, which the frame then cuts.
static void fitTitle(QMessageBox &box)
{
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(TitleFittingWidth(box.windowTitle()), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

void ShowMessage(const QString &text)
{
    if (MessageHook) {
        MessageHook(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    fitTitle(box);
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
    fitTitle(box);
    box.exec();
    return box.clickedButton() != no;
}
