#pragma once
// Qt's own Japanese texts for its standard dialogs and buttons (colour chooser,
// save dialog, message box buttons), since the program speaks Japanese everywhere.

class QCoreApplication;

// Also makes Japanese the default locale, whatever LANG says.
// False when the translation is not installed; the standard dialogs then stay English.
bool InstallQtJapanese(QCoreApplication *app);

// Before the application object: Qt's own widgets that ask the system locale (the save
// dialog's dates and file types) answer in Japanese too. Stored values never depend on it.
void UseJapaneseSystemLocale();
