#pragma once
// A fetched result kept compactly: each value as a tag byte and its raw bytes,
// rows one after another in large chunks. A million stroke rows take ~40 MB.

#include "db/Cp932.h"

#include <QStringList>
#include <cstdint>
#include <vector>

class RowSet {
public:
    void clear();
    // Empties it for the next rows but keeps its memory (a streamed result, row by row).
    void reuse();
    void setColumns(int columns) { columns_ = columns; }
    int columns() const { return columns_; }
    int64_t rows() const { return rows_; }

    // Writing a row: its values in column order, then endRow.
    void addNull() { row_.push_back(Null); }
    void addInteger(int64_t v);
    // A NUMERIC or DECIMAL value: v times ten to the power of scale.
    void addScaled(int64_t v, int scale);
    // Text as stored (CP932 bytes).
    void addText(const char *bytes, size_t length) { addBytes(Text, bytes, length); }
    // A value the fetch has already formatted (ASCII).
    void addFormatted(const QByteArray &ascii) { addBytes(Formatted, ascii.constData(), size_t(ascii.size())); }
    void endRow();

    // Sequential reading: rewind, then one row per readRow.
    void rewind();
    // Writes the next row's values into entries 0..columns-1 as text; false past the end.
    bool readRow(QStringList &buffer);

    size_t bytes() const;

private:
    enum Tag : uint8_t { Null = 0, Int32 = 1, Int64 = 2, Text = 3, Formatted = 4, Scaled = 5 };
    void addBytes(Tag tag, const char *bytes, size_t length);
    template <class T> void addRaw(const T &v)
    {
        const char *p = reinterpret_cast<const char *>(&v);
        row_.insert(row_.end(), p, p + sizeof v);
    }

    static constexpr size_t ChunkSize = size_t(4) << 20;
    std::vector<std::vector<char>> chunks_;
    int columns_ = 0;
    int64_t rows_ = 0;
    size_t readChunk_ = 0;
    size_t readPos_ = 0;
    cp932::Decoder decode_;
    std::vector<char> row_;
};
