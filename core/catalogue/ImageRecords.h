#pragma once
// The two reads the editor and the list share: one picture record and its author's name.

#include <QString>
#include <QStringList>

class DataAccess;

// The IMGLIST row n in table order: 10 texts, NULL as empty, all empty when there is none.
QStringList ReadImageRecord(DataAccess &db, int n);
// The author number of a record as read above: 0 when the record is missing.
int RecordAuthor(const QStringList &record);
// PNAME of member m; empty when there is no such member.
QString MemberName(DataAccess &db, int m);
