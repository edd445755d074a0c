#include "sync/Divergence.h"

#include "db/Database.h"
#include "db/Snapshot.h"
#include "db/Sqlite.h"
#include "sync/MergeSql.h"
#include "sync/TwoWayMerge.h"

#include <cmath>
#include <memory>
#include <optional>
#include <QDate>
#include <QElapsedTimer>
#include <QVariant>

namespace mirsalex {

namespace {

const QString kClientsTable = QStringLiteral("Clienti");
// The page cache of a comparison's own connection, per file.
constexpr int kSideCacheKiB = 512;

QString fold()
{
    return QStringLiteral(" COLLATE ") + QLatin1String(sqlite::kFoldCollation);
}

// Two texts (or Nulls) equal as the merges compare texts: without regard to
// case, trailing blanks ignored, Null read as a blank.
QString sameText(const QString& a, const QString& b)
{
    return QStringLiteral("(typeof(%1) IN ('text', 'null') AND typeof(%2) IN ('text', 'null') AND "
                          "rtrim(coalesce(%1, ''), ' ') = rtrim(coalesce(%2, ''), ' ')%3)")
        .arg(a, b, fold());
}

// Fields `l` and `x` differ. Values stored the same never do (the cheap
// test, first); texts are then compared as the merges compare them.
QString differ(const ComparedTables& t, const QString& field)
{
    const QString q = Database::quoted(field);
    QString l = QStringLiteral("l.") + q, x = QStringLiteral("x.") + q;
    const QString stored = QStringLiteral("%1 IS NOT %2").arg(l, x);
    if (field.compare(t.heldVisits, Qt::CaseInsensitive) == 0) {
        l = QStringLiteral("substr(%1, 1, 13)").arg(l);
        x = QStringLiteral("substr(%1, 1, 13)").arg(x);
    }
    return QStringLiteral("(%1 AND NOT %2)").arg(stored, sameText(l, x));
}

QString keyText(const QStringList& keys, const Snapshot& rows, int first)
{
    QStringList parts;
    for (int i = 0; i < keys.size(); ++i)
        parts << shownValue(keys[i], rows.value(first + i));
    return parts.join(QStringLiteral(" / "));
}

QString selectKeys(const QStringList& keys, const QString& alias)
{
    QString read;
    for (const QString& k : keys)
        read += (read.isEmpty() ? QString() : QStringLiteral(", ")) + alias + Database::quoted(k);
    return read;
}

// Appends one item per row of `select` (its first columns the keys).
Error noteRows(Database& db, const QString& select, const QStringList& keys, RowItem item,
               std::vector<RowItem>& out)
{
    Snapshot rows(db);
    if (Error e = rows.open(select))
        return e;
    for (; !rows.eof();) {
        item.key = keyText(keys, rows, 0);
        out.push_back(item);
        if (Error e = rows.moveNext())
            return e;
    }
    return {};
}

// Adds the time from its making to its end to the run's time spent on the
// rows left different.
class Spent
{
public:
    explicit Spent(RunState& w) : m_w(w) { m_clock.start(); }
    ~Spent() { m_w.divergenceNs += m_clock.nsecsElapsed(); }
    Spent(const Spent&) = delete;
    Spent& operator=(const Spent&) = delete;

private:
    RunState& m_w;
    QElapsedTimer m_clock;
};

RowItem itemOf(RowItem::Kind kind, const QString& table, bool toExchange)
{
    RowItem item;
    item.kind = kind;
    item.table = table;
    item.toExchange = toExchange;
    return item;
}

} // namespace

QString shownValue(const QString& field, const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("(nullo)");
    const bool number = value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong ||
                        value.typeId() == QMetaType::Int;
    const bool date = field.contains(QLatin1String("Data"), Qt::CaseInsensitive) ||
                      field.endsWith(QLatin1String("Il")) ||
                      field.contains(QLatin1String("UltimaVisita"), Qt::CaseInsensitive);
    if (number && date && value.toDouble() > 0 && value.toDouble() < 2958466) {
        // Days since 30/12/1899, the time of day as the fraction.
        const double v = value.toDouble();
        const double day = std::floor(v);
        const int minutes = int(std::lround((v - day) * 1440.0));
        QString text = QDate(1899, 12, 30).addDays(qint64(day)).toString(QStringLiteral("dd/MM/yyyy"));
        if (minutes > 0 && minutes < 1440)
            text += QStringLiteral(" %1:%2")
                        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
        return text;
    }
    return value.toString();
}

Error findDivergences(Database& db, const ComparedTables& t, std::vector<RowItem>& out, qint64& count)
{
    count = 0;
    if (t.columns.isEmpty())
        return {};
    QString on, any, read = selectKeys(t.keys, QStringLiteral("l."));
    for (qsizetype i = 0; i < t.keys.size(); ++i) {
        const QString k = Database::quoted(t.keys[i]);
        on += (on.isEmpty() ? QString() : QStringLiteral(" AND ")) + QStringLiteral("l.") + k +
              QStringLiteral(" = x.") + k + (t.foldKey.value(i) ? fold() : QString());
    }
    read += QStringLiteral(", ") + (t.description.isEmpty()
                                        ? QStringLiteral("NULL")
                                        : QStringLiteral("l.") + Database::quoted(t.description));
    for (const QString& c : t.columns) {
        const QString q = Database::quoted(c);
        const QString d = differ(t, c);
        any += (any.isEmpty() ? QString() : QStringLiteral(" OR ")) + d;
        read += QStringLiteral(", %1, l.%2, x.%2").arg(d, q);
    }
    if (t.localBefore >= 0 && t.exchangeBefore >= 0) {
        // A row the merge added is a copy of its partner with the key
        // written the same: only a partner matched without regard to case
        // can differ from it.
        QString copy;
        for (qsizetype i = 0; i < t.keys.size(); ++i) {
            if (!t.foldKey.value(i))
                continue;
            const QString k = Database::quoted(t.keys[i]);
            copy += QStringLiteral(" AND l.%1 = x.%1 COLLATE BINARY").arg(k);
        }
        const QString before =
            QStringLiteral("l.rowid <= %1 AND x.rowid <= %2").arg(t.localBefore).arg(t.exchangeBefore);
        any = copy.isEmpty() ? QStringLiteral("%1 AND (%2)").arg(before, any)
                             : QStringLiteral("(%1 OR NOT (%2)) AND (%3)").arg(before, copy.mid(5), any);
    }
    Snapshot rows(db);
    // The local table is read in its stored order, not through its key's
    // index: a walk of that index fetches each row from elsewhere in the
    // file, a cost paid for every row where only the few rows that differ
    // need sorting. The exchange keys order the rows a key of the local
    // table matches more than once (texts differing in case), as the walk of
    // their index did.
    const QString sql =
        QStringLiteral("SELECT %1 FROM %2 AS l NOT INDEXED JOIN %3 AS x ON %4 WHERE %5 ORDER BY %6, %7")
            .arg(read, t.local, t.exchange, on, any, selectKeys(t.keys, QStringLiteral("l.")),
                 selectKeys(t.keys, QStringLiteral("x.")));
    if (Error e = rows.open(sql))
        return e;

    const int first = int(t.keys.size()) + 1;
    for (; !rows.eof(); ++count) {
        RowItem item = itemOf(RowItem::Kind::Divergence, t.name, false);
        item.key = keyText(t.keys, rows, 0);
        if (!t.description.isEmpty())
            item.text = shownValue(t.description, rows.value(first - 1));
        for (int c = 0; c < t.columns.size(); ++c) {
            const int at = first + 3 * c;
            if (rows.value(at).toLongLong() == 0)
                continue;
            item.columns << t.columns[c];
            item.localValues << shownValue(t.columns[c], rows.value(at + 1));
            item.exchangeValues << shownValue(t.columns[c], rows.value(at + 2));
        }
        out.push_back(std::move(item));
        if (Error e = rows.moveNext())
            return e;
    }
    return {};
}

ComparedTables comparedTables(const MergePlan& plan, const QString& name, qint64 localBefore,
                              qint64 exchangeBefore)
{
    ComparedTables t;
    t.localBefore = localBefore;
    t.exchangeBefore = exchangeBefore;
    t.name = name;
    t.local = plan.local;
    t.exchange = plan.exchange;
    t.keys = plan.keys;
    t.foldKey = plan.foldKey;
    t.columns = plan.copied;
    return t;
}

void lastRowNumbers(RunState& w, Database& db, const MergePlan& plan, const QString& localName,
                    const QString& exchangeName, qint64& local, qint64& exchange)
{
    const Spent spent(w);
    local = exchange = -1;
    QList<Database::ColumnInfo> l, x;
    if (db.columns(localName, l) || db.columns(exchangeName, x))
        return;
    auto declared = [](const QList<Database::ColumnInfo>& columns, const QString& name) {
        for (const Database::ColumnInfo& c : columns) {
            if (c.name.compare(name, Qt::CaseInsensitive) == 0)
                return std::optional<QString>(c.declared.toUpper());
        }
        return std::optional<QString>();
    };
    for (const QString& f : plan.keys + plan.copied) {
        const std::optional<QString> a = declared(l, f), b = declared(x, f);
        if (!a || !b || *a != *b)
            return;
    }
    auto last = [&](const QString& table, qint64& out) {
        Snapshot row(db);
        if (row.open(QStringLiteral("SELECT coalesce(max(rowid), 0) FROM ") + table) || row.eof())
            return false;
        out = row.value(0).toLongLong();
        return true;
    };
    qint64 a = 0, b = 0;
    if (last(plan.local, a) && last(plan.exchange, b)) {
        local = a;
        exchange = b;
    }
}

namespace {

// What a comparison on the side thread found.
struct SideResult
{
    std::vector<RowItem> rows;
    qint64 count = -1;
    qint64 ns = 0;
};

// Compares `t` (its tables named as in `files`) into slot `slot` of the
// run's counts: in the merge's session in a dry run, else on the side
// thread (see noteDivergences).
void compare(RunState& w, Database& session, ComparedTables t, const ComparedFiles& files, int slot,
             bool held)
{
    const Spent spent(w);
    if (session.writesWithheld()) {
        std::vector<RowItem> found;
        qint64 count = 0;
        if (findDivergences(session, t, found, count))
            return;
        w.divergences[size_t(slot)] = count;
        w.rows.insert(w.rows.end(), std::make_move_iterator(found.begin()),
                      std::make_move_iterator(found.end()));
        return;
    }
    // Opened here, on the run's thread: the files as the merge left them.
    auto db = std::make_shared<Database>();
    if (db->open(files.localPath) || db->attachTable(files.attached, files.exchangePath, files.exchangeTable))
        return;
    t.local = db->qualified(files.localTable);
    t.exchange = db->qualified(files.attached);
    if (t.local.isEmpty() || t.exchange.isEmpty())
        return;
    // Read once, start to end: a small cache is enough, and the run's
    // memory stays as it was.
    db->limitCache(kSideCacheKiB);
    auto result = std::make_shared<SideResult>();
    w.sideThread.post(
        [db, t = std::move(t), result]() mutable {
            QElapsedTimer clock;
            clock.start();
            qint64 count = 0;
            if (!findDivergences(*db, t, result->rows, count))
                result->count = count;
            else
                result->rows.clear();
            db.reset();
            result->ns = clock.nsecsElapsed();
        },
        held);
    w.sideResults.push_back([result, slot](RunState& run) {
        run.divergenceSideNs += result->ns;
        if (result->count < 0)
            return;
        run.divergences[size_t(slot)] = result->count;
        run.rows.insert(run.rows.end(), std::make_move_iterator(result->rows.begin()),
                        std::make_move_iterator(result->rows.end()));
    });
}

} // namespace

void noteDivergences(RunState& w, Database& db, const MergePlan& plan, const ComparedFiles& files,
                     int counters, qint64 localBefore, qint64 exchangeBefore)
{
    compare(w, db, comparedTables(plan, files.localTable, localBefore, exchangeBefore), files, counters + 1,
            true);
}

void noteClientDivergences(RunState& w, Database& db, const ComparedFiles& files)
{
    ComparedTables t;
    t.name = kClientsTable;
    t.local = db.qualified(kClientsTable);
    t.exchange = db.qualified(files.attached);
    t.keys = {QStringLiteral("CliCodice")};
    t.foldKey = {false};
    t.description = QStringLiteral("CliRagsoc");
    t.heldVisits = QStringLiteral("CliVisite");
    QList<Database::ColumnInfo> local, exchange;
    if (t.local.isEmpty() || t.exchange.isEmpty() || db.columns(kClientsTable, local) ||
        db.columns(files.attached, exchange))
        return;
    // The fields both tables have, in the local table's order.
    for (const Database::ColumnInfo& c : std::as_const(local)) {
        if (c.name.compare(t.keys.first(), Qt::CaseInsensitive) == 0)
            continue;
        for (const Database::ColumnInfo& o : std::as_const(exchange)) {
            if (o.name.compare(c.name, Qt::CaseInsensitive) == 0) {
                t.columns << c.name;
                break;
            }
        }
    }
    compare(w, db, std::move(t), files, 0, false);
}

void noteRowsAdded(RunState& w, Database& db, const MergePlan& plan, const QString& name, bool toExchange)
{
    if (!w.sink.dryRun())
        return;
    const QString& from = toExchange ? plan.local : plan.exchange;
    const QString& to = toExchange ? plan.exchange : plan.local;
    static_cast<void>(noteRows(db,
                               QStringLiteral("SELECT %1 FROM %2 AS s WHERE %3 ORDER BY %4")
                                   .arg(selectKeys(plan.keys, QStringLiteral("s.")), from,
                                        missingRows(plan, from, to), keyOrder(plan, QStringLiteral("s."))),
                               plan.keys, itemOf(RowItem::Kind::RowAdded, name, toExchange), w.rows));
}

void noteRowsPurged(RunState& w, Database& db, const MergePlan& plan, const QString& name)
{
    if (!w.sink.dryRun() || plan.mark.isEmpty())
        return;
    for (const bool exchange : {false, true}) {
        // The purge's own condition.
        static_cast<void>(
            noteRows(db,
                     QStringLiteral("SELECT %1 FROM %2 WHERE %3 = 'S' ORDER BY %4")
                         .arg(selectKeys(plan.keys, QString()), exchange ? plan.exchange : plan.local,
                              Database::quoted(plan.mark), keyOrder(plan, QString())),
                     plan.keys, itemOf(RowItem::Kind::RowPurged, name, exchange), w.rows));
    }
}

void noteClientRows(RunState& w, Database& db, const QString& local, const QString& exchange)
{
    if (!w.sink.dryRun() || local.isEmpty() || exchange.isEmpty())
        return;
    const QStringList key{QStringLiteral("CliCodice")};
    auto note = [&](const QString& select, RowItem::Kind kind) {
        Snapshot rows(db);
        if (rows.open(select))
            return;
        while (!rows.eof()) {
            RowItem item = itemOf(kind, kClientsTable, false);
            item.key = rows.value(0).toString();
            item.text = rows.value(1).toString().trimmed();
            w.rows.push_back(std::move(item));
            if (rows.moveNext())
                return;
        }
    };
    // Clients the exchange copy has and the local table lacks.
    note(QStringLiteral("SELECT s.\"CliCodice\", s.\"CliRagsoc\" FROM %1 AS s WHERE NOT EXISTS (SELECT 1 "
                        "FROM %2 AS t WHERE t.\"CliCodice\" = s.\"CliCodice\") ORDER BY s.rowid")
             .arg(exchange, local),
         RowItem::Kind::ClientAdded);
    // Known clients whose visits text differs as held.
    note(
        QStringLiteral("SELECT s.\"CliCodice\", s.\"CliRagsoc\" FROM %1 AS s JOIN %2 AS t ON t.\"CliCodice\" "
                       "= s.\"CliCodice\" WHERE %3 <> %4 ORDER BY s.rowid")
            .arg(exchange, local, heldVisitsText(QStringLiteral("s.\"CliVisite\"")),
                 heldVisitsText(QStringLiteral("t.\"CliVisite\""))),
        RowItem::Kind::VisitsText);
}

} // namespace mirsalex
