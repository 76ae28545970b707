#include "forms/ProgramFont.h"

#include <QFont>
#include <QWidget>

void ApplyProgramFont(QWidget *w)
{
    QFont f = w->font();
    f.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")});
    f.setPixelSize(13);
    w->setFont(f);
}
