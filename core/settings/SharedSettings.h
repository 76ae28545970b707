#pragma once
// Process-wide settings and hand-over variables: what the settings file stores and
// what a window sets right before the window that reads it is created.

#include <QString>
#include <array>

// Shared settings (stored in the settings file).
extern QString ServerName;
extern QString ServerDataDir;
extern QString DatabaseName;
extern int PcUserNo;
extern QString PcUserName;
extern int ListWidth;
extern int ListHeight;
// The list's size before any was saved.
inline constexpr int DefaultListWidth = 320;
inline constexpr int DefaultListHeight = 240;
extern std::array<int, 7> ListColWidths;
extern int ListPanelHeight;
extern int PaintWidth;
extern int PaintHeight;
extern QString SaveDir;
extern int PenType;
extern int PenSize;
extern int PenColor;

// Hand-over variables: set right before the window that reads them is created.
extern int EditMode;
extern int CurrentImageNo;
extern int CurrentImageWidth;
extern int CurrentImageHeight;

void AssignDefaultSettings();
// ServerName + ServerDataDir + DatabaseName.
QString DatabasePath();
// For a failure message: a folder that does not end in "/" or "\" names another file
// ("/data" + "PAINT.FDB" is "/dataPAINT.FDB"). It is not added by itself: a workgroup may
// already keep its database at that very path. Empty when nothing is missing.
QString FolderSeparatorHint(const QString &folder);
