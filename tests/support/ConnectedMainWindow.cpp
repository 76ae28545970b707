#include "ConnectedMainWindow.h"

#include "app/Unit1.h"
#include "app/UnitV.h"

#include <QMdiArea>
#include <QMdiSubWindow>

void ConnectedMainWindow::SetUp()
{
    ASSERT_TRUE(database.created());
    AssignDefaultSettings();
    TForm1::SettingFileOverride = settingsDir.filePath(QStringLiteral("none.dat"));
    CreateApplicationWindows();
    if (showMain_)
        Form1->show();
    ServerName = QStringLiteral("localhost:");
    ServerDataDir = database.folder();
    DatabaseName = database.fileName();
    Form1->ConnectDatabase();
    ASSERT_TRUE(Form1->IsConnected());
}

void ConnectedMainWindow::TearDown()
{
    if (Form1) {
        const auto subs = Form1->MdiArea()->subWindowList();
        for (QMdiSubWindow *s : subs)
            delete s;
        Form1->DisconnectDatabase();
    }
    DestroyApplicationWindows();
    TForm1::SettingFileOverride.clear();
    AssignDefaultSettings();
}
