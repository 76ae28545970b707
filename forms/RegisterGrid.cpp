#include "forms/RegisterGrid.h"

#include "forms/FormUtil.h"
#include "core/TextRoutines.h"

#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>

QTableWidget *MakeRegisterGrid(QWidget *parent, const QStringList &headers,
                               const QList<int> &widths, int x, int y, int w, int h)
{
    auto *grid = new QTableWidget(parent);
    grid->setGeometry(x, y, w, h);
    grid->setColumnCount(int(headers.size()));
    grid->setHorizontalHeaderLabels(headers);
    for (int c = 0; c < widths.size(); ++c)
        grid->setColumnWidth(c, widths[c]);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(24);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setSectionsClickable(false);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->horizontalHeader()->setMinimumSectionSize(1);
    grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grid->horizontalHeader()->setStretchLastSection(false);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setTabKeyNavigation(false);
    grid->setWordWrap(false);
    // The header's minimum size would otherwise widen the narrow "所属No" column.
    for (int c = 0; c < widths.size(); ++c)
        grid->setColumnWidth(c, widths[c]);
    FitColumnsToHeaders(grid, true);
    ResetRegisterGrid(grid);
    return grid;
}

void ResetRegisterGrid(QTableWidget *grid)
{
    SetGridRowCount(grid, 2);
    for (int c = 0; c < grid->columnCount(); ++c)
        SetGridCell(grid, c, 1, QString());
    SelectNumberedRow(grid, 0);
}

void SelectNumberedRow(QTableWidget *grid, int number)
{
    for (int r = 1; number > 0 && r < GridRowCount(grid); ++r) {
        if (TextToInt(GridCell(grid, 0, r)) == number) {
            grid->setCurrentCell(GridRowToTable(r), 0);
            grid->selectRow(GridRowToTable(r));
            return;
        }
    }
    grid->setCurrentCell(-1, -1);
    grid->clearSelection();
}

void ConnectGridClick(QTableWidget *grid, const bool *quiet, std::function<void()> onClick)
{
    QObject::connect(grid, &QTableWidget::cellClicked, grid, [onClick](int, int) { onClick(); });
    QObject::connect(grid, &QTableWidget::currentCellChanged, grid,
                     [quiet, onClick](int row, int, int prevRow, int) {
                         if (!*quiet && row >= 0 && row != prevRow)
                             onClick();
                     });
}

DoubleClickFilter::DoubleClickFilter(QLineEdit *edit, std::function<void()> handler)
    : QObject(edit), handler_(std::move(handler))
{
    edit->installEventFilter(this);
}

bool DoubleClickFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        handler_();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool NumberGiven(QLineEdit *edit)
{
    return !IsBlank(edit->text())
           || Refuse(edit, QStringLiteral("番号を入力して下さい（正の整数値入力）"));
}

bool PositiveNumber(QLineEdit *edit, int &number)
{
    number = TextToInt(edit->text());
    return number > 0 || Refuse(edit, QStringLiteral("番号は正の整数で入力して下さい"));
}

bool NameWithoutQuotes(QLineEdit *edit)
{
    return !HasQuote(edit->text()) || Refuse(edit, QuoteMessage());
}

QString DeleteQuestion(const QString &number, const QString &name)
{
    return QStringLiteral("「No.") + number + QStringLiteral("：") + name
           + QStringLiteral("」を削除します。\r\nよろしいですか？");
}

QString NextNumberText(const QString &maxText)
{
    return QString::number(qint64(TextToInt(maxText)) + 1);
}
