// Shared entry of every test program: a real QApplication on the offscreen platform.
#include "ModalAnswer.h"
#include "core/Translation.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    UseJapaneseSystemLocale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("r385－お絵描きソフト"));
    InstallQtJapanese(&app);
    ::testing::InitGoogleTest(&argc, argv);
    StartModalWatchdog();
    return RUN_ALL_TESTS();
}
