#pragma once
// The database side of a painting window: replay of a picture's stroke table,
// the drawing of rows stored elsewhere, and the storing of strokes, each as one
// statement that commits all its rows at once (a long stroke as a few). No widgets, no
// threads of its own: the painting windows run it on their database's thread (and its
// openings elsewhere, see SetOpeningElsewhere), the headless writer on its only thread.

#include "core/StrokeRow.h"
#include "core/journal/StrokeJournal.h"
#include "core/picture/PictureOpening.h"
#include "db/DataAccess.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>


class StrokeStore {
public:
    // Why the last store stopped with points left.
    // JournalUnwritable: a stroke's journal note could not be written (full disk, I/O
    // error): nothing of it is sent until one can.
    enum class Failure { None, ConnectionLost, Locked, Refused, TableGone, JournalUnwritable };

    // Draws into `image` (the headless writer, benchmarks).
    StrokeStore(DataAccess &db, QImage &image);
    // Hands every row to draw to `draw`, and `clear` before a picture is drawn again
    // from scratch (the painting windows, whose bitmap lives on another thread).
    StrokeStore(DataAccess &db, std::function<void(const StrokeRow &)> draw,
                std::function<void()> clear);

    void SetTable(const QString &tableName) { table_ = tableName; }
    // The opening draws from the local copy of the picture's rows (core/picture/PictureCache) once
    // the server has confirmed it, reads only the rows above it, and leaves a new copy.
    void SetCached(bool on) { cached_ = on; }
    // What the last opening took from where (tests and benchmarks).
    using Opening = PictureOpening::Stats;
    Opening LastOpening() const { return lastOpening_; }

    // An opening (Load, and a picture drawn again from scratch) is not done here but on
    // another thread and attachment, so that it never holds a store: it is only asked for
    // (OpeningWanted), and until Opened brings its outcome nothing is stored or refreshed.
    void SetOpeningElsewhere(bool on) { openingElsewhere_ = on; }
    // An opening is asked for and not begun; its options (without a stop).
    bool OpeningWanted() const { return openingWanted_; }
    PictureOpening::Options OpeningOptions() const;
    void OpeningBegun() { openingWanted_ = false, openingRunning_ = true; }
    // Asked for or under way.
    bool AwaitsOpening() const { return openingWanted_ || openingRunning_; }
    // The opening done elsewhere has ended (its rows are drawn): the store goes on from it.
    void Opened(const PictureOpening::Result &result);
    QString Table() const { return table_; }

    // Draws every stored row in N order, or creates the missing table when `createMissing`.
    void Load(bool createMissing = true) { load(createMissing); }
    // Draws the rows above the watermark; one indexed query when there is nothing new.
    // A table that no longer holds the rows drawn (dropped, re-created, another
    // database) is drawn again from scratch as it stands now. Returns the rows drawn.
    int Refresh();
    // True once after the picture was drawn again from scratch.
    bool TakeRedrawn()
    {
        const bool r = redrawn_;
        redrawn_ = false;
        return r;
    }

    // A stroke to store, with its journal entry when it has one. A stroke read back
    // from the journal carries its progress: the points stored already are left out.
    struct Stroke {
        quint64 tag = 0; // the caller's name for it, handed back by onStored
        int user = 0;
        PenTip pen;
        std::vector<QPoint> points;
        std::unique_ptr<JournalEntry> journal;
        // Still being drawn: Extend brings its further points, and its end.
        bool open = false;
    };
    void Add(Stroke stroke);
    // Points drawn since, for the open stroke of that tag; `last`: it is ended. Its blocks
    // keep the DN of its first. Nothing happens for a tag not waiting here.
    void Extend(quint64 tag, const std::vector<QPoint> &points, bool last);
    // Stores the strokes added so far, in order (those a run before left first). A stroke
    // whose statement got no answer is first looked for where it went. Stops at the first
    // failure and keeps what is left for the next call. True when nothing is left to store
    // (orphans aside).
    bool StorePending();
    // The user gave the waiting strokes up: they leave the journal too.
    void DiscardPending();
    // The user gave up the orphans he was told of (and only those): they leave the journal too.
    void DiscardOrphans();
    // The user kept them: they stay in the journal for the next run, and no longer count as
    // waiting (nothing here could store them).
    void KeepOrphans();
    // Every waiting stroke becomes an orphan (its picture is gone); returns their points.
    int MarkOrphans();
    // Add and StorePending in one.
    bool Store(int user, const PenTip &pen, const std::vector<QPoint> &points);

    int ReadCount() const { return readCount_; }
    // Orphans included (they wait for the user to give them up), those kept not.
    int PendingPoints() const;
    int PendingStrokes() const { return static_cast<int>(pending_.size()); }
    // Strokes with points to store, or ended and not finished yet (an open stroke stored so
    // far waits for the window, not for a retry).
    int StorableStrokes() const;
    // Every stroke with points to store is still being drawn (none ended waits).
    bool OnlyOpenStrokesWait() const;
    // Points of strokes a run before left that belong to another picture than the table of
    // this number holds now (it was deleted and made again): never stored here.
    int OrphanPoints() const;
    int LastClashes() const { return lastClashes_; }
    // The picture's event posted by the blocks committed since the last call.
    int TakePosts() { return std::exchange(posts_, 0); }
    Failure LastFailure() const { return lastFailure_; }
    QString LastFailureText() const { return lastFailureText_; }
    // Every row with N up to this has been drawn (own stored points included).
    qint64 DrawnUpTo() const { return drawnUpTo_; }

    // Called with each row committed of a stroke with a tag, which `draw` is not given:
    // the window that drew it learns its number.
    std::function<void(const StrokeRow &row)> onOwnRow;
    // Called with the tag of each stroke once its last point is committed, and the rows
    // of it this object committed (not those a run before had committed already).
    std::function<void(quint64 tag, int rows)> onStored;
    // Called when strokes are found to be orphans, with their points.
    std::function<void(int points)> onOrphaned;
    // Called right before each statement is sent (its journal note written) with the first
    // number it tries (tests use it to let another writer in at exactly that moment).
    std::function<void(int n)> beforeInsert;
    // Called when a store has looked for the strokes whose answer was lost, before any
    // statement is sent.
    std::function<void()> afterCatchUp;

    // Where a clash is dealt with: inside the statement, on the server (the default), or by
    // this object catching up and sending the statement again (for comparison).
    void SetClashesOnServer(bool onServer) { clashesOnServer_ = onServer; }

private:
    struct PendingStroke {
        quint64 tag = 0;
        int user = 0;
        int dn = 0;
        PenTip pen;
        std::deque<QPoint> points;
        bool numbered = false; // a row of it is stored: dn is final
        bool open = false;     // more points may come
        std::unique_ptr<JournalEntry> journal;
        bool recovered = false;   // left by a run before: its picture is checked first
        bool anchorChecked = false;
        bool orphan = false;
        bool kept = false;        // an orphan the user kept
        int storedNow = 0;        // rows this object committed
        // A statement whose answer was lost: its points (the first sendingCount) may be
        // stored, from sendingN on, with DN sendingDn (or higher when not numbered).
        qint64 sendingN = 0;
        int sendingDn = 0;
        int sendingCount = 0;
        // The server's attachment that sent it (id 0: not known, an entry of an older journal;
        // no start: a version 3 entry's, a number that may be another's by now): once it is
        // gone, the statement is committed or never will be.
        DataAccess::Identity sendingAttachment;
        // When this object lost its answer (0: a run before did); for a statement whose
        // attachment is not known, which may still be running for a while, waiting for a lock.
        qint64 lostAtMs = 0;
        // N of its last committed row (0: none): a lost statement's rows lie above it.
        qint64 lastStoredN = 0;
    };
    enum class Found { Yes, No, Unknown, NotYet };

    void load(bool createMissing);
    // A fetched row: an own stored point drawn already, or one to draw.
    void takeRow(const QStringList &row);
    void takeRow(const StrokeRow &row);
    // Takes the outcome of an opening (here or elsewhere) as what is drawn.
    void adopt(const PictureOpening::Result &result, bool createMissing);
    // After a redraw: the unstored points over the picture drawn again.
    void drawPendingOver();
    void drawRow(const StrokeRow &row);
    // SELECT * ... WHERE N>=DrawnUpTo ORDER BY N, drawing what is new.
    int catchUp();
    // The row at the watermark is gone: the table is not the one drawn.
    bool watermarkRowGone();
    // Clears the picture and draws the table as it stands, with the unstored points over it.
    void redraw(bool asOpening);
    void backOff(int clashesInRow);
    void committed(PendingStroke &stroke, qint64 firstN, int dn, int count, bool now);
    // Reads where an unanswered statement would have put its rows.
    Found findSent(PendingStroke &stroke);
    // The picture a recovered stroke was drawn in is this table.
    Found samePicture(const PendingStroke &stroke);
    // Checks a recovered stroke's picture once (it becomes an orphan when another's);
    // false when that could not be asked.
    bool checkPicture(PendingStroke &stroke, int &orphaned);
    // False when storing has to stop.
    bool storeStroke(PendingStroke &stroke, int &clashes);
    void fail(Failure why);
    bool readFailed();

    DataAccess &db_;
    std::function<void(const StrokeRow &)> draw_;
    std::function<void()> clear_;
    QString table_;
    QStringList buffer_;

    int readCount_ = 0;
    int lastClashes_ = 0;
    int posts_ = 0;
    Failure lastFailure_ = Failure::None;
    QString lastFailureText_;
    // What is drawn: every row up to the watermark, and the content of the row at it
    // (to tell a re-created table from the one drawn; empty when not known).
    qint64 drawnUpTo_ = 0;
    QString watermarkRow_;
    std::unordered_map<int, int> highestDn_; // MN -> highest DN drawn or given
    // Own rows stored above rows of others not drawn yet: first N -> count. Drawn live
    // already, so the catching-up passes them without drawing them again.
    std::map<qint64, int> ownAbove_;
    // What waits: the strokes not yet wholly stored, in order.
    std::deque<PendingStroke> pending_;
    std::minstd_rand random_{std::random_device{}()};
    bool redrawn_ = false;
    bool clashesOnServer_ = true;
    // Opened without a readable database: the opening is done again once there is one.
    bool openingPending_ = false;
    bool cached_ = false;
    bool openingElsewhere_ = false;
    bool openingWanted_ = false;
    bool openingRunning_ = false;
    bool openingCreates_ = false; // the opening asked for makes a missing table
    bool redrawing_ = false;      // it draws the picture again: the unstored points go over it
    Opening lastOpening_;
};
