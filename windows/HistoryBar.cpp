#include "windows/HistoryBar.h"

#include "core/TextRoutines.h"
#include "core/catalogue/RegisterRequests.h"
#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"
#include "forms/MainLink.h"
#include "forms/MessageBoxes.h"
#include "windows/TimelapseDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <cmath>

namespace {

// The window answers between slices of this many milliseconds.
constexpr int kSliceMs = 8;
constexpr int kPlayTickMs = 50;

QToolButton *smallButton(QWidget *parent, const QString &text, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

HistoryBar::HistoryBar(const PictureReplay &replay, QWidget *parent) : QWidget(parent), replay_(replay)
{
    // The slider the whole width, the buttons under it.
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(2, 1, 2, 1);
    rows->setSpacing(0);
    controls_ = new QWidget(this);
    auto *top = new QHBoxLayout(controls_);
    top->setContentsMargins(0, 0, 0, 0);
    rows->addWidget(controls_);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    rows->addLayout(row);
    QWidget *buttons = new QWidget(this);
    auto *c = new QHBoxLayout(buttons);
    c->setContentsMargins(0, 0, 0, 0);
    c->setSpacing(2);
    PlayButton = smallButton(buttons, QString(), QStringLiteral("再生／一時停止"));
    PlayButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    BackButton = smallButton(buttons, QStringLiteral("◀"), QStringLiteral("1筆戻る"));
    ForwardButton = smallButton(buttons, QStringLiteral("▶"), QStringLiteral("1筆進む"));
    SpeedBox = new QComboBox(buttons);
    for (int speed : Speeds)
        SpeedBox->addItem(QStringLiteral("%1筆/秒").arg(speed));
    SpeedBox->setCurrentIndex(1);
    SpeedBox->setFocusPolicy(Qt::NoFocus);
    SpeedBox->setToolTip(QStringLiteral("再生の速さ"));
    Slider = new QSlider(Qt::Horizontal, controls_);
    Slider->setToolTip(QStringLiteral("この筆を描き終えたときの絵"));
    top->addWidget(Slider);
    StepLabel = new QLabel(buttons);
    SaveButton = new QPushButton(QStringLiteral("動画保存..."), buttons);
    SaveButton->setToolTip(QStringLiteral("この履歴をタイムラプス（アニメーション WebP）として保存"));
    CloseButton = new QPushButton(QStringLiteral("閉じる"), buttons);
    CloseButton->setToolTip(QStringLiteral("今の絵に戻って描く"));
    for (QWidget *w : {static_cast<QWidget *>(PlayButton), static_cast<QWidget *>(BackButton),
                       static_cast<QWidget *>(ForwardButton), static_cast<QWidget *>(SpeedBox)})
        c->addWidget(w);
    c->addSpacing(6);
    c->addWidget(StepLabel, 1);
    c->addWidget(SaveButton);
    c->addWidget(CloseButton);
    row->addWidget(buttons, 1);
    buttons_ = buttons;

    saving_ = new QWidget(this);
    auto *s = new QHBoxLayout(saving_);
    s->setContentsMargins(0, 0, 0, 0);
    SaveProgress = new QProgressBar(saving_);
    SaveProgress->setFormat(QStringLiteral("動画保存中 %v / %m コマ"));
    SaveProgress->setMinimumWidth(180);
    CancelButton = new QPushButton(QStringLiteral("中止"), saving_);
    s->addWidget(SaveProgress, 1);
    s->addWidget(CancelButton);
    saving_->hide();
    row->addWidget(saving_);

    playTimer_ = new QTimer(this);
    playTimer_->setInterval(kPlayTickMs);
    setPlaying(false);
    connect(playTimer_, &QTimer::timeout, this, &HistoryBar::playTick);
    connect(Slider, &QSlider::valueChanged, this, &HistoryBar::moved);
    connect(BackButton, &QToolButton::clicked, this, [this] { Slider->setValue(Slider->value() - 1); });
    connect(ForwardButton, &QToolButton::clicked, this, [this] { Slider->setValue(Slider->value() + 1); });
    connect(PlayButton, &QToolButton::clicked, this, [this] { setPlaying(!playTimer_->isActive()); });
    connect(SaveButton, &QPushButton::clicked, this, &HistoryBar::saveClicked);
    connect(CloseButton, &QPushButton::clicked, this, &HistoryBar::CloseAsked);
    connect(CancelButton, &QPushButton::clicked, this, &HistoryBar::CancelSaving);
    hide();
}

HistoryBar::~HistoryBar()
{
    // The file is not finished for nobody: the thread stops at its next frame.
    CancelSaving();
}

void HistoryBar::Enter()
{
    if (history_)
        return;
    history_ = std::make_unique<PictureHistory>(replay_);
    const QSignalBlocker block(Slider);
    Slider->setRange(0, Strokes());
    Slider->setValue(Strokes());
    history_->Show(Strokes());
    controls_->show();
    buttons_->show();
    show();
    showStep();
    readNames();
    emit Changed(history_->Image().rect());
    schedule();
}

void HistoryBar::Leave()
{
    setPlaying(false);
    history_.reset();
    controls_->hide();
    buttons_->hide();
    if (!Saving())
        hide();
}

int HistoryBar::Position() const
{
    return history_ ? history_->Shown() : 0;
}

int HistoryBar::Strokes() const
{
    return history_ ? history_->Steps() : 0;
}

void HistoryBar::RowsChanged()
{
    if (!history_)
        return;
    // At the end the slider follows what others draw; elsewhere it stays on its stroke.
    const bool atEnd = Slider->value() == Slider->maximum() && !playTimer_->isActive();
    history_->Update();
    const int step = atEnd ? Strokes() : history_->Shown();
    {
        const QSignalBlocker block(Slider);
        Slider->setRange(0, Strokes());
        Slider->setValue(step);
    }
    history_->Show(step);
    showStep();
    schedule();
}

void HistoryBar::moved(int step)
{
    if (!history_)
        return;
    history_->Show(step);
    showStep();
    schedule();
}

QString HistoryBar::AuthorText() const
{
    if (!history_ || history_->Shown() == 0)
        return QString();
    const int mn = history_->Step(history_->Shown()).mn;
    const QString name = names_.value(mn);
    return name.isEmpty() ? QStringLiteral("メンバー%1").arg(mn) : name;
}

void HistoryBar::showStep()
{
    const int at = Position(), all = Strokes();
    StepLabel->setText(at == 0 ? QStringLiteral("%1 / %2筆　白紙").arg(at).arg(all)
                               : QStringLiteral("%1 / %2筆　作者: %3").arg(at).arg(all).arg(AuthorText()));
    if (history_ && at > 0) {
        const PictureHistory::StepInfo s = history_->Step(at);
        StepLabel->setToolTip(QStringLiteral("N %1〜%2（%3点）、メンバー%4 の %5筆目")
                                  .arg(s.firstN)
                                  .arg(s.lastN)
                                  .arg(s.rows)
                                  .arg(s.mn)
                                  .arg(s.dn));
    } else {
        StepLabel->setToolTip(QString());
    }
}

void HistoryBar::readNames()
{
    MainLink *link = MainWindowLink();
    if (!link || !names_.isEmpty())
        return;
    // Without names the numbers stand in: nothing to tell.
    link->Database().Ask<RowsRead>(this, ReadPcUserChoices(), [this](RowsRead read, DbReply reply) {
        if (reply.lost || !read.ok)
            return;
        for (const QStringList &row : read.rows)
            names_.insert(TextToInt(row.value(0)), row.value(2));
        showStep();
    });
}

void HistoryBar::schedule()
{
    if (scheduled_)
        return;
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        scheduled_ = false;
        renderSome();
    });
}

void HistoryBar::renderSome()
{
    if (!history_)
        return;
    QElapsedTimer budget;
    budget.start();
    const auto goOn = [&budget] { return budget.elapsed() < kSliceMs; };
    const bool rendered = history_->Render(goOn);
    const QRect changed = history_->TakeChanged();
    if (!changed.isEmpty())
        emit Changed(changed);
    // Once the stroke is shown, the snapshots that make later moves quick, while idle.
    if (!rendered || !history_->Prepare(goOn))
        schedule();
}

bool HistoryBar::WaitRendered(int ms)
{
    QElapsedTimer t;
    t.start();
    while (history_ && !history_->Rendered() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !history_ || history_->Rendered();
}

void HistoryBar::setPlaying(bool on)
{
    if (on && history_ && Slider->value() == Slider->maximum())
        Slider->setValue(0);
    on = on && history_;
    PlayButton->setText(on ? QStringLiteral("❚❚ 一時停止") : QStringLiteral("▶ 再生"));
    playDue_ = 0;
    if (on)
        playTimer_->start();
    else
        playTimer_->stop();
}

void HistoryBar::playTick()
{
    // A stroke not drawn yet holds the player back rather than being skipped.
    if (!history_ || !history_->Rendered())
        return;
    playDue_ += Speeds[std::clamp(SpeedBox->currentIndex(), 0, 3)] * kPlayTickMs / 1000.0;
    const int ahead = int(std::floor(playDue_));
    if (ahead == 0)
        return;
    playDue_ -= ahead;
    Slider->setValue(std::min(Slider->value() + ahead, Slider->maximum()));
    if (Slider->value() == Slider->maximum())
        setPlaying(false);
}

bool HistoryBar::ExecuteTimelapseDialog(QString &path, int &stride, TimelapseOptions &options)
{
    return TimelapseDialog::Ask(this, Strokes(), history_ ? history_->Image().size() : QSize(), SaveDir, path, stride,
                                options);
}

void HistoryBar::saveClicked()
{
    if (!history_ || Saving())
        return;
    if (Strokes() == 0) {
        ShowMessage(QStringLiteral("描かれた線がないので、動画は作れません。"));
        return;
    }
    setPlaying(false);
    QString path;
    int stride = 1;
    TimelapseOptions options;
    if (!ExecuteTimelapseDialog(path, stride, options))
        return;
    RememberSaveDir(QFileInfo(path).absolutePath() + QLatin1Char('/'));
    SaveTimelapse(path, stride, options);
}

bool HistoryBar::SaveTimelapse(const QString &path, int stride, const TimelapseOptions &options)
{
    if (!history_ || Saving() || Strokes() == 0)
        return false;
    TimelapsePlan plan = history_->Plan(stride);
    const int frames = int(plan.frameEnds.size());
    SaveProgress->setRange(0, frames);
    SaveProgress->setValue(0);
    savingPath_ = path;
    showSaving(true);
    cancel_ = TimelapseJob::Start(
        std::move(plan), options, path, this,
        [this](int done, int total) {
            SaveProgress->setMaximum(total);
            SaveProgress->setValue(done);
        },
        [this, frames](TimelapseOutcome outcome, const QString &why) {
            cancel_.reset();
            showSaving(false);
            if (!history_)
                hide();
            const QString path = savingPath_;
            emit Saved(outcome, path, why);
            if (outcome == TimelapseOutcome::Written)
                ShowMessage(QStringLiteral("タイムラプスを保存しました（%1コマ）。\n%2").arg(frames).arg(path));
            else if (outcome == TimelapseOutcome::Failed)
                ShowMessage(QStringLiteral("「%1」に保存できませんでした。\n理由: %2").arg(path, why));
        });
    return true;
}

void HistoryBar::CancelSaving()
{
    if (!cancel_)
        return;
    cancel_->store(true);
    CancelButton->setEnabled(false);
    CancelButton->setText(QStringLiteral("中止中…"));
}

void HistoryBar::showSaving(bool on)
{
    saving_->setVisible(on);
    SaveButton->setEnabled(!on);
    CancelButton->setEnabled(true);
    CancelButton->setText(QStringLiteral("中止"));
    if (on)
        show();
}
