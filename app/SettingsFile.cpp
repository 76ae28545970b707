#include "app/SettingsFile.h"

#include "app/UnitV.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

QString SettingsFileNameFor(const QString &executablePath)
{
    const QFileInfo fi(executablePath);
    const QString name = fi.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    return fi.path() + QLatin1Char('/') + base + QStringLiteral(".dat");
}

bool ReadSettingsFile(const QString &fileName, WindowPlacement &placement)
{
    AssignDefaultSettings();
    placement = WindowPlacement();
    // Only a regular file: a pipe or a device would block or never end.
    const QFileInfo info(fileName);
    if (!info.exists() || !info.isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;

    QList<QByteArray> raw;
    bool readFailed = false;
    while (raw.size() < SettingsLineCount && !file.atEnd()) {
        QByteArray b = file.readLine();
        if (file.error() != QFileDevice::NoError) {
            readFailed = true;
            break;
        }
        if (b.isEmpty())
            break;
        if (b.endsWith('\n'))
            b.chop(1);
        if (b.endsWith('\r'))
            b.chop(1);
        raw.append(b);
    }
    file.close();

    // A file that ends early reads as empty lines; after a failed read the
    // settings not yet read keep their defaults.
    auto have = [&](int n) { return !readFailed || n <= raw.size(); };
    auto line = [&raw](int n) -> QString {
        return n - 1 < raw.size() ? FromCp932(raw[n - 1]) : QString();
    };
    auto number = [&line](int n) { return TextToInt(line(n)); };
    auto atLeast = [](int v, int minimum) { return v < minimum ? minimum : v; };

    if (have(1)) ServerName = line(1);
    if (have(2)) ServerDataDir = line(2);
    if (have(3)) DatabaseName = line(3);
    if (have(4)) PcUserNo = number(4);
    if (have(5)) PcUserName = line(5);
    placement.mainLeft = number(6);
    placement.mainTop = number(7);
    placement.mainWidth = number(8);
    placement.mainHeight = number(9);
    for (int i = 0; i < 4; ++i)
        placement.dialogs[i] = QPoint(number(10 + 2 * i), number(11 + 2 * i));
    if (have(18)) ListWidth = atLeast(number(18), 80);
    if (have(19)) ListHeight = atLeast(number(19), 80);
    for (int i = 0; i < 7; ++i)
        if (have(20 + i))
            ListColWidths[i] = atLeast(number(20 + i), 32);
    if (have(27)) ListPanelHeight = atLeast(number(27), 10);
    if (have(28)) PaintWidth = number(28);
    if (have(29)) PaintHeight = number(29);
    if (have(30)) SaveDir = line(30);
    if (have(31)) PenType = number(31);
    if (have(32)) PenSize = number(32);
    if (have(33)) PenColor = number(33);
    placement.dialogs[4] = QPoint(number(34), number(35));
    return true;
}

QByteArray FormatSettings(const WindowPlacement &placement)
{
    QByteArray out;
    // A line break inside a value would shift every later line of the file.
    auto text = [&out](QString s) {
        s.remove(QLatin1Char('\r'));
        s.remove(QLatin1Char('\n'));
        out += ToCp932(s) + "\r\n";
    };
    auto number = [&out](int v) { out += QByteArray::number(v) + "\r\n"; };
    text(ServerName);
    text(ServerDataDir);
    text(DatabaseName);
    number(PcUserNo);
    text(PcUserName);
    number(placement.mainLeft);
    number(placement.mainTop);
    number(placement.mainWidth);
    number(placement.mainHeight);
    for (int i = 0; i < 4; ++i) {
        number(placement.dialogs[i].x());
        number(placement.dialogs[i].y());
    }
    number(ListWidth);
    number(ListHeight);
    for (int w : ListColWidths)
        number(w);
    number(ListPanelHeight);
    number(PaintWidth);
    number(PaintHeight);
    text(SaveDir);
    number(PenType);
    number(PenSize);
    number(PenColor);
    number(placement.dialogs[4].x());
    number(placement.dialogs[4].y());
    return out;
}

bool WriteSettingsFile(const QString &fileName, const WindowPlacement &placement)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = FormatSettings(placement);
    // commit() alone can report success after a failed buffered write
    // (a full disk), and would then replace the old file with a cut one.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
