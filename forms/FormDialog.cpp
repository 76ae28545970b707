#include "forms/FormDialog.h"

#include "forms/FormUtil.h"
#include "forms/DbCommand.h"
#include "core/settings/ProgramIcon.h"
#include "forms/MainLink.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"
#include "forms/ProgramFont.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

FormDialog::FormDialog(const QString &caption, int clientWidth, int clientHeight, int left,
                       int top, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(caption);
    setWindowIcon(ProgramIcon());
    ApplyProgramFont(this);
    SetFixedClientSize(this, clientWidth, clientHeight);
    move(left, top);
}

void FormDialog::setVisible(bool visible)
{
    if (visible && !isVisible())
        centreOnMainWindow();
    QDialog::setVisible(visible);
}

void FormDialog::centreOnMainWindow()
{
    const auto *main = dynamic_cast<const QWidget *>(MainWindowLink());
    if (!main || !main->isVisible())
        return;
    // Before its first showing the dialog has no frame yet; the window manager gives it
    // one like the main window's.
    QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                   frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    if (frameGeometry() == geometry()) {
        const QRect outer = main->frameGeometry(), inner = main->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    }
    const QSize outer = size().grownBy(frame);
    QRect place(QPoint(0, 0), outer);
    place.moveCenter(main->frameGeometry().center());
    if (const QScreen *screen = main->screen()) {
        const QRect room = screen->availableGeometry();
        place.moveLeft(qMax(room.left(), qMin(place.left(), room.right() + 1 - outer.width())));
        place.moveTop(qMax(room.top(), qMin(place.top(), room.bottom() + 1 - outer.height())));
    }
    move(place.topLeft());
}

void FormDialog::CloseFromShow()
{
    closedFromShow_ = true;
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            reject();
    });
}

void FormDialog::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous()) {
        closedFromShow_ = false;
        delete showing_;
        showing_ = new QObject(this);
        FormShow();
    }
}

void FormDialog::done(int r)
{
    delete showing_;
    showing_ = nullptr;
    EndCommandWaits(this);
    FormClose();
    QDialog::done(r);
}

bool FormDialog::DatabaseReadyOrClose()
{
    if (IsBlank(ServerDataDir) || IsBlank(DatabaseName)) {
        ShowMessage(QStringLiteral("最初にデータベースの設定を行って下さい。"));
        CloseFromShow();
        return false;
    }
    if (!MainWindowLink() || !MainWindowLink()->IsConnected()) {
        ShowMessage(QStringLiteral("データベースに接続出来ません。設定を確認して下さい。"));
        CloseFromShow();
        return false;
    }
    return true;
}

void FormDialog::keyPressEvent(QKeyEvent *e)
{
    const int key = e->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (noKeyButtons_ && (enter || key == Qt::Key_Escape)) {
        e->accept();
        return;
    }
    // Enter presses the focused button, as on the platform; elsewhere the default one.
    if (enter && e->modifiers() == Qt::NoModifier) {
        if (auto *b = qobject_cast<QPushButton *>(focusWidget()); b && b->isEnabled()) {
            b->click();
            e->accept();
            return;
        }
    }
    QDialog::keyPressEvent(e);
}
