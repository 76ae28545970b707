#include "core/settings/DatabaseLabel.h"

#include <algorithm>

QString DatabaseLabel(const QString &path)
{
    // The server prefix ends at the first colon, except a drive letter's ("C:\..."), and
    // an address in brackets may hold colons of its own ("[::1]:...").
    QString server;
    QString file = path;
    const bool local = path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'));
    int colon = path.indexOf(QLatin1Char(':'));
    if (path.startsWith(QLatin1Char('['))) {
        const int close = path.indexOf(QStringLiteral("]:"));
        colon = close < 0 ? -1 : close + 1;
    }
    if (!local && colon > 1) {
        server = path.left(colon);
        file = path.mid(colon + 1);
    }
    const int cut = std::max({file.lastIndexOf(QLatin1Char('/')), file.lastIndexOf(QLatin1Char('\\')),
                              file.lastIndexOf(QLatin1Char(':'))});
    const QString name = file.mid(cut + 1);
    return name + QStringLiteral("（") + (server.isEmpty() ? QStringLiteral("このPC") : server)
           + QStringLiteral("）");
}
