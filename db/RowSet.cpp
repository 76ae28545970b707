#include "db/RowSet.h"

#include <cstring>

void RowSet::clear()
{
    row_.clear();
    chunks_.clear();
    chunks_.shrink_to_fit();
    rows_ = 0;
    columns_ = 0;
    rewind();
}

void RowSet::reuse()
{
    row_.clear();
    if (chunks_.size() > 1)
        chunks_.resize(1);
    if (!chunks_.empty())
        chunks_.front().clear();
    rows_ = 0;
    rewind();
}

void RowSet::addInteger(int64_t v)
{
    if (v >= INT32_MIN && v <= INT32_MAX) {
        row_.push_back(Int32);
        addRaw(static_cast<int32_t>(v));
    } else {
        row_.push_back(Int64);
        addRaw(v);
    }
}

void RowSet::addScaled(int64_t v, int scale)
{
    if (scale == 0) {
        addInteger(v);
        return;
    }
    row_.push_back(Scaled);
    addRaw(v);
    row_.push_back(static_cast<char>(scale));
}

void RowSet::addBytes(Tag tag, const char *bytes, size_t length)
{
    row_.push_back(static_cast<char>(tag));
    addRaw(static_cast<uint32_t>(length));
    row_.insert(row_.end(), bytes, bytes + length);
}

void RowSet::endRow()
{
    // A row never spans two chunks, so that reading it is one pointer walk.
    const size_t size = row_.size();
    if (chunks_.empty() || chunks_.back().capacity() - chunks_.back().size() < size) {
        chunks_.emplace_back();
        chunks_.back().reserve(size > ChunkSize ? size : ChunkSize);
    }
    chunks_.back().insert(chunks_.back().end(), row_.begin(), row_.end());
    row_.clear();
    ++rows_;
}

void RowSet::rewind()
{
    readChunk_ = 0;
    readPos_ = 0;
}

static QString scaledText(int64_t v, int scale)
{
    // scale < 0: digits after the decimal point, as NUMERIC(p, -scale) shows them
    QString digits = QString::number(v < 0 ? -(v + 1) + 1ull : static_cast<uint64_t>(v));
    const int decimals = -scale;
    if (decimals <= 0) {
        digits += QString(scale, QLatin1Char('0'));
    } else {
        if (digits.size() <= decimals)
            digits = QString(decimals - digits.size() + 1, QLatin1Char('0')) + digits;
        digits.insert(digits.size() - decimals, QLatin1Char('.'));
    }
    return v < 0 ? QLatin1Char('-') + digits : digits;
}

// Writes v in decimal into s, reusing its storage when it holds it alone: the
// callers read the same buffer row after row, so most rows allocate nothing.
static void setNumber(QString &s, int64_t v)
{
    char16_t digits[24];
    int pos = 24;
    uint64_t u = v < 0 ? 0ull - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        digits[--pos] = static_cast<char16_t>(u'0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0)
        digits[--pos] = u'-';
    const int len = 24 - pos;
    if (s.isDetached() && s.capacity() >= len) {
        s.resize(len);
        // QChar is one UTF-16 code unit, as char16_t.
        std::memcpy(static_cast<void *>(s.data()), digits + pos, len * sizeof(char16_t));
    } else {
        s = QString(reinterpret_cast<const QChar *>(digits + pos), len);
    }
}

bool RowSet::readRow(QStringList &buffer)
{
    while (readChunk_ < chunks_.size() && readPos_ >= chunks_[readChunk_].size()) {
        ++readChunk_;
        readPos_ = 0;
    }
    if (readChunk_ >= chunks_.size())
        return false;
    if (buffer.size() < columns_)
        buffer.resize(columns_);
    const char *p = chunks_[readChunk_].data() + readPos_;
    for (int c = 0; c < columns_; ++c) {
        const uint8_t tag = static_cast<uint8_t>(*p++);
        switch (tag) {
        case Null:
            buffer[c] = QString();
            break;
        case Int32: {
            int32_t v;
            std::memcpy(&v, p, 4);
            p += 4;
            setNumber(buffer[c], v);
            break;
        }
        case Int64: {
            int64_t v;
            std::memcpy(&v, p, 8);
            p += 8;
            setNumber(buffer[c], v);
            break;
        }
        case Scaled: {
            int64_t v;
            std::memcpy(&v, p, 8);
            p += 8;
            const int scale = static_cast<int8_t>(*p++);
            buffer[c] = scaledText(v, scale);
            break;
        }
        case Text:
        case Formatted: {
            uint32_t len;
            std::memcpy(&len, p, 4);
            p += 4;
            buffer[c] = tag == Text ? decode_(p, len) : QString::fromLatin1(p, len);
            p += len;
            break;
        }
        default:
            buffer[c] = QString();
            break;
        }
    }
    readPos_ = static_cast<size_t>(p - chunks_[readChunk_].data());
    return true;
}

size_t RowSet::bytes() const
{
    size_t total = 0;
    for (const auto &c : chunks_)
        total += c.capacity();
    return total;
}
