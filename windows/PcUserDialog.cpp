#include "windows/PcUserDialog.h"

#include "forms/FormUtil.h"
#include "core/catalogue/RegisterRequests.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/DbCommand.h"
#include "forms/MessageBoxes.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

PcUserDialog *pcUserDialog = nullptr;

PcUserDialog::PcUserDialog(QWidget *parent)
    : FormDialog(QStringLiteral("PC利用者名の登録"), 280, 72, 191, 106, parent)
{
    SetBackground(this, Qt::white);

    Label1 = MakeLabel(this, QStringLiteral("PC利用者名："), 8, 12);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(96, 8, 177, 21);
    Button1 = MakeButton(this, QStringLiteral("OK(&Y)"), 40, 40, 113, 25);
    Button1->setDefault(true);
    Button2 = MakeButton(this, QStringLiteral("キャンセル(&N)"), 160, 40, 113, 25);

    SetTabChain({ComboBox1, Button1, Button2});

    connect(Button1, &QPushButton::clicked, this, &PcUserDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &PcUserDialog::Button2Click);
}

void PcUserDialog::FormShow()
{
    if (!DatabaseReadyOrClose())
        return;

    ComboBox1->clear();
    AskDb<RowsRead>(this, ReadPcUserChoices(), [this](RowsRead read, DbReply reply) {
        if (reply.lost || !read.ok) {
            ReportUnreadable();
            reject();
            return;
        }
        for (const QStringList &row : read.rows)
            ComboBox1->addItem(row.value(0) + QLatin1Char(':') + row.value(2));
        ComboBox1->setCurrentIndex(-1);
        for (int i = 0; i < ComboBox1->count(); ++i) {
            if (TextToInt(TextBeforeColon(ComboBox1->itemText(i))) == PcUserNo) {
                ComboBox1->setCurrentIndex(i);
                break;
            }
        }
        ComboBox1->setFocus();
    }, {Button2});
}

void PcUserDialog::FormClose()
{
}

void PcUserDialog::Button1Click()
{
    if (ComboBox1->count() == 0) {
        ShowMessage(QStringLiteral("最初にメンバーの登録を行って下さい"));
        return;
    }
    if (ComboBox1->currentIndex() < 0) {
        ShowMessage(QStringLiteral("PC利用者名を指定して下さい"));
        return;
    }
    const QString item = ComboBox1->currentText();
    PcUserNo = TextToInt(TextBeforeColon(item));
    PcUserName = TextAfterColon(item);
    accept();
}

void PcUserDialog::Button2Click()
{
    reject();
}
