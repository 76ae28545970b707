#include "registers/Unit4.h"

TForm4 *Form4 = nullptr;

TForm4::TForm4(QWidget *parent)
    : FormDialog(QStringLiteral("メンバー（MEMBER）の登録"), 390, 277, 192, 107, parent)
{
}
