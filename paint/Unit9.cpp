#include "paint/Unit9.h"

TForm9 *Form9 = nullptr;

TForm9::TForm9(QWidget *parent)
    : FormDialog(QStringLiteral("ペン先の設定"), 270, 95, 192, 107, parent)
{
}
