#include "forms/FormUtil.h"
#include "app/SessionEnd.h"
#include "core/settings/Translation.h"
#include "app/MainWindow.h"
#include "app/EndProcess.h"

#include <QApplication>
#include <QCommandLineParser>

#ifndef OEKAKI_VERSION
#define OEKAKI_VERSION "0"
#endif

// --help and --version print and exit, without a display; every other
// argument is left alone.
static void answerCommandLine(int argc, char *argv[])
{
    if (argc < 2)
        return;
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oekaki"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OEKAKI_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "お絵描きソフト: pictures drawn together by several PCs through one Firebird database.\n"
        "Settings: oekaki.dat beside the program when you own its folder (never for root),\n"
        "else $XDG_CONFIG_HOME/oekaki/oekaki.dat (~/.config/oekaki/oekaki.dat).\n"
        "Qt's own options (-platform, -style, -display) are understood too."));
    parser.addHelpOption();
    parser.addVersionOption();
    (void)parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
}

int main(int argc, char *argv[])
{
    SessionEnd::BlockSignals();
    answerCommandLine(argc, argv);
    UseJapaneseSystemLocale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle());
    InstallQtJapanese(&app);
    QApplication::setWindowIcon(ProgramIcon());
    CreateApplicationWindows();
    // Closing the main window ends the process (the settings written, the journal
    // complete): nothing is joined or detached, whatever hangs on the network.
    MainWindow::EndProcessAtClose = true;
    // The journal's thread ends the process once every stroke handed to it is synced.
    SetJournalHandOff([](int rc) {
        if (mainWindow)
            mainWindow->Worker().ExitWhenJournaled(rc);
        else
            EndProcessNow(rc);
    });
    SessionEnd sessionEnd([](int) {
        if (mainWindow)
            mainWindow->EndSession();
    });
    mainWindow->show();
    const int rc = QApplication::exec();
    // Left some other way than by closing the window: close it now, which ends.
    if (mainWindow)
        mainWindow->CloseWithoutAsking();
    EndProcess(rc);
}
