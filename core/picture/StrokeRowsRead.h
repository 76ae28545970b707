#pragma once
// A stroke table's rows in N order, read four to a fetched row. Through a slow line a
// large read is bound by round trips, and the client fetches about a thousand rows a round
// trip however wide they are: a row holding four consecutive N (the table joined to itself
// on N + 1, + 2, + 3, an index look-up each) brings four times the points per round trip.
//
// A missing N also hides the rows joined to it, so wherever the N handed over skip one,
// that gap is read again row by row before the read goes on past it; after a few such
// gaps the rest is read row by row.

#include "db/Tables.h"

#include <QString>
#include <functional>

class DataAccess;

// What a stroke row is read with: its columns (ImageTable order), then its record version
// (RDB$RECORD_VERSION: the transaction that wrote it, which any change of the row renews).
constexpr int RowVersionColumn = ImageTable::ColumnCount;
// The select list of a stroke table `alias`'s rows as StrokeRowsEach takes them.
QString StrokeRowColumns(const QString &alias);

// One row's columns and record version (as above) and their NULL flags; false ends the read.
using StrokeRowsEach = std::function<bool(const qint64 *values, const bool *nulls)>;

// Hands the rows of `table` with lo <= N <= hi to `each`, in N order, each once. False
// when a read on `db` failed: what was handed over is then a gapless start.
bool ReadStrokeRows(DataAccess &db, const QString &table, qint64 lo, qint64 hi, const StrokeRowsEach &each);
