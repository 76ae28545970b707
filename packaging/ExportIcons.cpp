// Writes the program's icon as PNG files for the desktop's icon theme:
// <folder>/<n>x<n>/apps/oekaki.png for each size given, enlarged pixel by pixel.

#include "core/settings/ProgramIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    const QImage icon = ProgramIconImage();
    for (qsizetype i = 2; i < args.size(); ++i) {
        const int n = args[i].toInt();
        if (n < icon.width()) {
            std::fprintf(stderr, "bad size %s\n", qPrintable(args[i]));
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args[1]).arg(n);
        const QString file = dir + QStringLiteral("/oekaki.png");
        if (!QDir().mkpath(dir)
            || !icon.scaled(n, n, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
