// A stroke's journal entry: made durable before it is used, noted as its points are drawn
// and sent, removed once stored or given up.

#include "core/journal/StrokeJournal.h"

#include "core/journal/JournalFiles.h"
#include "core/journal/JournalRecords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace JournalFiles;
using namespace JournalRecords;

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

namespace {
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
