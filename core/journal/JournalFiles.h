#pragma once
// The journal's files on disk: durable writes and reads, the folder's sync, names that sort
// by creation, locks taken without waiting; and the open file of an entry, which the entry
// and its appender write under its lock.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <mutex>
#include <unistd.h>

namespace JournalFiles {

constexpr char Suffix[] = ".stroke";
constexpr char TempSuffix[] = ".stroke.tmp";

QString errnoText(const char *what, int err);
bool writeAll(int fd, const QByteArray &data, qint64 offset);
bool readAll(int fd, QByteArray *out);
bool syncFolder(const QString &folder);
qint64 nextCreated();
QString path(const QString &folder, const QString &name);
QStringList entryNames(const QString &folder, const char *suffix);
// True when fd is still the file under `name` (not removed or replaced since it was opened).
bool stillNamed(int fd, const QString &name);
// Opens and locks `name` without waiting; -1 when it is held, gone or unreadable.
int lockNamed(const QString &name, int openFlags, int lockFlags, bool *held);
// An unnamed file (O_TMPFILE) that gets its name only once complete; -1 where unsupported.
int openUnnamed(const QString &folder);
bool nameUnnamed(int fd, const QString &final);

} // namespace JournalFiles

struct JournalFile {
    std::mutex lock;
    int fd = -1;
    QString name;
    qint64 end = 0;          // the end of the last good record: where the next one goes
    QByteArray pending;      // records a failed write left unwritten, written before the next one
    size_t points = 0;       // points of the stroke in the file (or pending)
    bool open = false;       // no end noted
    ~JournalFile()
    {
        if (fd >= 0)
            close(fd);
    }
};

namespace JournalFiles {
// With the file's lock held: appends the records (and what a failed write left), synced if asked.
bool writeRecords(JournalFile &f, const QByteArray &record, bool sync, QString &error);
} // namespace JournalFiles
