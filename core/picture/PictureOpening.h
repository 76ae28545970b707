#pragma once
// The opening of a picture: its stroke table's rows in N order, each N once, handed to
// `draw` as they come. From the local copy (core/picture/PictureCache) once the server has
// proven it, the rest from the server, a large table's also on extra readers
// (core/picture/RangeReaders); a new copy is left behind.
//
// The proof of a copy is one statement: the number of the table's rows up to the copy's
// last N and the sum of their record versions (RDB$RECORD_VERSION, the transaction that
// wrote the row: any row deleted, changed or inserted below the copy's end changes one or
// the other), the table's relation id and the database's identity (its creation time: a
// database made again at the same path does not pass), each compared with the copy's.
//
// Threads: runs on the caller's thread and attachment, which it uses alone until it
// returns; its OpeningStop ends it (and its readers) from any thread.

#include "core/StrokeRow.h"

#include <QString>
#include <functional>
#include <memory>
#include <unordered_map>

class DataAccess;
class OpeningStop;

class PictureOpening {
public:
    // What the opening took from where (tests and benchmarks).
    struct Stats {
        int fromCopy = 0;      // rows drawn from the local copy
        int fromServer = 0;    // rows read from the server
        qint64 fromExtras = 0; // of those, rows the extra readers brought
        bool copyRefused = false; // a copy was there and the server's table is not its table
    };
    struct Options {
        QString table;
        bool createMissing = false; // a missing table is made (empty)
        bool cached = false;        // the local copy is used and left
        std::shared_ptr<OpeningStop> stop;
    };
    struct Result {
        // Unknown: the table list could not be read (no connection); Made: it was missing
        // and is made now (empty).
        enum class Table { Unknown, There, Made, Missing } table = Table::Unknown;
        bool complete = false; // every row read; else what was drawn is a gapless start
        int rows = 0;
        qint64 lastN = 0;      // every row up to it is drawn
        StrokeRow last;        // the row at lastN, with its NULLs (when rows > 0)
        std::unordered_map<int, int> highestDn; // MN -> the highest DN drawn
        Stats stats;
    };

    static Result Run(DataAccess &db, const Options &options, const std::function<void(const StrokeRow &)> &draw);
};
