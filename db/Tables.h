#pragma once
// The program's tables: their names and their columns in table order, so that a row
// read with "*" is indexed by column name. The CREATE TABLE texts are in db/Statements.

#include <QString>
#include <QStringList>

namespace SectionTable {
inline const QString Name = QStringLiteral("SECTION");
enum Column { N, SNAME, ColumnCount };
inline QStringList ColumnNames() { return {QStringLiteral("N"), QStringLiteral("SNAME")}; }
} // namespace SectionTable

namespace MemberTable {
inline const QString Name = QStringLiteral("MEMBER");
enum Column { N, SN, PNAME, ColumnCount };
inline QStringList ColumnNames()
{
    return {QStringLiteral("N"), QStringLiteral("SN"), QStringLiteral("PNAME")};
}
} // namespace MemberTable

namespace ImgListTable {
inline const QString Name = QStringLiteral("IMGLIST");
enum Column { N, MN, INAME, MEMO1, MEMO2, MEMO3, SX, SY, DATE1, DATE2, ColumnCount };
inline QStringList ColumnNames()
{
    return {QStringLiteral("N"),     QStringLiteral("MN"),    QStringLiteral("INAME"),
            QStringLiteral("MEMO1"), QStringLiteral("MEMO2"), QStringLiteral("MEMO3"),
            QStringLiteral("SX"),    QStringLiteral("SY"),    QStringLiteral("DATE1"),
            QStringLiteral("DATE2")};
}
} // namespace ImgListTable

// One stroke table per picture, one row per point.
namespace ImageTable {
// "IMG_<n>", the stroke table of picture n.
inline QString NameOf(qint64 n) { return QStringLiteral("IMG_") + QString::number(n); }
enum Column { N, MN, DN, PTYP, PSIZ, PCOL, X, Y, ColumnCount };
inline QStringList ColumnNames()
{
    return {QStringLiteral("N"),    QStringLiteral("MN"),   QStringLiteral("DN"),
            QStringLiteral("PTYP"), QStringLiteral("PSIZ"), QStringLiteral("PCOL"),
            QStringLiteral("X"),    QStringLiteral("Y")};
}
} // namespace ImageTable
