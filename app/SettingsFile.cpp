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
    QFile file(fileName);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    file.close();

    QList<QByteArray> raw = content.split('\n');
    if (!content.isEmpty() && content.endsWith('\n'))
        raw.removeLast();
    auto line = [&raw](int n) -> QString {
        if (n - 1 >= raw.size())
            return QString();
        QByteArray b = raw[n - 1];
        if (b.endsWith('\r'))
            b.chop(1);
        return FromCp932(b);
    };
    auto number = [&line](int n) { return TextToInt(line(n)); };
    auto atLeast = [](int v, int minimum) { return v < minimum ? minimum : v; };

    ServerName = line(1);
    ServerDataDir = line(2);
    DatabaseName = line(3);
    PcUserNo = number(4);
    PcUserName = line(5);
    placement.mainLeft = number(6);
    placement.mainTop = number(7);
    placement.mainWidth = number(8);
    placement.mainHeight = number(9);
    for (int i = 0; i < 4; ++i)
        placement.dialogs[i] = QPoint(number(10 + 2 * i), number(11 + 2 * i));
    ListWidth = atLeast(number(18), 80);
    ListHeight = atLeast(number(19), 80);
    for (int i = 0; i < 7; ++i)
        ListColWidths[i] = atLeast(number(20 + i), 32);
    ListPanelHeight = atLeast(number(27), 10);
    PaintWidth = number(28);
    PaintHeight = number(29);
    SaveDir = line(30);
    PenType = number(31);
    PenSize = number(32);
    PenColor = number(33);
    placement.dialogs[4] = QPoint(number(34), number(35));
    return true;
}

QByteArray FormatSettings(const WindowPlacement &placement)
{
    QByteArray out;
    auto text = [&out](const QString &s) { out += ToCp932(s) + "\r\n"; };
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
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
