#include "catalogue/Records.h"

#include "app/UnitV.h"
#include "db/DataAccess.h"

static QStringList readRow(DataAccess &db, const QString &table, int n, int columns)
{
    QStringList row(columns);
    db.SelectOrdered(QStringLiteral("*"), table, QStringLiteral("N=") + QString::number(n), QString());
    db.FetchFirst(row);
    db.CloseQuery();
    return row;
}

QStringList ReadImageRecord(DataAccess &db, int n)
{
    return readRow(db, QStringLiteral("IMGLIST"), n, 10);
}

int RecordAuthor(const QStringList &record)
{
    return record.value(0).isEmpty() ? 0 : TextToInt(record.value(1));
}

QString MemberName(DataAccess &db, int m)
{
    return readRow(db, QStringLiteral("MEMBER"), m, 3).value(2);
}
