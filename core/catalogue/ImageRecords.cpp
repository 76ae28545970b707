#include "core/catalogue/ImageRecords.h"

#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

static QStringList readRow(DataAccess &db, const QString &table, int n, int columns)
{
    QStringList row(columns);
    db.ForEachRow(QStringLiteral("*"), table, QStringLiteral("N=") + QString::number(n), QString(),
                  [&row](const QStringList &found) {
                      for (int c = 0; c < row.size(); ++c)
                          row[c] = found.value(c);
                  });
    return row;
}

QStringList ReadImageRecord(DataAccess &db, int n)
{
    return readRow(db, ImgListTable::Name, n, ImgListTable::ColumnCount);
}

int RecordAuthor(const QStringList &record)
{
    return record.value(ImgListTable::N).isEmpty() ? 0 : TextToInt(record.value(ImgListTable::MN));
}

QString MemberName(DataAccess &db, int m)
{
    return readRow(db, MemberTable::Name, m, MemberTable::ColumnCount).value(MemberTable::PNAME);
}
