#pragma once
// A fetched result kept compactly: each value as a tag byte and its raw bytes,
// rows one after another in large chunks. A million stroke rows take ~40 MB.

#include "db/Cp932.h"

#include <QStringList>
#include <cstdint>
#include <vector>

class RowSet {
public:
    enum Tag : uint8_t { Null = 0, Int32 = 1, Int64 = 2, Text = 3, Formatted = 4, Scaled = 5 };

    void clear();
    void setColumns(int columns) { columns_ = columns; }
    int columns() const { return columns_; }
    int64_t rows() const { return rows_; }
    // One row's encoded values, as Statement::appendTo builds them.
    void appendRow(const QByteArray &encoded);

    // Sequential reading: rewind, then one row per readRow.
    void rewind();
    // Writes the next row's values into entries 0..columns-1 as text; false past the end.
    bool readRow(QStringList &buffer);

    size_t bytes() const;

private:
    static constexpr size_t ChunkSize = size_t(4) << 20;
    std::vector<std::vector<char>> chunks_;
    int columns_ = 0;
    int64_t rows_ = 0;
    size_t readChunk_ = 0;
    size_t readPos_ = 0;
    cp932::Decoder decode_;
};
