// One writer of the shared-painting load: a painting window without widgets.
// It draws random strokes into its own band of the picture, stores each one as the
// program does (one statement per stroke, with the picture's event),
// refreshes between strokes as the timer would, then keeps refreshing until
// every writer is done and leaves its bitmap and what it drew in the out folder.
//
// usage: oekaki_stroke_writer <server path> <table> <writer no> <writers>
//                             <strokes> <points per stroke> <width> <height> <out dir>
//                             [<pause ms> <refresh ms>]
// With a pause it works at a person's pace: a jittered pause (0.67 to 1.33 times the
// given one) after each stroke, and a refresh whenever the refresh time has passed,
// as the window's timer would; it then also writes the time each store took.

#include "db/DataAccess.h"
#include "core/picture/Stamp.h"
#include "core/painting/StrokeStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QThread>
#include <cstdio>
#include <random>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 10 && argc != 12) {
        std::fprintf(stderr, "usage: %s path table writer writers strokes points width height outdir"
                             " [pause-ms refresh-ms]\n",
                     argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const QString table = QString::fromLatin1(argv[2]);
    const int writer = std::atoi(argv[3]);
    const int writers = std::atoi(argv[4]);
    const int strokes = std::atoi(argv[5]);
    const int points = std::atoi(argv[6]);
    const int width = std::atoi(argv[7]);
    const int height = std::atoi(argv[8]);
    const QString out = QString::fromLocal8Bit(argv[9]);
    const int pauseMs = argc == 12 ? std::atoi(argv[10]) : 0;
    const int refreshMs = argc == 12 ? std::atoi(argv[11]) : 0;
    const int user = writer + 1;

    DataAccess db;
    db.ConnectDatabase(path);
    if (!db.IsConnected()) {
        std::fprintf(stderr, "writer %d: cannot connect\n", writer);
        return 3;
    }
    QImage image(width, height, QImage::Format_RGB32);
    ClearCanvas(image, width, height);
    StrokeStore store(db, image);
    store.SetTable(table);
    // For comparison: clashes dealt with by catching up and sending the statement again.
    if (qEnvironmentVariableIntValue("OEKAKI_CLASHES_BY_CLIENT") == 1)
        store.SetClashesOnServer(false);
    store.Load();

    // Each writer keeps to its own band, so that strokes of different writers never
    // overlap and every bitmap must equal a fresh replay pixel for pixel.
    const int band = height / writers;
    const int top = writer * band;
    std::mt19937 rng(1234u + static_cast<unsigned>(writer));
    auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

    QFile log(out + QStringLiteral("/writer%1.txt").arg(writer));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 4;
    QFile times(out + QStringLiteral("/times%1.txt").arg(writer));
    if (pauseMs > 0 && !times.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 4;
    int clashes = 0;
    int stored = 0;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceRefresh;
    sinceRefresh.start();
    // Waits until `ms` from now, refreshing whenever the timer would have fired.
    auto pause = [&](int ms) {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const qint64 left = ms - waited.elapsed();
            const qint64 toRefresh = refreshMs - sinceRefresh.elapsed();
            if (left <= 0)
                return;
            if (toRefresh <= 0) {
                store.Refresh();
                sinceRefresh.restart();
                continue;
            }
            QThread::msleep(static_cast<unsigned long>(std::min(left, toRefresh)));
        }
    };
    if (pauseMs > 0)
        pause(uniform(0, pauseMs)); // people do not all start at once
    for (int s = 0; s < strokes; ++s) {
        const PenTip pen{uniform(0, 5), uniform(1, 5), uniform(0, 0xFFFFFF)};
        std::vector<QPoint> stroke;
        int x = uniform(6, width - 7);
        int y = uniform(top + 6, top + band - 7);
        for (int p = 0; p < points; ++p) {
            DrawStamp(image, pen.type, pen.size, pen.color, x, y);
            stroke.emplace_back(x, y);
            log.write(QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                          .arg(s)
                          .arg(pen.type)
                          .arg(pen.size)
                          .arg(pen.color)
                          .arg(x)
                          .arg(y)
                          .toLatin1());
            x = std::clamp(x + uniform(-3, 3), 6, width - 7);
            y = std::clamp(y + uniform(-3, 3), top + 6, top + band - 7);
        }
        QElapsedTimer storing;
        storing.start();
        bool all = store.Store(user, pen, stroke);
        // As the program does: a lock held too long (another writer's statement not
        // committed within the lock wait) keeps the points, tried again a moment later.
        for (int retry = 0; !all && db.IsConnected() && retry < 40; ++retry) {
            QThread::msleep(static_cast<unsigned long>(uniform(100, 400)));
            all = store.StorePending();
        }
        if (pauseMs > 0)
            times.write(QByteArray::number(storing.nsecsElapsed() / 1000) + '\n');
        if (!all) {
            std::fprintf(stderr, "writer %d: storing stopped: %s\n", writer,
                         qPrintable(db.LastErrorText()));
            return 5;
        }
        clashes += store.LastClashes();
        stored += points;
        if (pauseMs > 0) {
            sinceRefresh.restart(); // the timer starts again after each handler
            pause(uniform(pauseMs * 2 / 3, pauseMs * 4 / 3));
        } else if (s % 3 == 2) {
            store.Refresh();
        }
    }
    times.close();
    const qint64 elapsed = clock.elapsed();
    log.close();

    // Done: tell the others, then keep refreshing until everyone is done.
    QFile(out + QStringLiteral("/done%1").arg(writer)).open(QIODevice::WriteOnly);
    QElapsedTimer wait;
    wait.start();
    for (;;) {
        if (pauseMs == 0 || sinceRefresh.elapsed() >= refreshMs) {
            store.Refresh();
            sinceRefresh.restart();
        }
        int done = 0;
        for (int w = 0; w < writers; ++w)
            done += QFile::exists(out + QStringLiteral("/done%1").arg(w)) ? 1 : 0;
        if (done == writers)
            break;
        if (wait.elapsed() > 600000)
            return 6;
        QThread::msleep(100);
    }
    store.Refresh();
    image.save(out + QStringLiteral("/writer%1.png").arg(writer), "PNG");
    QFile result(out + QStringLiteral("/result%1.txt").arg(writer));
    if (result.open(QIODevice::WriteOnly))
        result.write(QStringLiteral("%1 %2 %3 %4\n")
                         .arg(stored)
                         .arg(clashes)
                         .arg(elapsed)
                         .arg(store.ReadCount())
                         .toLatin1());
    return 0;
}
