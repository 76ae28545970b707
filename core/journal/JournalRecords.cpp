#include "core/journal/JournalRecords.h"

#include <cstring>

namespace JournalRecords {
namespace {

class Reader {
public:
    Reader(const char *p, qsizetype n) : p_(p), end_(p + n) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return p_ == end_; }
    quint16 u16() { return get<quint16>(); }
    quint32 u32() { return get<quint32>(); }
    qint32 i32() { return get<qint32>(); }
    qint64 i64() { return get<qint64>(); }
    bool magic()
    {
        if (!need(4) || memcmp(p_, Magic, 4) != 0)
            return ok_ = false;
        p_ += 4;
        return true;
    }
    QString text()
    {
        const quint32 n = u32();
        if (!need(n))
            return {};
        const QString s = QString::fromUtf8(p_, n);
        p_ += n;
        return s;
    }
    bool need(quint64 n)
    {
        if (!ok_ || quint64(end_ - p_) < n)
            ok_ = false;
        return ok_;
    }

private:
    template <typename T> T get()
    {
        if (!need(sizeof(T)))
            return 0;
        T v;
        memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return qFromLittleEndian(v);
    }
    const char *p_;
    const char *end_;
    bool ok_ = true;
};

// Applies one progress record; false when it does not follow from the state so far.
bool applyProgress(char type, Reader &r, JournalStroke &s, quint16 version)
{
    if (type == 'A') {
        const qint64 id = r.i64();
        if (version < SenderVersion || !r.ok() || !r.atEnd() || id < 1)
            return false;
        s.attachment = id;
        return true;
    }
    const quint32 index = r.u32();
    const qint64 n = type == 'R' ? 0 : r.i64();
    const int dn = type == 'R' ? 0 : r.i32();
    const quint32 count = type == 'R' || version == OldVersion ? 1 : r.u32();
    if (!r.ok() || !r.atEnd() || index != quint32(s.stored) || index >= s.points.size() || count < 1
        || count > s.points.size() - index || (type != 'R' && n < 1))
        return false;
    switch (type) {
    case 'B':
        s.sendingN = n;
        s.sendingDn = dn;
        s.sendingCount = int(count);
        return true;
    case 'C':
        s.stored += int(count);
        s.lastN = n + count - 1;
        s.dn = dn;
        s.sendingN = 0;
        s.sendingDn = 0;
        s.sendingCount = 0;
        return true;
    case 'R':
        // Only an answered statement is refused: an unanswered one stays unresolved.
        s.sendingN = 0;
        s.sendingDn = 0;
        s.sendingCount = 0;
        return true;
    }
    return false;
}

// Applies one record of a stroke sent while it is drawn; false when it does not follow.
bool applyLive(char type, Reader &r, JournalStroke &s)
{
    switch (type) {
    case 'O':
        // Only right after the stroke record.
        if (!r.atEnd() || s.open || s.stored > 0 || s.sendingN > 0)
            return false;
        s.open = true;
        return true;
    case 'P': {
        const quint32 index = r.u32();
        const quint32 count = r.u32();
        if (!s.open || !r.ok() || index != s.points.size() || count < 1 || !r.need(quint64(count) * 8))
            return false;
        std::vector<QPoint> more;
        more.reserve(count);
        for (quint32 i = 0; i < count; ++i) {
            const int x = r.i32();
            more.emplace_back(x, r.i32());
        }
        if (!r.ok() || !r.atEnd())
            return false;
        s.points.insert(s.points.end(), more.begin(), more.end());
        return true;
    }
    case 'E':
        if (!s.open || !r.atEnd())
            return false;
        s.open = false;
        return true;
    }
    return false;
}

} // namespace

QByteArray strokeRecord(const JournalStroke &s, qint64 created)
{
    Writer w('S');
    w.raw(Magic, 4);
    w.u16(Version);
    w.i64(created);
    w.text(s.database);
    w.i32(s.imageNo);
    w.i32(s.user);
    w.i32(s.penType);
    w.i32(s.penSize);
    w.i32(s.penColor);
    w.u32(quint32(s.points.size()));
    for (const QPoint &p : s.points) {
        w.i32(p.x());
        w.i32(p.y());
    }
    w.i64(s.anchorN);
    w.text(s.anchorRow);
    return w.record();
}

QByteArray progressRecord(quint16 version, char type, int index, qint64 n, int dn, int count)
{
    Writer w(type);
    w.u32(quint32(index));
    if (type != 'R') {
        w.i64(n);
        w.i32(dn);
        if (version != OldVersion)
            w.u32(quint32(count));
    }
    return w.record();
}

QByteArray senderRecord(qint64 attachment)
{
    Writer w('A');
    w.i64(attachment);
    return w.record();
}

QByteArray appendedRecord(quint32 index, const std::vector<QPoint> &points)
{
    Writer w('P');
    w.u32(index);
    w.u32(quint32(points.size()));
    for (const QPoint &p : points) {
        w.i32(p.x());
        w.i32(p.y());
    }
    return w.record();
}

Parsed parse(const QByteArray &bytes)
{
    Parsed out;
    qint64 at = 0;
    bool first = true;
    quint16 version = 0;
    while (true) {
        if (bytes.size() - at < 8) {
            if (first)
                out.why = QStringLiteral("the stroke record is cut short");
            break;
        }
        quint32 head[2];
        memcpy(head, bytes.constData() + at, sizeof head);
        const quint32 len = qFromLittleEndian(head[0]);
        if (len < 1 || len > MaxRecord || quint64(bytes.size() - at - 8) < len) {
            if (first)
                out.why = QStringLiteral("the stroke record is cut short or its length is damaged");
            break;
        }
        const QByteArray body = bytes.mid(at + 8, len);
        if (Writer::crc(body) != qFromLittleEndian(head[1])) {
            if (first)
                out.why = QStringLiteral("the stroke record fails its checksum");
            break;
        }
        const char type = body[0];
        Reader r(body.constData() + 1, body.size() - 1);
        if (first) {
            JournalStroke &s = out.stroke;
            if (type != 'S' || !r.magic()) {
                out.why = QStringLiteral("not a stroke journal entry");
                break;
            }
            version = out.version = r.u16();
            if (version < OldVersion || version > Version) {
                out.why = QStringLiteral("format version %1 is unknown here").arg(version);
                break;
            }
            out.created = r.i64();
            s.database = r.text();
            s.imageNo = r.i32();
            s.user = r.i32();
            s.penType = r.i32();
            s.penSize = r.i32();
            s.penColor = r.i32();
            const quint32 count = r.u32();
            if (r.need(quint64(count) * 8)) {
                s.points.reserve(count);
                for (quint32 i = 0; i < count; ++i) {
                    const int x = r.i32();
                    s.points.emplace_back(x, r.i32());
                }
            }
            if (version != OldVersion) {
                s.anchorN = r.i64();
                s.anchorRow = r.text();
            }
            if (!r.ok() || !r.atEnd()) {
                out.why = QStringLiteral("the stroke record does not add up");
                out.stroke = {};
                break;
            }
            first = false;
        } else if (type == 'O' || type == 'P' || type == 'E') {
            if (version < Version || !applyLive(type, r, out.stroke))
                break;
        } else if (!applyProgress(type, r, out.stroke, version)) {
            break;
        }
        at += 8 + len;
        out.end = at;
    }
    return out;
}

} // namespace JournalRecords
