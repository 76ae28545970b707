#include "app/UnitVWidgets.h"

#include <QApplication>
#include <QCursor>
#include <QFont>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>

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

bool ConfirmBox(const QString &text)
{
    if (ConfirmHook)
        return ConfirmHook(text);
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton *yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() != no;
}

static QCursor makeBusyCursor()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    // Hourglass: two triangles meeting at the waist.
    const QPoint top[] = {{4, 1}, {20, 1}, {12, 10}};
    const QPoint bottom[] = {{12, 10}, {20, 19}, {4, 19}};
    p.drawPolygon(top, 3);
    p.drawPolygon(bottom, 3);
    p.fillRect(QRect(8, 15, 9, 3), Qt::black);
    QFont f;
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 20, 26, 11), Qt::AlignCenter, QStringLiteral("SQL"));
    p.end();
    return QCursor(pm, 12, 10);
}

void BeginBusyCursor()
{
    static const QCursor busy = makeBusyCursor();
    QApplication::setOverrideCursor(busy);
}

void EndBusyCursor()
{
    QApplication::restoreOverrideCursor();
}

void ApplyProgramFont(QWidget *w)
{
    QFont f = w->font();
    f.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")});
    f.setPixelSize(13);
    w->setFont(f);
}
