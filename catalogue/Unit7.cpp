#include "catalogue/Unit7.h"

TForm7::TForm7(QWidget *parent) : ChildForm(parent)
{
    setWindowTitle(QStringLiteral("画像一覧表示"));
}
