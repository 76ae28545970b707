#include "windows/PresencePanel.h"

#include "core/presence/PresenceRoster.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace {
constexpr int Height = 20;
constexpr int Gap = 4;
constexpr int Pad = 6;
constexpr int PenWidth = 12;
const QString Caption = QStringLiteral("開いている人：");
const QString DrawingWord = QStringLiteral("（描画中）");
const QString Hint = QStringLiteral("Ctrlを押しながら絵の上に置くと、その線を描いた人を表示します");
} // namespace

PresencePanel::PresencePanel(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(Height);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(236, 240, 248));
    setPalette(p);
    clock_.start();
    expire_ = new QTimer(this);
    expire_->setSingleShot(true);
    connect(expire_, &QTimer::timeout, this, &PresencePanel::update_);
    hide();
}

void PresencePanel::SetMembers(const QList<int> &members, const QHash<int, QString> &names)
{
    members_ = members;
    names_ = names;
    if (!held_)
        setVisible(!members_.isEmpty());
    update_();
}

void PresencePanel::HoldPlace(bool held)
{
    held_ = held;
    if (!held_)
        setVisible(!members_.isEmpty());
}

void PresencePanel::NoteDrawing(int member)
{
    if (member <= 0)
        return;
    const bool was = drawing(member);
    lastRow_[member] = clock_.elapsed();
    if (!was)
        update_();
    else if (!expire_->isActive())
        expire_->start(DrawingMs);
}

bool PresencePanel::drawing(int member) const
{
    auto it = lastRow_.find(member);
    return it != lastRow_.end() && clock_.elapsed() - it.value() < DrawingMs;
}

QStringList PresencePanel::Names() const
{
    QStringList names;
    for (int m : members_)
        names << MemberLabel(m, names_);
    return names;
}

QList<int> PresencePanel::DrawingNow() const
{
    QList<int> now;
    for (int m : members_)
        if (drawing(m))
            now << m;
    return now;
}

QString PresencePanel::Text() const
{
    if (members_.isEmpty())
        return QString();
    QStringList parts;
    for (int m : members_)
        parts << MemberLabel(m, names_) + (drawing(m) ? DrawingWord : QString());
    return Caption + parts.join(QStringLiteral("、"));
}

// The tool tip, the picture and the next expiry of a drawing mark follow the state.
void PresencePanel::update_()
{
    setToolTip(Text().isEmpty() ? QString() : Text() + QLatin1Char('\n') + Hint);
    qint64 next = -1;
    for (int m : members_)
        if (drawing(m)) {
            const qint64 left = DrawingMs - (clock_.elapsed() - lastRow_.value(m));
            next = next < 0 ? left : qMin(next, left);
        }
    if (next >= 0)
        expire_->start(int(qMax<qint64>(next, 1)));
    update();
}

QSize PresencePanel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(Text()) + 2 * Pad, Height};
}

QSize PresencePanel::minimumSizeHint() const
{
    return {0, Height};
}

void PresencePanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics fm = fontMetrics();
    const int textY = (height() - fm.height()) / 2 + fm.ascent();
    int x = Pad;
    p.setPen(QColor(60, 60, 60));
    p.drawText(x, textY, Caption);
    x += fm.horizontalAdvance(Caption);
    for (int i = 0; i < members_.size(); ++i) {
        const int m = members_[i];
        const bool now = drawing(m);
        const QString name = MemberLabel(m, names_);
        QFont f = font();
        f.setBold(i == 0);
        const int w = QFontMetrics(f).horizontalAdvance(name) + 2 * Pad + (now ? PenWidth : 0);
        const QString more = QStringLiteral("…他%1人").arg(members_.size() - i);
        // What does not fit is counted instead; the tool tip names everyone.
        const bool last = i == members_.size() - 1;
        if (x + w > width() - Pad && (last || x + w + fm.horizontalAdvance(more) > width() - Pad)) {
            p.setPen(QColor(60, 60, 60));
            p.drawText(x, textY, more);
            break;
        }
        const QRectF chip(x, 2.5, w, height() - 5);
        p.setPen(now ? QColor(200, 110, 0) : QColor(150, 165, 190));
        p.setBrush(now ? QColor(255, 214, 150) : (i == 0 ? QColor(210, 226, 250) : Qt::white));
        p.drawRoundedRect(chip, 6, 6);
        int tx = x + Pad;
        if (now) {
            // A pen: its shaft and its tip.
            QPainterPath pen;
            const qreal cy = height() / 2.0;
            pen.moveTo(tx + 1, cy + 4);
            pen.lineTo(tx + 8, cy - 3);
            p.setPen(QPen(QColor(120, 60, 0), 2, Qt::SolidLine, Qt::RoundCap));
            p.drawPath(pen);
            tx += PenWidth;
        }
        p.setPen(Qt::black);
        p.setFont(f);
        p.drawText(tx, textY, name);
        p.setFont(font());
        x += w + Gap;
    }
}
