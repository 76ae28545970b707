#pragma once
// Typing as a user does, and readable failure output for the tables of inputs.

#include <QString>
#include <QList>
#include <QStringList>
#include <string>

class QLineEdit;
class QWidget;

// Key presses carrying one code point each, as an input method hands them over;
// unlike setText they pass through the box's validator and length limit.
void TypeInto(QLineEdit *box, const QString &text);
// The list as lines.
std::string Show(const QStringList &list);
// The first widget and the next `steps` that Tab visits.
QList<QWidget *> TabChain(QWidget *first, int steps);
