#pragma once
// The statements of the image list and the image record editor, as requests for the
// main-db thread. A read says whether it could read: a failed read is never passed on as
// a value.

#include "core/connection/MainDb.h"
#include "core/catalogue/TableRequests.h"

#include <QList>
#include <QStringList>

// The list's page: the rows pageTop.. (1 the first) of the page statement, at most
// pageSize, each N, INAME, MEMO1, SX, SY, DATE1, DATE2 (NULL as empty).
struct PageRead {
    bool ok = false;
    QList<QStringList> rows;
};
DbRequest<PageRead> ReadImagePage(const QStringList &statement, int pageTop, int pageSize);

// IMGLIST row n in table order (10 texts, all empty when there is none) and its author's
// name (empty when the record or the member is missing).
struct RecordRead {
    bool ok = false;
    QStringList record;
    int author = 0;
    QString authorName;
};
DbRequest<RecordRead> ReadImageRecordWithAuthor(int n);

// The highest N of IMGLIST.
struct HighestRead {
    bool ok = false;
    QString max;
};
DbRequest<HighestRead> ReadHighestImageNumber();

// Before a record is stored: whether IMGLIST row n is there, and, unless it is to be a
// new one (then only matched), its author (MN).
struct RecordLookup {
    bool ok = false;
    bool found = false;
    int author = 0;
};
DbRequest<RecordLookup> LookUpImageRecord(int n, bool newRecord);
// INSERT (a new record) or UPDATE of row n with the ten values in table order; looked for
// again when the answer to its commit was lost (see DbRequest).
DbRequest<bool> StoreImageRecord(bool insert, int n, const QStringList &values);
