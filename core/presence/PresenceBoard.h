#pragma once
// The painting windows' one door to presence: who has which picture open, per database,
// as the last read of that database's presence line ("presence <n>", PresenceLine) found.
// A window that shows a picture says so (Show, and Hide when it closes); the database's
// events line tells of presence events (EventCame) and whether events come at all.
//
// Threads: lives on the window thread. Requests go to the lines by queued calls; their
// answers come back by queued signals, which Qt drops once the board is gone.

#include "core/presence/PresenceRoster.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <map>

class PresenceLine;
class QThread;

class PresenceBoard : public QObject {
    Q_OBJECT
public:
    explicit PresenceBoard(QObject *parent = nullptr);
    ~PresenceBoard() override;

    // A window shows picture `imageNo` of `database` for `member`, or no longer does.
    void Show(const QString &database, qint64 imageNo, int member);
    void Hide(const QString &database, qint64 imageNo);
    // A presence event of that database, and whether its events come.
    void EventCame(const QString &database);
    void EventsWorking(const QString &database, bool working);
    // Asks for the names of members (authors under the pointer); NamesChanged answers.
    void AskNames(const QString &database, const QList<int> &members);

    // The last read of the database: ok false before the first, after a failure, or while
    // its line is lost.
    PresenceRoster RosterOf(const QString &database) const;
    // The names known of that database's members (from reads and AskNames).
    QHash<int, QString> NamesOf(const QString &database) const;

    // Every line lets go; the board asks nothing more.
    void Stop();

    // Tests: the lines' threads.
    QStringList ThreadNames() const;

signals:
    void Changed(const QString &database);
    void NamesChanged(const QString &database);

private:
    struct Line {
        QThread *thread = nullptr;
        PresenceLine *line = nullptr;
        PresenceRoster roster;
        QHash<int, QString> names;
    };
    Line *lineOf(const QString &database, bool make);
    void post(const QString &database, bool make, std::function<void(PresenceLine &)> request);

    std::map<QString, Line> lines_;
    QHash<QString, bool> eventsWorking_;
    bool stopped_ = false;
};
