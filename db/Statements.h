#pragma once
// The exact lines of every statement the program sends. Pure text, no database.

#include <QString>
#include <QList>
#include <QPair>
#include <QStringList>
#include <optional>
#include <vector>

namespace Statements {

QStringList InsertRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values);
QStringList UpdateRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values, const QString &condition);
QStringList DeleteRecords(const QString &table, const QString &condition);
QStringList SelectAll(const QString &table, const QString &condition);
QStringList SelectMatch(const QString &table, const QString &column, const QString &condition,
                        int value);
QStringList SelectMax(const QString &table, const QString &column, const QString &condition);
QStringList SelectFields(const QString &list, const QString &table, const QString &condition);
QStringList SelectOrdered(const QString &list, const QString &table, const QString &condition,
                          const QString &order);

// A stroke's points as one statement (EXECUTE BLOCK), stored in one commit and told to
// the other PCs by the event named after the table. Each point is the row
// (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) that InsertRecord would send.
struct BlockPoint {
    int x = 0, y = 0;
};
struct StrokeBlockText {
    QString table;
    qint64 hint = 0;         // every N up to this is known taken
    // The row at the hint as the sender drew it, "MN,DN,PTYP,PSIZ,PCOL,X,Y", a NULL as an
    // empty field (all of it empty: not known): a table without it is not the one drawn,
    // and nothing is stored.
    QString hintRow;
    int mn = 0;
    int dn = 1;              // the stroke number, or the lowest it may take
    bool dnFixed = false;    // a later block of a stroke whose number is given
    int ptyp = 0, psiz = 1, pcol = 0;
    // True: the block finds its first N above the hint on the server and tries again
    // there after a clash, inside itself. False: the points take hint + 1 ... and a
    // clash refuses the whole block.
    bool findOnServer = true;
};
// Returns FIRST_N (the N of the first point; -1 when it clashed with a row not yet
// committed, -2 when the row at the hint is not the one drawn) and STROKE_DN.
// A timestamp column as text, the same on every server whatever its settings (SQL).
QString TimestampText(const QString &column);
QStringList StrokeBlock(const StrokeBlockText &block, const QList<BlockPoint> &points);
// Points per block: the server refuses a statement of more than 255 table references.
constexpr int BlockPointLimit = 240;
// The same block with its values as parameters, to be prepared once per table and number
// of places and run many times (the server then compiles no text per block): it stores the
// first `count` of its `places` points. Always finds its N on the server.
QStringList PreparedStrokeBlock(const QString &table, int places);
std::vector<std::optional<qint64>> PreparedStrokeBlockParameters(const StrokeBlockText &block,
                                                                  const QList<BlockPoint> &points, int places);
// The places of the prepared block that takes `count` points (a few sizes serve every count).
int PreparedBlockPlaces(int count);
// Bytes of statement text per block (the ISC API takes at most 64 KB).
constexpr int BlockTextLimit = 60000;

// Sets this attachment's presence variables (a member number, or NULL, which removes the
// variable) and posts each picture's presence event, in one block.
QStringList PresenceMark(const QList<QPair<qint64, int>> &pictures);
// The presence read, for SelectOrdered: every attachment's presence variables, as
// (attachment, variable name, the value's first characters).
struct PresenceReadText {
    QString list, from, where;
};
PresenceReadText PresenceRead();

QStringList CreateSectionTable();
QStringList CreateMemberTable();
QStringList CreateImgListTable();
QStringList CreateImageTable(const QString &name);
QStringList DropTable(const QString &name);

// "CREATE DATABASE '<path>' " and the user, password and page size lines, each ended by CR LF.
// A quote in the path is doubled so that it cannot end the literal early.
QString CreateDatabase(const QString &path, const QString &user, const QString &password);

// The lines as the server receives them.
QString Join(const QStringList &lines);

} // namespace Statements
