#include "core/catalogue/TableRequests.h"

#include "core/picture/PictureCache.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

QString TableName(ProgramTable table)
{
    switch (table) {
    case ProgramTable::Section:
        return SectionTable::Name;
    case ProgramTable::Member:
        return MemberTable::Name;
    case ProgramTable::ImgList:
        break;
    }
    return ImgListTable::Name;
}

QString ImageTableName(qint64 imageNo)
{
    return ImageTable::NameOf(imageNo);
}

TableState TableStateNow(DataAccess &db, const QString &name)
{
    if (db.TableExists(name))
        return TableState::Present;
    return db.TableListFailed() ? TableState::Unreadable : TableState::Missing;
}

DbRequest<TableState> EnsureTable(ProgramTable table, bool create)
{
    const QString name = TableName(table);
    // Safe to run again: a table made before the line dropped is found the second time.
    return {true, [name, create](DataAccess &db) {
                const TableState state = TableStateNow(db, name);
                if (state != TableState::Missing || !create)
                    return state;
                bool made = false;
                if (name == SectionTable::Name)
                    made = db.CreateSectionTable();
                else if (name == MemberTable::Name)
                    made = db.CreateMemberTable();
                else if (name == ImgListTable::Name)
                    made = db.CreateImgListTable();
                return made ? TableState::Present : TableState::Missing;
            }};
}

DbRequest<TableState> ImageTableState(int imageNo)
{
    return {true, [imageNo](DataAccess &db) { return TableStateNow(db, ImageTable::NameOf(imageNo)); }};
}

DbRequest<bool> DropImageTable(int imageNo)
{
    return {false,
            [imageNo](DataAccess &db) {
                // This PC's copy of its rows goes too (another PC's is refused at its next opening).
                PictureCache::Remove(PictureCache::KeyOf(db.DatabasePath(), ImageTable::NameOf(imageNo)));
                return db.DropTable(ImageTable::NameOf(imageNo));
            },
            [imageNo](DataAccess &db) -> std::optional<bool> {
                if (TableGone(db, ImageTable::NameOf(imageNo)))
                    return true;
                return std::nullopt;
            }};
}

bool RowAsWritten(DataAccess &db, const QString &table, const QStringList &columns, const QStringList &values)
{
    QStringList equal;
    for (qsizetype i = 0; i < columns.size() && i < values.size(); ++i)
        equal << (values[i].compare(QStringLiteral("NULL"), Qt::CaseInsensitive) == 0
                      ? columns[i] + QStringLiteral(" IS NULL")
                      : columns[i] + QLatin1Char('=') + values[i]);
    QStringList row(1);
    return db.SelectFields(QStringLiteral("N"), table, equal.join(QStringLiteral(" AND ")), row) > 0
           && db.LastErrorCode() == 0;
}

bool RowGone(DataAccess &db, const QString &table, int n)
{
    const bool there = db.SelectMatch(table, QStringLiteral("N"), QString(), n);
    return !there && db.LastErrorCode() == 0;
}

bool TableGone(DataAccess &db, const QString &name)
{
    return !db.TableExists(name) && !db.TableListFailed() && db.LastErrorCode() == 0;
}
