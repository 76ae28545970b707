#include "ConnectedMainWindow.h"

#include "DbAnswers.h"

#include "app/MainWindow.h"
#include "core/settings/SharedSettings.h"

#include <QMdiArea>
#include <QMdiSubWindow>

void ConnectedMainWindow::SetUp()
{
    ASSERT_TRUE(database.created());
    AssignDefaultSettings();
    MainWindow::SettingFileOverride = settingsDir.filePath(QStringLiteral("none.dat"));
    CreateApplicationWindows();
    if (showMain_)
        mainWindow->show();
    ServerName = QStringLiteral("localhost:");
    ServerDataDir = database.folder();
    DatabaseName = database.fileName();
    mainWindow->ConnectDatabase();
    ASSERT_TRUE(mainWindow->IsConnected());
    // The connection is taken over on the main-db thread.
    ASSERT_TRUE(WaitForDbAnswers());
}

void ConnectedMainWindow::TearDown()
{
    if (mainWindow) {
        const auto subs = mainWindow->MdiArea()->subWindowList();
        for (QMdiSubWindow *s : subs)
            delete s;
        mainWindow->DisconnectDatabase();
        WaitForDbAnswers();
    }
    DestroyApplicationWindows();
    MainWindow::SettingFileOverride.clear();
    AssignDefaultSettings();
}
