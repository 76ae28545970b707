#include "core/presence/PresenceBoard.h"

#include "core/presence/PresenceLine.h"

#include <QThread>

PresenceBoard::PresenceBoard(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<PresenceRoster>();
}

PresenceBoard::~PresenceBoard()
{
    Stop();
}

PresenceBoard::Line *PresenceBoard::lineOf(const QString &database, bool make)
{
    auto it = lines_.find(database);
    if (it != lines_.end())
        return &it->second;
    if (!make || stopped_ || database.isEmpty())
        return nullptr;
    Line &l = lines_[database];
    l.thread = new QThread;
    l.thread->setObjectName(QStringLiteral("presence %1").arg(lines_.size()));
    l.line = new PresenceLine(database);
    l.line->moveToThread(l.thread);
    connect(l.line, &PresenceLine::Read, this, [this, database](const PresenceRoster &roster) {
        if (Line *l = lineOf(database, false)) {
            for (auto it = roster.names.cbegin(); it != roster.names.cend(); ++it)
                l->names.insert(it.key(), it.value());
            const bool same = roster == l->roster;
            l->roster = roster;
            if (!same)
                emit Changed(database);
        }
    }, Qt::QueuedConnection);
    connect(l.line, &PresenceLine::NamesRead, this, [this, database](const QHash<int, QString> &names) {
        if (Line *l = lineOf(database, false)) {
            l->names.insert(names);
            emit NamesChanged(database);
        }
    }, Qt::QueuedConnection);
    connect(l.thread, &QThread::finished, l.line, &QObject::deleteLater);
    connect(l.thread, &QThread::finished, l.thread, &QObject::deleteLater);
    l.thread->start();
    if (eventsWorking_.value(database))
        QMetaObject::invokeMethod(l.line, [p = l.line] { p->eventsWorking(true); }, Qt::QueuedConnection);
    return &l;
}

void PresenceBoard::post(const QString &database, bool make, std::function<void(PresenceLine &)> request)
{
    Line *l = lineOf(database, make);
    if (!l || stopped_)
        return;
    QMetaObject::invokeMethod(l->line, [p = l->line, request = std::move(request)] { request(*p); },
                              Qt::QueuedConnection);
}

void PresenceBoard::Show(const QString &database, qint64 imageNo, int member)
{
    post(database, true, [imageNo, member](PresenceLine &p) { p.show(imageNo, member); });
}

void PresenceBoard::Hide(const QString &database, qint64 imageNo)
{
    post(database, false, [imageNo](PresenceLine &p) { p.hide(imageNo); });
}

void PresenceBoard::EventCame(const QString &database)
{
    post(database, false, [](PresenceLine &p) { p.changed(); });
}

void PresenceBoard::EventsWorking(const QString &database, bool working)
{
    eventsWorking_[database] = working;
    post(database, false, [working](PresenceLine &p) { p.eventsWorking(working); });
}

void PresenceBoard::AskNames(const QString &database, const QList<int> &members)
{
    post(database, false, [members](PresenceLine &p) { p.wantNames(members); });
}

PresenceRoster PresenceBoard::RosterOf(const QString &database) const
{
    auto it = lines_.find(database);
    return it == lines_.end() ? PresenceRoster() : it->second.roster;
}

QHash<int, QString> PresenceBoard::NamesOf(const QString &database) const
{
    auto it = lines_.find(database);
    return it == lines_.end() ? QHash<int, QString>() : it->second.names;
}

void PresenceBoard::Stop()
{
    if (stopped_)
        return;
    for (auto &[database, l] : lines_)
        QMetaObject::invokeMethod(l.line, [p = l.line] { p->shutDown(); }, Qt::QueuedConnection);
    stopped_ = true;
}

QStringList PresenceBoard::ThreadNames() const
{
    QStringList names;
    for (const auto &[database, l] : lines_)
        names << l.thread->objectName();
    return names;
}
