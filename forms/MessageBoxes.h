#pragma once
// Every message box of the program goes through these two.

#include <QString>
#include <functional>

// A plain box with the application title and the one button OK.
void ShowMessage(const QString &text);
// The "確認" box; false only when the answer is "いいえ(&N)". Where yes would lose
// something, "いいえ(&N)" is the default button (yesIsDefault false).
bool ConfirmBox(const QString &text, bool yesIsDefault = true);

// The width a box needs to show its whole title in the window manager's frame:
// the title in bold, the frame's edges and margins, and its icon and three buttons.
inline constexpr int TitleBarRoom = 40;
int TitleFittingWidth(const QString &title);

// Tests replace what the boxes do; an empty function restores the real box.
extern std::function<void(const QString &)> MessageHook;
extern std::function<bool(const QString &)> ConfirmHook;
