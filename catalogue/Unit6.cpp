#include "catalogue/Unit6.h"

TForm6::TForm6(QWidget *parent) : ChildForm(parent)
{
    setWindowTitle(QStringLiteral("画像一覧データ"));
}
