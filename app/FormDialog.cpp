#include "app/FormDialog.h"

#include "app/FormUtil.h"
#include "app/UnitV.h"

#include <QShowEvent>
#include <QTimer>

FormDialog::FormDialog(const QString &caption, int clientWidth, int clientHeight, int left,
                       int top, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(caption);
    ApplyProgramFont(this);
    SetFixedClientSize(this, clientWidth, clientHeight);
    move(left, top);
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
        FormShow();
    }
}

void FormDialog::done(int r)
{
    FormClose();
    QDialog::done(r);
}
