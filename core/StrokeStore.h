#pragma once
// The database side of a painting window: replay of a picture's stroke table,
// the periodic drawing of rows stored elsewhere, and the storing of strokes one
// committed row per point. No widgets: it draws into the window's bitmap.

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <random>
#include <set>
#include <unordered_map>
#include <vector>

class DataAccess;

struct PenTip {
    int type = 0;
    int size = 1;
    int color = 0;
};

class StrokeStore {
public:
    StrokeStore(DataAccess &db, QImage &image);

    void SetTable(const QString &tableName) { table_ = tableName; }
    QString Table() const { return table_; }

    // Draws every stored row in N order, or creates the missing table.
    void Load() { load(true); }
    // Draws the rows above the watermark that this window has not drawn yet;
    // one indexed query when there is nothing new. Returns the rows drawn.
    // A table that no longer holds the rows drawn (dropped, re-created, another
    // database) is drawn again from scratch as it stands now.
    int Refresh();
    // True once after the picture was drawn again from scratch.
    bool TakeRedrawn()
    {
        const bool r = redrawn_;
        redrawn_ = false;
        return r;
    }
    // Stores the points still pending from earlier strokes, then this stroke, as
    // author `user`. Stops at the first failure that is not a clash and keeps what
    // is left for the next call. True when nothing is left pending.
    bool Store(int user, const PenTip &pen, const std::vector<QPoint> &points);

    // Rows of the table drawn in this window, own stored points included.
    int ReadCount() const { return readCount_; }
    int PendingPoints() const;
    int LastClashes() const { return lastClashes_; }
    // Every row with N up to this has been drawn.
    qint64 DrawnUpTo() const { return drawnUpTo_; }

    // Called right before each insert with the number about to be used (tests
    // use it to let another writer in at exactly that moment).
    std::function<void(int n)> beforeInsert;
    // Called after the catching-up of a store, before any number is chosen.
    std::function<void()> afterCatchUp;

private:
    struct PendingStroke {
        int user = 0;
        int dn = 0;
        PenTip pen;
        std::deque<QPoint> points;
        bool numbered = false; // a row of it is stored: dn is final
    };

    void load(bool createMissing);
    // Draws one fetched row unless this window drew that number already.
    void drawRow(const QStringList &row);
    void noteRow(qint64 n, int mn, int dn);
    // SELECT * ... WHERE N>DrawnUpTo ORDER BY N, drawing what is new.
    int catchUp();
    void advanceWatermark();
    // The row at the watermark is gone: the table is not the one drawn.
    bool watermarkRowGone();
    // Clears the picture and draws the table as it stands, with the unstored points over it.
    void redraw(bool asOpening);
    void backOff(int clashesInRow);
    // False when storing has to stop (the failure was no clash with a stored row).
    bool storeStroke(PendingStroke &stroke, int &clashes);

    DataAccess &db_;
    QImage &image_;
    QString table_;
    QStringList buffer_;

    int readCount_ = 0;
    int lastClashes_ = 0;
    qint64 drawnUpTo_ = 0;
    qint64 highestSeen_ = 0;
    std::set<qint64> drawnAbove_; // numbers above drawnUpTo_ already drawn
    std::unordered_map<int, int> highestDn_; // MN -> highest DN seen or given
    std::deque<PendingStroke> pending_;
    std::minstd_rand random_{std::random_device{}()};
    // The row at drawnUpTo_ as drawn (MN..Y), to tell a re-created table from the
    // one drawn; empty when not known.
    QString watermarkRow_;
    qint64 lastOwnN_ = 0;
    QString lastOwnRow_;
    bool redrawn_ = false;
    // Opened without a readable database: the opening is done again once there is one.
    bool openingPending_ = false;
};
