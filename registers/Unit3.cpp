#include "registers/Unit3.h"

#include "app/FormUtil.h"
#include "app/Unit1.h"
#include "app/UnitV.h"
#include "registers/RegisterGrid.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableWidget>

TForm3 *Form3 = nullptr;

namespace {
const QString kTable = QStringLiteral("SECTION");
const QStringList kColumns = {QStringLiteral("N"), QStringLiteral("SNAME")};
} // namespace

TForm3::TForm3(QWidget *parent)
    : FormDialog(QStringLiteral("所属（SECTION）の登録"), 390, 261, 192, 107, parent)
{
    SetNoKeyButtons();
    Label1 = MakeLabel(this, QStringLiteral("現在の登録内容"), 0, 8);
    {
        QScopedValueRollback<bool> quiet(refreshing_, true);
        SG1 = MakeRegisterGrid(this, {QStringLiteral("番号"), QStringLiteral("名称")}, {57, 294},
                               8, 24, 377, 120);
    }

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(8, 152, 225, 73);
    Label3 = MakeLabel(Panel1, QStringLiteral("番号："), 8, 12);
    Edit1 = MakeEdit(Panel1, 48, 8, 81, 21);
    Edit1->setMaxLength(16);
    SetImeOff(Edit1);
    new DoubleClickFilter(Edit1, [this] { Edit1DblClick(); });
    Label4 = MakeLabel(Panel1, QStringLiteral("名称："), 8, 36);
    Edit2 = MakeEdit(Panel1, 48, 32, 169, 21);
    LimitCp932Bytes(Edit2, 32);

    Button1 = MakeButton(this, QStringLiteral("追加登録(&A)"), 8, 232, 225, 25);
    Button2 = MakeButton(this, QStringLiteral("データ削除(&D)"), 248, 152, 137, 25);
    Button4 = MakeButton(this, QStringLiteral("データ変更(&E)"), 248, 192, 137, 25);
    Button3 = MakeButton(this, QStringLiteral("閉じる(&C)"), 248, 232, 137, 25);

    SetTabChain({SG1, Edit1, Edit2, Button1, Button2, Button4, Button3});

    ConnectGridClick(SG1, &refreshing_, [this] { SG1Click(); });
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(Button4, &QPushButton::clicked, this, &TForm3::Button4Click);
    connect(Button3, &QPushButton::clicked, this, &TForm3::Button3Click);
}


void TForm3::FormShow()
{
    {
        QScopedValueRollback<bool> quiet(refreshing_, true);
        ResetRegisterGrid(SG1);
    }
    if (!DatabaseReadyOrClose())
        return;
    RefreshGrid();
    SG1->setFocus();
}

void TForm3::FormClose()
{
}

void TForm3::RefreshGrid()
{
    QScopedValueRollback<bool> quiet(refreshing_, true);
    BusyCursor busy;
    ResetRegisterGrid(SG1);
    DataAccess &db = Form1->Db();
    const int count = db.SelectOrdered(QStringLiteral("*"), kTable, QString(), QStringLiteral("N"));
    if (count > 0)
        SetGridRowCount(SG1, count + 1);
    QStringList row(2);
    for (int i = 1; i <= count; ++i) {
        if (i == 1)
            db.FetchFirst(row);
        else
            db.FetchNext(row);
        SetGridCell(SG1, 0, i, row[0]);
        SetGridCell(SG1, 1, i, row[1]);
    }
    db.CloseQuery();
    SelectFirstGridRow(SG1);
}

void TForm3::SG1Click()
{
    const int r = GridCurrentRow(SG1);
    if (r < 1 || GridCell(SG1, 0, r).isEmpty())
        return;
    Edit1->setText(GridCell(SG1, 0, r));
    Edit2->setText(GridCell(SG1, 1, r));
}

void TForm3::Edit1DblClick()
{
    QString max;
    {
        BusyCursor busy;
        Form1->Db().SelectMax(kTable, QStringLiteral("N"), QString(), max);
    }
    Edit1->setText(NextNumberText(max));
}

void TForm3::Button1Click()
{
    int number = 0;
    if (!NumberGiven(Edit1) || !PositiveNumber(Edit1, number))
        return;
    if (!NameWithoutQuotes(Edit2))
        return;
    const QString name = Edit2->text();
    bool ok;
    {
        BusyCursor busy;
        ok = Form1->Db().InsertRecord(kTable, 2, kColumns, {QString::number(number), TextValue(name)});
    }
    ShowMessage(ok ? QStringLiteral("登録OK") : QStringLiteral("登録失敗"));
    RefreshGrid();
}

void TForm3::Button2Click()
{
    const int r = GridCurrentRow(SG1);
    if (r < 1 || GridCell(SG1, 0, r).isEmpty())
        return;
    if (!ConfirmBox(DeleteQuestion(GridCell(SG1, 0, r), GridCell(SG1, 1, r))))
        return;
    const int number = TextToInt(GridCell(SG1, 0, GridCurrentRow(SG1)));
    bool inUse;
    {
        BusyCursor busy;
        inUse = Form1->TableExists(QStringLiteral("MEMBER"))
                && Form1->Db().SelectMatch(QStringLiteral("MEMBER"), QStringLiteral("SN"), QString(),
                                           number);
    }
    if (Form1->TableListFailed())
        return; // whether a member uses it is unknown: delete nothing
    if (inUse) {
        ShowMessage(QStringLiteral("メンバーデータで既に使用されていますので削除出来ません。"));
        return;
    }
    bool ok;
    {
        BusyCursor busy;
        ok = Form1->Db().DeleteRecords(kTable, QStringLiteral("N=") + QString::number(number));
    }
    ShowMessage(ok ? QStringLiteral("削除OK") : QStringLiteral("削除失敗"));
    RefreshGrid();
}

void TForm3::Button4Click()
{
    int number = 0;
    if (!NumberGiven(Edit1))
        return;
    if (IsBlank(Edit2->text())) {
        Refuse(Edit2, QStringLiteral("名称を入力して下さい（半角32文字まで）"));
        return;
    }
    if (!PositiveNumber(Edit1, number))
        return;
    bool exists;
    {
        BusyCursor busy;
        exists = Form1->Db().SelectMatch(kTable, QStringLiteral("N"), QString(), number);
    }
    if (!exists) {
        Refuse(Edit1, QStringLiteral("入力した番号は未使用ですので変更は出来ません。再入力して下さい"));
        return;
    }
    if (!NameWithoutQuotes(Edit2))
        return;
    const QString name = Edit2->text();
    const QString key = QString::number(number);
    bool ok;
    {
        BusyCursor busy;
        ok = Form1->Db().UpdateRecord(kTable, 2, kColumns, {key, TextValue(name)},
                                      QStringLiteral("N=") + key);
    }
    ShowMessage(ok ? QStringLiteral("変更OK") : QStringLiteral("変更失敗"));
    RefreshGrid();
}

void TForm3::Button3Click()
{
    accept();
}
