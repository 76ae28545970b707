#include "windows/MemberRegister.h"

#include "forms/FormUtil.h"
#include "core/TextRoutines.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

MemberRegister *memberRegister = nullptr;

MemberRegister::MemberRegister(QWidget *parent)
    : RegisterDialog(QStringLiteral("メンバー（MEMBER）の登録"), 390, 277, Register::Member, 3,
                   QStringLiteral("氏名を入力して下さい（半角16文字まで）"), parent)
{
    Label1 = MakeLabel(this, QStringLiteral("現在の登録内容"), 0, 8);
    SG1 = MakeGrid({QStringLiteral("番号"), QStringLiteral("所属No"), QStringLiteral("所属"),
                    QStringLiteral("氏名")},
                   {57, 10, 130, 153});

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(8, 152, 225, 89);
    Label3 = MakeLabel(Panel1, QStringLiteral("番号："), 8, 12);
    Edit1 = MakeNumberBox(Panel1, 48, 8, 81, 21);
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
    ConnectHandlers();
}

void MemberRegister::PrepareShow(std::function<void()> then)
{
    // Rebuilt, but the section the boxes showed stays chosen: it belongs to the row they show.
    const int shown = selectedSection();
    ComboBox1->clear();
    ComboBox1->addItem(QStringLiteral("0:指定無し"));
    Ask<RowsRead>(ReadSectionChoices(), [this, then, shown](RowsRead read, DbReply reply) {
        if (reply.lost || !read.ok) {
            ReportUnreadable();
            reject();
            return;
        }
        for (const QStringList &row : read.rows)
            ComboBox1->addItem(row.value(0) + QLatin1Char(':') + row.value(1));
        ComboBox1->setCurrentIndex(0);
        for (int i = 1; i < ComboBox1->count(); ++i)
            if (TextToInt(TextBeforeColon(ComboBox1->itemText(i))) == shown)
                ComboBox1->setCurrentIndex(i);
        then();
    });
}

void MemberRegister::FillGrid(const QList<QStringList> &rows)
{
    int r = 0;
    for (const QStringList &row : rows) {
        ++r;
        SetGridRowCount(SG1, r + 1);
        for (int c = 0; c < 4; ++c)
            SetGridCell(SG1, c, r, row.value(c));
    }
}

int MemberRegister::selectedSection() const
{
    return TextToInt(TextBeforeColon(ComboBox1->currentText()));
}

void MemberRegister::ShowRow(int r)
{
    RegisterDialog::ShowRow(r);
    const int section = TextToInt(GridCell(SG1, 1, r));
    ComboBox1->setCurrentIndex(0);
    for (int i = 1; i < ComboBox1->count(); ++i) {
        if (TextToInt(TextBeforeColon(ComboBox1->itemText(i))) == section) {
            ComboBox1->setCurrentIndex(i);
            break;
        }
    }
}

QStringList MemberRegister::RowValues(int number, const QString &name) const
{
    return {QString::number(number), QString::number(selectedSection()), TextValue(name)};
}
