#include "core/presence/PresenceRoster.h"

#include "core/TextRoutines.h"
#include "db/Tables.h"

#include <QCollator>
#include <algorithm>
#include <set>

void PresenceRoster::Add(const QString &variable, const QString &value)
{
    const qint64 imageNo = PresenceMark::ImageOfVariable(variable.trimmed());
    const int member = TextToInt(value.trimmed());
    if (imageNo <= 0 || member <= 0)
        return;
    std::vector<int> &members = byPicture[imageNo];
    auto at = std::lower_bound(members.begin(), members.end(), member);
    if (at == members.end() || *at != member)
        members.insert(at, member);
}

std::vector<int> PresenceRoster::MembersOf(qint64 imageNo) const
{
    auto it = byPicture.find(imageNo);
    return it == byPicture.end() ? std::vector<int>() : it->second;
}

QList<int> PresenceRoster::Members() const
{
    std::set<int> all;
    for (const auto &[imageNo, members] : byPicture)
        all.insert(members.begin(), members.end());
    return QList<int>(all.begin(), all.end());
}

QString MemberLabel(int member, const QHash<int, QString> &names)
{
    const QString name = names.value(member).trimmed();
    return name.isEmpty() ? QStringLiteral("メンバー%1").arg(member) : name;
}

QList<int> ShownOrder(const std::vector<int> &members, int self, const QHash<int, QString> &names)
{
    QList<int> others;
    for (int m : members)
        if (m != self)
            others << m;
    QCollator collator(QLocale(QLocale::Japanese, QLocale::Japan));
    std::stable_sort(others.begin(), others.end(), [&](int a, int b) {
        const int c = collator.compare(MemberLabel(a, names), MemberLabel(b, names));
        return c != 0 ? c < 0 : a < b;
    });
    if (self > 0)
        others.prepend(self);
    return others;
}

QString NameList(const QList<int> &members, const QHash<int, QString> &names)
{
    QStringList labels;
    for (int m : members)
        labels << MemberLabel(m, names);
    return labels.join(QStringLiteral("、"));
}
