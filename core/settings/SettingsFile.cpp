#include "core/settings/SettingsFile.h"

#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QDateTime>
#include <QRegularExpression>
#include <unistd.h>

QString SettingsFileNameFor(const QString &executablePath)
{
    const QFileInfo fi(executablePath);
    const QString name = fi.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    return fi.path() + QLatin1Char('/') + base + QStringLiteral(".dat");
}

SettingsPlaces SettingsPlacesFor(const QString &executablePath)
{
    SettingsPlaces places;
    places.beside = SettingsFileNameFor(executablePath);
    // Named after the executable, as the folder of an application called so:
    // the application name holds the title that the message boxes show.
    const QString base = QFileInfo(places.beside).completeBaseName();
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!config.isEmpty())
        places.user = QDir::cleanPath(config + QLatin1Char('/') + base + QLatin1Char('/') + base + QStringLiteral(".dat"));
    return places;
}

static bool canWriteFile(const QString &fileName)
{
    // Opening for append changes nothing, and tells the truth for read-only mounts too.
    QFile f(fileName);
    return f.open(QIODevice::WriteOnly | QIODevice::Append);
}

// The temporary files of a write are the settings file's name and six letters or digits.
static QString temporaryTemplate(const QString &fileName)
{
    return fileName + QStringLiteral(".XXXXXX");
}

// Only in a folder of the running user's own: a file made beside a shared program
// would give every other user that user's settings. Root owns every system folder,
// so root always keeps to its own configuration folder.
static bool mayCreateBeside(const QString &fileName)
{
    const uid_t me = geteuid();
    const QFileInfo folder(QFileInfo(fileName).path());
    if (me == 0 || !folder.isDir() || folder.ownerId() != me)
        return false;
    QTemporaryFile probe(temporaryTemplate(fileName));
    return probe.open();
}

QString SettingsFileToWrite(const SettingsPlaces &places)
{
    if (places.user.isEmpty())
        return places.beside;
    const QFileInfo beside(places.beside);
    // Replacing needs a new file in the folder: a file that could only be rewritten
    // in place could be left cut short, so then the user's file is written instead.
    if (mayCreateBeside(places.beside) && (!beside.exists() || (beside.isFile() && canWriteFile(places.beside))))
        return places.beside;
    return places.user;
}

QString SettingsFileToRead(const SettingsPlaces &places)
{
    const QString written = SettingsFileToWrite(places);
    const QString other = written == places.beside ? places.user : places.beside;
    if (!QFileInfo::exists(written) && !other.isEmpty() && QFileInfo::exists(other))
        return other;
    return written;
}

bool ReadSettingsFile(const QString &fileName, WindowPlacement &placement)
{
    AssignDefaultSettings();
    // Only a regular file: a pipe or a device would block or never end.
    const QFileInfo info(fileName);
    if (!info.exists() || !info.isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return ReadSettingsFrom(file, placement);
}

bool ReadSettingsFrom(QIODevice &file, WindowPlacement &placement)
{
    AssignDefaultSettings();
    QList<QByteArray> raw;
    bool readFailed = false;
    while (raw.size() < SettingsLineCount && !file.atEnd()) {
        QByteArray b = file.readLine();
        auto *f = qobject_cast<QFileDevice *>(&file);
        // A line cut short before the end is a failed read, not a last line.
        if ((f && f->error() != QFileDevice::NoError) || (!b.endsWith('\n') && !file.atEnd())) {
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
    if (have(6)) placement.mainLeft = number(6);
    if (have(7)) placement.mainTop = number(7);
    if (have(8)) placement.mainWidth = number(8);
    if (have(9)) placement.mainHeight = number(9);
    for (int i = 0; i < 4; ++i) {
        if (have(10 + 2 * i)) placement.dialogs[i].setX(number(10 + 2 * i));
        if (have(11 + 2 * i)) placement.dialogs[i].setY(number(11 + 2 * i));
    }
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
    if (have(34)) placement.dialogs[4].setX(number(34));
    if (have(35)) placement.dialogs[4].setY(number(35));
    return true;
}

bool RememberSaveDir(const QString &folder)
{
    if (Cp932Length(folder) < 0)
        return false;
    SaveDir = folder;
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

static bool holds(const QString &fileName, const QByteArray &bytes)
{
    QFile f(fileName);
    return f.open(QIODevice::ReadOnly) && f.readAll() == bytes;
}

int RemoveLeftoverTemporaries(const QString &fileName, int minimumAgeSeconds)
{
    const QFileInfo target(fileName);
    const QRegularExpression name(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(target.fileName()) + QStringLiteral("\\.[A-Za-z0-9]{6}")));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-minimumAgeSeconds);
    int removed = 0;
    const QFileInfoList found = QDir(target.path()).entryInfoList(
        {target.fileName() + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &f : found) {
        // A younger one may be another running copy's write in progress.
        if (!name.match(f.fileName()).hasMatch() || f.isSymLink() || f.ownerId() != geteuid()
            || f.lastModified().toUTC() > before)
            continue;
        if (QFile::remove(f.filePath()))
            ++removed;
    }
    return removed;
}

bool WriteSettingsFile(const QString &fileName, const WindowPlacement &placement, QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QString folder = QFileInfo(fileName).path();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the folder %1").arg(folder));
    RemoveLeftoverTemporaries(fileName, LeftoverAgeSeconds);
    // No writing in place: the old file is replaced only by a complete new one.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const QByteArray bytes = FormatSettings(placement);
    // commit() alone can report success after a failed buffered write
    // (a full disk), and would then replace the old file with a cut one.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(reason);
    }
    if (!file.commit())
        return fail(file.errorString());
    if (!holds(fileName, bytes))
        return fail(QStringLiteral("the file reads back differently"));
    return true;
}
