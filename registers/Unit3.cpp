#include "registers/Unit3.h"

TForm3 *Form3 = nullptr;

TForm3::TForm3(QWidget *parent)
    : FormDialog(QStringLiteral("所属（SECTION）の登録"), 390, 261, 192, 107, parent)
{
}
