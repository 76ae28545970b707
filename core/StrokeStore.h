#pragma once
// The database side of a painting window: replay of a picture's stroke table,
// the periodic drawing of rows stored elsewhere, and the storing of strokes one
// committed row per point. No widgets, no threads of its own: the painting windows
// run it on the database worker, the headless writer on its only thread.

#include "core/StrokeJournal.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

class DataAccess;

struct PenTip {
    int type = 0;
    int size = 1;
    int color = 0;
};

// One row of a stroke table as drawn; n = 0 for a point drawn here and not yet stored.
struct StrokeRow {
    qint64 n = 0;
    int mn = 0, dn = 0, type = 0, size = 1, color = 0, x = 0, y = 0;
};

class StrokeStore {
public:
    // Why the last store stopped with points left.
    enum class Failure { None, ConnectionLost, Locked, Refused, TableGone };

    // Draws into `image` (the headless writer, benchmarks).
    StrokeStore(DataAccess &db, QImage &image);
    // Hands every row to draw to `draw`, and `clear` before a picture is drawn again
    // from scratch (the painting windows, whose bitmap lives on another thread).
    StrokeStore(DataAccess &db, std::function<void(const StrokeRow &)> draw,
                std::function<void()> clear);

    void SetTable(const QString &tableName) { table_ = tableName; }
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
    };
    void Add(Stroke stroke);
    // Stores the strokes added so far, in order. Stops at the first failure that is not
    // a clash and keeps what is left for the next call. True when nothing is left.
    bool StorePending();
    // The user gave the waiting strokes up: they leave the journal too.
    void DiscardPending();
    // Add and StorePending in one.
    bool Store(int user, const PenTip &pen, const std::vector<QPoint> &points);

    int ReadCount() const { return readCount_; }
    int PendingPoints() const;
    int PendingStrokes() const { return static_cast<int>(pending_.size()); }
    int LastClashes() const { return lastClashes_; }
    Failure LastFailure() const { return lastFailure_; }
    QString LastFailureText() const { return lastFailureText_; }
    // Every row with N up to this has been drawn (own stored points included).
    qint64 DrawnUpTo() const { return drawnUpTo_; }

    // Called with the tag of each stroke once its last point is committed.
    std::function<void(quint64 tag)> onStored;
    // Called right before each insert with the number about to be used (tests
    // use it to let another writer in at exactly that moment).
    std::function<void(int n)> beforeInsert;
    // Called after the catching-up of a store, before any number is chosen.
    std::function<void()> afterCatchUp;

private:
    struct PendingStroke {
        quint64 tag = 0;
        int user = 0;
        int dn = 0;
        PenTip pen;
        std::deque<QPoint> points;
        bool numbered = false; // a row of it is stored: dn is final
        std::unique_ptr<JournalEntry> journal;
        // An insert of the first point whose answer was lost with the connection:
        // the row may be there (n > 0), with this content (MN..Y).
        qint64 sendingN = 0;
        int sendingDn = 0;
        QString sendingContent;
    };

    void load(bool createMissing);
    // A fetched row: an own point whose answer was lost, or one to draw.
    void takeRow(const QStringList &row);
    void drawRow(const StrokeRow &row);
    // SELECT * ... WHERE N>=DrawnUpTo ORDER BY N, drawing what is new.
    int catchUp();
    // The row at the watermark is gone: the table is not the one drawn.
    bool watermarkRowGone();
    // Clears the picture and draws the table as it stands, with the unstored points over it.
    void redraw(bool asOpening);
    void backOff(int clashesInRow);
    void pointStored(PendingStroke &stroke, qint64 n, int dn);
    void clearSending(PendingStroke &stroke);
    // False when storing has to stop (the failure was no clash with a stored row).
    bool storeStroke(PendingStroke &stroke, int &clashes);
    void fail(Failure why);

    DataAccess &db_;
    std::function<void(const StrokeRow &)> draw_;
    std::function<void()> clear_;
    QString table_;
    QStringList buffer_;

    int readCount_ = 0;
    int lastClashes_ = 0;
    Failure lastFailure_ = Failure::None;
    QString lastFailureText_;
    // What is drawn: every row up to the watermark, and the content of the row at it
    // (to tell a re-created table from the one drawn; empty when not known).
    qint64 drawnUpTo_ = 0;
    QString watermarkRow_;
    std::unordered_map<int, int> highestDn_; // MN -> highest DN drawn or given
    // What waits: the strokes not yet wholly stored, in order.
    std::deque<PendingStroke> pending_;
    int sending_ = 0; // strokes with a sendingN
    std::minstd_rand random_{std::random_device{}()};
    bool redrawn_ = false;
    // Opened without a readable database: the opening is done again once there is one.
    bool openingPending_ = false;
};
