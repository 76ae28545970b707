#include "core/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallQtJapanese(QCoreApplication *app)
{
    // Dates, day and month names and file types in Qt's own widgets follow the default
    // locale; stored values never do (dates are written as yyyyMMdd digits).
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto *qt = new QTranslator(app);
    if (!qt->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                  QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}
