#include "forms/ElidedLabel.h"

#include <QResizeEvent>

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

void ElidedLabel::SetFullText(const QString &text)
{
    full_ = text;
    setToolTip(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const
{
    // Whatever the text: a layout that asks the hint does not grow the window for it.
    return {qMin(QLabel::sizeHint().width(), 100), QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *e)
{
    QLabel::resizeEvent(e);
    elide();
}

void ElidedLabel::elide()
{
    const int room = contentsRect().width() - 2 * margin() - (indent() > 0 ? indent() : 0);
    // One line: a line break in a reason would otherwise push the status bar taller.
    QString line = full_;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString shown = fontMetrics().elidedText(line, Qt::ElideRight, qMax(room, 0));
    elided_ = shown != line;
    QLabel::setText(shown);
}
