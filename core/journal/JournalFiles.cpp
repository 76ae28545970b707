#include "core/journal/JournalFiles.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace JournalFiles {

QString errnoText(const char *what, int err)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(strerror(err)));
}

bool writeAll(int fd, const QByteArray &data, qint64 offset)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = pwrite(fd, p, size_t(left), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
        offset += n;
    }
    return true;
}

bool readAll(int fd, QByteArray *out)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    out->clear();
    out->reserve(qsizetype(st.st_size));
    char buf[65536];
    qint64 at = 0;
    while (true) {
        const ssize_t n = pread(fd, buf, sizeof buf, off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buf, n);
        at += n;
    }
}

bool syncFolder(const QString &folder)
{
    const int dfd = open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return false;
    const bool ok = fsync(dfd) == 0;
    close(dfd);
    return ok;
}

qint64 nextCreated()
{
    static std::atomic<qint64> last{0};
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    qint64 now = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    qint64 prev = last.load();
    while (!last.compare_exchange_weak(prev, std::max(now, prev + 1))) {
    }
    return std::max(now, prev + 1);
}

QString path(const QString &folder, const QString &name) { return folder + QLatin1Char('/') + name; }

QStringList entryNames(const QString &folder, const char *suffix)
{
    QDir dir(folder);
    QStringList names = dir.entryList({QStringLiteral("*") + QLatin1String(suffix)},
                                      QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    const bool temp = QLatin1String(suffix) == QLatin1String(TempSuffix);
    names.removeIf([&](const QString &n) { return n.startsWith(QLatin1Char('.')) != temp; });
    return names;
}

bool stillNamed(int fd, const QString &name)
{
    struct stat a, b;
    return fstat(fd, &a) == 0 && a.st_nlink > 0 && stat(QFile::encodeName(name).constData(), &b) == 0
        && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int lockNamed(const QString &name, int openFlags, int lockFlags, bool *held)
{
    *held = false;
    const int fd = open(QFile::encodeName(name).constData(), openFlags | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (flock(fd, lockFlags | LOCK_NB) != 0) {
        *held = errno == EWOULDBLOCK;
        close(fd);
        return -1;
    }
    if (!stillNamed(fd, name)) {
        close(fd);
        return -1;
    }
    return fd;
}

int openUnnamed(const QString &folder)
{
#ifdef O_TMPFILE
    return open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#else
    Q_UNUSED(folder);
    errno = EOPNOTSUPP;
    return -1;
#endif
}

bool nameUnnamed(int fd, const QString &final)
{
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    return linkat(AT_FDCWD, proc.constData(), AT_FDCWD, QFile::encodeName(final).constData(), AT_SYMLINK_FOLLOW)
        == 0;
}

bool writeRecords(JournalFile &f, const QByteArray &record, bool sync, QString &error)
{
    if (f.fd < 0)
        return false;
    const QByteArray data = f.pending + record;
    if (!data.isEmpty()) {
        if (!writeAll(f.fd, data, f.end)) {
            error = errnoText("write", errno) + QStringLiteral(" (") + f.name + QLatin1Char(')');
            // No torn record stays between the good ones and the next write.
            if (ftruncate(f.fd, off_t(f.end)) != 0)
                qWarning("Stroke journal: cannot cut %s back", qPrintable(f.name));
            f.pending = data;
            return false;
        }
        f.end += data.size();
        f.pending.clear();
    }
    if (sync && fdatasync(f.fd) != 0) {
        error = errnoText("fdatasync", errno) + QStringLiteral(" (") + f.name + QLatin1Char(')');
        // What the failed sync was to make durable is written again with the next note.
        f.end -= data.size();
        f.pending = data;
        if (ftruncate(f.fd, off_t(f.end)) != 0)
            qWarning("Stroke journal: cannot cut %s back", qPrintable(f.name));
        return false;
    }
    error.clear();
    return true;
}

} // namespace JournalFiles
