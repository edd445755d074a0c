#include "sync/TwoWayMerge.h"

#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "db/Snapshot.h"
#include "db/TableRecordset.h"
#include "sync/Schema.h"

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

// Commits what is stored so far and opens the next batch, so that a failure
// after this point (even one after which the engine abandons its whole
// transaction, as on a full disk) cannot take these rows with it.
DbError checkpoint(Database& db)
{
    if (DbError e = db.commitBatch())
        return e;
    return db.beginBatch();
}

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// The start of the statement that adds source rows (aliased s) to the
// target: the fields written, in order (key, copied fields, mark), and what
// each takes (the source's value, the mark " ").
QString insertFrom(const MergePolicy& p, const QString& target)
{
    QStringList fields = p.keys + p.copied;
    if (!p.mark.isEmpty())
        fields << p.mark;
    QString names, values;
    for (const QString& f : fields) {
        if (!names.isEmpty()) {
            names += QStringLiteral(", ");
            values += QStringLiteral(", ");
        }
        names += Database::quoted(f);
        values += f == p.mark ? QStringLiteral("' '") : QStringLiteral("s.") + Database::quoted(f);
    }
    return QStringLiteral("INSERT INTO ") + Database::quoted(target) + QStringLiteral(" (") + names +
           QStringLiteral(") SELECT ") + values + QStringLiteral(" FROM ");
}

QString keyOrder(const MergePolicy& p, const QString& alias)
{
    QString order;
    for (const QString& k : p.keys) {
        if (!order.isEmpty())
            order += QStringLiteral(", ");
        order += alias + Database::quoted(k);
    }
    return order;
}

// One statement adding the missing rows. It adds all of them or none, so the
// order in which it reads the source shows nowhere; reading the table as it
// lies is the cheapest. (The walk that takes over after a failure goes in
// key order, which decides the rows added before the failing one.)
QString setBasedCopy(const MergePolicy& p, const QString& source, const QString& target)
{
    QString match;
    for (const QString& k : p.keys) {
        if (!match.isEmpty())
            match += QStringLiteral(" AND ");
        match += QStringLiteral("t.") + Database::quoted(k) + QStringLiteral(" = s.") + Database::quoted(k);
    }
    // A mark reads as marked only when its text is exactly "S" (Null, blank
    // and any other value are unmarked).
    const QString unmarked = p.mark.isEmpty() ? QString()
                                              : QStringLiteral("CAST(s.") + Database::quoted(p.mark) +
                                                    QStringLiteral(" AS TEXT) IS NOT 'S' AND ");
    return insertFrom(p, target) + Database::quoted(source) + QStringLiteral(" AS s WHERE ") + unmarked +
           QStringLiteral("NOT EXISTS (SELECT 1 FROM ") + Database::quoted(target) +
           QStringLiteral(" AS t WHERE ") + match + QLatin1Char(')');
}

// The row-by-row walk: one indexed seek per unmarked source row, a missing
// row added on its own. Stops at the first failure; the rows added before
// it stay in the batch. A row is added straight from its source row (named
// by the number the engine gave it), so every value arrives as it is
// stored, whatever its kind. Each source row is reported to `progress`.
DbError walkRows(Database& db, const MergePolicy& p, const QString& source, const QString& target, int& added,
                 Prompt* progress, const QString& step)
{
    const Database::TableLocation from = db.locate(source);
    if (from.schema.isEmpty())
        return DbError::make(DbErr::TableNotFound, source);
    const QString table = Database::quoted(from.schema) + QLatin1Char('.') + Database::quoted(from.table);
    TableRecordset to(db);
    Snapshot rows(db);
    if (DbError e = to.open(target))
        return e;
    if (DbError e = to.setIndex(QStringLiteral("primaria")))
        return e;
    if (DbError e = to.setFetchFields(p.keys))
        return e;
    QString read = QStringLiteral("rowid");
    for (const QString& k : p.keys)
        read += QStringLiteral(", ") + Database::quoted(k);
    if (!p.mark.isEmpty())
        read += QStringLiteral(", ") + Database::quoted(p.mark);
    if (DbError e = rows.open(QStringLiteral("SELECT ") + read + QStringLiteral(" FROM ") + table +
                              QStringLiteral(" ORDER BY ") + keyOrder(p, QString())))
        return e;
    const int keyCount = int(p.keys.size());
    const int markColumn = p.mark.isEmpty() ? -1 : 1 + keyCount;

    const QString insert = insertFrom(p, target) + table + QStringLiteral(" AS s WHERE s.rowid = ");

    QVariantList key;
    int sinceCommit = 0;
    if (rows.recordCount() <= 0)
        return {};
    // The total for the progress display; unknown (0) when it cannot be counted.
    qint64 total = 0;
    if (progress) {
        Snapshot count(db);
        if (!count.open(QStringLiteral("SELECT COUNT(*) FROM ") + table) && !count.eof())
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
            if (DbError e = to.seek(key))
                return e;
            if (to.noMatch()) {
                int stored = 0;
                if (DbError e = db.execute(insert + QString::number(rows.value(0).toLongLong()), &stored))
                    return e;
                added += stored;
                if (stored > 0 && ++sinceCommit >= kBatchRows) {
                    if (DbError e = checkpoint(db))
                        return e;
                    sinceCommit = 0;
                }
            }
        }
        if (DbError e = rows.moveNext())
            return e;
    }
    return {};
}

} // namespace

qint16 errorCode(const DbError& error)
{
    if (!error)
        return 0;
    return error.number > 0 && error.number <= 32767 ? qint16(error.number) : qint16(32767);
}

std::optional<StepOutcome> takeVisitsPaths(Context& ctx, WindowState& w)
{
    if (w.DbLocale.isEmpty() || w.DbScambio.isEmpty())
        return StepOutcome::skipped(QStringLiteral("percorso del database non indicato"));
    // A file that is not there skips the step; a folder that cannot be read
    // (already explained, with Retry) fails it: an unreadable disk is never
    // taken for an empty one.
    int unreadable = 0;
    auto missing = [&](const QString& path, const QString& why) -> std::optional<StepOutcome> {
        if (EsisteFile(ctx.prompt, path, 0, &unreadable))
            return std::nullopt;
        if (unreadable != 0) {
            ctx.CodErrore = static_cast<qint16>(unreadable);
            return StepOutcome::failure(ctx.CodErrore, QStringLiteral("cartella non leggibile: ") + path);
        }
        return StepOutcome::skipped(why, path);
    };
    if (auto out = missing(w.DbLocale, QStringLiteral("database non trovato")))
        return out;
    if (auto out = missing(w.DbScambio, QStringLiteral("database non trovato")))
        return out;
    const QString visits = schema::fileName(schema::Kind::Visits);
    w.DbLocale = ctx.config.PathDati + ctx.CodOperatore + platform::sep() + visits;
    w.DbScambio = CartellaDi(w.DbScambio) + platform::sep() + visits;
    if (auto out = missing(w.DbLocale, QStringLiteral("database delle visite non trovato")))
        return out;
    if (auto out = missing(w.DbScambio, QStringLiteral("database delle visite non trovato")))
        return out;
    // The exchange copy named as the local file itself: there is nothing to
    // merge, and the file must not be attached to itself.
    if (sameFile(platform::resolve(w.DbLocale), platform::resolve(w.DbScambio)))
        return StepOutcome::skipped(QStringLiteral("il database di scambio è il database locale"),
                                    w.DbScambio);
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// VisitsSession

VisitsSession::VisitsSession(Context& ctx, QString table)
    : m_ctx(ctx), m_table(std::move(table)), m_attached(m_table + QStringLiteral("EX"))
{
}

DbError VisitsSession::open(const QString& localPath, const QString& exchangePath, const QString& openLocal,
                            const QString& openExchange, const QString& missingTable)
{
    m_finished = false;
    m_ctx.MsgErrore = openLocal;
    if (DbError e = m_db.open(platform::resolve(localPath)))
        return e;
    m_ctx.MsgErrore = openExchange;
    m_db.detachTable(m_attached);
    DbError e = m_db.attachTable(m_attached, platform::resolve(exchangePath), m_table);
    if (e.number == DbErr::TableNotFound)
        m_ctx.MsgErrore = missingTable;
    if (!e)
        e = m_db.beginBatch();
    return e;
}

void VisitsSession::finish(DbError error)
{
    if (m_finished)
        return;
    m_finished = true;
    // Rows stored before a failure stay: the batch is committed, never
    // abandoned, and before any message is shown.
    const DbError committed = m_db.commitBatch();
    if (!error)
        error = committed;
    m_ctx.CodErrore = errorCode(error);
    m_ctx.prompt.processEvents();
    close();
}

void VisitsSession::close()
{
    if (m_db.isOpen()) {
        m_db.commitBatch();
        m_db.detachTable(m_attached);
    }
    m_db.close();
}

// ---------------------------------------------------------------------------
// The merge

DbError copyMissingRows(Database& db, const MergePolicy& policy, const QString& source, const QString& target,
                        int& added, Prompt* progress, const QString& step)
{
    if (progress)
        progress->progress(step, 0, 0);
    int rows = 0;
    DbError error;
    if (!db.execute(setBasedCopy(policy, source, target), &rows)) {
        added += rows;
    } else {
        // The statement changed nothing: walk row by row, which adds the rows
        // before the one that fails and stops there.
        error = walkRows(db, policy, source, target, added, progress, step);
    }
    if (progress)
        progress->progressEnd();
    return error;
}

StepOutcome mergeBothWays(Context& ctx, WindowState& w, const MergePolicy& policy)
{
    int unused = 0;
    int& addedLocal = policy.addedLocal ? w.*policy.addedLocal : unused;
    int& addedExchange = policy.addedExchange ? w.*policy.addedExchange : unused;
    addedLocal = 0;
    addedExchange = 0;
    if (std::optional<StepOutcome> skip = takeVisitsPaths(ctx, w))
        return *skip;

    VisitsSession session(ctx, policy.table);
    DbError error =
        session.open(w.DbLocale, w.DbScambio, kVisitsOpenLocal, kVisitsOpenExchange, policy.passIn);
    Database& db = session.db();
    if (!error) {
        ctx.MsgErrore = policy.passIn;
        error = copyMissingRows(db, policy, session.attached(), policy.table, addedLocal, &ctx.prompt,
                                policy.table + QStringLiteral(": scambio -> locale"));
        // The first pass's rows are stored for good before the second begins.
        if (!error)
            error = checkpoint(db);
    }
    if (!error) {
        ctx.MsgErrore = policy.passOut;
        error = copyMissingRows(db, policy, policy.table, session.attached(), addedExchange, &ctx.prompt,
                                policy.table + QStringLiteral(": locale -> scambio"));
    }
    if (!error && !policy.mark.isEmpty()) {
        const QString where = QStringLiteral(" WHERE ") + policy.mark + QStringLiteral(" = 'S'");
        error = db.execute(QStringLiteral("DELETE * FROM ") + policy.table + where);
        if (!error)
            error = db.execute(QStringLiteral("DELETE * FROM ") + session.attached() + where);
    }
    session.finish(error);

    if (ctx.CodErrore != 0) {
        ctx.prompt.show(ctx.MsgErrore, MsgStyle::Ok);
        return StepOutcome::failure(ctx.CodErrore, ctx.MsgErrore);
    }
    w.chkVisite.value = 2;
    ScriviIni(ctx.config.FileIni, QStringLiteral("EXPORT"), w.PrefissoLato + policy.marker + ctx.CodOperatore,
              DateStamp(QDateTime::currentDateTime()));
    return StepOutcome::done();
}

} // namespace mirsalex
