#pragma once
// A status text that never widens its window: it takes the width the layout gives it,
// shows what fits with "…" at the end, and carries the whole text as its tool tip.

#include <QLabel>

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);
    void SetFullText(const QString &text);
    QString FullText() const { return full_; }
    // Whether the text shown is cut short.
    bool Elided() const { return elided_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    void elide();
    QString full_;
    bool elided_ = false;
};
