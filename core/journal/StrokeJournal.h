#pragma once
// A local journal of strokes not yet stored, so that no exit, signal, crash or power cut loses one.
// Format: our own append-only file per stroke, records with a length and a CRC-32 (zlib), because a
// torn tail then costs only the last record, and no SQL driver joins the program's dependencies.
//
// One file per stroke, "<created ns, 20 digits>-<pid>-<seq>.stroke", made of records:
//   u32 length of (type + payload) | u32 CRC-32 of (type + payload) | u8 type | payload
// Integers little-endian, text UTF-8 (u32 byte count, then the bytes). Reading stops at the first
// record that is short, too long or fails its checksum; what comes after it is ignored.
//   'S' the stroke, always first: "OKJL", u16 version (4), i64 created (ns since 1970), database,
//       i32 imageNo, user, penType, penSize, penColor, u32 point count, then i32 x, i32 y per point,
//       then the picture it was drawn in: i64 anchorN, anchorRow (text). Version 1 has no anchor.
//   'B' about to send points i..i+k-1 as one statement, N from n on, DN dn (written and synced):
//                                u32 i, i64 n, i32 dn, u32 k
//   'C' points i..i+k-1 are committed as N..N+k-1 with DN: u32 i, i64 N, i32 DN, u32 k
//   'R' the send of the points from i was answered with a refusal: nothing of it is stored: u32 i
//   'A' the sends noted from here on go out on this attachment of the server, written before
//       their 'B' and synced with it: i64 id (CURRENT_CONNECTION), then its start
//       (MON$TIMESTAMP) and its database's creation time (MON$CREATION_DATE) as text
//       (DataAccess::AttachmentIdentity), since numbers start again with a database
//   'O' right after 'S': the stroke is still being drawn, more points may follow (no payload)
//   'P' points drawn since, appended to an open stroke (synced): u32 index of the first (the
//       point count so far), u32 k, then i32 x, i32 y per point
//   'E' the open stroke is ended: no more points (no payload). An entry read back without its
//       end holds what was handed over of the stroke, and is stored as it stands.
// Version 1 entries have no k in 'B' and 'C' (one point each); versions 1 and 2 have no
// 'A', 'O', 'P' or 'E'; version 3's 'A' holds the id alone.
// Each file is held with flock(LOCK_EX) by the process that created or claimed it.

#include <QPoint>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <vector>

struct JournalStroke {
    QString database;          // the database path it was drawn in (server + folder + file)
    int imageNo = 0;           // the picture's number (its stroke table IMG_<n>)
    int user = 0;              // the author's member number
    int penType = 0, penSize = 1, penColor = 0;
    std::vector<QPoint> points;
    // The picture it was drawn in: the N and the content "MN,DN,PTYP,PSIZ,PCOL,X,Y" of the
    // highest row the window had drawn (0 and empty for an empty picture, and in entries
    // of version 1). A table whose row anchorN is not this is another picture.
    qint64 anchorN = 0;
    QString anchorRow;
    // Progress, as read back (and as kept up to date by the Note calls):
    int dn = 0;                // the stroke number once its first point is stored; 0 before
    int stored = 0;            // how many points, from the front, are committed
    qint64 lastN = 0;          // N of the last committed point (0 when none)
    qint64 sendingN = 0;       // a statement was sent for the points from `stored` with N from this on,
    int sendingDn = 0;         //   DN from this on (exactly this once dn is set),
    int sendingCount = 0;      //   this many points, and no answer was noted: it may or may not be
                               //   committed (sendingN 0 = none)
    qint64 attachment = 0;     // the server's attachment that sends (0: not known, entries before version 3):
                               //   an unanswered statement is no longer running once it is gone
    QString attachmentStarted; //   its start, and its database's creation time (empty: not known,
    QString attachmentDatabase; //  entries before version 4)
    bool open = false;         // still being drawn: more points may be appended

    bool operator==(const JournalStroke &) const = default;
};

// The journal's folder: $XDG_STATE_HOME/oekaki, else ~/.local/state/oekaki (made 0700 when missing).
QString StrokeJournalFolder();

// The open file of an entry, shared by the entry and its appender: each write under its lock.
struct JournalFile;

// Notes the points of an open stroke as they are drawn, on the journal thread, before they
// go on to the database's thread: the process may end (a signal) while that thread is busy.
// The entry (with the store) takes them in memory only, by the same call.
class JournalAppender {
public:
    bool NoteAppended(const std::vector<QPoint> &points); // synced
    bool NoteEnded();

private:
    friend class JournalEntry;
    // The entry holds the file: once it lets go (stored, or left for the next run) no note goes.
    std::weak_ptr<JournalFile> file_;
};

// One stroke's entry: one file in the folder, held (flock) by this process for as long as the object lives,
// so no other running copy of the program claims it. Used by one thread at a time (made on the window's
// thread, then handed to the database worker).
class JournalEntry {
public:
    // Writes the entry and makes it durable (file and folder synced) before returning; null, with the
    // reason in *error, when it cannot. Another process never sees it half-written or unheld.
    // The progress fields of `stroke` are not written: a new entry has nothing stored yet.
    // A stroke still being drawn (`open`) gets its further points by NoteAppended.
    static std::unique_ptr<JournalEntry> Create(const QString &folder, const JournalStroke &stroke,
                                                QString *error = nullptr);
    // Entries of `database` (exact path match) that no running process holds, claimed and read back,
    // oldest first (in the order they were created). Damaged entries are never deleted: left for a person.
    // A PeekUnheld in another process at the same instant can make an entry be missed; the next claim gets it.
    static std::vector<std::unique_ptr<JournalEntry>> ClaimUnheld(const QString &folder, const QString &database);
    // Every entry no running process holds, any database, read but not claimed (for "N points wait for X"),
    // oldest first.
    static std::vector<JournalStroke> PeekUnheld(const QString &folder);
    ~JournalEntry();           // releases the hold; the file stays unless Finish/Discard ran

    JournalEntry(const JournalEntry &) = delete;
    JournalEntry &operator=(const JournalEntry &) = delete;

    const JournalStroke &Stroke() const;
    // Before a statement with the `count` points from `Stroke().stored` is sent, N from n on and
    // DN from dn on: written and made durable (fdatasync). False when it could not be: the
    // statement must not be sent then (LastError tells why).
    bool NoteSending(qint64 n, int dn, int count = 1);
    // The attachment the next statements go out on, with its start and its database's
    // creation time (written with the next NoteSending, only when it changed). Entries of
    // versions before 3 do not keep it (ignored there), those of version 3 its number alone.
    void NoteSender(qint64 attachment, const QString &started, const QString &database);
    // The statement's points are committed as N=n.. with DN=dn: stored += count, lastN, dn set,
    // sending cleared. Not synced: the sending note it answers already is, and a reader that
    // misses this one finds the rows.
    bool NoteStored(qint64 n, int dn, int count = 1);
    // Points drawn since, appended to an open stroke: written and made durable. False when
    // they could not be written (kept in memory all the same, written with the next note).
    bool NoteAppended(const std::vector<QPoint> &points);
    // The open stroke has all its points.
    bool NoteEnded();
    // Notes for this entry's file from another thread, while the entry lives.
    // Points it noted are taken in memory by NoteAppended/NoteEnded without writing them again.
    JournalAppender Appender() const;
    // The statement was answered with a refusal (nothing of it stored): sending cleared.
    bool NoteNotSent();
    // Makes the notes so far durable (fdatasync).
    bool Sync();
    void Finish();    // the last point is committed: the file is removed
    void Discard();   // the user gave the points up: the file is removed (and the folder synced)
    // The most points one sending note can name: an entry of version 1 notes one point per
    // statement (its notes keep its format).
    int MaxNotePoints() const;
    // Claimed from the journal (left by a run before), not made by Create.
    bool Recovered() const { return recovered_; }
    QString FileName() const;

    // The last failure to write, sync or remove (empty when none). A failed note leaves the file as it
    // was before it and is written again with the next note, so the file never holds a gap.
    QString LastError() const { return error_; }
    // When the entry was created (ns since 1970, rising within a process): the order of ClaimUnheld and
    // PeekUnheld, so across processes it follows the wall clock.
    qint64 Created() const { return created_; }

private:
    JournalEntry(int fd, QString folder, QString name, JournalStroke stroke, qint64 created, qint64 end);
    bool append(const QByteArray &record, bool sync);
    void remove(bool sync);
    bool isOpen() const;

    std::shared_ptr<JournalFile> file_;
    QString folder_;
    QString name_;             // full path
    JournalStroke stroke_;
    qint64 created_ = 0;
    QString error_;
    bool recovered_ = false;
    quint16 version_ = 4;
};
