#include "TestInput.h"

#include <QLineEdit>
#include <QTest>

void TypeInto(QLineEdit *box, const QString &text)
{
    box->clear();
    box->setFocus();
    for (const char32_t cp : text.toUcs4())
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString::fromUcs4(&cp, 1), Qt::NoModifier);
}

std::string Show(const QStringList &list)
{
    return list.join(QLatin1Char('\n')).toStdString();
}

QList<QWidget *> TabChain(QWidget *first, int steps)
{
    QList<QWidget *> chain{first};
    QWidget *w = first;
    for (int i = 0; i < steps; ++i) {
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        chain << w;
    }
    return chain;
}
