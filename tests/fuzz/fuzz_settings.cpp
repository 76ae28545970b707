// The settings reader on any bytes: no crash, the minimums hold, and what it
// writes back reads back to the same file.
#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"

#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

static QString scratch(const char *what)
{
    return QStringLiteral("/tmp/oekaki-fuzz-%1-%2.dat").arg(getpid()).arg(QLatin1String(what));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString in = scratch("in");
    {
        QFile f(in);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            abort();
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    WindowPlacement p;
    if (!ReadSettingsFile(in, p))
        abort();
    if (ListWidth < 80 || ListHeight < 80 || ListPanelHeight < 10)
        abort();
    for (int w : ListColWidths)
        if (w < 32)
            abort();

    const QByteArray first = FormatSettings(p);
    if (first.count('\n') != SettingsLineCount)
        abort();
    const QString out = scratch("out");
    if (!WriteSettingsFile(out, p))
        abort();
    WindowPlacement again;
    if (!ReadSettingsFile(out, again) || FormatSettings(again) != first)
        abort();
    return 0;
}
