#pragma once
// What the section and member registers share: the grid of stored rows, the number
// and name boxes, and the add, change and delete handlers. They differ in the table,
// its columns, the values of a row, the grid and the check before a deletion.

#include "forms/FormDialog.h"

#include <QStringList>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class RegisterDialog : public FormDialog {
    Q_OBJECT
public:
    // nameColumn: the grid column of the name; nameMissing: the message for a blank name
    // when changing.
    RegisterDialog(const QString &caption, int clientWidth, int clientHeight, const QString &table,
                 const QStringList &columns, int nameColumn, const QString &nameMissing,
                 QWidget *parent = nullptr);

    void RefreshGrid();

    QLabel *Label1 = nullptr;
    QTableWidget *SG1 = nullptr;
    QFrame *Panel1 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button4 = nullptr;
    QPushButton *Button3 = nullptr;

public slots:
    void FormShow() override;
    void FormClose() override;
    void SG1Click();
    void Edit1DblClick();
    void Button1Click();
    void Button2Click();
    void Button4Click();
    void Button3Click();

protected:
    // The grid, made quietly (its first current row is no click).
    QTableWidget *MakeGrid(const QStringList &headers, const QList<int> &widths);
    // The number box with its double-click; the derived constructor places the rest,
    // then connects the handlers.
    QLineEdit *MakeNumberBox(QWidget *parent, int x, int y, int w, int h);
    void ConnectHandlers();

    // Before the grid is read on showing (the member register fills its section list);
    // false when the dialog has to close instead.
    virtual bool PrepareShow() { return true; }
    // Fills grid rows 1.. from the table; the query is closed afterwards.
    virtual void FillGrid() = 0;
    // The boxes from grid row r.
    virtual void ShowRow(int r);
    // The values of a row, in the order of the columns.
    virtual QStringList RowValues(int number, const QString &name) const = 0;
    // True when the row must stay (the refusal already shown).
    virtual bool DeleteRefused(int) { return false; }

    bool refreshing_ = false;

private:
    QString table_;
    QStringList columns_;
    int nameColumn_;
    QString nameMissing_;
};
