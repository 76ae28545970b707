#pragma once
// The local copy of opened pictures' rows, one file per picture in $XDG_CACHE_HOME/oekaki
// (by default ~/.cache/oekaki), keyed by server, database file and table. Whether the table
// still holds the rows copied is for the caller to prove against the server before it
// trusts the copy: the copy keeps what that takes (the database's identity, the table's
// relation id, the sum of its rows' record versions).
//
// A file: magic, version, the key, the table's relation id, the database's identity, the
// sum of the record versions, the last N, the row count, the columns (and the rows' NULL flags) one
// after another each as differences from the row before, zlib-compressed, and a CRC-32 of
// all of it. It is replaced whole (written beside, synced, renamed), so it is
// never seen half written; one that cannot be read whole and right is removed, never used.
// The folder is kept under CapBytes, the least recently opened copies going first.
//
// Threads: every function may be called from any thread; a copy is written by one thread
// at a time (the last write of a picture wins, whole).

#include "core/StrokeRow.h"

#include <QString>
#include <atomic>
#include <memory>
#include <vector>

class PictureCache {
public:
    struct Copy {
        int relationId = 0;
        QString database;  // the database's identity (its creation time)
        qint64 versions = 0; // the sum of the rows' record versions when they were read
        qint64 lastN = 0;    // the N of its last row
        quint64 count = 0;   // its rows
        std::vector<StrokeRow> rows; // in N order, each N once; empty: no usable copy
    };

    // The key of a table of a database, as the program names it ("server:file").
    static QString KeyOf(const QString &database, const QString &table);
    static QString Folder();
    static QString FileOf(const QString &key);

    // The copy under `key`, marked as opened now; empty when there is none. A damaged copy,
    // or one of another key, is removed.
    static Copy Read(const QString &key);
    // What the copy under `key` says of itself, without its rows (count 0: none), read from
    // the start of the file alone: nothing of it is trusted before Read has read it whole.
    static Copy ReadHeader(const QString &key);
    // Replaces the copy under `key`, then keeps the folder under the cap. False (and why)
    // when it could not be written; an older copy is then left as it was.
    static bool Write(const QString &key, const Copy &copy, QString *why = nullptr);
    // The same on a thread of its own: the caller goes on at once.
    static void WriteLater(const QString &key, std::shared_ptr<const Copy> copy);
    static void Remove(const QString &key);
    // Removes the least recently opened copies until the folder holds at most CapBytes,
    // never `keep`'s.
    static void KeepUnderCap(const QString &keep = QString());

    // Copies being written by WriteLater now (tests and benchmarks wait for none).
    static int WritesInFlight();
    static bool WaitForWrites(int ms);

    static std::atomic<qint64> CapBytes;
    // Whether the painting windows' openings use copies (benchmarks compare without).
    static std::atomic<bool> Enabled;
};
