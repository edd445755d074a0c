#include "sync/MergeSql.h"

#include "db/Database.h"
#include "db/Sqlite.h"
#include "sync/TwoWayMerge.h"

namespace mirsalex {

QString keyOrder(const MergePlan& p, const QString& alias)
{
    QString order;
    for (const QString& k : p.keys) {
        if (!order.isEmpty())
            order += QStringLiteral(", ");
        order += alias + Database::quoted(k);
    }
    return order;
}

QString sameKey(const MergePlan& p, const QString& x)
{
    QString match;
    for (qsizetype i = 0; i < p.keys.size(); ++i) {
        if (!match.isEmpty())
            match += QStringLiteral(" AND ");
        const QString k = Database::quoted(p.keys[i]);
        match += x + QLatin1Char('.') + k + QStringLiteral(" = s.") + k;
        if (p.foldKey.value(i))
            match += QStringLiteral(" COLLATE ") + QLatin1String(sqlite::kFoldCollation);
    }
    return match;
}

QString comesBefore(const MergePlan& p, const QString& d)
{
    QString before, equalSoFar;
    for (qsizetype i = 0; i < p.keys.size(); ++i) {
        if (!p.foldKey.value(i))
            continue;
        const QString k = Database::quoted(p.keys[i]);
        const QString left = d + QLatin1Char('.') + k, right = QStringLiteral("s.") + k;
        if (!before.isEmpty())
            before += QStringLiteral(" OR ");
        before += QLatin1Char('(') + equalSoFar + left + QStringLiteral(" < ") + right +
                  QStringLiteral(" COLLATE BINARY)");
        equalSoFar += left + QStringLiteral(" = ") + right + QStringLiteral(" COLLATE BINARY AND ");
    }
    return before;
}

QString unmarked(const MergePlan& p, const QString& alias)
{
    // A mark reads as marked only when its text is exactly "S" (Null, blank
    // and any other value are unmarked).
    return QStringLiteral("CAST(") + alias + QLatin1Char('.') + Database::quoted(p.mark) +
           QStringLiteral(" AS TEXT) IS NOT 'S'");
}

QString missingRows(const MergePlan& p, const QString& source, const QString& target)
{
    QString sql;
    if (!p.mark.isEmpty())
        sql += unmarked(p, QStringLiteral("s")) + QStringLiteral(" AND ");
    sql += QStringLiteral("NOT EXISTS (SELECT 1 FROM ") + target + QStringLiteral(" AS t WHERE ") +
           sameKey(p, QStringLiteral("t")) + QLatin1Char(')');
    if (p.foldKey.contains(true)) {
        sql += QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM ") + source + QStringLiteral(" AS d WHERE ") +
               sameKey(p, QStringLiteral("d")) + QStringLiteral(" AND (") +
               comesBefore(p, QStringLiteral("d")) + QLatin1Char(')');
        if (!p.mark.isEmpty())
            sql += QStringLiteral(" AND ") + unmarked(p, QStringLiteral("d"));
        sql += QLatin1Char(')');
    }
    return sql;
}

QString heldVisitsText(const QString& field)
{
    // (A text beginning with a printable character other than the blank is
    // never blank: no trimming for it.)
    return QStringLiteral(
               "substr(CASE WHEN %1 >= '!' COLLATE BINARY OR trim(%1, ' ') <> '' THEN substr(%1, 1, 13) "
               "ELSE ' ' END || '             ', 1, 13)")
        .arg(field);
}

} // namespace mirsalex
