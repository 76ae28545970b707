#pragma once
// One database's painting work, on that database's own "paint-db <n>" thread: its
// attachment, the sessions of the windows open on it with their stores, and the strokes
// a run before left in the journal. A mute or hung server for one database therefore
// never delays another database's windows. A picture's opening runs on a thread and
// attachment of its own (core/painting/PaintOpening), never on this one. Its pictures' events come from an
// EventChannel on a line of its own; while they do not, the windows are refreshed
// every QuickRefreshMs.
// Threads: made on the window thread, then moved to its own and used only there. The
// front (PaintWorker) reaches it by queued calls; answers go back by the queued signal
// Deliver, which Qt drops once the front is gone.

#include "core/painting/StrokeStore.h"

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

class AsyncHandshakeProbe;
class BackgroundAttach;
class DataAccess;
class EventChannel;
class OpeningStop;
class PaintWorker;
class PaintDatabaseSide;
class QTimer;

// What the front does with an answer, run on the window thread.
using PaintDelivery = std::function<void(PaintWorker &)>;
// A request, run on the database's thread.
using PaintRequest = std::function<void(PaintDatabaseSide &)>;
Q_DECLARE_METATYPE(PaintDelivery)
Q_DECLARE_METATYPE(PaintRequest)

class PaintDatabaseSide : public QObject {
    Q_OBJECT
public:
    // busy: shared with the front; requests posted and work begun here and not yet done.
    PaintDatabaseSide(const QString &path, std::shared_ptr<std::atomic<int>> busy);
    ~PaintDatabaseSide() override;

    // Requests (this thread). `stop` ends the window's opening from any thread.
    void open(int id, int imageNo, std::shared_ptr<OpeningStop> stop = {});
    void close(int id);
    void refresh(int id);
    void store(int id, StrokeStore::Stroke stroke);
    void extend(int id, quint64 tag, const std::vector<QPoint> &points, bool last);
    void recover();
    // The orphans of a picture the user was asked about: discarded, or kept for a later run.
    void discard(int imageNo, bool keep = false);
    // Cuts everything short: the thread ends right after.
    void shutDown();
    // From a session's opening (PaintOpening): rows drawn, then its outcome.
    void openingRows(int id, quint64 serial, const QVector<StrokeRow> &rows);
    void openingDone(int id, quint64 serial, const PictureOpening::Result &result);
    // Tests only, while idle.
    StrokeStore *storeOf(int id) const;
    // Any thread: the events of its pictures reach it (false: the quick refresh draws).
    bool listening() const { return eventsOk_.load(); }
    // While events do not reach it, its windows are refreshed this often.
    static constexpr int QuickRefreshMs = 1000;
    // A held stroke's block goes as soon as the one before is answered, but no sooner than
    // this after it went: a fast line sends a few points a block, not one (benches vary it).
    static std::atomic<int> BlockFloorMs;

    // Any thread, while this object lives: cuts its attachment's call in progress.
    void CancelCall();
    // Any thread: the front's request, counted in busy until it has run here.
    static void Post(PaintDatabaseSide *side, const std::shared_ptr<std::atomic<int>> &busy,
                     PaintRequest request);

public slots:
    // A request that went through the journal thread, for whichever database it names.
    void Forwarded(const QString &database, const PaintRequest &request);

signals:
    void Deliver(const PaintDelivery &what);

private:
    struct Session;
    Session &newSession(int id, int imageNo, bool window);
    Session &backgroundSession(int imageNo);
    Session *olderStrokesOf(const Session &s);
    qint64 now() const { return clock_.elapsed(); }
    bool connected();
    void startConnect();
    void handshakeDone(bool answered);
    void attachDone(DataAccess &got);
    void connectEnded(bool ok);
    void dropConnection();
    void markLost(bool lost);
    void serve(Session &s);
    bool pictureThere(Session &s);
    // Starts the session's opening, or the one its store asks for; false when the picture
    // is not there to open (a journal's stroke's).
    bool startOpening(Session &s);
    void afterStore(Session &s);
    void rowDrawn(Session &s, const StrokeRow &r);
    void cleared(Session &s);
    void flush(Session &s);
    void report(Session &s);
    void dropIfDone(int id);
    // Stores what came of an open stroke once the requests queued here have run, so that
    // the blocks that queued up meanwhile go as one; the window then hears Taken.
    void storeSoon(Session &s, quint64 tag);
    // How long until a held stroke's next block may go (0 or less: now).
    qint64 floorLeft(const Session &s) const;
    void tick();
    // Work begun here (a timer, an event), counted in busy until it is done.
    void serveLater(int id);
    void watchTables();
    // `posts` commits posted the table's event; a window's own need no refresh.
    void eventCame(const QString &table, int posts);
    void eventsWorking(bool working);
    void unannouncedRows(Session &s);
    // How long the event of rows a refresh found may take to come.
    static constexpr int EventGraceMs = 1000;
    void quickRefresh();
    // The next quick refresh: at a random moment of the period (first), else a period on,
    // give or take a tenth.
    void quickAgain(bool first);
    void serveSoon(Session &s);
    void deliver(PaintDelivery what) { emit Deliver(what); }

    QString path_;
    std::shared_ptr<std::atomic<int>> busy_;
    std::unique_ptr<DataAccess> db_;
    bool lost_ = false;          // the connection broke: dropped at the next look
    bool shownLost_ = false;     // the windows were told it is lost
    bool attaching_ = false;
    bool attachCounted_ = false; // a first connect: tests wait for it as for a call
    qint64 nextTryMs_ = 0;
    bool stopped_ = false;
    AsyncHandshakeProbe *probe_ = nullptr;
    BackgroundAttach *attach_ = nullptr;
    QTimer *attachDeadline_ = nullptr;
    QTimer *timer_ = nullptr;
    QElapsedTimer clock_;
    std::atomic<bool> eventsOk_{false};
    qint64 lastRefreshMs_ = 0;
    qint64 lastStoreMs_ = 0;
    EventChannel *events_ = nullptr; // on its own thread, ended by shutDown
    QSet<QString> watched_;
    QTimer *quick_ = nullptr;
    std::map<int, std::unique_ptr<Session>> sessions_;
    int nextBackground_ = 0;
};
