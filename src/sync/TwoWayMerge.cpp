#include "sync/TwoWayMerge.h"

#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "db/Snapshot.h"
#include "db/TableRecordset.h"
#include "sync/Divergence.h"
#include "sync/MergeSql.h"
#include "sync/Schema.h"

#include <algorithm>
#include <QDateTime>
#include <QFileInfo>
#include <vector>

namespace mirsalex {

const QString kVisitsOpenLocal = QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE VISITE LOCALE");
const QString kVisitsOpenExchange = QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE VISITE REMOTO");

namespace {

const QString kMarked = QStringLiteral("S");

// Rows the walk adds between two commits.
constexpr int kBatchRows = 5000;

// Rows left to the walk past which a pass walks every row.
constexpr size_t kMostWalkedRows = 300;

// Commits what is stored so far and opens the next batch, for the tables
// it writes (see Database::beginBatch()), so that a failure after this
// point (even one after which the engine abandons its whole transaction, as
// on a full disk) cannot take these rows with it.
Error checkpoint(Database& db, const QStringList& writes)
{
    if (Error e = db.commitBatch())
        return e;
    return db.beginBatch(writes);
}

// The same, the next batch writing what this one did.
Error checkpoint(Database& db)
{
    return checkpoint(db, QStringList(db.batchWrites()));
}

// Commits the first pass (the local file) and begins the batch of the
// second and of the purge, for the files they write: the exchange one, and
// the local one when rows marked deleted are purged.
Error secondPassBatch(Database& db, const MergePlan& plan)
{
    QStringList writes{plan.exchange};
    if (!plan.mark.isEmpty())
        writes << plan.local;
    return checkpoint(db, writes);
}

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// The fields a pass writes, in order: keys, copied fields, mark.
QStringList writtenFields(const MergePlan& p)
{
    QStringList fields = p.keys + p.copied;
    if (!p.mark.isEmpty())
        fields << p.mark;
    return fields;
}

// The start of the statement that adds source rows (aliased s) to the
// target: the fields written, in order (key, copied fields, mark), and what
// each takes (the source's value, the mark " ").
QString insertFrom(const MergePlan& p, const QString& target)
{
    QString names, values;
    for (const QString& f : writtenFields(p)) {
        if (!names.isEmpty()) {
            names += QStringLiteral(", ");
            values += QStringLiteral(", ");
        }
        names += Database::quoted(f);
        values += f == p.mark ? QStringLiteral("' '") : QStringLiteral("s.") + Database::quoted(f);
    }
    return QStringLiteral("INSERT INTO ") + target + QStringLiteral(" (") + names +
           QStringLiteral(") SELECT ") + values + QStringLiteral(" FROM ");
}

// One statement adding the missing rows. It adds all of them or none, so the
// order in which it reads the source shows nowhere; reading the table as it
// lies is the cheapest. (The walk that takes over after a failure goes in
// key order, which decides the rows added before the failing one.) Of
// source rows whose keys differ only in case, the first in key order is
// added, as the walk adds it and then finds it for the others.
QString setBasedCopy(const MergePlan& p, const QString& source, const QString& target)
{
    return insertFrom(p, target) + source + QStringLiteral(" AS s WHERE ") + missingRows(p, source, target);
}

// The row-by-row walk: one indexed seek per unmarked source row, a missing
// row added on its own. Stops at the first failure; the rows added before
// it stay in the batch. A row is added straight from its source row (named
// by the number the engine gave it), so every value arrives as it is
// stored, whatever its kind. Each source row is reported to `progress`.
Error walkRows(Database& db, const MergePlan& p, const QString& sourceTable, const QString& targetName,
               const QString& targetTable, int& added, Prompt* progress, const QString& step)
{
    TableRecordset to(db);
    Snapshot rows(db);
    if (Error e = to.open(targetName))
        return e;
    if (Error e = to.setIndex(QStringLiteral("primaria")))
        return e;
    if (Error e = to.setFetchFields(p.keys))
        return e;
    QString read = QStringLiteral("rowid");
    for (const QString& k : p.keys)
        read += QStringLiteral(", ") + Database::quoted(k);
    if (!p.mark.isEmpty())
        read += QStringLiteral(", ") + Database::quoted(p.mark);
    if (Error e = rows.open(QStringLiteral("SELECT ") + read + QStringLiteral(" FROM ") + sourceTable +
                            QStringLiteral(" ORDER BY ") + keyOrder(p, QString())))
        return e;
    const int keyCount = int(p.keys.size());
    const int markColumn = p.mark.isEmpty() ? -1 : 1 + keyCount;

    const QString insert =
        insertFrom(p, targetTable) + sourceTable + QStringLiteral(" AS s WHERE s.rowid = ");

    QVariantList key;
    int sinceCommit = 0;
    if (rows.recordCount() <= 0)
        return {};
    // The total for the progress display; unknown (0) when it cannot be counted.
    qint64 total = 0;
    if (progress) {
        Snapshot count(db);
        if (!count.open(QStringLiteral("SELECT COUNT(*) FROM ") + sourceTable) && !count.eof())
            total = count.value(0).toLongLong();
        count.close();
    }
    qint64 done = 0;
    while (!rows.eof()) {
        if (progress)
            progress->progress(step, done++, total);
        if (markColumn < 0 || TestoODefault(rows.value(markColumn)) != kMarked) {
            key.clear();
            for (int i = 0; i < keyCount; ++i)
                key << rows.value(1 + i);
            if (Error e = to.seek(key))
                return e;
            if (to.noMatch()) {
                int stored = 0;
                if (Error e = db.execute(insert + QString::number(rows.value(0).toLongLong()), &stored))
                    return e;
                added += stored;
                if (stored > 0 && ++sinceCommit >= kBatchRows) {
                    if (Error e = checkpoint(db))
                        return e;
                    sinceCommit = 0;
                }
            }
        }
        if (Error e = rows.moveNext())
            return e;
    }
    return {};
}

const Database::ColumnInfo* column(const QList<Database::ColumnInfo>& columns, const QString& name)
{
    for (const Database::ColumnInfo& c : columns) {
        if (c.name.compare(name, Qt::CaseInsensitive) == 0)
            return &c;
    }
    return nullptr;
}

bool isText(const Database::ColumnInfo* c)
{
    return c && (c->kind == Database::ColumnKind::Text || c->kind == Database::ColumnKind::Any);
}

bool isNumber(const Database::ColumnInfo* c)
{
    return c && (c->kind == Database::ColumnKind::Integer || c->kind == Database::ColumnKind::Real);
}

// The first row of `table` whose number key holds a text or bytes: the
// field and the value, as the reason for refusing the table. Empty when
// every key is of its kind.
Error wrongKindKey(Database& db, const MergePlan& p, const QList<Database::ColumnInfo>& columns,
                   const QString& table, QString& field, QString& value)
{
    QStringList numeric;
    for (const QString& k : p.keys) {
        if (isNumber(column(columns, k)))
            numeric << k;
    }
    if (numeric.isEmpty())
        return {};
    // A number or Null sorts before every text, and a text or bytes after:
    // `+k >= ''` holds for a text or bytes only. (The + leaves the field's
    // kind out of the comparison and its index unused, so the table is read
    // in the order of a plain scan.)
    QString read, wrong;
    for (const QString& k : std::as_const(numeric)) {
        read += (read.isEmpty() ? QString() : QStringLiteral(", ")) + Database::quoted(k);
        wrong += (wrong.isEmpty() ? QString() : QStringLiteral(" OR ")) + QLatin1Char('+') +
                 Database::quoted(k) + QStringLiteral(" >= ''");
    }
    Snapshot rows(db);
    if (Error e = rows.open(QStringLiteral("SELECT %1 FROM %2 WHERE %3 LIMIT 1").arg(read, table, wrong)))
        return e;
    if (rows.eof())
        return {};
    for (int i = 0; i < numeric.size(); ++i) {
        const QVariant v = rows.value(i);
        if (v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray) {
            field = numeric[i];
            value = v.typeId() == QMetaType::QString ? v.toString() : QStringLiteral("(dati binari)");
            break;
        }
    }
    return dbError(DbErr::KeyTypeMismatch, field);
}

} // namespace

qint16 errorCode(const Error& error)
{
    if (!error)
        return 0;
    return error.number > 0 && error.number <= 32767 ? qint16(error.number) : qint16(32767);
}

std::optional<StepOutcome> takeVisitsPaths(RunState& w)
{
    const bool taken = !w.localVisits.isEmpty();
    const QString local = taken ? w.localVisits : w.request.localClients;
    const QString exchange = taken ? w.exchangeVisits : w.request.exchangeClients;
    if (local.isEmpty() || exchange.isEmpty())
        return StepOutcome::skipped(QStringLiteral("percorso del database non indicato"));
    // A file that is not there skips the step; a folder that cannot be read
    // (already explained, with Retry) fails it: an unreadable disk is never
    // taken for an empty one.
    int unreadable = 0;
    auto missing = [&](const QString& path, const QString& why) -> std::optional<StepOutcome> {
        if (EsisteFile(w.prompt(), path, 0, &unreadable))
            return std::nullopt;
        if (unreadable != 0)
            return StepOutcome::failure(static_cast<qint16>(unreadable),
                                        QStringLiteral("cartella non leggibile: ") + path);
        return StepOutcome::skipped(why, path);
    };
    if (auto out = missing(local, QStringLiteral("database non trovato")))
        return out;
    if (auto out = missing(exchange, QStringLiteral("database non trovato")))
        return out;
    if (!taken) {
        const QString visits = schema::fileName(schema::Kind::Visits);
        w.localVisits = w.request.dataFolder + w.request.operatorCode + platform::sep() + visits;
        w.exchangeVisits = CartellaDi(exchange) + platform::sep() + visits;
    }
    if (auto out = missing(w.localVisits, QStringLiteral("database delle visite non trovato")))
        return out;
    if (auto out = missing(w.exchangeVisits, QStringLiteral("database delle visite non trovato")))
        return out;
    // The exchange copy named as the local file itself: there is nothing to
    // merge, and the file must not be attached to itself.
    if (sameFile(platform::resolve(w.localVisits), platform::resolve(w.exchangeVisits)))
        return StepOutcome::skipped(QStringLiteral("il database di scambio è il database locale"),
                                    w.exchangeVisits);
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// MergeSession

MergeSession::MergeSession(Prompt& prompt, ChangeSink& sink, QString table, QString attached)
    : m_prompt(prompt), m_sink(sink), m_table(std::move(table)),
      m_attached(attached.isEmpty() ? m_table + QStringLiteral("EX") : std::move(attached))
{
}

Error MergeSession::open(const QString& localPath, const QString& exchangePath, const QString& openLocal,
                         const QString& openExchange, const QString& missingTable, bool exchangeChanged)
{
    m_finished = false;
    m_context = openLocal;
    m_openContext = openLocal;
    m_keepRefused = Error();
    m_localPath = platform::resolve(localPath);
    m_sink.prepareDatabase(m_db);
    if (Error e = m_db.open(m_localPath))
        return e;
    // The files changed in place: the sink may keep a version of each
    // before the first row changes (a merge that changes nothing keeps
    // none), and a file it could not keep one of is not written.
    QStringList changed{m_localPath};
    if (exchangeChanged)
        changed << platform::resolve(exchangePath);
    m_db.setBeforeFirstChange([this, changed]() -> Error {
        for (const QString& file : changed) {
            if (const Error kept = m_sink.willChangeDatabase(file)) {
                m_keepRefused = dbError(kept.number == 61 ? DbErr::DiskFull : DbErr::CannotOpenFile, file);
                return m_keepRefused;
            }
        }
        return {};
    });
    m_context = openExchange;
    m_db.detachTable(m_attached);
    Error e = m_db.attachTable(m_attached, platform::resolve(exchangePath), m_table);
    if (e.number == DbErr::TableNotFound)
        m_context = missingTable;
    return e;
}

Error MergeSession::finish(Error error)
{
    if (m_finished)
        return {};
    m_finished = true;
    // Rows stored before a failure stay: the batch is committed, never
    // abandoned, and before any message is shown.
    const Error committed = m_db.commitBatch();
    if (!error)
        error = committed;
    if (m_keepRefused) {
        // Nothing was written: told as a file that could not be opened.
        error = m_keepRefused;
        m_context = m_openContext;
    }
    m_prompt.processEvents();
    close();
    return error;
}

void MergeSession::close()
{
    if (m_db.isOpen()) {
        static_cast<void>(m_db.commitBatch());
        m_db.detachTable(m_attached);
    }
    m_db.close();
}

// ---------------------------------------------------------------------------
// The merge

Error planMerge(Database& db, const MergePolicy& policy, const QString& attached, MergePlan& plan,
                QString& context)
{
    context = policy.passIn;
    plan = MergePlan();
    plan.keys = policy.keys;
    plan.copied = policy.copied;
    plan.mark = policy.mark;
    plan.local = db.qualified(policy.table);
    plan.exchange = db.qualified(attached);
    if (plan.local.isEmpty())
        return dbError(DbErr::TableNotFound, policy.table);
    if (plan.exchange.isEmpty())
        return dbError(DbErr::TableNotFound, attached);
    QList<Database::ColumnInfo> local, exchange;
    if (Error e = db.columns(policy.table, local))
        return e;
    if (Error e = db.columns(attached, exchange))
        return e;

    if (policy.wholeRows) {
        // Rows are copied column by column, by name: both tables must have
        // the same columns, in whatever order they were created.
        QStringList missing;
        for (const auto& c : std::as_const(local)) {
            if (!column(exchange, c.name))
                missing << c.name + QStringLiteral(" (manca nel database REMOTO)");
        }
        for (const auto& c : std::as_const(exchange)) {
            if (!column(local, c.name))
                missing << c.name + QStringLiteral(" (manca nel database LOCALE)");
        }
        if (!missing.isEmpty()) {
            context = policy.passIn +
                      QStringLiteral("\nLe due tabelle %1 non hanno gli stessi campi: ").arg(policy.table) +
                      missing.join(QStringLiteral(", "));
            return dbError(DbErr::ItemNotFound, missing.first());
        }
        plan.copied.clear();
        for (const auto& c : std::as_const(local)) {
            if (!plan.keys.contains(c.name, Qt::CaseInsensitive))
                plan.copied << c.name;
        }
    }
    for (const QString& k : std::as_const(plan.keys))
        plan.foldKey << (isText(column(local, k)) || isText(column(exchange, k)));

    // A number key holding a text ("15/03/2023" for a date) would be
    // copied as a text beside the same row keyed by its number: the table
    // is refused, whole, and the reason named.
    for (const bool remote : {true, false}) {
        QString field, value;
        if (Error e = wrongKindKey(db, plan, remote ? exchange : local, remote ? plan.exchange : plan.local,
                                   field, value)) {
            if (e.number == DbErr::KeyTypeMismatch)
                context = policy.passIn +
                          QStringLiteral("\nNella tabella %1 del database %2 il campo chiave %3 contiene "
                                         "\"%4\", che non è un numero: la tabella va corretta, nessuna "
                                         "riga è stata copiata.")
                              .arg(policy.table, remote ? QStringLiteral("REMOTO") : QStringLiteral("LOCALE"),
                                   field, value);
            return e;
        }
    }
    return {};
}

Error runPass(Database& db, const MergePass& pass, bool& stopped)
{
    stopped = false;
    int sinceCommit = 0;
    auto statement = [&](const MergePass::Write& write, const QString& rows, int& changed) -> Error {
        QString sql = write.sql;
        sql.replace(QStringLiteral("{rows}"), rows);
        if (!write.listed.isEmpty()) {
            changed = 0;
            QString query = write.listed;
            query.replace(QStringLiteral("{rows}"), rows);
            std::vector<qint64> listed;
            if (Error e = db.rowNumbers(query, listed))
                return e;
            if (listed.empty()) {
                // Still compiled and run, so that a statement the tables
                // cannot take fails as it always did; it reads no row.
                sql.replace(QStringLiteral("{listed}"), QStringLiteral("0"));
                return db.execute(sql, &changed);
            }
            if (!std::is_sorted(listed.begin(), listed.end()))
                std::sort(listed.begin(), listed.end());
            sql.replace(QStringLiteral("{listed}"),
                        QStringLiteral("s.rowid BETWEEN %1 AND %2 AND mx_listed(s.rowid)")
                            .arg(listed.front())
                            .arg(listed.back()));
            db.setListedRows(&listed);
            // (Every listed row is written, or the statement fails.)
            const Error e = db.executeProbed(sql, QStringLiteral("SELECT 1"), &changed);
            db.setListedRows(nullptr);
            return e;
        }
        if (write.changesIf.isEmpty())
            return db.execute(sql, &changed);
        QString changesIf = write.changesIf;
        changesIf.replace(QStringLiteral("{rows}"), rows);
        return db.executeProbed(sql, changesIf, &changed);
    };
    auto kept = [&](const MergePass::Write& write, int changed) {
        if (write.count)
            *write.count += changed;
        sinceCommit += changed;
    };
    // One run of rows set-based: its statements, or its walk when one fails.
    auto run = [&](const QString& rows) -> Error {
        for (const MergePass::Write& write : pass.writes) {
            int changed = 0;
            if (Error error = statement(write, rows, changed)) {
                // The statement changed nothing: walk the run row by row,
                // which handles the rows before the one that fails and
                // stops there.
                return pass.walkOnFailure && pass.walk && !db.changesRefused() ? pass.walk(rows, stopped)
                                                                               : error;
            }
            kept(write, changed);
        }
        if (pass.commitEvery > 0 && sinceCommit >= pass.commitEvery) {
            sinceCommit = 0;
            return checkpoint(db);
        }
        return {};
    };
    const QString all = QStringLiteral("1");
    if (!pass.leavesRows)
        return run(all);

    // Every row at once, noting the rows left to the walk.
    std::vector<qint64> walked;
    if (Error e = db.markPoint())
        return e;
    db.setWalkNotes(&walked);
    std::vector<int> changes(pass.writes.size(), 0);
    Error error;
    for (size_t i = 0; !error && i < pass.writes.size(); ++i)
        error = statement(pass.writes[i], all, changes[i]);
    db.setWalkNotes(nullptr);
    if (!error && walked.empty()) {
        if (Error e = db.keepPoint())
            return e;
        for (size_t i = 0; i < pass.writes.size(); ++i)
            kept(pass.writes[i], changes[i]);
        return {};
    }
    // Some row must be walked in its place (or a statement failed): what
    // the statements wrote is taken back.
    if (Error e = db.takeBackToPoint())
        return e;
    if (error)
        return pass.walkOnFailure && pass.walk && !db.changesRefused() ? pass.walk(all, stopped) : error;
    std::sort(walked.begin(), walked.end());
    walked.erase(std::unique(walked.begin(), walked.end()), walked.end());
    // Each run costs its statements: past a few hundred rows to walk, the
    // walk of every row is the cheaper way to the same result.
    if (walked.size() > kMostWalkedRows)
        return pass.walk(all, stopped);
    QString after;
    for (const qint64 row : walked) {
        const QString number = QString::number(row);
        const QString before = QStringLiteral("s.rowid < ") + number;
        if (Error e = run(after.isEmpty() ? before : after + QStringLiteral(" AND ") + before))
            return e;
        if (stopped)
            return {};
        if (Error e = pass.walk(QStringLiteral("s.rowid = ") + number, stopped))
            return e;
        if (stopped)
            return {};
        after = QStringLiteral("s.rowid > ") + number;
    }
    return run(after);
}

Error copyMissingRows(Database& db, const MergePlan& plan, bool toExchange, const QString& target, int& added,
                      bool walkOnFailure, Prompt* progress, const QString& step)
{
    const QString& from = toExchange ? plan.local : plan.exchange;
    const QString& to = toExchange ? plan.exchange : plan.local;
    if (progress)
        progress->progress(step, 0, 0);
    MergePass pass;
    MergePass::Write copy;
    copy.count = &added;
    Snapshot numbered(db);
    if (!numbered.open(QStringLiteral("SELECT rowid FROM ") + from + QStringLiteral(" LIMIT 0"))) {
        // The rows to add are listed first, so that the statement that adds
        // them reads only the source and writes each row as it reads it.
        copy.sql = insertFrom(plan, to) + from + QStringLiteral(" AS s WHERE {listed}");
        copy.listed = QStringLiteral("SELECT s.rowid FROM ") + from + QStringLiteral(" AS s WHERE ") +
                      missingRows(plan, from, to);
    } else {
        copy.sql = setBasedCopy(plan, from, to);
        copy.changesIf = QStringLiteral("SELECT 1 FROM ") + from + QStringLiteral(" AS s WHERE ") +
                         missingRows(plan, from, to) + QStringLiteral(" LIMIT 1");
    }
    numbered.close();
    pass.writes.push_back(copy);
    pass.walkOnFailure = walkOnFailure;
    // The walk goes over the whole table, in key order.
    pass.walk = [&](const QString&, bool&) {
        return walkRows(db, plan, from, target, to, added, progress, step);
    };
    bool stopped = false;
    const Error error = runPass(db, pass, stopped);
    if (progress)
        progress->progressEnd();
    return error;
}

StepOutcome mergeBothWays(RunState& w, const MergePolicy& policy)
{
    Prompt& prompt = w.prompt();
    TableCounters& count = w.tables[policy.counters];
    count = TableCounters();
    int addedLocal = 0;
    int addedExchange = 0;
    // The counts the run reports are the rows stored, however the merge ends.
    struct Keep
    {
        TableCounters& count;
        int& local;
        int& exchange;
        ~Keep()
        {
            count.toLocal = local;
            count.toExchange = exchange;
        }
    } keep{count, addedLocal, addedExchange};
    if (std::optional<StepOutcome> skip = takeVisitsPaths(w))
        return *skip;

    MergeSession session(prompt, w.sink, policy.table);
    Error error =
        session.open(w.localVisits, w.exchangeVisits, policy.openLocal, policy.openExchange, policy.passIn);
    Database& db = session.db();
    if (!error) {
        // The first pass writes the local file only.
        const QString local = db.qualified(policy.table);
        error = session.begin(local.isEmpty() ? QStringList() : QStringList{local});
    }
    prompt.processEvents();
    MergePlan plan;
    if (!error) {
        QString context;
        error = planMerge(db, policy, session.attached(), plan, context);
        session.setContext(context);
    }
    // Row numbers before the passes: the rows they add are copies, not
    // compared with their sources afterwards.
    qint64 localBefore = -1, exchangeBefore = -1;
    if (!error)
        lastRowNumbers(w, db, plan, policy.table, session.attached(), localBefore, exchangeBefore);
    if (!error) {
        session.setContext(policy.passIn);
        noteRowsAdded(w, db, plan, policy.table, false);
        error = copyMissingRows(db, plan, false, policy.table, addedLocal, policy.walkOnFailure, &prompt,
                                policy.table + QStringLiteral(": scambio -> locale"));
        // The first pass's rows are stored for good before the second begins.
        if (!error)
            error = secondPassBatch(db, plan);
    }
    // Batches stored when the second pass begins.
    const bool secondBegun = !error;
    const quint64 keptBeforeSecond = secondBegun ? db.batchesKept() : 0;
    if (!error) {
        session.setContext(policy.passOut);
        noteRowsAdded(w, db, plan, policy.table, true);
        error = copyMissingRows(db, plan, true, session.attached(), addedExchange, policy.walkOnFailure,
                                &prompt, policy.table + QStringLiteral(": locale -> scambio"));
    }
    if (!error && !plan.mark.isEmpty()) {
        const QString where =
            QStringLiteral(" WHERE ") + Database::quoted(plan.mark) + QStringLiteral(" = 'S'");
        int purged = 0;
        noteRowsPurged(w, db, plan, policy.table);
        error = db.execute(QStringLiteral("DELETE FROM ") + plan.local + where, &purged);
        count.purgedLocal = purged;
        if (!error) {
            error = db.execute(QStringLiteral("DELETE FROM ") + plan.exchange + where, &purged);
            count.purgedExchange = purged;
        }
    }
    // The rows both sides still hold differently, once the merge is done:
    // a dry run compares in its session, before the session ends; a run
    // that writes compares what the session committed.
    const bool compared = !error;
    const ComparedFiles files{platform::resolve(w.localVisits), policy.table,
                              platform::resolve(w.exchangeVisits), policy.table, session.attached()};
    if (compared && db.writesWithheld())
        noteDivergences(w, db, plan, files, policy.counters, localBefore, exchangeBefore);
    const qint16 code = errorCode(session.finish(error));
    if (compared && code == 0 && !db.writesWithheld())
        noteDivergences(w, db, plan, files, policy.counters, localBefore, exchangeBefore);
    if (secondBegun && db.batchesKept() == keptBeforeSecond) {
        // The engine gave up the whole batch (a full disk, an I/O error):
        // nothing of the second pass or of the purge was stored.
        addedExchange = 0;
        count.purgedLocal = count.purgedExchange = 0;
    }
    // What each file received and lost, kept whatever ended the merge.
    w.sink.databaseCommitted(platform::resolve(w.localVisits), addedLocal + count.purgedLocal);
    w.sink.databaseCommitted(platform::resolve(w.exchangeVisits), addedExchange + count.purgedExchange);

    if (code != 0) {
        prompt.show(session.context(), MsgStyle::Ok);
        return StepOutcome::failure(code, session.context());
    }
    if (!policy.marker.isEmpty()) {
        // The step is done once its date is recorded.
        if (const Error e = w.sink.writeKey(w.request.configFile, QStringLiteral("EXPORT"),
                                            w.request.sideLetter() + policy.marker + w.request.operatorCode,
                                            DateStamp(QDateTime::currentDateTime()))) {
            const QString text = MessaggioDataNonRegistrata(e);
            prompt.show(text, MsgStyle::ExclamationOk);
            return StepOutcome::failure(qint16(e.number), text);
        }
        w.ticks.visite = 2;
    }
    return StepOutcome::done();
}

} // namespace mirsalex
