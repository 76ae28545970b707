#include "windows/SectionRegister.h"

#include "forms/FormUtil.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

SectionRegister *sectionRegister = nullptr;

SectionRegister::SectionRegister(QWidget *parent)
    : RegisterDialog(QStringLiteral("所属（SECTION）の登録"), 390, 261, Register::Section, 1,
                   QStringLiteral("名称を入力して下さい（半角32文字まで）"), parent)
{
    Label1 = MakeLabel(this, QStringLiteral("現在の登録内容"), 0, 8);
    SG1 = MakeGrid({QStringLiteral("番号"), QStringLiteral("名称")}, {57, 294});

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(8, 152, 225, 73);
    Label3 = MakeLabel(Panel1, QStringLiteral("番号："), 8, 12);
    Edit1 = MakeNumberBox(Panel1, 48, 8, 81, 21);
    Label4 = MakeLabel(Panel1, QStringLiteral("名称："), 8, 36);
    Edit2 = MakeEdit(Panel1, 48, 32, 169, 21);
    LimitCp932Bytes(Edit2, 32);

    Button1 = MakeButton(this, QStringLiteral("追加登録(&A)"), 8, 232, 225, 25);
    Button2 = MakeButton(this, QStringLiteral("データ削除(&D)"), 248, 152, 137, 25);
    Button4 = MakeButton(this, QStringLiteral("データ変更(&E)"), 248, 192, 137, 25);
    Button3 = MakeButton(this, QStringLiteral("閉じる(&C)"), 248, 232, 137, 25);

    SetTabChain({SG1, Edit1, Edit2, Button1, Button2, Button4, Button3});
    ConnectHandlers();
}

void SectionRegister::FillGrid(const QList<QStringList> &rows)
{
    int r = 0;
    for (const QStringList &row : rows) {
        ++r;
        SetGridRowCount(SG1, r + 1);
        SetGridCell(SG1, 0, r, row.value(0));
        SetGridCell(SG1, 1, r, row.value(1));
    }
}

QStringList SectionRegister::RowValues(int number, const QString &name) const
{
    return {QString::number(number), TextValue(name)};
}

void SectionRegister::CheckDeletion(int number, std::function<void()> proceed)
{
    Ask<SectionUse>(SectionInUse(number), [proceed](SectionUse use, DbReply reply) {
        // Whether a member uses it is unknown: delete nothing.
        if (reply.lost || use.members == TableState::Unreadable) {
            ReportUnreadable();
            return;
        }
        if (use.inUse) {
            ShowMessage(QStringLiteral("メンバーデータで既に使用されていますので削除出来ません。"));
            return;
        }
        proceed();
    });
}
