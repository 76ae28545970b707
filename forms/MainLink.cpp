#include "forms/MainLink.h"

static MainLink *link_ = nullptr;

MainLink *MainWindowLink()
{
    return link_;
}

void SetMainWindowLink(MainLink *link)
{
    link_ = link;
}
