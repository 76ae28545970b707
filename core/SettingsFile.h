#pragma once
// The settings file: 35 lines of CP932 text beside the executable.

#include <QPoint>
#include <QString>
#include <array>

// Where the windows stand, as lines 6 to 17, 34 and 35 of the file hold it.
struct WindowPlacement {
    int mainLeft = 0, mainTop = 0, mainWidth = 0, mainHeight = 0;
    // DatabaseSettingsDialog, SectionRegister, MemberRegister, PcUserDialog, PenTipDialog in this order.
    std::array<QPoint, 5> dialogs{};
};

inline constexpr int SettingsLineCount = 35;

// The executable's path with its extension replaced by ".dat".
QString SettingsFileNameFor(const QString &executablePath);

// The settings file beside the executable, and the same file in the user's
// configuration folder for when nothing can be written beside the executable.
struct SettingsPlaces {
    QString beside;
    QString user; // empty: no second place
};
SettingsPlaces SettingsPlacesFor(const QString &executablePath);

// Beside the executable while a settings file there can be written, or one can be
// created there; else the user's file.
QString SettingsFileToWrite(const SettingsPlaces &places);
// The file of the place written to when it exists, else the other place's file:
// a read-only file beside the executable still gives the first start its values.
QString SettingsFileToRead(const SettingsPlaces &places);

// Assigns the defaults, then reads the file into the shared settings.
// Returns false when there is no readable file: then the windows stay where they are.
// Window lines not reached because a read failed keep the values placement holds.
bool ReadSettingsFile(const QString &fileName, WindowPlacement &placement);
class QIODevice;
bool ReadSettingsFrom(QIODevice &device, WindowPlacement &placement);

// Takes a folder for SaveDir only when the settings file can hold it (CP932);
// otherwise the last folder that can be written stays. False when refused.
bool RememberSaveDir(const QString &folder);

// The 35 lines as they would be written, CR LF ended.
QByteArray FormatSettings(const WindowPlacement &placement);

// Writes beside the old file and replaces it only once the new one is complete,
// so a failed write leaves the previous settings intact. Where no new file can be
// made in the folder, an existing writable file is written in place instead.
// Either way the file is read back and compared before this reports success.
bool WriteSettingsFile(const QString &fileName, const WindowPlacement &placement);
