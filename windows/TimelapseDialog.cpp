#include "windows/TimelapseDialog.h"

#include "forms/ProgramFont.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace {

const int kPercents[] = {100, 50, 25};
const int kFrameMs[] = {50, 100, 200, 500};

} // namespace

TimelapseDialog::TimelapseDialog(int strokes, QSize picture, QWidget *parent)
    : QDialog(parent), strokes_(std::max(1, strokes)), picture_(picture)
{
    setWindowTitle(QStringLiteral("タイムラプスの保存"));
    ApplyProgramFont(this);
    auto *form = new QFormLayout(this);
    StrideBox = new QSpinBox(this);
    StrideBox->setRange(1, strokes_);
    StrideBox->setSuffix(QStringLiteral(" 筆ごと"));
    // About 150 frames, whatever the picture.
    StrideBox->setValue((strokes_ + 149) / 150);
    form->addRow(QStringLiteral("1コマの間隔"), StrideBox);
    SizeBox = new QComboBox(this);
    for (int percent : kPercents) {
        const QSize s = TimelapseFrameSize(picture_, percent);
        SizeBox->addItem(QStringLiteral("%1%（%2×%3）").arg(percent).arg(s.width()).arg(s.height()));
    }
    // Frames of at most about 1000 pixels a side: large enough to see, small enough to send.
    int size = 0;
    while (size + 1 < SizeBox->count() && std::max(picture_.width(), picture_.height()) * kPercents[size] / 100 > 1000)
        ++size;
    SizeBox->setCurrentIndex(size);
    form->addRow(QStringLiteral("大きさ"), SizeBox);
    FrameBox = new QComboBox(this);
    for (int ms : kFrameMs)
        FrameBox->addItem(QStringLiteral("%1 秒").arg(ms / 1000.0));
    FrameBox->setCurrentIndex(1);
    form->addRow(QStringLiteral("1コマの時間"), FrameBox);
    Summary = new QLabel(this);
    form->addRow(Summary);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("保存先を選ぶ..."));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(StrideBox, &QSpinBox::valueChanged, this, &TimelapseDialog::summarise);
    connect(FrameBox, &QComboBox::currentIndexChanged, this, &TimelapseDialog::summarise);
    summarise();
}

int TimelapseDialog::Stride() const
{
    return StrideBox->value();
}

TimelapseOptions TimelapseDialog::Options() const
{
    TimelapseOptions o;
    o.scalePercent = kPercents[std::clamp(SizeBox->currentIndex(), 0, 2)];
    o.frameMs = kFrameMs[std::clamp(FrameBox->currentIndex(), 0, 3)];
    return o;
}

void TimelapseDialog::summarise()
{
    const int frames = (strokes_ + Stride() - 1) / Stride();
    const TimelapseOptions o = Options();
    const double seconds = double((frames - 1) * o.frameMs + std::max(o.frameMs, o.lastFrameMs)) / 1000;
    Summary->setText(QStringLiteral("%1筆から %2コマ、約 %3 秒のアニメーション WebP").arg(strokes_).arg(frames).arg(seconds, 0, 'f', 1));
}

bool TimelapseDialog::Ask(QWidget *parent, int strokes, QSize picture, const QString &folder, QString &path, int &stride,
                          TimelapseOptions &options)
{
    TimelapseDialog dialog(strokes, picture, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    stride = dialog.Stride();
    options = dialog.Options();
    // Qt's own dialog, whatever the desktop: it speaks the program's Japanese.
    QFileDialog files(parent, QString(), folder);
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setFileMode(QFileDialog::AnyFile);
    files.setNameFilter(QStringLiteral("アニメーション WebP (*.webp)"));
    files.setDefaultSuffix(QStringLiteral("webp"));
    files.setOption(QFileDialog::DontUseNativeDialog, true);
    files.setViewMode(QFileDialog::Detail);
    files.resize(files.size().expandedTo(QSize(720, 440)));
    if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty())
        return false;
    path = files.selectedFiles().value(0);
    // The file is WebP whatever it is called; its name says so.
    if (!path.endsWith(QStringLiteral(".webp"), Qt::CaseInsensitive))
        path += QStringLiteral(".webp");
    return true;
}
