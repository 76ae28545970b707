#include "core/presence/PresenceRead.h"

#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Statements.h"
#include "db/Tables.h"

PresenceRoster ReadPresence(DataAccess &db)
{
    PresenceRoster roster;
    const Statements::PresenceReadText read = Statements::PresenceRead();
    db.ForEachRow(read.list, read.from, read.where, QString(),
                  [&roster](const QStringList &row) { roster.Add(row.value(1), row.value(2)); });
    roster.ok = db.LastErrorCode() == 0;
    // The monitoring snapshot lives as long as its transaction: none is kept.
    db.EndQuery();
    if (!roster.ok) {
        roster.byPicture.clear();
        return roster;
    }
    // Read each time: a member renamed meanwhile shows the new name.
    roster.names = ReadMemberNames(db, roster.Members());
    return roster;
}

QHash<int, QString> ReadMemberNames(DataAccess &db, const QList<int> &members)
{
    QHash<int, QString> names;
    // The server takes at most 1500 values in one IN list.
    for (qsizetype at = 0; at < members.size(); at += 1000) {
        QStringList numbers;
        for (int m : members.mid(at, 1000))
            if (m > 0)
                numbers << QString::number(m);
        if (numbers.isEmpty())
            continue;
        db.ForEachRow(QStringLiteral("N, PNAME"), MemberTable::Name,
                      QStringLiteral("N IN (") + numbers.join(QLatin1Char(',')) + QLatin1Char(')'), QString(),
                      [&names](const QStringList &row) {
                          if (const int n = TextToInt(row.value(0)); n > 0)
                              names.insert(n, row.value(1));
                      });
        db.EndQuery();
    }
    return names;
}
