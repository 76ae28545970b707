#include "app/Unit5.h"

TForm5 *Form5 = nullptr;

TForm5::TForm5(QWidget *parent)
    : FormDialog(QStringLiteral("PC利用者名の登録"), 280, 72, 191, 106, parent)
{
}
