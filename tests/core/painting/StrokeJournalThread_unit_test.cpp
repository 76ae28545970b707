// The journal thread notes the slices of a stroke under the mouse before the store gets them;
// slices that queue up while it is busy go into one note, each forwarded in order.
#include "core/painting/StrokeJournalThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

std::vector<QPoint> points(int from, int count)
{
    std::vector<QPoint> p;
    for (int i = from; i < from + count; ++i)
        p.emplace_back(i, 2 * i);
    return p;
}

bool waitFor(const std::function<bool()> &done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

struct Outcome {
    qint64 bytes = 0;       // the entry's file
    JournalStroke stroke;   // as read back
    QStringList order;      // what was forwarded, in order: the slices by their size
};

// An open stroke of 2 points, then slices of 2, 1 and 3 points, the last ending it; with
// `busy` the journal thread is held while they are handed over.
Outcome run(bool busy)
{
    Outcome out;
    QTemporaryDir state;
    const QByteArray before = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    QThread thread;
    auto *journal = new StrokeJournalThread;
    journal->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, journal, &QObject::deleteLater);
    thread.start();
    int forwarded = 0;
    QObject context;
    // Each slice names itself in the database the request is for.
    QObject::connect(journal, &StrokeJournalThread::Forward, &context, [&](const QString &to, const PaintRequest &) {
        ++forwarded;
        out.order << to;
    });
    std::shared_ptr<JournalEntry> entry;
    JournalStroke s;
    s.database = QStringLiteral("localhost:/a.fdb");
    s.imageNo = 1;
    s.points = points(0, 2);
    s.open = true;
    QMetaObject::invokeMethod(journal, [&, journal, s] {
        journal->Write(1, 1, s, [&](std::unique_ptr<JournalEntry> e) -> PaintRequest {
            entry = std::move(e);
            return [](PaintDatabaseSide &) {};
        });
    });
    EXPECT_TRUE(waitFor([&] { return forwarded == 1; }));
    QSemaphore gate;
    if (busy)
        QMetaObject::invokeMethod(journal, [&gate] { gate.acquire(); });
    int from = 2;
    for (const int n : {2, 1, 3}) {
        const bool last = n == 3;
        QMetaObject::invokeMethod(journal, [&, journal, n, from, last] {
            journal->Append(1, 1, points(from, n), last, QString::number(n), [](PaintDatabaseSide &) {});
        });
        from += n;
        if (!busy) {
            EXPECT_TRUE(waitFor([&, expected = forwarded + 1] { return forwarded == expected; }));
        }
    }
    gate.release();
    EXPECT_TRUE(waitFor([&] { return forwarded == 4; }));
    thread.quit();
    thread.wait();
    const QStringList files = QDir(StrokeJournalFolder()).entryList(QDir::Files);
    EXPECT_EQ(files.size(), 1);
    out.bytes = QFileInfo(QDir(StrokeJournalFolder()).filePath(files.value(0))).size();
    entry.reset();
    const auto left = JournalEntry::PeekUnheld(StrokeJournalFolder());
    if (left.size() == 1)
        out.stroke = left[0];
    qputenv("XDG_STATE_HOME", before);
    return out;
}

} // namespace

TEST(StrokeJournalThread, SlicesQueuedWhileItIsBusyShareOneNote)
{
    const Outcome oneByOne = run(false);
    const Outcome folded = run(true);
    for (const Outcome *o : {&oneByOne, &folded}) {
        SCOPED_TRACE(o == &folded ? "handed over while busy" : "one by one");
        EXPECT_EQ(o->stroke.points, points(0, 8)) << "every point once, in order";
        EXPECT_FALSE(o->stroke.open) << "the last slice ends the stroke";
        EXPECT_EQ(o->order, (QStringList{QStringLiteral("localhost:/a.fdb"), "2", "1", "3"}))
            << "each slice reaches the store, in order";
    }
    EXPECT_LT(folded.bytes, oneByOne.bytes) << "the slices that waited were not noted together";
}
