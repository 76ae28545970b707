#include "windows/PenTipDialog.h"

#include "forms/FormUtil.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

PenTipDialog *penTipDialog = nullptr;

namespace {
// Limits what can be typed to 3 characters, yet shows a longer size handed in
// unchanged (a maximum length would cut it).
class TypedLengthValidator : public QValidator {
public:
    TypedLengthValidator(int maxChars, QObject *parent) : QValidator(parent), max_(maxChars) {}
    State validate(QString &input, int &) const override
    {
        return input.size() > max_ ? Invalid : Acceptable;
    }

private:
    int max_;
};
} // namespace

PenTipDialog::PenTipDialog(QWidget *parent)
    : FormDialog(QStringLiteral("ペン先の設定"), 270, 95, 192, 107, parent)
{
    Label1 = MakeLabel(this, QStringLiteral("ペン先："), 8, 12);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(72, 8, 145, 21);
    ComboBox1->addItems({QStringLiteral("●"), QStringLiteral("○"), QStringLiteral("■"),
                         QStringLiteral("□"), QStringLiteral("／"), QStringLiteral("＼")});

    Label2 = MakeLabel(this, QStringLiteral("サイズ："), 8, 36);
    Edit1 = MakeEdit(this, 72, 32, 57, 21);
    Edit1->setValidator(new TypedLengthValidator(3, Edit1));
    SetImeOff(Edit1);
    Label3 = MakeLabel(this, QStringLiteral("ドット（ピクセル）"), 136, 40);

    Button1 = MakeButton(this, QStringLiteral("ＯＫ(&Y)"), 72, 64, 75, 25);
    Button1->setDefault(true);
    Button2 = MakeButton(this, QStringLiteral("キャンセル(&N)"), 160, 64, 105, 25);

    SetTabChain({ComboBox1, Edit1, Button1, Button2});

    connect(Button1, &QPushButton::clicked, this, &PenTipDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &PenTipDialog::Button2Click);
}

void PenTipDialog::FormShow()
{
    Accepted = false;
    ComboBox1->setCurrentIndex(0);
    if (TipType >= 0 && TipType <= ComboBox1->count() - 1)
        ComboBox1->setCurrentIndex(TipType);
    Edit1->setText(QString::number(TipSize));
    ComboBox1->setFocus();
}

void PenTipDialog::Button1Click()
{
    const int v = TextToInt(Edit1->text());
    if (v < 1 || v > 300) {
        ShowMessage(QStringLiteral("サイズは 1 ～ 300 の範囲内で入力して下さい"));
        Edit1->setFocus();
        return;
    }
    TipType = ComboBox1->currentIndex();
    TipSize = v;
    Accepted = true;
    accept();
}

void PenTipDialog::Button2Click()
{
    reject();
}
