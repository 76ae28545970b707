#pragma once
// The journal's record format: each record framed by its length and a CRC-32 (zlib), the
// layouts of the stroke and progress records, and the reading back of a whole entry, which
// stops at the first record that is damaged or does not follow from those before it.

#include "core/journal/StrokeJournal.h"

#include <QByteArray>
#include <QtEndian>
#include <vector>
#include <zlib.h>

namespace JournalRecords {

constexpr char Magic[4] = {'O', 'K', 'J', 'L'};
constexpr quint16 Version = 3;
// The first version that notes the sending attachment.
constexpr quint16 SenderVersion = 3;
// Entries of the run before: one point per statement, no picture anchor.
constexpr quint16 OldVersion = 1;
constexpr quint32 MaxRecord = 64u << 20;   // far above any stroke; a longer length is damage

class Writer {
public:
    explicit Writer(char type) { body_.append(type); }
    void u16(quint16 v) { put(v); }
    void u32(quint32 v) { put(v); }
    void i32(qint32 v) { put(v); }
    void i64(qint64 v) { put(v); }
    void raw(const char *p, int n) { body_.append(p, n); }
    void text(const QString &s)
    {
        const QByteArray b = s.toUtf8();
        u32(quint32(b.size()));
        body_.append(b);
    }
    // The framed record: length, CRC-32, then type and payload.
    QByteArray record() const
    {
        QByteArray out;
        out.reserve(8 + body_.size());
        quint32 head[2] = {qToLittleEndian(quint32(body_.size())), qToLittleEndian(crc(body_))};
        out.append(reinterpret_cast<const char *>(head), sizeof head);
        out.append(body_);
        return out;
    }
    static quint32 crc(const QByteArray &b)
    {
        return quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size())));
    }

private:
    template <typename T> void put(T v)
    {
        const T le = qToLittleEndian(v);
        body_.append(reinterpret_cast<const char *>(&le), sizeof le);
    }
    QByteArray body_;
};

QByteArray strokeRecord(const JournalStroke &s, qint64 created);
QByteArray progressRecord(quint16 version, char type, int index, qint64 n = 0, int dn = 0, int count = 1);
QByteArray senderRecord(qint64 attachment);
QByteArray appendedRecord(quint32 index, const std::vector<QPoint> &points);

struct Parsed {
    JournalStroke stroke;
    qint64 created = 0;
    qint64 end = 0;            // the end of the last good record
    quint16 version = 0;
    QString why;               // why the stroke record is unreadable (empty when it is fine)
};

Parsed parse(const QByteArray &bytes);

} // namespace JournalRecords
