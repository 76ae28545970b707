#pragma once
// Who has which picture of a database open, as one read of the server's monitoring tables
// found it: each member once per picture, however many windows or PCs they have it open on.
// Pure logic: the read itself is PresenceRead's.

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>
#include <map>
#include <vector>

struct PresenceRoster {
    // False when the read failed (rights, an old server, no connection): nothing is known.
    bool ok = false;
    // Picture -> the members who have it open, ascending, each once.
    std::map<qint64, std::vector<int>> byPicture;
    // The names of those members as MEMBER holds them (missing: not known).
    QHash<int, QString> names;

    // One presence variable of an attachment; anything that is not one is passed over.
    void Add(const QString &variable, const QString &value);
    std::vector<int> MembersOf(qint64 imageNo) const;
    // Every member any picture shows, ascending, each once.
    QList<int> Members() const;
    bool operator==(const PresenceRoster &) const = default;
};
Q_DECLARE_METATYPE(PresenceRoster)

// How a member is named: their name, or their number when MEMBER does not know them.
QString MemberLabel(int member, const QHash<int, QString> &names);
// The order a picture's members are shown in: `self` first (this PC's user has it open in
// any case), then the others by name, then by number.
QList<int> ShownOrder(const std::vector<int> &members, int self, const QHash<int, QString> &names);
// "山田、鈴木" in the shown order.
QString NameList(const QList<int> &members, const QHash<int, QString> &names);
