#pragma once
// Process-wide settings, hand-over variables and small shared routines.

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>

class QImage;
class QWidget;

// Shared settings (stored in the settings file).
extern QString ServerName;
extern QString ServerDataDir;
extern QString DatabaseName;
extern int PcUserNo;
extern QString PcUserName;
extern int ListWidth;
extern int ListHeight;
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

// The fixed administrator account of the database server.
inline constexpr const char *DbUser = "SYSDBA";
inline constexpr const char *DbPassword = "plumstone";

void AssignDefaultSettings();
// ServerName + ServerDataDir + DatabaseName.
QString DatabasePath();

int TextToInt(const QString &text);
QString TextBeforeColon(const QString &text);
QString TextAfterColon(const QString &text);
bool IsValidDateText(const QString &text);
// Paints (0,0)-(width,height) white; the area outside the image is clipped.
void ClearCanvas(QImage &canvas, int width, int height);

// Empty once the characters with codes 0 to 32 are removed from both ends.
bool IsBlank(const QString &text);
// Holds a half-width apostrophe or double quote.
bool HasQuote(const QString &text);
// A text as a statement value: between single quotes, or the word NULL when empty.
// Callers refuse quotes first, so nothing inside needs doubling.
QString TextValue(const QString &text);

// The two borders where text becomes CP932 bytes: the database and the settings file.
QByteArray ToCp932(const QString &text, bool *ok = nullptr);
QString FromCp932(const QByteArray &bytes);
// Bytes the text takes in CP932; -1 when some character has no CP932 form.
int Cp932Length(const QString &text);

// Every message box of the program goes through these two.
void ShowMessage(const QString &text);
// The "確認" box; false only when the answer is "いいえ(&N)".
bool ConfirmBox(const QString &text);

// Tests replace what the boxes do; an empty function restores the real box.
extern std::function<void(const QString &)> MessageHook;
extern std::function<bool(const QString &)> ConfirmHook;

// The busy cursor for database work (hourglass with "SQL" under it).
void BeginBusyCursor();
void EndBusyCursor();
class BusyCursor {
public:
    BusyCursor() { BeginBusyCursor(); }
    ~BusyCursor() { EndBusyCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// The program's font: "ＭＳ ゴシック", else IPAGothic, 13 pixels.
void ApplyProgramFont(QWidget *w);
