// The look-up of a statement whose answer was lost (its attachment made to go first, then
// its rows looked for), and the check that a stroke a run before left belongs to this table.

#include "core/painting/StrokeStore.h"

#include "core/painting/StrokeStoreRows.h"
#include "db/DataAccess.h"

#include <algorithm>
#include <utility>

using namespace StrokeStoreRows;

namespace {
// How long a statement whose answer was lost may still be running on the server (its
// wait for a lock, and some): not looked for as missing before that.
constexpr qint64 kStillRunningMs = (DataAccess::LockWaitSeconds + 2) * 1000;
// How long one look-up waits for the attachment of a lost statement to go, once deleted.
constexpr int kAttachmentGoneMs = 3000;
} // namespace

StrokeStore::Found StrokeStore::findSent(PendingStroke &stroke)
{
    const int k = std::min<int>(stroke.sendingCount, int(stroke.points.size()));
    if (k < 1) {
        stroke.sendingN = 0;
        return Found::No;
    }
    // Only what no server can still commit is trusted to be missing: the attachment that sent
    // it is made to go first (looked up after that, the answer cannot change any more).
    if (stroke.sendingAttachment > 0) {
        switch (db_.EndAttachment(stroke.sendingAttachment, kAttachmentGoneMs)) {
        case DataAccess::AttachmentEnd::Unknown:
            return Found::Unknown;
        case DataAccess::AttachmentEnd::StillThere:
            return Found::NotYet;
        case DataAccess::AttachmentEnd::Gone:
            break;
        }
    }
    const QPoint p0 = stroke.points.front();
    // Where its first row could be: the statement numbers from sendingN on, above the rows of
    // its stroke committed before (stored above undrawn rows, they may lie past sendingN),
    // and takes the author's next stroke number unless it continues a stroke.
    const QString where = QStringLiteral("N>=%1 AND MN=%2 AND PTYP=%3 AND PSIZ=%4 AND PCOL=%5 AND X=%6 AND Y=%7 AND DN")
                              .arg(std::max(stroke.sendingN, stroke.lastStoredN + 1))
                              .arg(stroke.user)
                              .arg(stroke.pen.type)
                              .arg(stroke.pen.size)
                              .arg(stroke.pen.color)
                              .arg(p0.x())
                              .arg(p0.y())
                          + (stroke.numbered ? QStringLiteral("=") : QStringLiteral(">=")) + num(stroke.sendingDn);
    std::vector<std::pair<qint64, int>> starts;
    db_.ForEachRow(QStringLiteral("N,DN"), table_, where, QStringLiteral("N"), [&](const QStringList &row) {
        starts.emplace_back(TextToInt(row.value(0)), int(TextToInt(row.value(1))));
    });
    if (readFailed())
        return Found::Unknown;
    for (const auto &[n, dn] : starts) {
        // Every one of its rows, compared with the statement's points.
        int same = 0;
        db_.ForEachRow(QStringLiteral("*"), table_, QStringLiteral("N>=%1 AND N<=%2").arg(n).arg(n + k - 1),
                       QStringLiteral("N"), [&](const QStringList &row) {
                           const qint64 i = TextToInt(row.value(ImageTable::N)) - n;
                           if (i == same
                               && rowContent(row)
                                      == rowContent(valuesOf(0, stroke.user, dn, stroke.pen, stroke.points[size_t(i)])))
                               ++same;
                       });
        if (readFailed())
            return Found::Unknown;
        if (same == k) {
            committed(stroke, n, dn, k, false);
            return Found::Yes;
        }
    }
    // Nothing of it: the statement was never committed (a statement is all or nothing),
    // once it cannot be running any more (its attachment gone, else after a while).
    if (stroke.sendingAttachment == 0 && stroke.lostAtMs > 0 && nowMs() - stroke.lostAtMs < kStillRunningMs)
        return Found::NotYet;
    stroke.lostAtMs = 0;
    stroke.sendingN = 0;
    stroke.sendingDn = 0;
    stroke.sendingCount = 0;
    stroke.sendingAttachment = 0;
    return Found::No;
}

StrokeStore::Found StrokeStore::samePicture(const PendingStroke &stroke)
{
    const JournalStroke &j = stroke.journal->Stroke();
    if (j.anchorN <= 0)
        return Found::Yes; // drawn in an empty picture, or by a version that did not say
    QString row;
    const int n = db_.ForEachRow(QStringLiteral("*"), table_, QStringLiteral("N=") + num(j.anchorN), QString(),
                                 [&](const QStringList &r) { row = rowContent(r); });
    if (readFailed())
        return db_.LastFailureWasConnectionLoss() ? Found::Unknown : Found::No;
    return n == 1 && row == j.anchorRow ? Found::Yes : Found::No;
}
