#pragma once
// The small text routines every window shares: numbers, list items, dates, checks
// of typed values, and the CP932 form of a text.

#include <QByteArray>
#include <QString>

// A 32-bit integer; 0 when the text is empty or not wholly a number.
int TextToInt(const QString &text);
// The two halves of a list item "number:name".
QString TextBeforeColon(const QString &text);
QString TextAfterColon(const QString &text);
// Eight digits forming a valid date yyyymmdd.
bool IsValidDateText(const QString &text);

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
