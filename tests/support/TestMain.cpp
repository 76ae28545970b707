// Shared entry of every test program: a real QApplication on the offscreen platform.
#include "ModalAnswer.h"
#include "ThreadWarnings.h"
#include "core/settings/Translation.h"
#include "relay/PortDrop.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The stroke journal of a test run is its own, and goes with it.
    QTemporaryDir state;
    if (qEnvironmentVariableIsEmpty("OEKAKI_KEEP_STATE"))
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    // So are the local copies of the pictures it opens.
    QTemporaryDir cache;
    if (qEnvironmentVariableIsEmpty("OEKAKI_KEEP_CACHE"))
        qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    // A packet filter a crashed or killed test left on: lifted before anything connects.
    PortDrop::RemoveLeftovers();
    // Inside a test the test fails (gtest takes failures from any thread); outside one, the run.
    CatchThreadWarnings([](const QString &text) { ADD_FAILURE() << "Qt warned: " << text.toStdString(); });
    UseJapaneseSystemLocale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("r385－お絵描きソフト"));
    InstallQtJapanese(&app);
    ::testing::InitGoogleTest(&argc, argv);
    StartModalWatchdog();
    int rc = RUN_ALL_TESTS();
    if (ThreadWarningsCaught() > 0) {
        std::fprintf(stderr, "%d Qt thread warning(s): the run fails\n", ThreadWarningsCaught());
        rc = 1;
    }
#if !defined(__SANITIZE_ADDRESS__)
    // Ends as the program does: threads that are never joined (an abandoned attach, a request
    // for events) may still be inside the client library, which its exit handlers would free
    // under them. The sanitizer build ends normally, so that its leak check runs.
    std::fflush(nullptr);
    state.remove();
    cache.remove();
    _exit(rc);
#endif
    return rc;
}
