#pragma once
// UnitV's routines that need widgets: the message boxes, the busy cursor, the font.

#include <QString>
#include <functional>

class QWidget;

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
