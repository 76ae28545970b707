#pragma once
// The "main-db" thread: the main window's connection (one DataAccess) lives there, and the
// statements of the dialogs, registers, list and editor run there, one request at a time in
// the order asked. The answer goes back by a queued signal to a context object on its own
// thread: once that object is gone, Qt drops the answer.
// A request that meets a connection which dropped while idle (it fails at once, not at the
// reply deadline) reconnects once on a short-lived attach thread and runs again if it only
// reads; requests asked meanwhile wait for that. Every other loss is answered as lost, and
// ConnectionLost tells the owner, which reconnects as before.
// Threads: made, asked and destroyed on the window thread; the DataAccess is touched only on
// "main-db" (tests excepted, see DbForTests).

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class DataAccess;
class MainDbWorker;
struct MainDbState;
class QThread;

// How a request ended, besides its own result.
struct DbReply {
    // Not connected, or the connection was lost on the way (the reply deadline, or a drop
    // that reconnecting once did not mend): the result is no answer.
    bool lost = false;
};

// A piece of work for the main-db thread; reads may be run twice (see above).
// A change whose commit went out and whose answer was cut may have landed all the same:
// `reread` then looks for it by its key on a fresh connection, and gives the result the
// change would have had when it finds it done as asked (nothing otherwise, and the change
// is answered as lost).
template <class R>
struct DbRequest {
    bool readsOnly = true;
    std::function<R(DataAccess &)> work;
    std::function<std::optional<R>(DataAccess &)> reread = {};
};

class MainDb : public QObject {
    Q_OBJECT
public:
    explicit MainDb(QObject *parent = nullptr);
    // The thread disconnects and ends by itself; nothing waits for it.
    ~MainDb() override;

    template <class R>
    void Ask(QObject *context, DbRequest<R> request, std::function<void(R, DbReply)> answer)
    {
        auto result = std::make_shared<R>();
        std::function<bool(DataAccess &)> reread;
        if (request.reread)
            reread = [look = std::move(request.reread), result](DataAccess &db) {
                std::optional<R> found = look(db);
                if (found)
                    *result = std::move(*found);
                return found.has_value();
            };
        post(context, request.readsOnly,
             [work = std::move(request.work), result](DataAccess &db) { *result = work(db); }, std::move(reread),
             [answer = std::move(answer), result](DbReply reply) { answer(std::move(*result), reply); });
    }

    // The attachment `attached` made on another thread (valid during this call only) becomes
    // the connection: taken over here without a round trip, the one before is closed on
    // main-db. False, and nothing changes, when `attached` is not connected.
    bool Adopt(DataAccess &attached);
    void Disconnect();
    // For a connection known to be lost: cut first, so that nothing waits for the server.
    void Drop();
    // As main-db last saw it; Adopt and Disconnect count at once.
    bool IsConnected() const;
    // Requests (and connection changes) asked and not yet answered or done.
    int Pending() const { return pending_->load(); }
    // Tests only, and only while no request runs: the connection itself.
    DataAccess &DbForTests();

signals:
    // A request found the connection lost (and could not mend it).
    void ConnectionLost();
    // The table names each time a look-up lists them.
    void TableNames(const QStringList &names);

private:
    void post(QObject *context, bool readsOnly, std::function<void(DataAccess &)> run,
              std::function<bool(DataAccess &)> reread, std::function<void(DbReply)> deliver);
    QThread *thread_ = nullptr;
    MainDbWorker *worker_ = nullptr;
    std::shared_ptr<MainDbState> state_;
    std::shared_ptr<std::atomic<int>> pending_;
};
