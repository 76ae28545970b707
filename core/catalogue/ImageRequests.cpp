#include "core/catalogue/ImageRequests.h"

#include "core/catalogue/ImageRecords.h"
#include "core/TextRoutines.h"
#include "db/DataAccess.h"
#include "db/Tables.h"

static const char *const PageColumns[] = {"N", "INAME", "MEMO1", "SX", "SY", "DATE1", "DATE2"};

DbRequest<PageRead> ReadImagePage(const QStringList &statement, int pageTop, int pageSize)
{
    return {true, [statement, pageTop, pageSize](DataAccess &db) {
                PageRead page;
                db.EndQuery();
                if (db.OpenCursor(statement)) {
                    page.ok = true;
                    for (int skip = 1; skip < pageTop && !db.CursorEof(); ++skip)
                        db.CursorNext();
                    while (!db.CursorEof() && page.rows.size() < pageSize) {
                        QStringList row;
                        for (const char *column : PageColumns)
                            row << db.CursorValue(QString::fromLatin1(column));
                        page.rows << row;
                        if (page.rows.size() < pageSize)
                            db.CursorNext();
                    }
                    // A cursor that broke on the way has not read the page.
                    page.ok = db.LastErrorCode() == 0 && db.IsConnected();
                }
                db.CloseQuery();
                return page;
            }};
}

DbRequest<RecordRead> ReadImageRecordWithAuthor(int n)
{
    return {true, [n](DataAccess &db) {
                RecordRead read;
                read.record = ReadImageRecord(db, n);
                read.ok = db.LastErrorCode() == 0 && db.IsConnected();
                read.author = RecordAuthor(read.record);
                if (read.ok && read.author > 0) {
                    read.authorName = MemberName(db, read.author);
                    // No MEMBER table reads as no such member; only a lost line leaves it unread.
                    read.ok = db.IsConnected();
                }
                return read;
            }};
}

DbRequest<HighestRead> ReadHighestImageNumber()
{
    return {true, [](DataAccess &db) {
                HighestRead read;
                db.SelectMax(ImgListTable::Name, QStringLiteral("N"), QString(), read.max);
                read.ok = db.LastErrorCode() == 0 && db.IsConnected();
                return read;
            }};
}

DbRequest<RecordLookup> LookUpImageRecord(int n, bool newRecord)
{
    return {true, [n, newRecord](DataAccess &db) {
                RecordLookup lookup;
                if (newRecord) {
                    lookup.found = db.SelectMatch(ImgListTable::Name, QStringLiteral("N"), QString(), n);
                    lookup.ok = db.LastErrorCode() == 0 && db.IsConnected();
                    return lookup;
                }
                QStringList stored(ImgListTable::ColumnCount);
                lookup.found = db.SelectFields(QStringLiteral("*"), ImgListTable::Name,
                                               QStringLiteral("N=") + QString::number(n), stored)
                               > 0;
                lookup.ok = db.LastErrorCode() == 0 && db.IsConnected();
                lookup.author = TextToInt(stored.value(ImgListTable::MN));
                return lookup;
            }};
}

DbRequest<bool> StoreImageRecord(bool insert, int n, const QStringList &values)
{
    return {false, [insert, n, values](DataAccess &db) {
                const QStringList names = ImgListTable::ColumnNames();
                return insert ? db.InsertRecord(ImgListTable::Name, ImgListTable::ColumnCount, names, values)
                              : db.UpdateRecord(ImgListTable::Name, ImgListTable::ColumnCount, names, values,
                                                QStringLiteral("N=") + QString::number(n));
            },
            [values](DataAccess &db) -> std::optional<bool> {
                if (RowAsWritten(db, ImgListTable::Name, ImgListTable::ColumnNames(), values))
                    return true;
                return std::nullopt;
            }};
}
