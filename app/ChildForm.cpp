#include "app/ChildForm.h"

#include "app/FormUtil.h"
#include "app/ProgramIcon.h"
#include "app/UnitV.h"
#include "app/UnitVWidgets.h"

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
