#pragma once
// The painting window's history: a strip under the canvas with a slider over the picture's
// strokes in N order, play and pause at a few speeds, the author of the stroke at the
// slider, and saving the history as a timelapse. While it is shown the canvas shows the
// picture as it stood after the stroke at the slider (drawing is off, the window's switch);
// rows that arrive meanwhile make the slider longer. The picture is drawn a few
// milliseconds at a time between events, and the timelapse on a thread of its own.

#include "core/picture/PictureHistory.h"
#include "core/picture/TimelapseWriter.h"

#include <QHash>
#include <QWidget>
#include <atomic>
#include <memory>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;

class HistoryBar : public QWidget {
    Q_OBJECT
public:
    // `replay` is the window's picture and outlives the bar's use of it (Leave).
    HistoryBar(const PictureReplay &replay, QWidget *parent = nullptr);
    ~HistoryBar() override;

    // Shows the history at its last stroke; Leave goes back to the live picture.
    void Enter();
    void Leave();
    bool Active() const { return history_ != nullptr; }
    // The picture to show while active.
    const QImage *Picture() const { return history_ ? &history_->Image() : nullptr; }
    // The window drew rows that came (or drew its picture anew): the slider follows.
    void RowsChanged();

    // The stroke at the slider (0: before the first), and the strokes there are.
    int Position() const;
    int Strokes() const;
    // Its author as shown: the member's name once read, else the number.
    QString AuthorText() const;
    // Tests: waits (events processed) until the canvas shows the stroke at the slider.
    bool WaitRendered(int ms = 10000);
    // The picture shown now: the history's, the same as a fresh replay up to the stroke.
    const PictureHistory *History() const { return history_.get(); }

    // Writes the history as a timelapse, a frame every `stride` strokes; the answer comes
    // as Saved. False (and nothing starts) when one is being written or there is nothing.
    bool SaveTimelapse(const QString &path, int stride, const TimelapseOptions &options);
    bool Saving() const { return cancel_ != nullptr; }
    void CancelSaving();

    QToolButton *PlayButton = nullptr;
    QToolButton *BackButton = nullptr;
    QToolButton *ForwardButton = nullptr;
    QComboBox *SpeedBox = nullptr;
    QSlider *Slider = nullptr;
    QLabel *StepLabel = nullptr;
    QPushButton *SaveButton = nullptr;
    QPushButton *CloseButton = nullptr;
    QProgressBar *SaveProgress = nullptr;
    QPushButton *CancelButton = nullptr;

    // Strokes a second at each of SpeedBox's speeds.
    static constexpr int Speeds[] = {5, 20, 100, 500};

signals:
    // Part of the picture shown changed (the whole when it was switched).
    void Changed(const QRect &area);
    // The bar's own close button: the window goes back to the live picture.
    void CloseAsked();
    // A timelapse was written, cancelled or failed (why).
    void Saved(TimelapseOutcome outcome, const QString &path, const QString &why);

protected:
    // Asks where and how to save the timelapse; false when cancelled.
    virtual bool ExecuteTimelapseDialog(QString &path, int &stride, TimelapseOptions &options);

private:
    void moved(int step);
    void showStep();
    void schedule();
    void renderSome();
    void playTick();
    void setPlaying(bool on);
    void saveClicked();
    void readNames();
    void showSaving(bool on);

    const PictureReplay &replay_;
    std::unique_ptr<PictureHistory> history_;
    bool scheduled_ = false;
    QTimer *playTimer_ = nullptr;
    double playDue_ = 0; // strokes owed to the player
    QHash<int, QString> names_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    QString savingPath_;
    QWidget *controls_ = nullptr; // the slider
    QWidget *buttons_ = nullptr;
    QWidget *saving_ = nullptr;
};
