#include "core/journal/StrokeJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>
#include <mutex>

namespace {

constexpr char Magic[4] = {'O', 'K', 'J', 'L'};
constexpr quint16 Version = 3;
// The first version that notes the sending attachment.
constexpr quint16 SenderVersion = 3;
// Entries of the run before: one point per statement, no picture anchor.
constexpr quint16 OldVersion = 1;
constexpr quint32 MaxRecord = 64u << 20;   // far above any stroke; a longer length is damage
constexpr char Suffix[] = ".stroke";
constexpr char TempSuffix[] = ".stroke.tmp";
// A named temporary file (only where O_TMPFILE is missing) that nobody holds and is older than
// this was left by a crash during Create: its creator is gone, not between open and flock.
constexpr int TempAgeSeconds = 10;

QString errnoText(const char *what, int err)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(strerror(err)));
}

class Writer {
public:
    explicit Writer(char type) { body_.append(type); }
    void u16(quint16 v) { put(v); }
    void u32(quint32 v) { put(v); }
    void i32(qint32 v) { put(v); }
    void i64(qint64 v) { put(v); }
    void raw(const char *p, int n) { body_.append(p, n); }
    void text(const QString &s)
    {
        const QByteArray b = s.toUtf8();
        u32(quint32(b.size()));
        body_.append(b);
    }
    // The framed record: length, CRC-32, then type and payload.
    QByteArray record() const
    {
        QByteArray out;
        out.reserve(8 + body_.size());
        quint32 head[2] = {qToLittleEndian(quint32(body_.size())), qToLittleEndian(crc(body_))};
        out.append(reinterpret_cast<const char *>(head), sizeof head);
        out.append(body_);
        return out;
    }
    static quint32 crc(const QByteArray &b)
    {
        return quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size())));
    }

private:
    template <typename T> void put(T v)
    {
        const T le = qToLittleEndian(v);
        body_.append(reinterpret_cast<const char *>(&le), sizeof le);
    }
    QByteArray body_;
};

class Reader {
public:
    Reader(const char *p, qsizetype n) : p_(p), end_(p + n) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return p_ == end_; }
    quint16 u16() { return get<quint16>(); }
    quint32 u32() { return get<quint32>(); }
    qint32 i32() { return get<qint32>(); }
    qint64 i64() { return get<qint64>(); }
    bool magic()
    {
        if (!need(4) || memcmp(p_, Magic, 4) != 0)
            return ok_ = false;
        p_ += 4;
        return true;
    }
    QString text()
    {
        const quint32 n = u32();
        if (!need(n))
            return {};
        const QString s = QString::fromUtf8(p_, n);
        p_ += n;
        return s;
    }
    bool need(quint64 n)
    {
        if (!ok_ || quint64(end_ - p_) < n)
            ok_ = false;
        return ok_;
    }

private:
    template <typename T> T get()
    {
        if (!need(sizeof(T)))
            return 0;
        T v;
        memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return qFromLittleEndian(v);
    }
    const char *p_;
    const char *end_;
    bool ok_ = true;
};

QByteArray strokeRecord(const JournalStroke &s, qint64 created)
{
    Writer w('S');
    w.raw(Magic, 4);
    w.u16(Version);
    w.i64(created);
    w.text(s.database);
    w.i32(s.imageNo);
    w.i32(s.user);
    w.i32(s.penType);
    w.i32(s.penSize);
    w.i32(s.penColor);
    w.u32(quint32(s.points.size()));
    for (const QPoint &p : s.points) {
        w.i32(p.x());
        w.i32(p.y());
    }
    w.i64(s.anchorN);
    w.text(s.anchorRow);
    return w.record();
}

QByteArray progressRecord(quint16 version, char type, int index, qint64 n = 0, int dn = 0, int count = 1)
{
    Writer w(type);
    w.u32(quint32(index));
    if (type != 'R') {
        w.i64(n);
        w.i32(dn);
        if (version != OldVersion)
            w.u32(quint32(count));
    }
    return w.record();
}

struct Parsed {
    JournalStroke stroke;
    qint64 created = 0;
    qint64 end = 0;            // the end of the last good record
    quint16 version = 0;
    QString why;               // why the stroke record is unreadable (empty when it is fine)
};

QByteArray senderRecord(qint64 attachment)
{
    Writer w('A');
    w.i64(attachment);
    return w.record();
}

// Applies one progress record; false when it does not follow from the state so far.
bool applyProgress(char type, Reader &r, JournalStroke &s, quint16 version)
{
    if (type == 'A') {
        const qint64 id = r.i64();
        if (version < SenderVersion || !r.ok() || !r.atEnd() || id < 1)
            return false;
        s.attachment = id;
        return true;
    }
    const quint32 index = r.u32();
    const qint64 n = type == 'R' ? 0 : r.i64();
    const int dn = type == 'R' ? 0 : r.i32();
    const quint32 count = type == 'R' || version == OldVersion ? 1 : r.u32();
    if (!r.ok() || !r.atEnd() || index != quint32(s.stored) || index >= s.points.size() || count < 1
        || count > s.points.size() - index || (type != 'R' && n < 1))
        return false;
    switch (type) {
    case 'B':
        s.sendingN = n;
        s.sendingDn = dn;
        s.sendingCount = int(count);
        return true;
    case 'C':
        s.stored += int(count);
        s.lastN = n + count - 1;
        s.dn = dn;
        s.sendingN = 0;
        s.sendingDn = 0;
        s.sendingCount = 0;
        return true;
    case 'R':
        // Only an answered statement is refused: an unanswered one stays unresolved.
        s.sendingN = 0;
        s.sendingDn = 0;
        s.sendingCount = 0;
        return true;
    }
    return false;
}

// Applies one record of a stroke sent while it is drawn; false when it does not follow.
bool applyLive(char type, Reader &r, JournalStroke &s)
{
    switch (type) {
    case 'O':
        // Only right after the stroke record.
        if (!r.atEnd() || s.open || s.stored > 0 || s.sendingN > 0)
            return false;
        s.open = true;
        return true;
    case 'P': {
        const quint32 index = r.u32();
        const quint32 count = r.u32();
        if (!s.open || !r.ok() || index != s.points.size() || count < 1 || !r.need(quint64(count) * 8))
            return false;
        std::vector<QPoint> more;
        more.reserve(count);
        for (quint32 i = 0; i < count; ++i) {
            const int x = r.i32();
            more.emplace_back(x, r.i32());
        }
        if (!r.ok() || !r.atEnd())
            return false;
        s.points.insert(s.points.end(), more.begin(), more.end());
        return true;
    }
    case 'E':
        if (!s.open || !r.atEnd())
            return false;
        s.open = false;
        return true;
    }
    return false;
}

QByteArray appendedRecord(quint32 index, const std::vector<QPoint> &points)
{
    Writer w('P');
    w.u32(index);
    w.u32(quint32(points.size()));
    for (const QPoint &p : points) {
        w.i32(p.x());
        w.i32(p.y());
    }
    return w.record();
}

Parsed parse(const QByteArray &bytes)
{
    Parsed out;
    qint64 at = 0;
    bool first = true;
    quint16 version = 0;
    while (true) {
        if (bytes.size() - at < 8) {
            if (first)
                out.why = QStringLiteral("the stroke record is cut short");
            break;
        }
        quint32 head[2];
        memcpy(head, bytes.constData() + at, sizeof head);
        const quint32 len = qFromLittleEndian(head[0]);
        if (len < 1 || len > MaxRecord || quint64(bytes.size() - at - 8) < len) {
            if (first)
                out.why = QStringLiteral("the stroke record is cut short or its length is damaged");
            break;
        }
        const QByteArray body = bytes.mid(at + 8, len);
        if (Writer::crc(body) != qFromLittleEndian(head[1])) {
            if (first)
                out.why = QStringLiteral("the stroke record fails its checksum");
            break;
        }
        const char type = body[0];
        Reader r(body.constData() + 1, body.size() - 1);
        if (first) {
            JournalStroke &s = out.stroke;
            if (type != 'S' || !r.magic()) {
                out.why = QStringLiteral("not a stroke journal entry");
                break;
            }
            version = out.version = r.u16();
            if (version < OldVersion || version > Version) {
                out.why = QStringLiteral("format version %1 is unknown here").arg(version);
                break;
            }
            out.created = r.i64();
            s.database = r.text();
            s.imageNo = r.i32();
            s.user = r.i32();
            s.penType = r.i32();
            s.penSize = r.i32();
            s.penColor = r.i32();
            const quint32 count = r.u32();
            if (r.need(quint64(count) * 8)) {
                s.points.reserve(count);
                for (quint32 i = 0; i < count; ++i) {
                    const int x = r.i32();
                    s.points.emplace_back(x, r.i32());
                }
            }
            if (version != OldVersion) {
                s.anchorN = r.i64();
                s.anchorRow = r.text();
            }
            if (!r.ok() || !r.atEnd()) {
                out.why = QStringLiteral("the stroke record does not add up");
                out.stroke = {};
                break;
            }
            first = false;
        } else if (type == 'O' || type == 'P' || type == 'E') {
            if (version < Version || !applyLive(type, r, out.stroke))
                break;
        } else if (!applyProgress(type, r, out.stroke, version)) {
            break;
        }
        at += 8 + len;
        out.end = at;
    }
    return out;
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

// True when fd is still the file under `name` (not removed or replaced since it was opened).
bool stillNamed(int fd, const QString &name)
{
    struct stat a, b;
    return fstat(fd, &a) == 0 && a.st_nlink > 0 && stat(QFile::encodeName(name).constData(), &b) == 0
        && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens and locks `name` without waiting; -1 when it is held, gone or unreadable.
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

// An unnamed file (O_TMPFILE) that gets its name only once complete; -1 where unsupported.
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

}   // namespace

QString StrokeJournalFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = QDir::cleanPath(base + QStringLiteral("/oekaki"));
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(base);
        // Synced into its parent, so the first entry is not lost with the folder at a power cut.
        if (mkdir(QFile::encodeName(folder).constData(), 0700) == 0)
            syncFolder(base);
    }
    return folder;
}

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

namespace {
// With the file's lock held: appends the records (and what a failed write left), synced if asked.
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

// With the file's lock held: the points after the `known` ones, unless the file has them already.
bool notePoints(JournalFile &f, size_t known, const std::vector<QPoint> &points, QString &error)
{
    if (f.points >= known + points.size())
        return true;
    const bool ok = writeRecords(f, appendedRecord(quint32(f.points), points), true, error);
    f.points += points.size();
    return ok;
}

bool noteEnd(JournalFile &f, QString &error)
{
    if (!f.open)
        return true;
    f.open = false;
    // Not synced: an entry read back without its end is stored whole all the same.
    return writeRecords(f, Writer('E').record(), false, error);
}
} // namespace

bool JournalAppender::NoteAppended(const std::vector<QPoint> &points)
{
    const auto file = file_.lock();
    if (!file || points.empty())
        return false;
    std::lock_guard hold(file->lock);
    if (!file->open)
        return false;
    QString error;
    return notePoints(*file, file->points, points, error);
}

bool JournalAppender::NoteEnded()
{
    const auto file = file_.lock();
    if (!file)
        return false;
    std::lock_guard hold(file->lock);
    QString error;
    return noteEnd(*file, error);
}

JournalEntry::JournalEntry(int fd, QString folder, QString name, JournalStroke stroke, qint64 created, qint64 end)
    : file_(std::make_shared<JournalFile>()), folder_(std::move(folder)), name_(std::move(name)),
      stroke_(std::move(stroke)), created_(created)
{
    file_->fd = fd;
    file_->name = name_;
    file_->end = end;
    file_->points = stroke_.points.size();
    file_->open = stroke_.open;
}

// The hold goes with the entry (an appender writing at that moment keeps it a little longer).
JournalEntry::~JournalEntry() = default;

bool JournalEntry::isOpen() const
{
    return file_->fd >= 0;
}

JournalAppender JournalEntry::Appender() const
{
    JournalAppender a;
    a.file_ = file_;
    return a;
}

std::unique_ptr<JournalEntry> JournalEntry::Create(const QString &folder, const JournalStroke &stroke,
                                                   QString *error)
{
    static std::atomic<quint64> seq{0};
    const qint64 created = nextCreated();
    const QString base = QStringLiteral("%1-%2-%3")
                             .arg(created, 20, 10, QLatin1Char('0'))
                             .arg(qint64(getpid()))
                             .arg(++seq);
    const QString final = path(folder, base + QLatin1String(Suffix));
    JournalStroke s = stroke;
    s.dn = s.stored = 0;
    s.lastN = s.sendingN = 0;
    s.sendingDn = s.sendingCount = 0;
    s.attachment = 0;
    QByteArray record = strokeRecord(s, created);
    if (s.open)
        record += Writer('O').record();

    auto fail = [&](const char *what, int err, int fd, const QString &temp) {
        if (fd >= 0)
            close(fd);
        if (!temp.isEmpty())
            unlink(QFile::encodeName(temp).constData());
        if (error)
            *error = errnoText(what, err) + QStringLiteral(" (") + final + QLatin1Char(')');
        return nullptr;
    };

    QString temp;
    auto openNamedTemporary = [&] {
        temp = path(folder, QLatin1Char('.') + base + QLatin1String(TempSuffix));
        return open(QFile::encodeName(temp).constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    };
    // The lock is taken before a byte is written, so the file is held from the moment it has a
    // name. Returns the step that failed, or null.
    auto holdAndWrite = [&](int fd) -> const char * {
        if (flock(fd, LOCK_EX | LOCK_NB) != 0)
            return "lock";
        if (!writeAll(fd, record, 0))
            return "write";
        if (fsync(fd) != 0)
            return "fsync";
        return nullptr;
    };
    int fd = openUnnamed(folder);
    if (fd < 0 && (fd = openNamedTemporary()) < 0)
        return fail("create", errno, -1, {});
    if (const char *step = holdAndWrite(fd))
        return fail(step, errno, fd, temp);
    if (temp.isEmpty() && !nameUnnamed(fd, final)) {
        // No /proc, for one: the named temporary file then.
        close(fd);
        if ((fd = openNamedTemporary()) < 0)
            return fail("create", errno, -1, {});
        if (const char *step = holdAndWrite(fd))
            return fail(step, errno, fd, temp);
    }
    if (!temp.isEmpty() && rename(QFile::encodeName(temp).constData(), QFile::encodeName(final).constData()) != 0)
        return fail("rename", errno, fd, temp);
    if (!syncFolder(folder)) {
        const int err = errno;
        unlink(QFile::encodeName(final).constData());
        return fail("fsync of the folder", err, fd, {});
    }
    return std::unique_ptr<JournalEntry>(new JournalEntry(fd, folder, final, std::move(s), created, record.size()));
}

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

const JournalStroke &JournalEntry::Stroke() const { return stroke_; }

int JournalEntry::MaxNotePoints() const { return version_ == OldVersion ? 1 : INT_MAX; }

QString JournalEntry::FileName() const { return name_; }

bool JournalEntry::append(const QByteArray &record, bool sync)
{
    std::lock_guard hold(file_->lock);
    return writeRecords(*file_, record, sync, error_);
}

bool JournalEntry::NoteSending(qint64 n, int dn, int count)
{
    if (!isOpen() || count < 1 || count > MaxNotePoints()
        || size_t(stroke_.stored) + size_t(count) > stroke_.points.size())
        return false;
    if (!append(progressRecord(version_, 'B', stroke_.stored, n, dn, count), true))
        return false;
    stroke_.sendingN = n;
    stroke_.sendingDn = dn;
    stroke_.sendingCount = count;
    return true;
}

void JournalEntry::NoteSender(qint64 attachment)
{
    if (!isOpen() || version_ < SenderVersion || attachment < 1 || attachment == stroke_.attachment)
        return;
    // Goes out with the next note, so the two are synced together.
    {
        std::lock_guard hold(file_->lock);
        file_->pending += senderRecord(attachment);
    }
    stroke_.attachment = attachment;
}

bool JournalEntry::NoteStored(qint64 n, int dn, int count)
{
    if (!isOpen() || count < 1 || size_t(stroke_.stored) + size_t(count) > stroke_.points.size())
        return false;
    // Kept in memory whatever the write does: a reader of what is on disk finds the rows.
    QByteArray records;
    for (int i = 0; i < count; i += version_ == OldVersion ? 1 : count)
        records += progressRecord(version_, 'C', stroke_.stored + i, n + i, dn, count);
    const bool ok = append(records, false);
    stroke_.stored += count;
    stroke_.lastN = n + count - 1;
    stroke_.dn = dn;
    stroke_.sendingN = 0;
    stroke_.sendingDn = 0;
    stroke_.sendingCount = 0;
    return ok;
}

bool JournalEntry::NoteAppended(const std::vector<QPoint> &points)
{
    if (!isOpen() || !stroke_.open || points.empty())
        return false;
    bool ok;
    {
        std::lock_guard hold(file_->lock);
        ok = notePoints(*file_, stroke_.points.size(), points, error_);
    }
    // Kept in memory whatever the write does: a failed write is made again with the next note.
    stroke_.points.insert(stroke_.points.end(), points.begin(), points.end());
    return ok;
}

bool JournalEntry::NoteEnded()
{
    if (!isOpen() || !stroke_.open)
        return false;
    stroke_.open = false;
    std::lock_guard hold(file_->lock);
    return noteEnd(*file_, error_);
}

bool JournalEntry::NoteNotSent()
{
    if (!isOpen() || size_t(stroke_.stored) >= stroke_.points.size())
        return false;
    const bool ok = append(progressRecord(version_, 'R', stroke_.stored), false);
    stroke_.sendingN = 0;
    stroke_.sendingDn = 0;
    stroke_.sendingCount = 0;
    return ok;
}

bool JournalEntry::Sync()
{
    if (!isOpen())
        return false;
    return append({}, true);
}

void JournalEntry::remove(bool sync)
{
    std::lock_guard hold(file_->lock);
    if (file_->fd < 0)
        return;
    // Removed while still held, so no claimant takes it between the unlink and the close.
    if (unlink(QFile::encodeName(name_).constData()) != 0 && errno != ENOENT) {
        error_ = errnoText("remove", errno) + QStringLiteral(" (") + name_ + QLatin1Char(')');
        return;
    }
    if (sync && !syncFolder(folder_))
        error_ = errnoText("fsync of the folder", errno) + QStringLiteral(" (") + folder_ + QLatin1Char(')');
    close(file_->fd);
    file_->fd = -1;
}

// A stored stroke whose removal a power cut undoes comes back with its rows found
// where its last note says: no sync needed.
void JournalEntry::Finish() { remove(false); }

// Given up by the user: it must not come back.
void JournalEntry::Discard() { remove(true); }
