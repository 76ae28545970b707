#include "app/Unit2.h"

TForm2 *Form2 = nullptr;

TForm2::TForm2(QWidget *parent)
    : FormDialog(QStringLiteral("データベース設定"), 251, 200, 192, 107, parent)
{
}
