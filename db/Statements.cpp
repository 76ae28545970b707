#include "db/Statements.h"

namespace Statements {

static void appendList(QStringList &lines, int count, const QStringList &items)
{
    for (int i = 0; i < count; ++i) {
        const QString item = i < items.size() ? items[i] : QString();
        lines << QStringLiteral("   ") + item + (i < count - 1 ? QStringLiteral(",") : QString());
    }
}

QStringList InsertRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values)
{
    QStringList lines;
    lines << QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (");
    appendList(lines, count, names);
    lines << QStringLiteral("   ) ");
    lines << QStringLiteral("   VALUES (");
    appendList(lines, count, values);
    lines << QStringLiteral("   );");
    return lines;
}

QStringList UpdateRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values, const QString &condition)
{
    QStringList lines;
    lines << QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ");
    for (int i = 0; i < count; ++i) {
        const QString name = i < names.size() ? names[i] : QString();
        const QString value = i < values.size() ? values[i] : QString();
        lines << QStringLiteral("   ") + name + QLatin1Char('=') + value
                     + (i < count - 1 ? QStringLiteral(",") : QString());
    }
    if (!condition.isEmpty())
        lines << QStringLiteral("   WHERE ") + condition;
    lines << QStringLiteral("   ;");
    return lines;
}

QStringList DeleteRecords(const QString &table, const QString &condition)
{
    QString line = QStringLiteral("DELETE FROM ") + table + QLatin1Char(' ');
    if (!condition.isEmpty())
        line += QStringLiteral("WHERE ") + condition + QLatin1Char(' ');
    line += QLatin1Char(';');
    return {line};
}

static QStringList select(const QString &list, const QString &table, const QString &condition,
                          const QString &order)
{
    QStringList lines;
    lines << QStringLiteral("SELECT ") + list + QLatin1Char(' ');
    lines << QStringLiteral("   FROM ") + table + QLatin1Char(' ');
    if (!condition.isEmpty())
        lines << QStringLiteral("   WHERE ") + condition + QLatin1Char(' ');
    if (!order.isEmpty())
        lines << QStringLiteral("   ORDER BY ") + order + QLatin1Char(' ');
    lines << QStringLiteral("   ;");
    return lines;
}

QStringList SelectAll(const QString &table, const QString &condition)
{
    return select(QStringLiteral("*"), table, condition, QString());
}

QStringList SelectMatch(const QString &table, const QString &column, const QString &condition,
                        int value)
{
    QStringList lines;
    lines << QStringLiteral("SELECT ") + column + QLatin1Char(' ');
    lines << QStringLiteral("   FROM ") + table + QLatin1Char(' ');
    QString where = QStringLiteral("   WHERE ");
    if (!condition.isEmpty())
        where += QLatin1Char('(') + condition + QStringLiteral(") AND ");
    where += QLatin1Char('(') + column + QLatin1Char('=') + QString::number(value) + QStringLiteral(") ");
    lines << where;
    lines << QStringLiteral("   ;");
    return lines;
}

QStringList SelectMax(const QString &table, const QString &column, const QString &condition)
{
    return select(QStringLiteral("MAX(") + column + QLatin1Char(')'), table, condition, QString());
}

QStringList SelectFields(const QString &list, const QString &table, const QString &condition)
{
    return select(list, table, condition, QString());
}

QStringList SelectOrdered(const QString &list, const QString &table, const QString &condition,
                          const QString &order)
{
    return select(list, table, condition, order);
}

QStringList CreateSectionTable()
{
    return {QStringLiteral("CREATE TABLE SECTION ("), QStringLiteral("  N INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  SNAME VARCHAR(32)"), QStringLiteral("  );")};
}

QStringList CreateMemberTable()
{
    return {QStringLiteral("CREATE TABLE MEMBER ("), QStringLiteral("  N  INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  SN INTEGER,"), QStringLiteral("  PNAME VARCHAR(16)"),
            QStringLiteral("  );")};
}

QStringList CreateImgListTable()
{
    return {QStringLiteral("CREATE TABLE IMGLIST ("),
            QStringLiteral("  N  INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  MN    INTEGER,"),
            QStringLiteral("  INAME VARCHAR(64),"),
            QStringLiteral("  MEMO1 VARCHAR(80),"),
            QStringLiteral("  MEMO2 VARCHAR(80),"),
            QStringLiteral("  MEMO3 VARCHAR(80),"),
            QStringLiteral("  SX    INTEGER,"),
            QStringLiteral("  SY    INTEGER,"),
            QStringLiteral("  DATE1 VARCHAR(8),"),
            QStringLiteral("  DATE2 VARCHAR(8)"),
            QStringLiteral("  );")};
}

QStringList CreateImageTable(const QString &name)
{
    return {QStringLiteral("CREATE TABLE ") + name + QStringLiteral(" ("),
            QStringLiteral("  N    INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  MN   INTEGER,"),
            QStringLiteral("  DN   INTEGER,"),
            QStringLiteral("  PTYP INTEGER,"),
            QStringLiteral("  PSIZ INTEGER,"),
            QStringLiteral("  PCOL INTEGER,"),
            QStringLiteral("  X    INTEGER,"),
            QStringLiteral("  Y    INTEGER"),
            QStringLiteral("  );")};
}

QStringList DropTable(const QString &name)
{
    return {QStringLiteral("DROP TABLE ") + name + QLatin1Char(';')};
}

QString CreateDatabase(const QString &path, const QString &user, const QString &password)
{
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QStringLiteral("CREATE DATABASE '") + quoted + QStringLiteral("' ")
           + QStringLiteral("USER \"") + user + QStringLiteral("\"\r\n")
           + QStringLiteral("PASSWORD \"") + password + QStringLiteral("\"\r\n")
           + QStringLiteral("PAGE_SIZE 4096\r\n");
}

QString Join(const QStringList &lines)
{
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace Statements
