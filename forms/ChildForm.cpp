#include "forms/ChildForm.h"

#include "forms/FormUtil.h"
#include "core/settings/ProgramIcon.h"
#include "forms/ProgramFont.h"

#include <QCloseEvent>
#include <QShowEvent>

ChildForm::ChildForm(QWidget *parent) : QMdiSubWindow(parent), client_(new QWidget)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(ProgramIcon());
    ApplyProgramFont(this);
    setWidget(client_);
}

void ChildForm::showEvent(QShowEvent *e)
{
    QMdiSubWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void ChildForm::closeEvent(QCloseEvent *e)
{
    FormClose();
    QMdiSubWindow::closeEvent(e);
}
