#include "windows/OpenPictureMarks.h"

#include "core/TextRoutines.h"
#include "forms/FormUtil.h"

#include <QPainter>
#include <QTableWidget>

namespace {
// The column the badge stands in: the picture's name.
constexpr int MarkColumn = 1;

QIcon badge(int people)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(20, 110, 40));
    p.setBrush(QColor(60, 170, 80));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    QFont f = p.font();
    f.setPixelSize(people > 9 ? 8 : 11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, people > 9 ? QStringLiteral("9+") : QString::number(people));
    return QIcon(pm);
}

QString holders(const PresenceRoster &roster, qint64 imageNo)
{
    const std::vector<int> members = roster.MembersOf(imageNo);
    if (!roster.ok || members.empty())
        return QString();
    return QStringLiteral("開いている人（%1人）：").arg(members.size())
           + NameList(ShownOrder(members, 0, roster.names), roster.names);
}
} // namespace

void ShowOpenPictureMarks(QTableWidget *grid, const PresenceRoster &roster)
{
    for (int r = 1; r < GridRowCount(grid); ++r) {
        QTableWidgetItem *item = grid->item(GridRowToTable(r), MarkColumn);
        const qint64 n = TextToInt(GridCell(grid, 0, r));
        const QString who = n > 0 ? holders(roster, n) : QString();
        if (!item) {
            if (who.isEmpty())
                continue;
            SetGridCell(grid, MarkColumn, r, QString());
            item = grid->item(GridRowToTable(r), MarkColumn);
        }
        item->setIcon(who.isEmpty() ? QIcon() : badge(int(roster.MembersOf(n).size())));
        item->setToolTip(who);
    }
}

QString OpenPictureMark(const QTableWidget *grid, int gridRow)
{
    const QTableWidgetItem *item = grid->item(GridRowToTable(gridRow), MarkColumn);
    return item ? item->toolTip() : QString();
}

QString WithHolders(const QString &message, const PresenceRoster &roster, qint64 imageNo)
{
    const QString who = holders(roster, imageNo);
    return who.isEmpty() ? message : message + QLatin1Char('\n') + who;
}
