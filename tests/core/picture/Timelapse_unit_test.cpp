#include "TimelapseFrames.h"
#include "core/picture/PictureHistory.h"
#include "core/picture/TimelapseWriter.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

namespace {

// A picture of `strokes` strokes by three people, with the history over it.
struct Scene {
    QImage bitmap{100, 70, QImage::Format_RGB32};
    PictureReplay replay{bitmap};
    explicit Scene(int strokes)
    {
        std::mt19937 rnd(strokes);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
        qint64 n = 1;
        for (int s = 0; s < strokes; ++s) {
            const int type = pick(0, 5), size = pick(1, 15), color = pick(0, 0xFFFFFF);
            int x = pick(0, 99), y = pick(0, 69);
            for (int i = 0; i < 8; ++i, ++n)
                replay.AddRow({n, 1 + s % 3, 1 + s / 3, type, size, color, x += pick(-4, 4), y += pick(-4, 4)});
        }
    }
    // The history's picture at a stroke.
    QImage at(int step)
    {
        PictureHistory h(replay);
        h.Show(step);
        h.Render();
        return h.Image();
    }
};

} // namespace

// Every frame is the history at its stroke, pixel for pixel (lossless), shown as long as
// asked; a scaled one has the scaled size; a cancelled or failed write leaves no file.
TEST(Timelapse, FramesAreTheHistoryAtTheirStrokes)
{
    QTemporaryDir dir;
    Scene scene(10);
    PictureHistory history(scene.replay);
    ASSERT_EQ(history.Steps(), 10);
    const struct {
        const char *name;
        int stride, percent, frameMs, cancelAfter; // cancelled once this many frames are done (-1: never)
        QString file;
        TimelapseOutcome outcome;
        std::vector<int> steps; // of the frames
        QSize frame;
    } cases[] = {
        {"a frame a stroke", 1, 100, 100, -1, "one.webp", TimelapseOutcome::Written, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {100, 70}},
        {"every third stroke, the last one too", 3, 100, 50, -1, "three.webp", TimelapseOutcome::Written, {3, 6, 9, 10}, {100, 70}},
        {"a stride longer than the history", 40, 100, 100, -1, "all.webp", TimelapseOutcome::Written, {10}, {100, 70}},
        {"half the size", 5, 50, 100, -1, "half.webp", TimelapseOutcome::Written, {5, 10}, {50, 35}},
        {"cancelled after two frames", 1, 100, 100, 2, "cancelled.webp", TimelapseOutcome::Cancelled, {}, {}},
        {"a folder that is not there", 1, 100, 100, -1, "missing/x.webp", TimelapseOutcome::Failed, {}, {}},
    };
    for (const auto &c : cases) {
        const QString path = dir.filePath(c.file);
        std::atomic<bool> cancel{false};
        std::vector<int> told;
        QString why;
        const TimelapseOutcome outcome = WriteTimelapse(
            history.Plan(c.stride), {c.percent, c.frameMs, 1500}, path, cancel,
            [&](int done, int total) {
                told.push_back(done);
                EXPECT_EQ(total, int((10 + c.stride - 1) / c.stride)) << c.name;
                if (done == c.cancelAfter)
                    cancel = true;
            },
            &why);
        ASSERT_EQ(outcome, c.outcome) << c.name << ": " << why.toStdString();
        if (outcome != TimelapseOutcome::Written) {
            EXPECT_FALSE(QFileInfo::exists(path)) << c.name;
            EXPECT_EQ(why.isEmpty(), outcome == TimelapseOutcome::Cancelled) << c.name;
            continue;
        }
        const std::vector<TimelapseFrame> frames = ReadTimelapse(path);
        ASSERT_EQ(frames.size(), c.steps.size()) << c.name;
        EXPECT_EQ(told.size(), c.steps.size()) << c.name;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(told[i], int(i + 1)) << c.name;
            ASSERT_EQ(frames[i].image.size(), c.frame) << c.name;
            // A single frame is written as a still picture, without a duration.
            if (frames.size() > 1) {
                EXPECT_EQ(frames[i].durationMs, i + 1 < frames.size() ? c.frameMs : 1500) << c.name << ": frame " << i;
            }
            if (c.percent == 100) {
                EXPECT_EQ(frames[i].image, scene.at(c.steps[i])) << c.name << ": frame " << i;
            }
        }
    }
    // Nothing drawn: nothing to make, said so.
    QImage empty(40, 30, QImage::Format_RGB32);
    PictureReplay none(empty);
    std::atomic<bool> cancel{false};
    QString why;
    EXPECT_EQ(WriteTimelapse(PictureHistory(none).Plan(1), {}, dir.filePath("none.webp"), cancel, nullptr, &why),
              TimelapseOutcome::Failed);
    EXPECT_FALSE(why.isEmpty());
}
