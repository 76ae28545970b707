#pragma once
// Small helpers the windows share: placement in design pixels, outer sizes,
// CP932 byte limits, grid row numbers.

#include <QLineEdit>
#include <QString>
#include <QValidator>
#include <initializer_list>

class QLabel;
class QPushButton;
class QTableWidget;
class QWidget;

// Outer (frame included) size and position, as the settings file stores them.
QSize OuterSize(const QWidget *w);
void SetOuterSize(QWidget *w, int width, int height);
// Where a new child window of `window` size goes inside an area of `area` size:
// down the diagonal in steps of `step`, at the first place no other window starts,
// and wholly inside the area when it fits (else at the top left).
QPoint CascadePosition(QSize area, QSize window, const QList<QPoint> &taken, int step);
// Fixed client area, not resizable by the user.
void SetFixedClientSize(QWidget *w, int width, int height);

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y);
QPushButton *MakeButton(QWidget *parent, const QString &text, int x, int y, int w, int h);
QLineEdit *MakeEdit(QWidget *parent, int x, int y, int w, int h);
void SetBackground(QWidget *w, const QColor &color);
void SetImeOff(QWidget *w);
// The Tab key visits the widgets in this order.
void SetTabChain(std::initializer_list<QWidget *> widgets);
// Shows the message and puts the focus in the box; false, so a check can end with it.
bool Refuse(QWidget *box, const QString &message);
// "引用符「'」「"」を入力しないで下さい"
QString QuoteMessage();

// Refuses text longer than maxBytes in CP932, and characters that CP932 cannot hold.
class Cp932Validator : public QValidator {
public:
    explicit Cp932Validator(int maxBytes, QObject *parent = nullptr)
        : QValidator(parent), maxBytes_(maxBytes) {}
    State validate(QString &input, int &pos) const override;

private:
    int maxBytes_; // <= 0: no limit on length
};
// Installs a Cp932Validator on the box.
void LimitCp932Bytes(QLineEdit *edit, int maxBytes);

// Grid rows counted with the header as row 0; the table widget's rows start below it.
inline int GridRowToTable(int gridRow) { return gridRow - 1; }
inline int TableRowToGrid(int tableRow) { return tableRow + 1; }
// The grid's row count as the header-inclusive count (table rows + 1).
int GridRowCount(const QTableWidget *grid);
void SetGridRowCount(QTableWidget *grid, int rowsWithHeader);
QString GridCell(const QTableWidget *grid, int col, int gridRow);
void SetGridCell(QTableWidget *grid, int col, int gridRow, const QString &text);
// The current row as a header-inclusive number (1 = first data row; 0 when none).
int GridCurrentRow(const QTableWidget *grid);
// Widens every column narrower than its header's text to that text. With `keepTotal`
// the widest columns give the room back, so that the grid needs no more width than
// designed; a column gives no more than it has beyond its own header.
void FitColumnsToHeaders(QTableWidget *grid, bool keepTotal);

