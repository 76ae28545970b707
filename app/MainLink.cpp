#include "app/MainLink.h"

static MainLink *mainWindow = nullptr;

MainLink *MainWindow()
{
    return mainWindow;
}

void SetMainWindow(MainLink *link)
{
    mainWindow = link;
}
