#pragma once
// Qt's warnings about an object used from a thread that does not own it (a timer started
// there, a child made for a parent elsewhere) are undefined behaviour, not noise: every
// test program fails on them.

#include <QString>
#include <QtGlobal>
#include <functional>

// Whether Qt's message is one of them ("from another thread", "QObject::", "QBasicTimer").
bool IsThreadWarning(QtMsgType type, const QString &text);

// Installs a message handler that still prints every message as before and calls
// `caught` (on whichever thread Qt warned) for each thread warning.
void CatchThreadWarnings(std::function<void(const QString &)> caught);

// Thread warnings caught so far in this process.
int ThreadWarningsCaught();
