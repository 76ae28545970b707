#pragma once
// What the section and member registers share: their grid and the double-click on a number box.

#include <QObject>
#include <QStringList>
#include <functional>

class QLineEdit;
class QTableWidget;
class QWidget;

// A read-only grid with whole-row selection, a header row the user can drag to
// resize columns, and no row header.
QTableWidget *MakeRegisterGrid(QWidget *parent, const QStringList &headers,
                               const QList<int> &widths, int x, int y, int w, int h);

// Header plus one empty data row, none of it selected.
void ResetRegisterGrid(QTableWidget *grid);
// Makes the row whose number (column 0) is `number` the current, selected row; with
// no such row nothing is selected, so that no row shows what the boxes do not hold.
void SelectNumberedRow(QTableWidget *grid, int number);

// Calls `onClick` for every click on a cell and every keyboard move of the current
// row, but not while `quiet` is true (the program's own reloads).
void ConnectGridClick(QTableWidget *grid, const bool *quiet, std::function<void()> onClick);

// Runs the handler on a double-click in the box (QLineEdit has no such signal).
class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QLineEdit *edit, std::function<void()> handler);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> handler_;
};

// The checks both registers make, each refusing with its message and focus.
// The number box: not blank.
bool NumberGiven(QLineEdit *edit);
// The number box as typed through TextToInt: greater than 0.
bool PositiveNumber(QLineEdit *edit, int &number);
// The name box: no half-width apostrophe or double quote.
bool NameWithoutQuotes(QLineEdit *edit);
// "「No.<number>：<name>」を削除します。" CR LF "よろしいですか？"
QString DeleteQuestion(const QString &number, const QString &name);
// One more than the largest number given as text, 1 for empty text; never overflows.
QString NextNumberText(const QString &maxText);
