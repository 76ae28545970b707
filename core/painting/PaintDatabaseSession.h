#pragma once
// What the files of PaintDatabaseSide share: a window's (or the journal's) session on the
// database's thread, and the counting of work begun there.

#include "core/painting/PaintDatabaseSide.h"
#include "core/picture/OpeningStop.h"

#include <QElapsedTimer>
#include <QVector>
#include <atomic>
#include <memory>
#include <set>

// Milliseconds between tries of a lost database, and before an opening that could read
// nothing is tried again.
constexpr int ReconnectMs = 2500;

// Ends a piece of counted work when it goes out of scope.
struct Counted {
    std::atomic<int> &busy;
    ~Counted() { --busy; }
};

struct PaintDatabaseSide::Session {
    int id = 0;
    QString table;
    int imageNo = 0;
    bool window = true;     // a window shows it; false: strokes only, drawn nowhere
    bool opened = false;    // its picture was drawn (or its table found, for the journal's)
    std::unique_ptr<StrokeStore> store;
    QVector<StrokeRow> batch;
    QElapsedTimer sinceFlush;
    int loadedRows = 0;
    bool loading = false;
    qint64 retryAtMs = 0;   // after a refusal or a lock
    int refusals = 0;
    bool lostShown = false;
    bool told = false;      // the user was told that its picture is gone
    int added = 0;          // points the window handed over so far
    int recovered = 0;      // points a run before left in the journal, stored by this one
    int locks = 0;          // stores in a row that met a lock, or could not note in the journal
    bool serveQueued = false;   // a store or an event's refresh waits to run: more fold into it
    int ownPosts = 0;           // its blocks' posts of its table's event, not yet delivered
    qint64 blockAtMs = -1000000; // when a held stroke's last block went
    bool floorWait = false;     // a serve waits for the block floor to pass
    std::set<quint64> toAnswer; // the open strokes whose blocks it takes
    // Its opening elsewhere (PaintOpening): under way, which one (older ones' answers are
    // dropped), and what ends it (the window's, until it closes).
    // An event told of its rows since the last refresh; a refresh found rows none told of
    // (until an event comes, or the events are asked for again).
    bool announced = false;
    bool unannounced = false;
    bool openingRunning = false;
    quint64 openingSerial = 0;
    std::shared_ptr<OpeningStop> stop;
};
