#include "PaintFixture.h"
#include "TimelapseFrames.h"
#include "windows/HistoryBar.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>

namespace {

const QString kTable = QStringLiteral("IMG_7");

struct Drawn {
    int mn;
    std::vector<QPoint> points;
    int type, size, color;
};

// Six strokes of two members, crossing one another.
const std::vector<Drawn> kStrokes = {
    {3, {{5, 5}, {30, 20}, {60, 40}}, 0, 9, 0x0000FF},  {5, {{10, 60}, {50, 30}, {90, 10}}, 2, 7, 0xFF0000},
    {3, {{20, 10}, {20, 70}}, 4, 11, 0x00AA00},          {5, {{70, 70}, {100, 50}}, 1, 15, 0x808000},
    {3, {{40, 40}}, 2, 25, 0x00FFFF},                    {5, {{0, 80}, {119, 0}}, 5, 6, 0x000000},
};

// The rows of the first `strokes` strokes (in N order, as stored) replayed on white.
QImage replayOfFirst(const std::vector<StoredPoint> &rows, int strokes, QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    int seen = 0, mn = -1, dn = -1;
    for (const StoredPoint &p : rows) {
        if (p.mn != mn || p.dn != dn) {
            mn = p.mn;
            dn = p.dn;
            if (++seen > strokes)
                break;
        }
        DrawStamp(img, p.ptyp, p.psiz, p.pcol, p.x, p.y);
    }
    return img;
}

} // namespace

class PaintWindowHistory : public PaintTest {
protected:
    static void Draw(PaintWindow *w, const Drawn &d)
    {
        PcUserNo = d.mn;
        Stroke(w, d.points, d.type, d.size, d.color);
    }
    // What the canvas shows on the screen.
    static QImage Screen(PaintWindow *w) { return w->Image1->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// The history shows the picture as it stood after the stroke at the slider, as a fresh replay
// of the rows up to it, names its author, draws nothing while it shows, grows with another
// window's strokes, plays to the end and, left, gives back the live picture to draw on.
TEST_F(PaintWindowHistory, ShowsThePastDrawsNothingAndGrowsWithOthersStrokes)
{
    ASSERT_TRUE(Db().CreateMemberTable());
    ASSERT_TRUE(Db().InsertRecord(QStringLiteral("MEMBER"), 3, {"N", "SN", "PNAME"}, {"3", "0", "'山田'"}));
    ASSERT_TRUE(Db().InsertRecord(QStringLiteral("MEMBER"), 3, {"N", "SN", "PNAME"}, {"5", "0", "'佐藤'"}));
    const QSize size(120, 90);
    PaintWindow *w = Open(7, size.width(), size.height());
    for (const Drawn &d : kStrokes)
        Draw(w, d);
    const QImage live = w->Bitmap;
    HistoryBar *bar = w->History;

    w->HistoryButtonClick();
    ASSERT_TRUE(bar->Active());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(w->HistoryButton->isChecked());
    EXPECT_EQ(bar->Slider->maximum(), 6);
    EXPECT_EQ(bar->Slider->value(), 6);
    ASSERT_TRUE(bar->WaitRendered());
    EXPECT_EQ(*bar->Picture(), live);
    ASSERT_TRUE(WaitUntil([bar] { return bar->AuthorText() == QStringLiteral("佐藤"); })) << bar->AuthorText().toStdString();

    const std::vector<StoredPoint> rows = Rows(kTable);
    for (int step : {3, 0, 1, 5, 2, 6, 4}) {
        bar->Slider->setValue(step);
        ASSERT_TRUE(bar->WaitRendered()) << "stroke " << step;
        EXPECT_EQ(DifferingPixels(*bar->Picture(), replayOfFirst(rows, step, size)), 0) << "stroke " << step;
        EXPECT_EQ(bar->AuthorText(), step == 0 ? QString() : kStrokes[size_t(step - 1)].mn == 3 ? QStringLiteral("山田") : QStringLiteral("佐藤"));
        EXPECT_TRUE(bar->StepLabel->text().startsWith(QStringLiteral("%1 / 6筆").arg(step))) << bar->StepLabel->text().toStdString();
    }
    // The canvas shows the history; a stroke there draws and stores nothing.
    bar->BackButton->click();
    bar->BackButton->click();
    bar->ForwardButton->click();
    ASSERT_TRUE(bar->WaitRendered());
    EXPECT_EQ(bar->Position(), 3);
    EXPECT_EQ(DifferingPixels(Screen(w), replayOfFirst(rows, 3, size)), 0);
    Stroke(w, {{2, 2}, {110, 80}}, 2, 30, 0x00FF00);
    EXPECT_EQ(Rows(kTable).size(), rows.size());
    EXPECT_EQ(w->Bitmap, live);
    EXPECT_EQ(DifferingPixels(Screen(w), replayOfFirst(rows, 3, size)), 0);

    // Another window's strokes: the slider's end grows, the stroke shown stays.
    PaintWindow *other = Open(7, size.width(), size.height());
    Draw(other, {5, {{100, 80}, {60, 85}}, 0, 13, 0xFF00FF});
    Draw(other, {3, {{5, 85}, {30, 85}}, 3, 9, 0x123456});
    ASSERT_TRUE(WaitUntil([&] {
        Tick(w);
        return bar->Slider->maximum() == 8;
    })) << "the slider has " << bar->Slider->maximum() << " strokes";
    ASSERT_TRUE(bar->WaitRendered());
    EXPECT_EQ(bar->Position(), 3);
    EXPECT_EQ(DifferingPixels(*bar->Picture(), replayOfFirst(rows, 3, size)), 0);

    // Played from the start at the fastest speed, it stops at the end: the whole picture.
    bar->SpeedBox->setCurrentIndex(bar->SpeedBox->count() - 1);
    bar->Slider->setValue(bar->Slider->maximum());
    bar->PlayButton->click(); // from the end: starts again from the white picture
    EXPECT_LT(bar->Position(), 8);
    ASSERT_TRUE(WaitUntil([bar] { return bar->Position() == 8 && bar->PlayButton->text() == QStringLiteral("▶ 再生"); }, 10000));
    ASSERT_TRUE(bar->WaitRendered());
    const std::vector<StoredPoint> all = Rows(kTable);
    ASSERT_EQ(all.size(), rows.size() + 4);
    EXPECT_EQ(DifferingPixels(*bar->Picture(), Replay(kTable, size)), 0);

    // Left: the live picture, with every stroke, drawn on again.
    bar->CloseButton->click();
    EXPECT_FALSE(bar->Active());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(w->HistoryButton->isChecked());
    EXPECT_EQ(DifferingPixels(w->Bitmap, Replay(kTable, size)), 0);
    EXPECT_EQ(DifferingPixels(Screen(w), w->Bitmap), 0);
    Stroke(w, {{2, 2}, {110, 80}}, 2, 5, 0x00FF00);
    EXPECT_EQ(Rows(kTable).size(), all.size() + 2);
    w->HistoryButtonClick();
    EXPECT_EQ(bar->Slider->maximum(), 9);
}

// The timelapse saved from the window, off its thread: its frames are the history at every
// other stroke, the progress says so, and the bar tells the outcome.
TEST_F(PaintWindowHistory, SavesATimelapseOffTheWindowsThread)
{
    QTemporaryDir dir;
    const QSize size(120, 90);
    PaintWindow *w = Open(7, size.width(), size.height());
    for (const Drawn &d : kStrokes)
        Draw(w, d);
    const std::vector<StoredPoint> rows = Rows(kTable);
    HistoryBar *bar = w->History;
    w->HistoryButtonClick();
    MessageRecorder messages;
    struct Outcome {
        TimelapseOutcome outcome;
        QString why;
    };
    std::vector<Outcome> saved;
    QObject::connect(bar, &HistoryBar::Saved, bar,
                     [&saved](TimelapseOutcome o, const QString &, const QString &why) { saved.push_back({o, why}); });

    const QString path = dir.filePath(QStringLiteral("history.webp"));
    ASSERT_TRUE(bar->SaveTimelapse(path, 2, {100, 80, 1000}));
    EXPECT_TRUE(bar->Saving());
    EXPECT_TRUE(bar->SaveProgress->isVisibleTo(bar));
    EXPECT_FALSE(bar->SaveButton->isEnabled());
    EXPECT_FALSE(bar->SaveTimelapse(path, 1, {})) << "a second one while the first is written";
    ASSERT_TRUE(WaitUntil([&saved] { return !saved.empty(); }, 30000)) << "the timelapse was not written within 30 s";
    EXPECT_EQ(saved[0].outcome, TimelapseOutcome::Written) << saved[0].why.toStdString();
    EXPECT_FALSE(bar->Saving());
    EXPECT_FALSE(bar->SaveProgress->isVisibleTo(bar));
    EXPECT_EQ(bar->SaveProgress->value(), 3);
    ASSERT_EQ(messages.messages.size(), 1);
    EXPECT_TRUE(messages.messages[0].startsWith(QStringLiteral("タイムラプスを保存しました（3コマ）")));
    const std::vector<TimelapseFrame> frames = ReadTimelapse(path);
    ASSERT_EQ(frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(DifferingPixels(frames[size_t(i)].image, replayOfFirst(rows, 2 * (i + 1), size)), 0) << "frame " << i;
        EXPECT_EQ(frames[size_t(i)].durationMs, i < 2 ? 80 : 1000);
    }

    // Leaving the history keeps nothing of it; the bar has nothing to save then.
    w->HistoryButtonClick();
    EXPECT_FALSE(bar->SaveTimelapse(path, 1, {}));
}
