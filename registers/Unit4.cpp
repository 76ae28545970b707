#include "registers/Unit4.h"

#include "app/FormUtil.h"
#include "app/Unit1.h"
#include "app/UnitV.h"
#include "registers/RegisterGrid.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableWidget>

TForm4 *Form4 = nullptr;

namespace {
const QString kTable = QStringLiteral("MEMBER");
const QStringList kColumns = {QStringLiteral("N"), QStringLiteral("SN"), QStringLiteral("PNAME")};
} // namespace

TForm4::TForm4(QWidget *parent)
    : FormDialog(QStringLiteral("メンバー（MEMBER）の登録"), 390, 277, 192, 107, parent)
{
    SetNoKeyButtons();
    Label1 = MakeLabel(this, QStringLiteral("現在の登録内容"), 0, 8);
    {
        QScopedValueRollback<bool> quiet(refreshing_, true);
        SG1 = MakeRegisterGrid(this,
                               {QStringLiteral("番号"), QStringLiteral("所属No"),
                                QStringLiteral("所属"), QStringLiteral("氏名")},
                               {57, 10, 130, 153}, 8, 24, 377, 120);
    }

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(8, 152, 225, 89);
    Label3 = MakeLabel(Panel1, QStringLiteral("番号："), 8, 12);
    Edit1 = MakeEdit(Panel1, 48, 8, 81, 21);
    Edit1->setMaxLength(16);
    SetImeOff(Edit1);
    new DoubleClickFilter(Edit1, [this] { Edit1DblClick(); });
    Label2 = MakeLabel(Panel1, QStringLiteral("所属："), 8, 36);
    ComboBox1 = new QComboBox(Panel1);
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(48, 32, 169, 21);
    SetImeOff(ComboBox1);
    Label4 = MakeLabel(Panel1, QStringLiteral("氏名："), 8, 60);
    Edit2 = MakeEdit(Panel1, 48, 56, 169, 21);
    LimitCp932Bytes(Edit2, 16);

    Button1 = MakeButton(this, QStringLiteral("追加登録(&A)"), 8, 248, 225, 25);
    Button2 = MakeButton(this, QStringLiteral("データ削除(&D)"), 248, 152, 137, 25);
    Button4 = MakeButton(this, QStringLiteral("データ変更(&E)"), 248, 200, 137, 25);
    Button3 = MakeButton(this, QStringLiteral("閉じる(&C)"), 248, 248, 137, 25);

    SetTabChain({SG1, Edit1, ComboBox1, Edit2, Button1, Button2, Button4, Button3});

    ConnectGridClick(SG1, &refreshing_, [this] { SG1Click(); });
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
    connect(Button4, &QPushButton::clicked, this, &TForm4::Button4Click);
    connect(Button3, &QPushButton::clicked, this, &TForm4::Button3Click);
}


void TForm4::FormShow()
{
    {
        QScopedValueRollback<bool> quiet(refreshing_, true);
        ResetRegisterGrid(SG1);
    }
    if (!DatabaseReadyOrClose())
        return;

    ComboBox1->clear();
    ComboBox1->addItem(QStringLiteral("0:指定無し"));
    {
        BusyCursor busy;
        if (Form1->TableExists(QStringLiteral("SECTION"))) {
            DataAccess &db = Form1->Db();
            const int count = db.SelectOrdered(QStringLiteral("*"), QStringLiteral("SECTION"),
                                               QString(), QStringLiteral("N"));
            QStringList row(2);
            for (int i = 0; i < count; ++i) {
                if (i == 0)
                    db.FetchFirst(row);
                else
                    db.FetchNext(row);
                ComboBox1->addItem(row[0] + QLatin1Char(':') + row[1]);
            }
            db.CloseQuery();
        }
    }
    if (Form1->TableListFailed()) {
        CloseFromShow();
        return;
    }
    ComboBox1->setCurrentIndex(0);
    RefreshGrid();
    SG1->setFocus();
}

void TForm4::FormClose()
{
}

void TForm4::RefreshGrid()
{
    QScopedValueRollback<bool> quiet(refreshing_, true);
    BusyCursor busy;
    ResetRegisterGrid(SG1);
    DataAccess &db = Form1->Db();
    // An outer join, so that a member whose section is 0, unknown or missing is still
    // listed: one stored but never shown could be neither changed nor deleted.
    int count;
    if (Form1->TableExists(QStringLiteral("SECTION")))
        count = db.SelectOrdered(QStringLiteral("MEMBER.N,MEMBER.SN,SECTION.SNAME,MEMBER.PNAME"),
                                 QStringLiteral("MEMBER LEFT JOIN SECTION ON MEMBER.SN=SECTION.N"),
                                 QString(), QStringLiteral("MEMBER.N"));
    else
        count = db.SelectOrdered(QStringLiteral("MEMBER.N,MEMBER.SN,NULL,MEMBER.PNAME"),
                                 QStringLiteral("MEMBER"), QString(), QStringLiteral("MEMBER.N"));
    if (count > 0) {
        int r = 0;
        QStringList row(4);
        for (int i = 0; i < count; ++i) {
            ++r;
            if (i == 0)
                db.FetchFirst(row);
            else
                db.FetchNext(row);
            if (TextToInt(row[1]) == 0)
                row[2].clear();
            for (int c = 0; c < 4; ++c)
                SetGridCell(SG1, c, r, row[c]);
            if (r > 1 && TextToInt(GridCell(SG1, 0, r)) == TextToInt(GridCell(SG1, 0, r - 1)))
                --r;
            SetGridRowCount(SG1, r + 1);
        }
    }
    db.CloseQuery();
    SelectFirstGridRow(SG1);
}

int TForm4::selectedSection() const
{
    return TextToInt(TextBeforeColon(ComboBox1->currentText()));
}

void TForm4::SG1Click()
{
    const int r = GridCurrentRow(SG1);
    if (r < 1 || GridCell(SG1, 0, r).isEmpty())
        return;
    Edit1->setText(GridCell(SG1, 0, r));
    Edit2->setText(GridCell(SG1, 3, r));
    const int section = TextToInt(GridCell(SG1, 1, r));
    ComboBox1->setCurrentIndex(0);
    for (int i = 1; i < ComboBox1->count(); ++i) {
        if (TextToInt(TextBeforeColon(ComboBox1->itemText(i))) == section) {
            ComboBox1->setCurrentIndex(i);
            break;
        }
    }
}

void TForm4::Edit1DblClick()
{
    QString max;
    {
        BusyCursor busy;
        Form1->Db().SelectMax(kTable, QStringLiteral("N"), QString(), max);
    }
    Edit1->setText(NextNumberText(max));
}

void TForm4::Button1Click()
{
    int number = 0;
    if (!NumberGiven(Edit1) || !PositiveNumber(Edit1, number))
        return;
    const int section = selectedSection();
    if (!NameWithoutQuotes(Edit2))
        return;
    const QString name = Edit2->text();
    bool ok;
    {
        BusyCursor busy;
        ok = Form1->Db().InsertRecord(
            kTable, 3, kColumns,
            {QString::number(number), QString::number(section), TextValue(name)});
    }
    ShowMessage(ok ? QStringLiteral("登録OK") : QStringLiteral("登録失敗"));
    RefreshGrid();
}

void TForm4::Button2Click()
{
    const int r = GridCurrentRow(SG1);
    if (r < 1 || GridCell(SG1, 0, r).isEmpty())
        return;
    if (!ConfirmBox(DeleteQuestion(GridCell(SG1, 0, r), GridCell(SG1, 3, r))))
        return;
    const int number = TextToInt(GridCell(SG1, 0, GridCurrentRow(SG1)));
    bool ok;
    {
        BusyCursor busy;
        ok = Form1->Db().DeleteRecords(kTable, QStringLiteral("N=") + QString::number(number));
    }
    ShowMessage(ok ? QStringLiteral("削除OK") : QStringLiteral("削除失敗"));
    RefreshGrid();
}

void TForm4::Button4Click()
{
    int number = 0;
    if (!NumberGiven(Edit1))
        return;
    if (IsBlank(Edit2->text())) {
        Refuse(Edit2, QStringLiteral("氏名を入力して下さい（半角16文字まで）"));
        return;
    }
    if (!PositiveNumber(Edit1, number))
        return;
    const int section = selectedSection();
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
        ok = Form1->Db().UpdateRecord(kTable, 3, kColumns,
                                      {key, QString::number(section), TextValue(name)},
                                      QStringLiteral("N=") + key);
    }
    ShowMessage(ok ? QStringLiteral("変更OK") : QStringLiteral("変更失敗"));
    RefreshGrid();
}

void TForm4::Button3Click()
{
    accept();
}
