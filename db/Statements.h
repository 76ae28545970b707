#pragma once
// The exact lines of every statement the program sends. Pure text, no database.

#include <QString>
#include <QStringList>

namespace Statements {

QStringList InsertRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values);
QStringList UpdateRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values, const QString &condition);
QStringList DeleteRecords(const QString &table, const QString &condition);
QStringList SelectAll(const QString &table, const QString &condition);
QStringList SelectMatch(const QString &table, const QString &column, const QString &condition,
                        int value);
QStringList SelectMax(const QString &table, const QString &column, const QString &condition);
QStringList SelectFields(const QString &list, const QString &table, const QString &condition);
QStringList SelectOrdered(const QString &list, const QString &table, const QString &condition,
                          const QString &order);

QStringList CreateSectionTable();
QStringList CreateMemberTable();
QStringList CreateImgListTable();
QStringList CreateImageTable(const QString &name);
QStringList DropTable(const QString &name);

// "CREATE DATABASE '<path>' " and the user, password and page size lines, each ended by CR LF.
// A quote in the path is doubled so that it cannot end the literal early.
QString CreateDatabase(const QString &path, const QString &user, const QString &password);

// The lines as the server receives them.
QString Join(const QStringList &lines);

} // namespace Statements
