#include "core/catalogue/RegisterRequests.h"

#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

QString RegisterTable(Register r)
{
    return r == Register::Section ? SectionTable::Name : MemberTable::Name;
}

QStringList RegisterColumns(Register r)
{
    return r == Register::Section ? SectionTable::ColumnNames() : MemberTable::ColumnNames();
}

// The rows of a SELECT, in order; ok only when it ran.
static RowsRead selectRows(DataAccess &db, const QString &list, const QString &from, const QString &order)
{
    RowsRead read;
    const int count = db.SelectOrdered(list, from, QString(), order);
    read.ok = db.LastErrorCode() == 0 && db.IsConnected();
    QStringList row;
    for (int i = 0; read.ok && i < count; ++i) {
        if (i == 0)
            db.FetchFirst(row);
        else
            db.FetchNext(row);
        read.rows << row;
    }
    db.CloseQuery();
    return read;
}

// The rows of an optional table: none when it is not there.
static RowsRead rowsIfPresent(DataAccess &db, const QString &table)
{
    RowsRead read;
    read.table = db.TableExists(table) ? TableState::Present
                 : db.TableListFailed() ? TableState::Unreadable
                                        : TableState::Missing;
    if (read.table == TableState::Unreadable)
        return read;
    if (read.table == TableState::Missing) {
        read.ok = true;
        return read;
    }
    RowsRead rows = selectRows(db, QStringLiteral("*"), table, QStringLiteral("N"));
    rows.table = TableState::Present;
    return rows;
}

DbRequest<RowsRead> ReadSections()
{
    return {true, [](DataAccess &db) {
                return selectRows(db, QStringLiteral("*"), SectionTable::Name, QStringLiteral("N"));
            }};
}

DbRequest<RowsRead> ReadSectionChoices()
{
    return {true, [](DataAccess &db) { return rowsIfPresent(db, SectionTable::Name); }};
}

DbRequest<RowsRead> ReadPcUserChoices()
{
    return {true, [](DataAccess &db) { return rowsIfPresent(db, MemberTable::Name); }};
}

DbRequest<RowsRead> ReadMemberGrid()
{
    return {true, [](DataAccess &db) {
                const bool sections = db.TableExists(SectionTable::Name);
                const QString list = sections ? QStringLiteral("MEMBER.N,MEMBER.SN,SECTION.SNAME,MEMBER.PNAME")
                                              : QStringLiteral("MEMBER.N,MEMBER.SN,NULL,MEMBER.PNAME");
                const QString from = sections ? QStringLiteral("MEMBER LEFT JOIN SECTION ON MEMBER.SN=SECTION.N")
                                              : MemberTable::Name;
                RowsRead read = selectRows(db, list, from, QStringLiteral("MEMBER.N"));
                QList<QStringList> rows;
                for (QStringList row : read.rows) {
                    row = row.mid(0, 4);
                    while (row.size() < 4)
                        row << QString();
                    if (TextToInt(row[1]) == 0)
                        row[2].clear();
                    // A member number twice (a join gone wrong) shows once, as first read.
                    if (rows.isEmpty() || TextToInt(rows.last()[0]) != TextToInt(row[0]))
                        rows << row;
                }
                read.rows = rows;
                return read;
            }};
}

DbRequest<MaxRead> ReadHighestNumber(Register r)
{
    return {true, [table = RegisterTable(r)](DataAccess &db) {
                MaxRead read;
                db.SelectMax(table, QStringLiteral("N"), QString(), read.max);
                read.ok = db.LastErrorCode() == 0 && db.IsConnected();
                return read;
            }};
}

DbRequest<bool> NumberTaken(Register r, int number)
{
    return {true, [table = RegisterTable(r), number](DataAccess &db) {
                return db.SelectMatch(table, QStringLiteral("N"), QString(), number);
            }};
}

// A change found done as asked answers as its success would have.
static std::optional<bool> landed(bool found)
{
    return found ? std::optional<bool>(true) : std::nullopt;
}

DbRequest<bool> InsertRegisterRow(Register r, const QStringList &values)
{
    return {false, [table = RegisterTable(r), columns = RegisterColumns(r), values](DataAccess &db) {
                return db.InsertRecord(table, int(columns.size()), columns, values);
            },
            [table = RegisterTable(r), columns = RegisterColumns(r), values](DataAccess &db) {
                return landed(RowAsWritten(db, table, columns, values));
            }};
}

DbRequest<bool> UpdateRegisterRow(Register r, int number, const QStringList &values)
{
    return {false, [table = RegisterTable(r), columns = RegisterColumns(r), number, values](DataAccess &db) {
                return db.UpdateRecord(table, int(columns.size()), columns, values,
                                       QStringLiteral("N=") + QString::number(number));
            },
            [table = RegisterTable(r), columns = RegisterColumns(r), values](DataAccess &db) {
                return landed(RowAsWritten(db, table, columns, values));
            }};
}

DbRequest<bool> DeleteRegisterRow(Register r, int number)
{
    return {false, [table = RegisterTable(r), number](DataAccess &db) {
                return db.DeleteRecords(table, QStringLiteral("N=") + QString::number(number));
            },
            [table = RegisterTable(r), number](DataAccess &db) { return landed(RowGone(db, table, number)); }};
}

DbRequest<SectionUse> SectionInUse(int number)
{
    return {true, [number](DataAccess &db) {
                SectionUse use;
                const bool members = db.TableExists(MemberTable::Name);
                if (db.TableListFailed())
                    return use;
                use.members = members ? TableState::Present : TableState::Missing;
                if (members) {
                    use.inUse = db.SelectMatch(MemberTable::Name, QStringLiteral("SN"), QString(), number);
                    if (db.LastErrorCode() != 0)
                        use.members = TableState::Unreadable;
                }
                return use;
            }};
}
