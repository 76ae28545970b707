#pragma once
// Requests for the main-db thread about whole tables: whether one is there (made when
// missing, for the program's own tables), and dropping a picture's stroke table.

#include "core/connection/MainDb.h"

enum class TableState {
    Present,
    // Not there, and not made (not asked to, or the CREATE failed).
    Missing,
    // The names could not be read: whether it is there is unknown.
    Unreadable,
};

// The program's own tables, by name.
enum class ProgramTable { Section, Member, ImgList };
QString TableName(ProgramTable table);
// "IMG_<n>", the stroke table of picture n.
QString ImageTableName(qint64 imageNo);

// SECTION, MEMBER or IMGLIST; made with its own CREATE TABLE when `create` and missing.
DbRequest<TableState> EnsureTable(ProgramTable table, bool create);
// The same look-up, at once on the calling thread (tests, with the connection at hand).
TableState TableStateNow(DataAccess &db, const QString &name);

// "IMG_<n>", the stroke table of picture n.
DbRequest<TableState> ImageTableState(int imageNo);
// Looked for again when its answer was lost (see DbRequest).
DbRequest<bool> DropImageTable(int imageNo);

// For a change whose answer was lost: whether the row is there as the statement wrote it
// (each column equal to its value as written, NULL as NULL), whether row N=n is gone, and
// whether a table is gone. Each false also when it could not be read.
bool RowAsWritten(DataAccess &db, const QString &table, const QStringList &columns, const QStringList &values);
bool RowGone(DataAccess &db, const QString &table, int n);
bool TableGone(DataAccess &db, const QString &name);
