#include "paint/Unit8.h"

TForm8::TForm8(QWidget *parent) : ChildForm(parent)
{
    setWindowTitle(QStringLiteral("お絵描きテスト"));
}
