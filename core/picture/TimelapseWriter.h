#pragma once
// A picture's history saved as a timelapse that people can share: an animated WebP file
// (libwebp's animation encoder), one frame per step of the plan, lossless, so that every
// frame holds the picture's own pixels (scaled when asked). The encoder stores only what
// changed from one frame to the next, so a frame costs what its strokes changed.
//
// Write runs on any thread; TimelapseJob runs it on a thread of its own and reports back
// by queued signals, so the window's thread never waits on it.

#include "core/picture/TimelapsePlan.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

struct TimelapseOptions {
    int scalePercent = 100; // of the picture's width and height, 1..100
    int frameMs = 100;      // each frame shows this long
    int lastFrameMs = 2000; // the finished picture, longer
};

enum class TimelapseOutcome { Written, Cancelled, Failed };

// Renders the plan's frames and writes the file whole (nothing is left of it when cancelled
// or failed). `progress` is told after each frame; `cancel` is looked at before each.
TimelapseOutcome WriteTimelapse(const TimelapsePlan &plan, const TimelapseOptions &options, const QString &path,
                                const std::atomic<bool> &cancel, const std::function<void(int done, int total)> &progress,
                                QString *why);

// The frame's size for a picture's size scaled to `percent`.
QSize TimelapseFrameSize(QSize picture, int percent);

class TimelapseJob : public QObject {
    Q_OBJECT
public:
    // Starts writing on a thread of its own ("timelapse"); `context` (on the calling thread)
    // gets the signals, none once it is gone. Setting the flag returned cancels. Never
    // joined: the thread ends by itself.
    static std::shared_ptr<std::atomic<bool>> Start(TimelapsePlan plan, TimelapseOptions options, QString path,
                                                    QObject *context, std::function<void(int done, int total)> progress,
                                                    std::function<void(TimelapseOutcome, QString why)> done);

signals:
    void Progress(int done, int total);
    void Done(TimelapseOutcome outcome, const QString &why);

private:
    TimelapseJob() = default;
};
