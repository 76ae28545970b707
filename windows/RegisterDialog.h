#pragma once
// What the section and member registers share: the grid of stored rows, the number
// and name boxes, and the add, change and delete handlers. They differ in the table,
// its columns, the values of a row, the grid and the check before a deletion.

#include "forms/FormDialog.h"
#include "forms/DbCommand.h"
#include "core/catalogue/RegisterRequests.h"

#include <functional>

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
    RegisterDialog(const QString &caption, int clientWidth, int clientHeight, Register which,
                   int nameColumn, const QString &nameMissing, QWidget *parent = nullptr);

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
    // `then` unless the dialog has to close instead.
    virtual void PrepareShow(std::function<void()> then) { then(); }
    // The grid's rows, and grid rows 1.. filled from them.
    virtual DbRequest<RowsRead> GridRequest() const = 0;
    virtual void FillGrid(const QList<QStringList> &rows) = 0;
    // The boxes from grid row r.
    virtual void ShowRow(int r);
    // The values of a row, in the order of the columns.
    virtual QStringList RowValues(int number, const QString &name) const = 0;
    // `proceed` unless the row must stay (the refusal then shown).
    virtual void CheckDeletion(int, std::function<void()> proceed) { proceed(); }
    // A command of this dialog; the close button stays usable meanwhile.
    template <class R>
    void Ask(DbRequest<R> request, std::function<void(R, DbReply)> answer)
    {
        AskDb<R>(this, std::move(request), std::move(answer), {Button3});
    }

    bool refreshing_ = false;

private:
    Register which_;
    int nameColumn_;
    QString nameMissing_;
};
