#include "windows/RegisterDialog.h"

#include "forms/FormUtil.h"
#include "forms/DbCommand.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"
#include "forms/RegisterGrid.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableWidget>

RegisterDialog::RegisterDialog(const QString &caption, int clientWidth, int clientHeight, Register which,
                               int nameColumn, const QString &nameMissing, QWidget *parent)
    : FormDialog(caption, clientWidth, clientHeight, 192, 107, parent), which_(which),
      nameColumn_(nameColumn), nameMissing_(nameMissing)
{
    SetNoKeyButtons();
}


QTableWidget *RegisterDialog::MakeGrid(const QStringList &headers, const QList<int> &widths)
{
    QScopedValueRollback<bool> quiet(refreshing_, true);
    return MakeRegisterGrid(this, headers, widths, 8, 24, 377, 120);
}

QLineEdit *RegisterDialog::MakeNumberBox(QWidget *parent, int x, int y, int w, int h)
{
    QLineEdit *box = MakeEdit(parent, x, y, w, h);
    box->setMaxLength(16);
    SetImeOff(box);
    new DoubleClickFilter(box, [this] { Edit1DblClick(); });
    return box;
}

void RegisterDialog::ConnectHandlers()
{
    ConnectGridClick(SG1, &refreshing_, [this] { SG1Click(); });
    connect(Button1, &QPushButton::clicked, this, &RegisterDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &RegisterDialog::Button2Click);
    connect(Button4, &QPushButton::clicked, this, &RegisterDialog::Button4Click);
    connect(Button3, &QPushButton::clicked, this, &RegisterDialog::Button3Click);
}

void RegisterDialog::FormShow()
{
    {
        QScopedValueRollback<bool> quiet(refreshing_, true);
        ResetRegisterGrid(SG1);
    }
    if (!DatabaseReadyOrClose())
        return;
    PrepareShow([this] {
        RefreshGrid();
        SG1->setFocus();
    });
}

void RegisterDialog::FormClose()
{
}

void RegisterDialog::RefreshGrid()
{
    Ask<RowsRead>(GridRequest(), [this](RowsRead read, DbReply reply) {
        // Unread, the grid keeps what it showed.
        if (reply.lost || !read.ok) {
            ReportUnreadable();
            return;
        }
        QScopedValueRollback<bool> quiet(refreshing_, true);
        ResetRegisterGrid(SG1);
        FillGrid(read.rows);
        // The boxes keep what they hold: the row they show, if the grid has it, is the one selected.
        SelectNumberedRow(SG1, TextToInt(Edit1->text()));
    });
}

void RegisterDialog::ShowRow(int r)
{
    Edit1->setText(GridCell(SG1, 0, r));
    Edit2->setText(GridCell(SG1, nameColumn_, r));
}

void RegisterDialog::SG1Click()
{
    const int r = GridCurrentRow(SG1);
    if (r < 1 || GridCell(SG1, 0, r).isEmpty())
        return;
    ShowRow(r);
}

void RegisterDialog::Edit1DblClick()
{
    Ask<MaxRead>(ReadHighestNumber(which_), [this](MaxRead read, DbReply reply) {
        // Unread, the box keeps what it had: a guess could be a number already taken.
        if (reply.lost || !read.ok) {
            ReportUnreadable();
            return;
        }
        Edit1->setText(NextNumberText(read.max));
    });
}

void RegisterDialog::Button1Click()
{
    int number = 0;
    if (!NumberGiven(Edit1) || !PositiveNumber(Edit1, number))
        return;
    if (!NameWithoutQuotes(Edit2))
        return;
    const QStringList values = RowValues(number, Edit2->text());
    Ask<bool>(InsertRegisterRow(which_, values), [this](bool ok, DbReply reply) {
        // The connection went with the answer: whether the row is stored is unknown.
        if (reply.lost) {
            ReportLostChange(QStringLiteral("登録失敗"));
            return;
        }
        ShowMessage(ok ? QStringLiteral("登録OK") : QStringLiteral("登録失敗"));
        RefreshGrid();
    });
}

void RegisterDialog::Button2Click()
{
    const int r = GridCurrentRow(SG1);
    if (r < 1 || GridCell(SG1, 0, r).isEmpty())
        return;
    if (!ConfirmBox(DeleteQuestion(GridCell(SG1, 0, r), GridCell(SG1, nameColumn_, r))))
        return;
    const int number = TextToInt(GridCell(SG1, 0, GridCurrentRow(SG1)));
    CheckDeletion(number, [this, number] {
        Ask<bool>(DeleteRegisterRow(which_, number), [this](bool ok, DbReply reply) {
            if (reply.lost) {
                ReportLostChange(QStringLiteral("削除失敗"));
                return;
            }
            ShowMessage(ok ? QStringLiteral("削除OK") : QStringLiteral("削除失敗"));
            RefreshGrid();
        });
    });
}

void RegisterDialog::Button4Click()
{
    int number = 0;
    if (!NumberGiven(Edit1))
        return;
    if (IsBlank(Edit2->text())) {
        Refuse(Edit2, nameMissing_);
        return;
    }
    if (!PositiveNumber(Edit1, number))
        return;
    Ask<bool>(NumberTaken(which_, number), [this, number](bool exists, DbReply reply) {
        if (reply.lost) {
            ReportUnreadable();
            return;
        }
        if (!exists) {
            Refuse(Edit1, QStringLiteral("入力した番号は未使用ですので変更は出来ません。再入力して下さい"));
            return;
        }
        if (!NameWithoutQuotes(Edit2))
            return;
        const QStringList values = RowValues(number, Edit2->text());
        Ask<bool>(UpdateRegisterRow(which_, number, values), [this](bool ok, DbReply reply) {
            if (reply.lost) {
                ReportLostChange(QStringLiteral("変更失敗"));
                return;
            }
            ShowMessage(ok ? QStringLiteral("変更OK") : QStringLiteral("変更失敗"));
            RefreshGrid();
        });
    });
}

void RegisterDialog::Button3Click()
{
    accept();
}
