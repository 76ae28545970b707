#include "db/Statements.h"

#include "db/Tables.h"

namespace Statements {

static void appendList(QStringList &lines, int count, const QStringList &items)
{
    for (int i = 0; i < count; ++i) {
        const QString item = i < items.size() ? items[i] : QString();
        lines << QStringLiteral("   ") + item + (i < count - 1 ? QStringLiteral(",") : QString());
    }
}

QStringList InsertRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values)
{
    QStringList lines;
    lines << QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (");
    appendList(lines, count, names);
    lines << QStringLiteral("   ) ");
    lines << QStringLiteral("   VALUES (");
    appendList(lines, count, values);
    lines << QStringLiteral("   );");
    return lines;
}

QStringList UpdateRecord(const QString &table, int count, const QStringList &names,
                         const QStringList &values, const QString &condition)
{
    QStringList lines;
    lines << QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ");
    for (int i = 0; i < count; ++i) {
        const QString name = i < names.size() ? names[i] : QString();
        const QString value = i < values.size() ? values[i] : QString();
        lines << QStringLiteral("   ") + name + QLatin1Char('=') + value
                     + (i < count - 1 ? QStringLiteral(",") : QString());
    }
    if (!condition.isEmpty())
        lines << QStringLiteral("   WHERE ") + condition;
    lines << QStringLiteral("   ;");
    return lines;
}

QStringList DeleteRecords(const QString &table, const QString &condition)
{
    QString line = QStringLiteral("DELETE FROM ") + table + QLatin1Char(' ');
    if (!condition.isEmpty())
        line += QStringLiteral("WHERE ") + condition + QLatin1Char(' ');
    line += QLatin1Char(';');
    return {line};
}

static QStringList select(const QString &list, const QString &table, const QString &condition,
                          const QString &order)
{
    QStringList lines;
    lines << QStringLiteral("SELECT ") + list + QLatin1Char(' ');
    lines << QStringLiteral("   FROM ") + table + QLatin1Char(' ');
    if (!condition.isEmpty())
        lines << QStringLiteral("   WHERE ") + condition + QLatin1Char(' ');
    if (!order.isEmpty())
        lines << QStringLiteral("   ORDER BY ") + order + QLatin1Char(' ');
    lines << QStringLiteral("   ;");
    return lines;
}

QStringList SelectAll(const QString &table, const QString &condition)
{
    return select(QStringLiteral("*"), table, condition, QString());
}

QStringList SelectMatch(const QString &table, const QString &column, const QString &condition,
                        int value)
{
    QStringList lines;
    lines << QStringLiteral("SELECT ") + column + QLatin1Char(' ');
    lines << QStringLiteral("   FROM ") + table + QLatin1Char(' ');
    QString where = QStringLiteral("   WHERE ");
    if (!condition.isEmpty())
        where += QLatin1Char('(') + condition + QStringLiteral(") AND ");
    where += QLatin1Char('(') + column + QLatin1Char('=') + QString::number(value) + QStringLiteral(") ");
    lines << where;
    lines << QStringLiteral("   ;");
    return lines;
}

QStringList SelectMax(const QString &table, const QString &column, const QString &condition)
{
    return select(QStringLiteral("MAX(") + column + QLatin1Char(')'), table, condition, QString());
}

QStringList SelectFields(const QString &list, const QString &table, const QString &condition)
{
    return select(list, table, condition, QString());
}

QStringList SelectOrdered(const QString &list, const QString &table, const QString &condition,
                          const QString &order)
{
    return select(list, table, condition, order);
}

QString TimestampText(const QString &column)
{
    return QStringLiteral("CAST(%1 AS VARCHAR(30))").arg(column);
}

namespace {

// The author's strokes stored above the hint, not yet drawn by the sender: the stroke takes
// the next DN above them.
QStringList dnSearch(const QString &t, const QString &hint, const QString &mn, const QString &indent)
{
    return {indent + QStringLiteral("M = NULL;"),
            indent + QStringLiteral("SELECT MAX(DN) FROM ") + t + QStringLiteral(" WHERE N > ") + hint
                + QStringLiteral(" AND MN = ") + mn + QStringLiteral(" INTO :M;"),
            indent + QStringLiteral("IF (M >= STROKE_DN) THEN STROKE_DN = M + 1;")};
}

// Both forms of a block: the first free N found on the server, the inserts above it, and
// a clash with another writer tried again above what that writer stored.
void appendSearchAndInsert(QStringList &lines, const QString &t, const QStringList &dnLines,
                           const QStringList &inserts)
{
    lines << QStringLiteral("  WHILE (FIRST_N = 0) DO");
    lines << QStringLiteral("  BEGIN");
    // The highest N at or above the hint, by the unique index.
    lines << QStringLiteral("    M = NULL;");
    lines << QStringLiteral("    SELECT MAX(N) FROM ") + t + QStringLiteral(" WHERE N >= :AT_N INTO :M;");
    lines << QStringLiteral("    IF (M IS NOT NULL) THEN AT_N = M;");
    lines << dnLines;
    lines << QStringLiteral("    BEGIN");
    lines << inserts;
    lines << QStringLiteral("      FIRST_N = AT_N + 1;");
    // The clash undoes the inserts above; a clashing row that cannot be seen is
    // another writer's, not committed yet: a lock, told to the sender.
    lines << QStringLiteral("      WHEN GDSCODE unique_key_violation, GDSCODE no_dup DO");
    lines << QStringLiteral("      BEGIN");
    lines << QStringLiteral("        M = NULL;");
    lines << QStringLiteral("        SELECT MAX(N) FROM ") + t + QStringLiteral(" WHERE N > :AT_N INTO :M;");
    lines << QStringLiteral("        IF (M IS NULL) THEN FIRST_N = -1;");
    lines << QStringLiteral("      END");
    lines << QStringLiteral("    END");
    lines << QStringLiteral("  END");
    lines << QStringLiteral("  IF (FIRST_N > 0) THEN");
    lines << QStringLiteral("    POST_EVENT '") + t + QStringLiteral("';");
}

} // namespace

QStringList StrokeBlock(const StrokeBlockText &b, const QList<BlockPoint> &points)
{
    const QString t = b.table;
    QStringList lines;
    lines << QStringLiteral("EXECUTE BLOCK RETURNS (FIRST_N INTEGER, STROKE_DN INTEGER) AS");
    lines << QStringLiteral("DECLARE AT_N INTEGER = ") + QString::number(b.hint) + QLatin1Char(';');
    lines << QStringLiteral("DECLARE M INTEGER;");
    lines << QStringLiteral("BEGIN");
    lines << QStringLiteral("  FIRST_N = 0;");
    lines << QStringLiteral("  STROKE_DN = ") + QString::number(b.dn) + QLatin1Char(';');
    const QStringList at = b.hintRow.split(QLatin1Char(','));
    if (b.hint > 0 && at.size() == 7) {
        static const char *const names[] = {"MN", "DN", "PTYP", "PSIZ", "PCOL", "X", "Y"};
        QString row = QStringLiteral("N = ") + QString::number(b.hint);
        // An empty field is a NULL, which only IS NULL matches.
        for (int i = 0; i < 7; ++i)
            row += QStringLiteral(" AND ") + QLatin1String(names[i])
                   + (at[i].isEmpty() ? QStringLiteral(" IS NULL") : QStringLiteral(" = ") + QString::number(at[i].toLongLong()));
        lines << QStringLiteral("  IF (NOT EXISTS (SELECT 1 FROM ") + t + QStringLiteral(" WHERE ") + row
                     + QStringLiteral(")) THEN");
        lines << QStringLiteral("    FIRST_N = -2;");
    }
    const QString head = QStringLiteral("INSERT INTO ") + t + QStringLiteral(" (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (");
    const QString pen = QStringLiteral(", ") + QString::number(b.mn) + QStringLiteral(", :STROKE_DN, ")
                        + QString::number(b.ptyp) + QStringLiteral(", ") + QString::number(b.psiz)
                        + QStringLiteral(", ") + QString::number(b.pcol) + QStringLiteral(", ");
    const QString indent = b.findOnServer ? QStringLiteral("      ") : QStringLiteral("    ");
    QStringList inserts;
    for (int i = 0; i < points.size(); ++i) {
        const QString n = b.findOnServer ? QStringLiteral(":AT_N + ") + QString::number(i + 1)
                                         : QString::number(b.hint + i + 1);
        inserts << indent + head + n + pen + QString::number(points[i].x) + QStringLiteral(", ")
                       + QString::number(points[i].y) + QStringLiteral(");");
    }
    if (b.findOnServer) {
        appendSearchAndInsert(lines, t,
                              b.dnFixed ? QStringList()
                                        : dnSearch(t, QString::number(b.hint), QString::number(b.mn),
                                                   QStringLiteral("    ")),
                              inserts);
    } else {
        lines << QStringLiteral("  IF (FIRST_N = 0) THEN");
        lines << QStringLiteral("  BEGIN");
        lines << inserts;
        lines << QStringLiteral("    FIRST_N = ") + QString::number(b.hint + 1) + QLatin1Char(';');
        lines << QStringLiteral("    POST_EVENT '") + t + QStringLiteral("';");
        lines << QStringLiteral("  END");
    }
    // The one row of the answer; the block ends after it.
    lines << QStringLiteral("  SUSPEND;");
    lines << QStringLiteral("END");
    return lines;
}

QStringList PresenceMark(const QList<QPair<qint64, int>> &pictures)
{
    QStringList lines{QStringLiteral("EXECUTE BLOCK AS"), QStringLiteral("DECLARE I INTEGER;"),
                      QStringLiteral("BEGIN")};
    for (const auto &[imageNo, member] : pictures)
        lines << QStringLiteral("  I = RDB$SET_CONTEXT('USER_SESSION', '") + PresenceMark::VariableOf(imageNo)
                     + QStringLiteral("', ")
                     + (member > 0 ? QLatin1Char('\'') + QString::number(member) + QLatin1Char('\'')
                                   : QStringLiteral("NULL"))
                     + QStringLiteral(");");
    for (const auto &picture : pictures)
        lines << QStringLiteral("  POST_EVENT '") + PresenceMark::EventOf(picture.first) + QStringLiteral("';");
    lines << QStringLiteral("END");
    return lines;
}

QStringList PreparedStrokeBlock(const QString &t, int places)
{
    // As StrokeBlock, its values taken from the parameters in the order
    // PreparedStrokeBlockParameters gives them.
    QStringList lines;
    QString in = QStringLiteral("EXECUTE BLOCK (AT_HINT INTEGER = ?, HAS_ROW INTEGER = ?");
    for (const char *c : {"R_MN", "R_DN", "R_PTYP", "R_PSIZ", "R_PCOL", "R_X", "R_Y", "MN", "DN_IN", "DN_FIXED",
                          "PTYP", "PSIZ", "PCOL", "K"})
        in += QStringLiteral(", %1 INTEGER = ?").arg(QLatin1String(c));
    lines << in;
    for (int i = 1; i <= places; ++i)
        lines << QStringLiteral("  , X%1 INTEGER = ?, Y%1 INTEGER = ?").arg(i);
    lines << QStringLiteral(") RETURNS (FIRST_N INTEGER, STROKE_DN INTEGER) AS");
    lines << QStringLiteral("DECLARE AT_N INTEGER;");
    lines << QStringLiteral("DECLARE M INTEGER;");
    lines << QStringLiteral("BEGIN");
    lines << QStringLiteral("  AT_N = AT_HINT;");
    lines << QStringLiteral("  FIRST_N = 0;");
    lines << QStringLiteral("  STROKE_DN = DN_IN;");
    // A NULL in the row at the hint is a NULL in the parameter: IS NOT DISTINCT FROM matches it.
    lines << QStringLiteral("  IF (HAS_ROW = 1 AND NOT EXISTS (SELECT 1 FROM ") + t
                 + QStringLiteral(" WHERE N = :AT_HINT AND MN IS NOT DISTINCT FROM :R_MN"
                                  " AND DN IS NOT DISTINCT FROM :R_DN AND PTYP IS NOT DISTINCT FROM :R_PTYP"
                                  " AND PSIZ IS NOT DISTINCT FROM :R_PSIZ AND PCOL IS NOT DISTINCT FROM :R_PCOL"
                                  " AND X IS NOT DISTINCT FROM :R_X AND Y IS NOT DISTINCT FROM :R_Y)) THEN");
    lines << QStringLiteral("    FIRST_N = -2;");
    QStringList dn{QStringLiteral("    IF (DN_FIXED = 0) THEN"), QStringLiteral("    BEGIN")};
    dn << dnSearch(t, QStringLiteral(":AT_HINT"), QStringLiteral(":MN"), QStringLiteral("      "));
    dn << QStringLiteral("    END");
    const QString head = QStringLiteral("INSERT INTO ") + t + QStringLiteral(" (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) VALUES (");
    QStringList inserts;
    for (int i = 1; i <= places; ++i)
        inserts << (i == 1 ? QStringLiteral("      ") : QStringLiteral("      IF (K >= %1) THEN ").arg(i)) + head
                       + QStringLiteral(":AT_N + %1, :MN, :STROKE_DN, :PTYP, :PSIZ, :PCOL, :X%1, :Y%1);").arg(i);
    appendSearchAndInsert(lines, t, dn, inserts);
    // The one row of the answer, which comes back with the execute.
    lines << QStringLiteral("  SUSPEND;");
    lines << QStringLiteral("END");
    return lines;
}

PresenceReadText PresenceRead()
{
    // A value someone else may have made long is cut rather than refused.
    return {QStringLiteral("V.MON$ATTACHMENT_ID, V.MON$VARIABLE_NAME, SUBSTRING(V.MON$VARIABLE_VALUE FROM 1 FOR 12)"),
            QStringLiteral("MON$ATTACHMENTS A JOIN MON$CONTEXT_VARIABLES V ON V.MON$ATTACHMENT_ID = A.MON$ATTACHMENT_ID"),
            QStringLiteral("V.MON$TRANSACTION_ID IS NULL AND V.MON$VARIABLE_NAME STARTING WITH '")
                + PresenceMark::VariablePrefix + QLatin1Char('\'')};
}

std::vector<std::optional<qint64>> PreparedStrokeBlockParameters(const StrokeBlockText &b,
                                                                  const QList<BlockPoint> &points, int places)
{
    std::vector<std::optional<qint64>> p;
    p.reserve(size_t(16 + 2 * places));
    const QStringList at = b.hintRow.split(QLatin1Char(','));
    const bool hasRow = b.hint > 0 && at.size() == 7;
    p.push_back(b.hint);
    p.push_back(hasRow ? 1 : 0);
    for (int i = 0; i < 7; ++i) {
        // An empty field is a NULL.
        if (hasRow && !at[i].isEmpty())
            p.push_back(at[i].toLongLong());
        else
            p.push_back(std::nullopt);
    }
    for (const qint64 v : {qint64(b.mn), qint64(b.dn), qint64(b.dnFixed ? 1 : 0), qint64(b.ptyp), qint64(b.psiz),
                           qint64(b.pcol), qint64(points.size())})
        p.push_back(v);
    for (int i = 0; i < places; ++i) {
        if (i < points.size()) {
            p.push_back(points[i].x);
            p.push_back(points[i].y);
        } else {
            p.push_back(std::nullopt);
            p.push_back(std::nullopt);
        }
    }
    return p;
}

int PreparedBlockPlaces(int count)
{
    for (const int places : {1, 2, 4, 8, 16, 32, 64, 128})
        if (count <= places)
            return places;
    return BlockPointLimit;
}

QStringList CreateSectionTable()
{
    return {QStringLiteral("CREATE TABLE SECTION ("), QStringLiteral("  N INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  SNAME VARCHAR(32)"), QStringLiteral("  );")};
}

QStringList CreateMemberTable()
{
    return {QStringLiteral("CREATE TABLE MEMBER ("), QStringLiteral("  N  INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  SN INTEGER,"), QStringLiteral("  PNAME VARCHAR(16)"),
            QStringLiteral("  );")};
}

QStringList CreateImgListTable()
{
    return {QStringLiteral("CREATE TABLE IMGLIST ("),
            QStringLiteral("  N  INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  MN    INTEGER,"),
            QStringLiteral("  INAME VARCHAR(64),"),
            QStringLiteral("  MEMO1 VARCHAR(80),"),
            QStringLiteral("  MEMO2 VARCHAR(80),"),
            QStringLiteral("  MEMO3 VARCHAR(80),"),
            QStringLiteral("  SX    INTEGER,"),
            QStringLiteral("  SY    INTEGER,"),
            QStringLiteral("  DATE1 VARCHAR(8),"),
            QStringLiteral("  DATE2 VARCHAR(8)"),
            QStringLiteral("  );")};
}

QStringList CreateImageTable(const QString &name)
{
    return {QStringLiteral("CREATE TABLE ") + name + QStringLiteral(" ("),
            QStringLiteral("  N    INTEGER NOT NULL UNIQUE,"),
            QStringLiteral("  MN   INTEGER,"),
            QStringLiteral("  DN   INTEGER,"),
            QStringLiteral("  PTYP INTEGER,"),
            QStringLiteral("  PSIZ INTEGER,"),
            QStringLiteral("  PCOL INTEGER,"),
            QStringLiteral("  X    INTEGER,"),
            QStringLiteral("  Y    INTEGER"),
            QStringLiteral("  );")};
}

QStringList DropTable(const QString &name)
{
    return {QStringLiteral("DROP TABLE ") + name + QLatin1Char(';')};
}

QString CreateDatabase(const QString &path, const QString &user, const QString &password)
{
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QStringLiteral("CREATE DATABASE '") + quoted + QStringLiteral("' ")
           + QStringLiteral("USER \"") + user + QStringLiteral("\"\r\n")
           + QStringLiteral("PASSWORD \"") + password + QStringLiteral("\"\r\n")
           + QStringLiteral("PAGE_SIZE 4096\r\n");
}

QString Join(const QStringList &lines)
{
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace Statements
