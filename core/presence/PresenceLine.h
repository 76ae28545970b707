#pragma once
// This program's presence on one database, on a thread of its own ("presence <n>") with an
// attachment of its own: the attachment holds a session variable for each picture the
// program's windows show (naming the member), and reads who else has which picture open.
// It reads when a presence event says a picture was opened or closed somewhere (events
// that come together fold into one read), and slowly on a clock for what posts no event
// (a program that ended, a PC that went away); more often while events do not come.
//
// Why not the store's thread or attachment: a read builds the server's monitoring snapshot
// of every attachment and may take a while on a busy server; a stroke must never wait for
// it. The attachment is the presence itself: it exists while the program shows a picture of
// the database, and the server forgets its variables with it when the PC goes away.
//
// Threads: made on the window thread, then moved to its own and used only there; the front
// (PresenceBoard) reaches it by queued calls, and its answers go back by queued signals.

#include "core/presence/PresenceRoster.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <atomic>
#include <map>
#include <memory>

class BackgroundAttach;
class DataAccess;
class QTimer;

class PresenceLine : public QObject {
    Q_OBJECT
public:
    explicit PresenceLine(const QString &path);
    ~PresenceLine() override;

    // Requests (its thread).
    // A window shows the picture for `member` (one more of them).
    void show(qint64 imageNo, int member);
    // One window less shows it; at none it is no longer marked.
    void hide(qint64 imageNo);
    // A presence event came: someone opened or closed a picture.
    void changed();
    // Whether the database's events reach this program: the clock reads more often without.
    void eventsWorking(bool working);
    // The names of these members are wanted (an author under the pointer).
    void wantNames(const QList<int> &members);
    // Lets everything go without a round trip; the thread ends right after.
    void shutDown();

    // The clock's reads while events come, and while they do not (each a quarter more or
    // less, so that the PCs' reads do not meet). Tests shorten them.
    static std::atomic<int> FallbackMs;
    static std::atomic<int> QuietFallbackMs;
    // Events within this fold into one read; after another PC's event the read waits up to
    // SpreadMs more, so that the PCs showing that picture do not all read at once.
    static constexpr int SettleMs = 150;
    static constexpr int SpreadMs = 850;
    // A lost attachment is tried again after this.
    static constexpr int ReconnectMs = 5000;

signals:
    // Each read's outcome (ok false: it failed, or the line is lost: nothing is known).
    void Read(const PresenceRoster &roster);
    // Names read for wantNames, with those known before.
    void NamesRead(const QHash<int, QString> &names);

private:
    void soon(int ms);
    void work();
    void startConnect();
    void attachDone(DataAccess &got);
    void lost();
    bool mark(bool &changed);
    void startClock();

    QString path_;
    std::unique_ptr<DataAccess> db_;
    BackgroundAttach *attach_ = nullptr;
    QTimer *work_ = nullptr;
    QTimer *clock_ = nullptr;
    struct Shown {
        int member = 0;
        int windows = 0;
    };
    std::map<qint64, Shown> shown_;
    std::map<qint64, int> marked_; // as the attachment holds them
    bool readDue_ = false;
    bool attaching_ = false;
    bool eventsWorking_ = false;
    bool stopped_ = false;
    QList<int> namesWanted_;
    QHash<int, QString> names_;
};
