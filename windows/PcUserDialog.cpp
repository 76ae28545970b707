#include "windows/PcUserDialog.h"

#include "forms/FormUtil.h"
#include "forms/MainLink.h"
#include "core/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"
#include "forms/BusyCursor.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

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
    {
        BusyCursor busy;
        DataAccess &db = MainWindowLink()->Db();
        if (MainWindowLink()->TableExists(MemberTable::Name)) {
            db.ForEachRow(QStringLiteral("*"), MemberTable::Name, QString(), QStringLiteral("N"),
                          [this](const QStringList &row) {
                              ComboBox1->addItem(row.value(MemberTable::N) + QLatin1Char(':')
                                                 + row.value(MemberTable::PNAME));
                          });
        }
    }
    if (MainWindowLink()->TableListFailed()) {
        CloseFromShow();
        return;
    }

    ComboBox1->setCurrentIndex(-1);
    for (int i = 0; i < ComboBox1->count(); ++i) {
        if (TextToInt(TextBeforeColon(ComboBox1->itemText(i))) == PcUserNo) {
            ComboBox1->setCurrentIndex(i);
            break;
        }
    }
    ComboBox1->setFocus();
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
