#include "core/painting/StrokeJournalThread.h"

#include <chrono>

void StrokeJournalThread::Write(int session, quint64 tag, const JournalStroke &stroke,
                                std::function<PaintRequest(std::unique_ptr<JournalEntry>)> then)
{
    Settle();
    QString why;
    auto entry = JournalEntry::Create(StrokeJournalFolder(), stroke, &why);
    if (!entry && why.isEmpty())
        why = QStringLiteral("unknown error");
    const qint64 synced = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    if (entry && stroke.open)
        appenders_[{session, tag}] = entry->Appender();
    emit Written(session, tag, entry ? QString() : why, synced);
    // Without an entry it is stored all the same; only a crash before then loses it.
    emit Forward(stroke.database, then(std::move(entry)));
}

void StrokeJournalThread::Peek()
{
    Settle();
    QMap<QString, int> points;
    for (const JournalStroke &j : JournalEntry::PeekUnheld(StrokeJournalFolder()))
        points[j.database] += static_cast<int>(j.points.size()) - j.stored;
    emit Peeked(points);
}

void StrokeJournalThread::Append(int session, quint64 tag, const std::vector<QPoint> &points, bool last,
                                 const QString &database, const PaintRequest &then)
{
    slices_.push_back({session, tag, points, last, database, then});
    // Behind whatever else was queued meanwhile: slices queued behind this one join it.
    if (!std::exchange(settleQueued_, true))
        QMetaObject::invokeMethod(this, [this] {
            settleQueued_ = false;
            Settle();
        }, Qt::QueuedConnection);
}

void StrokeJournalThread::Settle()
{
    if (slices_.empty())
        return;
    const std::vector<Slice> slices = std::exchange(slices_, {});
    // One note (one write, one sync) per stroke, with the points of all its slices.
    std::map<std::pair<int, quint64>, std::pair<std::vector<QPoint>, bool>> strokes;
    for (const Slice &s : slices) {
        auto &[points, last] = strokes[{s.session, s.tag}];
        points.insert(points.end(), s.points.begin(), s.points.end());
        last = last || s.last;
    }
    for (auto &[key, stroke] : strokes) {
        auto it = appenders_.find(key);
        if (it == appenders_.end())
            continue;
        // A note that fails is written with the next one (by the store at the latest).
        if (!stroke.first.empty())
            it->second.NoteAppended(stroke.first);
        if (stroke.second) {
            it->second.NoteEnded();
            appenders_.erase(it);
        }
    }
    for (const Slice &s : slices)
        emit Forward(s.database, s.then);
}
