#pragma once
// The CPU time of the Firebird server's process and of this one, for the benches' figures
// of what a drawer costs.

#include <QDir>
#include <QFile>
#include <QString>
#include <sys/resource.h>
#include <unistd.h>

namespace measure {

// The server's process time (user + system) so far, in seconds; -1 when not found. Its
// process is looked for once (a restarted server is looked for again).
inline double ServerCpuSeconds()
{
    static QString statPath;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (statPath.isEmpty() || attempt == 1) {
            statPath.clear();
            for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "firebird") {
                    statPath = QStringLiteral("/proc/%1/stat").arg(pid);
                    break;
                }
            }
        }
        QFile stat(statPath);
        if (statPath.isEmpty() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 13)
            return double(f[11].toLongLong() + f[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return -1;
}

// This process's time (user + system) so far, in seconds.
inline double OwnCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace measure
