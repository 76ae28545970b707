#include "core/painting/PaintOpening.h"

#include "core/painting/PaintWorker.h"
#include "core/picture/OpeningStop.h"
#include "db/DataAccess.h"

#include <QElapsedTimer>
#include <QThread>
#include <QVector>

namespace {
std::atomic<int> atWork{0};
std::atomic<int> named{0};
// Rows reach the database's thread at least this often while a picture opens.
constexpr int FlushMs = 50;
} // namespace

int PaintOpening::AtWork()
{
    return atWork.load();
}

void PaintOpening::Start(PaintDatabaseSide &side, const QString &path, const std::shared_ptr<std::atomic<int>> &busy,
                         PictureOpening::Options options, bool rows, int session, quint64 serial)
{
    auto *opening = new PaintOpening;
    opening->path_ = path;
    opening->busy_ = busy;
    opening->options_ = std::move(options);
    if (!opening->options_.stop)
        opening->options_.stop = std::make_shared<OpeningStop>();
    opening->rows_ = rows;
    opening->session_ = session;
    opening->serial_ = serial;
    ++*busy; // until the side has taken the outcome
    ++atWork;
    connect(opening, &PaintOpening::Request, &side, &PaintDatabaseSide::Forwarded, Qt::QueuedConnection);
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("paint-open %1").arg(++named));
    opening->moveToThread(thread);
    connect(thread, &QThread::started, opening, &PaintOpening::run);
    connect(thread, &QThread::finished, opening, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void PaintOpening::send(PaintRequest request, bool counted)
{
    if (counted)
        ++*busy_;
    emit Request(path_, request);
}

void PaintOpening::run()
{
    GiveWayToStores();
    PictureOpening::Result result;
    {
        DataAccess db;
        OpeningStop::Watching watching(options_.stop.get(), db);
        if (!options_.stop->Stopped())
            db.ConnectDatabase(path_);
        if (db.IsConnected()) {
            QVector<StrokeRow> batch;
            QElapsedTimer sinceFlush;
            sinceFlush.start();
            const auto flush = [&] {
                if (batch.isEmpty())
                    return;
                send([id = session_, serial = serial_, rows = std::move(batch)](PaintDatabaseSide &s) {
                    s.openingRows(id, serial, rows);
                }, true);
                batch = {};
                sinceFlush.restart();
            };
            result = PictureOpening::Run(db, options_, [&](const StrokeRow &r) {
                if (!rows_)
                    return;
                batch.push_back(r);
                if (batch.size() >= PaintWorker::BatchRows || sinceFlush.elapsed() >= FlushMs)
                    flush();
            });
            flush();
        }
        // Its attachment ends before the side hears of the end.
        if (options_.stop->Stopped())
            db.DropConnection();
        else
            db.DisconnectDatabase();
    }
    send([id = session_, serial = serial_, result](PaintDatabaseSide &s) { s.openingDone(id, serial, result); },
         false);
    --atWork;
    QThread::currentThread()->quit();
}
