#pragma once
// The settings file: 35 lines of CP932 text beside the executable.

#include <QPoint>
#include <QString>
#include <array>

// Where the windows stand, as lines 6 to 17, 34 and 35 of the file hold it.
struct WindowPlacement {
    int mainLeft = 0, mainTop = 0, mainWidth = 0, mainHeight = 0;
    // TForm2, TForm3, TForm4, TForm5, TForm9 in this order.
    std::array<QPoint, 5> dialogs{};
};

inline constexpr int SettingsLineCount = 35;

// The executable's path with its extension replaced by ".dat".
QString SettingsFileNameFor(const QString &executablePath);

// Assigns the defaults, then reads the file into the shared settings.
// Returns false when there is no readable file: then the windows stay where they are.
bool ReadSettingsFile(const QString &fileName, WindowPlacement &placement);

// The 35 lines as they would be written, CR LF ended.
QByteArray FormatSettings(const WindowPlacement &placement);

// Writes beside the old file and replaces it only once the new one is complete,
// so a failed write leaves the previous settings intact.
bool WriteSettingsFile(const QString &fileName, const WindowPlacement &placement);
