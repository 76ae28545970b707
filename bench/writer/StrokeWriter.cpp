// One writer of the shared-painting load: a painting window without widgets.
// It draws random strokes into its own band of the picture, stores each one,
// refreshes between strokes as the timer would, then keeps refreshing until
// every writer is done and leaves its bitmap and what it drew in the out folder.
//
// usage: oekaki_stroke_writer <server path> <table> <writer no> <writers>
//                             <strokes> <points per stroke> <width> <height> <out dir>

#include "app/UnitV.h"
#include "db/DataAccess.h"
#include "paint/Stamp.h"
#include "paint/StrokeStore.h"

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
    if (argc != 10) {
        std::fprintf(stderr, "usage: %s path table writer writers strokes points width height outdir\n",
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
    int clashes = 0;
    int stored = 0;
    QElapsedTimer clock;
    clock.start();
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
        if (!store.Store(user, pen, stroke)) {
            std::fprintf(stderr, "writer %d: storing stopped: %s\n", writer,
                         qPrintable(db.LastErrorText()));
            return 5;
        }
        clashes += store.LastClashes();
        stored += points;
        if (s % 3 == 2)
            store.Refresh();
    }
    const qint64 elapsed = clock.elapsed();
    log.close();

    // Done: tell the others, then keep refreshing until everyone is done.
    QFile(out + QStringLiteral("/done%1").arg(writer)).open(QIODevice::WriteOnly);
    QElapsedTimer wait;
    wait.start();
    for (;;) {
        store.Refresh();
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
