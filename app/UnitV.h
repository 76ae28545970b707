#pragma once
// Process-wide settings, hand-over variables and small shared routines; no widgets
// (the message boxes, busy cursor and font are in app/UnitVWidgets.h).

#include <QByteArray>
#include <QString>
#include <array>

class QImage;

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
