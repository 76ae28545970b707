// What a run before left in the journal: the temporary files of a Create that died put in
// place or removed, entries of a database claimed (held and read back), and every unheld
// entry read without claiming it.

#include "core/journal/JournalFiles.h"
#include "core/journal/JournalRecords.h"
#include "core/journal/StrokeJournal.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

using namespace JournalFiles;
using namespace JournalRecords;

namespace {
// A named temporary file (only where O_TMPFILE is missing) that nobody holds and is older than
// this was left by a crash during Create: its creator is gone, not between open and flock.
constexpr int TempAgeSeconds = 10;

// Temporary files of a Create that died: a complete stroke is put in place (it was never stored,
// as storing starts only after Create returned), anything else was never an entry and goes.
void adoptLeftovers(const QString &folder)
{
    bool changed = false;
    for (const QString &n : entryNames(folder, TempSuffix)) {
        const QString name = path(folder, n);
        struct stat st;
        if (stat(QFile::encodeName(name).constData(), &st) != 0 || time(nullptr) - st.st_mtime < TempAgeSeconds)
            continue;
        bool held;
        const int fd = lockNamed(name, O_RDONLY, LOCK_EX, &held);
        if (fd < 0)
            continue;
        QByteArray bytes;
        if (readAll(fd, &bytes) && parse(bytes).why.isEmpty()) {
            const QString final = path(folder, n.mid(1, n.size() - 5));
            if (QFile::exists(final)
                || rename(QFile::encodeName(name).constData(), QFile::encodeName(final).constData()) != 0) {
                qWarning("Stroke journal: cannot put %s in place", qPrintable(name));
                close(fd);
                continue;
            }
        } else {
            unlink(QFile::encodeName(name).constData());
        }
        changed = true;
        close(fd);
    }
    if (changed)
        syncFolder(folder);
}
} // namespace

std::vector<std::unique_ptr<JournalEntry>> JournalEntry::ClaimUnheld(const QString &folder,
                                                                     const QString &database)
{
    adoptLeftovers(folder);
    std::vector<std::unique_ptr<JournalEntry>> out;
    QStringList candidates;
    for (const QString &n : entryNames(folder, Suffix)) {
        // The stroke record never changes once the file has its name: filter without locking, so
        // entries of other databases are not held even for a moment.
        QFile f(path(folder, n));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const Parsed p = parse(f.readAll());
        if (!p.why.isEmpty())
            qWarning("Stroke journal: %s left in place: %s", qPrintable(f.fileName()), qPrintable(p.why));
        else if (p.stroke.database == database)
            candidates << n;
    }
    // A held file is tried once more after a moment: a PeekUnheld may have held it briefly.
    for (int round = 0; round < 2 && !candidates.isEmpty(); ++round) {
        if (round > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QStringList held;
        for (const QString &n : std::as_const(candidates)) {
            const QString name = path(folder, n);
            bool isHeld;
            const int fd = lockNamed(name, O_RDWR, LOCK_EX, &isHeld);
            if (fd < 0) {
                if (isHeld)
                    held << n;
                continue;
            }
            QByteArray bytes;
            Parsed p;
            if (!readAll(fd, &bytes) || !(p = parse(bytes)).why.isEmpty() || p.stroke.database != database) {
                close(fd);
                continue;
            }
            // A torn tail goes, so the next record follows the last good one.
            if (p.end < bytes.size() && ftruncate(fd, off_t(p.end)) != 0) {
                qWarning("Stroke journal: cannot cut the torn tail of %s", qPrintable(name));
                close(fd);
                continue;
            }
            out.emplace_back(new JournalEntry(fd, folder, name, std::move(p.stroke), p.created, p.end));
            out.back()->recovered_ = true;
            out.back()->version_ = p.version;
        }
        candidates = held;
    }
    std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) {
        return a->created_ != b->created_ ? a->created_ < b->created_ : a->name_ < b->name_;
    });
    return out;
}

std::vector<JournalStroke> JournalEntry::PeekUnheld(const QString &folder)
{
    std::vector<std::pair<std::pair<qint64, QString>, JournalStroke>> found;
    for (const QString &n : entryNames(folder, Suffix)) {
        bool held;
        const int fd = lockNamed(path(folder, n), O_RDONLY, LOCK_SH, &held);
        if (fd < 0)
            continue;
        QByteArray bytes;
        const bool read = readAll(fd, &bytes);
        close(fd);
        Parsed p;
        if (read && (p = parse(bytes)).why.isEmpty())
            found.push_back({{p.created, n}, std::move(p.stroke)});
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<JournalStroke> out;
    out.reserve(found.size());
    for (auto &f : found)
        out.push_back(std::move(f.second));
    return out;
}
