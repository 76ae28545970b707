#include "core/settings/Translation.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <clocale>

namespace {
// Qt's Japanese catalogue lacks the file dialog's type names ("Folder"), which moved to
// this context after it was made.
class FileTypeNames : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const QHash<QByteArray, QString> names{
            {"Folder", QStringLiteral("フォルダー")},
            {"File Folder", QStringLiteral("フォルダー")},
            {"Drive", QStringLiteral("ドライブ")},
            {"Shortcut", QStringLiteral("ショートカット")},
            {"Alias", QStringLiteral("エイリアス")},
            {"Unknown", QStringLiteral("不明")},
        };
        return names.value(QByteArray(source));
    }
};
} // namespace

bool InstallQtJapanese(QCoreApplication *app)
{
    // Dates, day and month names and file types in Qt's own widgets follow the default
    // locale; stored values never do (dates are written as yyyyMMdd digits).
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    QCoreApplication::installTranslator(new FileTypeNames(app));
    auto *qt = new QTranslator(app);
    if (!qt->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                  QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

void UseJapaneseSystemLocale()
{
    // The C library keeps the user's locale; Qt then reads its system locale from the
    // environment, and a locale the C library lacks leaves the C library's as it is.
    // A process started with a locale the C library lacks (a child inheriting this
    // environment) still gets UTF-8, which the database client needs for non-ASCII paths.
    if (!setlocale(LC_ALL, ""))
        setlocale(LC_ALL, "C.UTF-8");
    qputenv("LC_ALL", "ja_JP.UTF-8");
}
