#include "core/painting/StrokeJournalThread.h"

#include <chrono>

void StrokeJournalThread::Write(int session, quint64 tag, const JournalStroke &stroke,
                                std::function<PaintRequest(std::unique_ptr<JournalEntry>)> then)
{
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
    QMap<QString, int> points;
    for (const JournalStroke &j : JournalEntry::PeekUnheld(StrokeJournalFolder()))
        points[j.database] += static_cast<int>(j.points.size()) - j.stored;
    emit Peeked(points);
}

void StrokeJournalThread::Append(int session, quint64 tag, const std::vector<QPoint> &points, bool last,
                                 const QString &database, const PaintRequest &then)
{
    auto it = appenders_.find({session, tag});
    if (it != appenders_.end()) {
        // A note that fails is written with the next one (by the store at the latest).
        if (!points.empty())
            it->second.NoteAppended(points);
        if (last) {
            it->second.NoteEnded();
            appenders_.erase(it);
        }
    }
    emit Forward(database, then);
}
