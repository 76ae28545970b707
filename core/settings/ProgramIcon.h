#pragma once
// The program's 16×16 icon, which every window carries and the desktop menu shows.

#include <QIcon>
#include <QImage>

QImage ProgramIconImage();
QIcon ProgramIcon();
