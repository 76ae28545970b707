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

// Who has which picture open, kept by the server without a table: each program's presence
// attachment holds one session variable per picture it shows ("OEKAKI_IMG_<n>", the
// member's number as its value) and posts "IMG_<n>_HERE" whenever that changes.
namespace PresenceMark {
inline const QString VariablePrefix = QStringLiteral("OEKAKI_IMG_");
inline QString VariableOf(qint64 imageNo) { return VariablePrefix + QString::number(imageNo); }
inline QString EventOf(qint64 imageNo) { return ImageTable::NameOf(imageNo) + QStringLiteral("_HERE"); }
// The picture a variable or an event names; 0 for any other name.
inline qint64 ImageOfVariable(const QString &name)
{
    if (!name.startsWith(VariablePrefix))
        return 0;
    bool ok = false;
    const qint64 n = QStringView(name).mid(VariablePrefix.size()).toLongLong(&ok);
    return ok && n > 0 && QString::number(n).size() == name.size() - VariablePrefix.size() ? n : 0;
}
inline qint64 ImageOfEvent(const QString &name)
{
    static const QString head = QStringLiteral("IMG_"), tail = QStringLiteral("_HERE");
    if (!name.startsWith(head) || !name.endsWith(tail) || name.size() <= head.size() + tail.size())
        return 0;
    return ImageOfVariable(VariablePrefix + name.mid(head.size(), name.size() - head.size() - tail.size()));
}
} // namespace PresenceMark
