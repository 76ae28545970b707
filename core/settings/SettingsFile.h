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

// Beside the executable when the running user (not root) owns that folder, can
// create files there and the file there, if any, can be written; else the user's file.
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

// Writes a new file beside the old one and replaces it only once the new one is
// complete and synced, so a failed write leaves the previous settings intact; never
// rewrites the file in place. The file is read back and compared before this reports
// success. On failure, why (when given) says what went wrong.
bool WriteSettingsFile(const QString &fileName, const WindowPlacement &placement, QString *why = nullptr);

// Removes the temporary files that a write cut short by a crash left beside fileName,
// those at least minimumAgeSeconds old; returns how many.
inline constexpr int LeftoverAgeSeconds = 60;
int RemoveLeftoverTemporaries(const QString &fileName, int minimumAgeSeconds);
