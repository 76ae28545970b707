#include "core/picture/PictureCache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

std::atomic<qint64> PictureCache::CapBytes{qint64(500) << 20};
std::atomic<bool> PictureCache::Enabled{true};

namespace {
constexpr char kMagic[8] = {'O', 'E', 'K', 'A', 'K', 'I', 'P', 'C'};
constexpr quint32 kVersion = 2;
// The eight columns, then the NULL flags.
constexpr int kColumns = 9;
// More rows than any picture has: a header claiming more is damaged.
constexpr quint64 kMostRows = quint64(1) << 27;
const QString kSuffix = QStringLiteral(".pic");

std::atomic<int> writesInFlight{0};

template <class T> void put(QByteArray &out, T v)
{
    out.append(reinterpret_cast<const char *>(&v), sizeof v);
}

template <class T> bool take(const QByteArray &in, qsizetype &at, T &v)
{
    if (at + qsizetype(sizeof v) > in.size())
        return false;
    std::memcpy(&v, in.constData() + at, sizeof v);
    at += sizeof v;
    return true;
}

qint32 column(const StrokeRow &r, int c)
{
    switch (c) {
    case 0: return qint32(r.n);
    case 1: return r.mn;
    case 2: return r.dn;
    case 3: return r.type;
    case 4: return r.size;
    case 5: return r.color;
    case 6: return r.x;
    case 7: return r.y;
    default: return r.nulls;
    }
}

void setColumn(StrokeRow &r, int c, qint32 v)
{
    switch (c) {
    case 0: r.n = v; break;
    case 1: r.mn = v; break;
    case 2: r.dn = v; break;
    case 3: r.type = v; break;
    case 4: r.size = v; break;
    case 5: r.color = v; break;
    case 6: r.x = v; break;
    case 7: r.y = v; break;
    default: r.nulls = quint8(v); break;
    }
}

// Sets the file's modification time to now: the copy counts as just opened.
void touch(const QString &file)
{
    utimensat(AT_FDCWD, QFile::encodeName(file).constData(), nullptr, 0);
}

bool syncedWrite(const QString &file, const QByteArray &bytes, QString *why)
{
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (why)
            *why = f.errorString();
        return false;
    }
    const bool ok = f.write(bytes) == bytes.size() && f.flush() && fsync(f.handle()) == 0;
    if (!ok && why)
        *why = f.errorString();
    f.close();
    return ok;
}
} // namespace

QString PictureCache::KeyOf(const QString &database, const QString &table)
{
    return database + QLatin1Char('\n') + table.toUpper();
}

QString PictureCache::Folder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return QDir::cleanPath(base + QStringLiteral("/oekaki"));
}

QString PictureCache::FileOf(const QString &key)
{
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
    return Folder() + QLatin1Char('/') + QString::fromLatin1(hash) + kSuffix;
}

namespace {
// The header of a copy of `key` in `in` (`body`: where its checksum begins, or the end of
// the header's bytes when `in` holds only the start of the file): the copy without its rows,
// and where the packed rows begin. False when it is not one.
bool parseHeader(const QByteArray &in, qsizetype body, const QString &key, PictureCache::Copy &copy, quint64 &packed,
                 qsizetype &at, bool whole = true)
{
    if (in.size() < qsizetype(sizeof kMagic) || std::memcmp(in.constData(), kMagic, sizeof kMagic) != 0)
        return false;
    at = sizeof kMagic;
    quint32 version = 0, keyBytes = 0, databaseBytes = 0;
    if (!take(in, at, version) || version != kVersion || !take(in, at, keyBytes) || at + keyBytes > body
        || QString::fromUtf8(in.constData() + at, keyBytes) != key)
        return false;
    at += keyBytes;
    if (!take(in, at, copy.relationId) || !take(in, at, databaseBytes) || at + databaseBytes > body)
        return false;
    copy.database = QString::fromUtf8(in.constData() + at, databaseBytes);
    at += databaseBytes;
    return take(in, at, copy.versions) && take(in, at, copy.lastN) && take(in, at, copy.count)
           && take(in, at, packed) && copy.count <= kMostRows && (!whole || at + qsizetype(packed) <= body);
}
} // namespace

PictureCache::Copy PictureCache::ReadHeader(const QString &key)
{
    QFile f(FileOf(key));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray in = f.read(64 * 1024);
    Copy copy;
    quint64 packed = 0;
    qsizetype at = 0;
    return parseHeader(in, in.size(), key, copy, packed, at, false) ? copy : Copy{};
}

PictureCache::Copy PictureCache::Read(const QString &key)
{
    const QString file = FileOf(key);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray in = f.readAll();
    f.close();
    Copy copy;
    const auto damaged = [&] {
        QFile::remove(file);
        return Copy{};
    };
    qsizetype at = 0;
    if (in.size() < qsizetype(sizeof kMagic) + 4)
        return damaged();
    const qsizetype body = in.size() - 4;
    quint32 crc = 0;
    std::memcpy(&crc, in.constData() + body, 4);
    if (crc != crc32(0, reinterpret_cast<const Bytef *>(in.constData()), uInt(body)))
        return damaged();
    quint64 packed = 0;
    if (!parseHeader(in, body, key, copy, packed, at) || at + qsizetype(packed) != body)
        return damaged();
    const quint64 rows = copy.count;
    std::vector<qint32> values(size_t(rows) * kColumns);
    uLongf size = uLongf(values.size() * sizeof(qint32));
    if (uncompress(reinterpret_cast<Bytef *>(values.data()), &size, reinterpret_cast<const Bytef *>(in.constData() + at),
                   uLong(packed))
            != Z_OK
        || size != values.size() * sizeof(qint32))
        return damaged();
    copy.rows.resize(size_t(rows));
    for (int c = 0; c < kColumns; ++c) {
        qint32 v = 0;
        const qint32 *col = values.data() + size_t(c) * rows;
        for (size_t i = 0; i < rows; ++i) {
            v = qint32(quint32(v) + quint32(col[i]));
            setColumn(copy.rows[i], c, v);
        }
    }
    for (size_t i = 1; i < copy.rows.size(); ++i)
        if (copy.rows[i].n <= copy.rows[i - 1].n)
            return damaged();
    if (rows > 0 && copy.rows.back().n != copy.lastN)
        return damaged();
    touch(file);
    return copy;
}

bool PictureCache::Write(const QString &key, const Copy &copy, QString *why)
{
    const QString folder = Folder();
    if (!QDir().mkpath(folder)) {
        if (why)
            *why = QStringLiteral("cannot make %1").arg(folder);
        return false;
    }
    const quint64 rows = copy.rows.size();
    // Each column as differences from the row before: small numbers that compress well.
    std::vector<qint32> values(size_t(rows) * kColumns);
    for (int c = 0; c < kColumns; ++c) {
        qint32 before = 0;
        qint32 *col = values.data() + size_t(c) * rows;
        for (size_t i = 0; i < rows; ++i) {
            const qint32 v = column(copy.rows[i], c);
            col[i] = qint32(quint32(v) - quint32(before));
            before = v;
        }
    }
    const uLong rawBytes = uLong(values.size() * sizeof(qint32));
    QByteArray packed(qsizetype(compressBound(rawBytes)), Qt::Uninitialized);
    uLongf packedBytes = uLongf(packed.size());
    if (compress2(reinterpret_cast<Bytef *>(packed.data()), &packedBytes,
                  reinterpret_cast<const Bytef *>(values.data()), rawBytes, 1)
        != Z_OK) {
        if (why)
            *why = QStringLiteral("compression failed");
        return false;
    }
    const QByteArray keyBytes = key.toUtf8();
    QByteArray out;
    out.reserve(qsizetype(64 + keyBytes.size() + packedBytes));
    out.append(kMagic, sizeof kMagic);
    put(out, kVersion);
    put(out, quint32(keyBytes.size()));
    out.append(keyBytes);
    put(out, qint32(copy.relationId));
    const QByteArray database = copy.database.toUtf8();
    put(out, quint32(database.size()));
    out.append(database);
    put(out, qint64(copy.versions));
    put(out, qint64(copy.rows.empty() ? 0 : copy.rows.back().n));
    put(out, rows);
    put(out, quint64(packedBytes));
    out.append(packed.constData(), qsizetype(packedBytes));
    put(out, quint32(crc32(0, reinterpret_cast<const Bytef *>(out.constData()), uInt(out.size()))));

    static std::atomic<int> serial{0};
    const QString file = FileOf(key);
    const QString temp = file + QStringLiteral(".%1.%2.tmp").arg(getpid()).arg(++serial);
    if (!syncedWrite(temp, out, why) || ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(file).constData()) != 0) {
        if (why && why->isEmpty())
            *why = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(temp);
        return false;
    }
    KeepUnderCap(file);
    return true;
}

void PictureCache::WriteLater(const QString &key, std::shared_ptr<const Copy> copy)
{
    ++writesInFlight;
    std::thread([key, copy = std::move(copy)] {
        pthread_setname_np(pthread_self(), "picture-cache");
        QString why;
        if (!Write(key, *copy, &why))
            std::fprintf(stderr, "oekaki: the local copy of a picture was not written: %s\n", qUtf8Printable(why));
        --writesInFlight;
    }).detach();
}

void PictureCache::Remove(const QString &key)
{
    QFile::remove(FileOf(key));
}

void PictureCache::KeepUnderCap(const QString &keep)
{
    QDir dir(Folder());
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*") + kSuffix, QStringLiteral("*.tmp")}, QDir::Files);
    QFileInfoList copies;
    qint64 total = 0;
    const QDateTime stale = QDateTime::currentDateTime().addSecs(-600);
    for (const QFileInfo &f : files) {
        if (f.fileName().endsWith(QStringLiteral(".tmp"))) {
            // Left by a program that ended while writing.
            if (f.lastModified() < stale)
                QFile::remove(f.absoluteFilePath());
            continue;
        }
        copies.append(f);
        total += f.size();
    }
    std::sort(copies.begin(), copies.end(),
              [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() < b.lastModified(); });
    const qint64 cap = CapBytes.load();
    for (const QFileInfo &f : copies) {
        if (total <= cap)
            break;
        if (f.absoluteFilePath() == QFileInfo(keep).absoluteFilePath())
            continue;
        if (QFile::remove(f.absoluteFilePath()))
            total -= f.size();
    }
}

int PictureCache::WritesInFlight()
{
    return writesInFlight.load();
}

bool PictureCache::WaitForWrites(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (writesInFlight.load() > 0) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
