#include "forms/FormUtil.h"

#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"

#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

QSize OuterSize(const QWidget *w)
{
    return w->frameGeometry().size();
}

void SetOuterSize(QWidget *w, int width, int height)
{
    const QSize frame = w->frameGeometry().size() - w->geometry().size();
    w->resize(qMax(0, width - frame.width()), qMax(0, height - frame.height()));
}

QPoint CascadePosition(QSize area, QSize window, const QList<QPoint> &taken, int step)
{
    const int room = qMin(area.width() - window.width(), area.height() - window.height());
    if (room < 0 || step <= 0)
        return {0, 0};
    const int places = room / step + 1;
    for (int k = 0; k < places; ++k) {
        const QPoint p(k * step, k * step);
        if (!taken.contains(p))
            return p;
    }
    // Every place is taken: start the diagonal again.
    const int k = static_cast<int>(taken.size() % places);
    return {k * step, k * step};
}

void SetFixedClientSize(QWidget *w, int width, int height)
{
    w->setFixedSize(width, height);
}

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y)
{
    auto *l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QPushButton *MakeButton(QWidget *parent, const QString &text, int x, int y, int w, int h)
{
    auto *b = new QPushButton(text, parent);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}

QLineEdit *MakeEdit(QWidget *parent, int x, int y, int w, int h)
{
    auto *e = new QLineEdit(parent);
    e->setGeometry(x, y, w, h);
    return e;
}

void SetBackground(QWidget *w, const QColor &color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, color);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

void SetImeOff(QWidget *w)
{
    w->setAttribute(Qt::WA_InputMethodEnabled, false);
}

void SetTabChain(std::initializer_list<QWidget *> widgets)
{
    QWidget *previous = nullptr;
    for (QWidget *w : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

bool Refuse(QWidget *box, const QString &message)
{
    ShowMessage(message);
    box->setFocus();
    return false;
}

QString QuoteMessage()
{
    return QStringLiteral("引用符「'」「\"」を入力しないで下さい");
}

QValidator::State Cp932Validator::validate(QString &input, int &) const
{
    const int bytes = Cp932Length(input);
    if (bytes < 0)
        return Invalid;
    if (maxBytes_ > 0 && bytes > maxBytes_)
        return Invalid;
    return Acceptable;
}

void LimitCp932Bytes(QLineEdit *edit, int maxBytes)
{
    edit->setValidator(new Cp932Validator(maxBytes, edit));
}

int GridRowCount(const QTableWidget *grid)
{
    return grid->rowCount() + 1;
}

void SetGridRowCount(QTableWidget *grid, int rowsWithHeader)
{
    grid->setRowCount(qMax(0, rowsWithHeader - 1));
}

QString GridCell(const QTableWidget *grid, int col, int gridRow)
{
    const QTableWidgetItem *item = grid->item(GridRowToTable(gridRow), col);
    return item ? item->text() : QString();
}

void SetGridCell(QTableWidget *grid, int col, int gridRow, const QString &text)
{
    const int row = GridRowToTable(gridRow);
    if (row < 0)
        return;
    if (row >= grid->rowCount())
        grid->setRowCount(row + 1);
    QTableWidgetItem *item = grid->item(row, col);
    if (!item) {
        item = new QTableWidgetItem(text);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        grid->setItem(row, col, item);
    } else {
        item->setText(text);
    }
}

int GridCurrentRow(const QTableWidget *grid)
{
    const int row = grid->currentRow();
    return row < 0 ? 0 : TableRowToGrid(row);
}

void FitColumnsToHeaders(QTableWidget *grid, bool keepTotal)
{
    QHeaderView *header = grid->horizontalHeader();
    // The header's style (and a style sheet of its own) sets its margins.
    header->ensurePolished();
    const int columns = grid->columnCount();
    QList<int> need, width;
    int owed = 0;
    for (int c = 0; c < columns; ++c) {
        need << header->sectionSizeHint(c);
        width << grid->columnWidth(c);
        if (width[c] < need[c]) {
            owed += need[c] - width[c];
            width[c] = need[c];
        }
    }
    while (keepTotal && owed > 0) {
        int giver = -1;
        for (int c = 0; c < columns; ++c)
            if (width[c] > need[c] && (giver < 0 || width[c] > width[giver]))
                giver = c;
        if (giver < 0)
            break;
        const int given = qMin(owed, width[giver] - need[giver]);
        width[giver] -= given;
        owed -= given;
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnWidth(c, width[c]);
}
