#include "app/FormUtil.h"
#include "app/Translation.h"
#include "app/Unit1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle());
    InstallQtJapanese(&app);
    QApplication::setWindowIcon(ProgramIcon());
    CreateApplicationWindows();
    Form1->show();
    const int rc = QApplication::exec();
    DestroyApplicationWindows();
    return rc;
}
