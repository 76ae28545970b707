#pragma once
// A run of shared painting: several writer processes draw on one picture at once,
// then the table and every writer's bitmap are checked against what was drawn.

#include <QString>
#include <QStringList>
#include <atomic>
#include <vector>

struct LoadConfig {
    QString serverPath; // a database that exists
    QString table = QStringLiteral("IMG_1");
    int writers = 4;
    int strokes = 20;
    int points = 15;
    int width = 240;
    int height = 240;
    QString writerProgram;
    int timeoutSeconds = 600;
    // A person's pace: mean pause after each stroke and the refresh period (0: no pause).
    int pauseMs = 0;
    int refreshMs = 5000;
    // The path the writers use, when not serverPath (for example through a relay).
    QString writerPath;
    // Writers below this one draw elsewhere (a real window, with author writer + 1, in
    // its band): no process is started for them and their rows are counted, not checked.
    // They are done once *elsewhereDone holds; the started writers refresh until then.
    int firstWriter = 0;
    const std::atomic<bool> *elsewhereDone = nullptr;
};

struct LoadOutcome {
    QStringList problems; // empty when every check held
    int expectedRows = 0;
    int storedRows = 0;
    int clashes = 0;
    double seconds = 0; // from the first start to the last writer's end
    bool gapless = false;
    bool everyPointOnce = false;
    int bitmapsEqualToReplay = 0;
    std::vector<double> storeMs; // with a pause: the time of every store, all writers
};

LoadOutcome RunSharedPainting(const LoadConfig &config);

// A new folder under /tmp that the local server (its own user) can create databases in,
// with the final '/'; empty when none could be made.
QString MakeServerFolder();
