#pragma once
// The statements of the section and member registers and the PC user dialog, as
// requests for the main-db thread. A read says whether it could read: a failed read is
// never passed on as a value.

#include "core/connection/MainDb.h"
#include "core/catalogue/TableRequests.h"

#include <QList>
#include <QStringList>

struct RowsRead {
    bool ok = false;
    // Where the rows come from only when present (a missing optional table is no failure).
    TableState table = TableState::Present;
    QList<QStringList> rows;
};

// Which register: SECTION or MEMBER.
enum class Register { Section, Member };
QString RegisterTable(Register r);
QStringList RegisterColumns(Register r);

// SECTION by N: N, SNAME.
DbRequest<RowsRead> ReadSections();
// "0:指定無し" is not among them: the sections for the member register's list, none
// when there is no SECTION table.
DbRequest<RowsRead> ReadSectionChoices();
// MEMBER by N, each with its section's name (outer join: a member whose section is 0,
// unknown or missing is listed too): N, SN, SNAME (empty for section 0), PNAME; one row
// per member number.
DbRequest<RowsRead> ReadMemberGrid();
// MEMBER by N for the PC user list: N, PNAME; none when there is no MEMBER table.
DbRequest<RowsRead> ReadPcUserChoices();

// The highest N of the register's table.
struct MaxRead {
    bool ok = false;
    QString max;
};
DbRequest<MaxRead> ReadHighestNumber(Register r);
DbRequest<bool> NumberTaken(Register r, int number);

// The changes; true when the statement succeeded. Looked for again when the answer to
// their commit was lost (see DbRequest).
DbRequest<bool> InsertRegisterRow(Register r, const QStringList &values);
DbRequest<bool> UpdateRegisterRow(Register r, int number, const QStringList &values);
DbRequest<bool> DeleteRegisterRow(Register r, int number);

// Whether a member belongs to section `number`; table Unreadable when that is unknown.
struct SectionUse {
    TableState members = TableState::Unreadable;
    bool inUse = false;
};
DbRequest<SectionUse> SectionInUse(int number);
