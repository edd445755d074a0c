#include "sync/ClientsSync.h"

#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "db/Database.h"
#include "db/Integrity.h"
#include "db/Snapshot.h"
#include "sync/ClientTransfer.h"
#include "sync/Divergence.h"
#include "sync/MergeSql.h"
#include "sync/TwoWayMerge.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <QFileInfo>

namespace mirsalex {

namespace {

// Rows written between two commits of the walk. Every commit waits for the
// disk twice or three times (journal, file): few and large batches. What a
// batch stored is committed anyway before any message and when the walk
// ends, and an interrupted run loses at most one batch, which the next run
// merges again.
constexpr int kBatchRows = 50000;

const QString kAttachment = QStringLiteral("ClientiEX");

// True when a journal of an unfinished write lies beside a database file:
// the file alone is then not a consistent copy of the database.
bool unfinishedWriteBeside(const QString& path)
{
    const QFileInfo journal(path + QStringLiteral("-journal"));
    return (journal.exists() && journal.size() > 0) || QFileInfo::exists(path + QStringLiteral("-wal"));
}

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// The walk over the exchange clients: adds the missing ones, takes over the
// visits text of the known ones after the name check. Returns the error that
// ended it (none when it ran to the end or the user stopped it); `reachedEnd`
// tells whether it went past the last exchange row.
Error walkClients(Prompt& prompt, Database& db, ClientTransfer& transfer, Snapshot& rows, bool& reachedEnd,
                  RunState& w)
{
    reachedEnd = false;
    if (Error e = db.beginBatch())
        return e;
    int written = 0;
    TableRecordset& local = transfer.ClientiLocali();
    const int codeField = rows.fieldIndex(QStringLiteral("CliCodice"));
    const int nameField = rows.fieldIndex(QStringLiteral("CliRagsoc"));
    const int visitsField = rows.fieldIndex(QStringLiteral("CliVisite"));
    if (codeField < 0 || nameField < 0 || visitsField < 0)
        return dbError(DbErr::ItemNotFound);
    const int localVisits = local.fieldIndex(QStringLiteral("CliVisite"));

    while (!rows.eof()) {
        qint32 code = 0;
        if (Error e = clientCode(rows.value(codeField), code))
            return e;
        if (rows.field(nameField).kind == Snapshot::Stored::Null)
            return dbError(DbErr::InvalidUseOfNull);

        const int failedBefore = transfer.failedClients();
        const bool found = transfer.LeggiCliente(code, rows);
        if (Error f = transfer.fatal())
            return f;
        if (found) {
            // Name and visits text are needed only for a client both sides
            // have; the lookup never moves the exchange row. The visits
            // text is settled first, while nothing has been committed.
            const bool sameVisits = transfer.sameVisits(rows.field(visitsField));
            const QString exchangeVisits = sameVisits ? QString() : heldVisits(rows.value(visitsField));
            if (!transfer.sameName(rows.field(nameField))) {
                const QString exchangeName = rows.value(nameField).toString();
                const ClienteCorrente& c = transfer.cliente();
                if (Error e = db.commitBatch())
                    return e;
                const int answer = prompt.show(QStringLiteral("NOMINATIVI DIFFERENTI!") + QLatin1Char('\n') +
                                                   QString::number(code) + QStringLiteral(" : ") + c.ragsoc +
                                                   QLatin1Char('-') + exchangeName + QLatin1Char('\n') +
                                                   QStringLiteral("Continuo comunque?"),
                                               MsgStyle::Question, QStringLiteral("MIRSALEX - NOMINATIVO"));
                if (answer != AnswerYes)
                    return {};
            }
            if (!sameVisits) {
                Error e = local.edit();
                if (!e)
                    e = local.setValue(localVisits, exchangeVisits);
                if (!e)
                    e = local.update();
                if (e)
                    return e;
                ++written;
                ++w.visitsTexts;
            }
        } else {
            if (transfer.stopped())
                return {};
            ++written;
            if (transfer.failedClients() == failedBefore)
                ++w.clientsAdded;
        }
        if (written >= kBatchRows) {
            if (Error e = db.commitBatch())
                return e;
            written = 0;
        }
        if (!db.inBatch()) {
            if (Error e = db.beginBatch())
                return e;
        }
        if (Error e = rows.moveNext())
            return e;
    }
    reachedEnd = true;
    return {};
}

bool g_rowWalkOnly = false;

// A visits text the statements can hold as the walk does: Null, or plain
// ASCII text without the character of code 0 (its characters are its bytes).
QString plainVisits(const QString& field)
{
    return QStringLiteral("(%1 IS NULL OR (typeof(%1) = 'text' AND length(%1) = length(CAST(%1 AS BLOB))))")
        .arg(field);
}

QString withoutZero(const QString& field)
{
    return QStringLiteral("instr(CAST(%1 AS BLOB), x'00') = 0").arg(field);
}

// The merge of the exchange clients as one pass of the skeleton, when both
// tables allow it: every field on both sides, the code the key of both (so
// that a code names one row on each side), rows numbered by the engine.
// Exchange clients are taken in the order the walk reads them; the rows left
// to the walk are those whose code or name would end it, a client both
// sides have under different names (the question), and a visits text that
// is not plain ASCII. A new client with a value only the walk converts (a
// text in a number field) fails the statement: the walk then takes every
// row. Empty when the tables do not allow the statements: the whole table
// is then walked.
std::optional<MergePass> setBasedClients(Database& db, int& added, int& taken)
{
    if (g_rowWalkOnly)
        return std::nullopt;
    const QString local = db.qualified(QStringLiteral("Clienti"));
    const QString exchange = db.qualified(kAttachment);
    if (local.isEmpty() || exchange.isEmpty())
        return std::nullopt;
    for (const QString& table : {QStringLiteral("Clienti"), kAttachment}) {
        QList<Database::ColumnInfo> columns;
        if (db.columns(table, columns))
            return std::nullopt;
        for (const ClientField& f : kClientFields) {
            const auto c = std::find_if(columns.cbegin(), columns.cend(), [&](const Database::ColumnInfo& i) {
                return i.name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0;
            });
            if (c == columns.cend())
                return std::nullopt;
        }
        for (const Database::ColumnInfo& c : std::as_const(columns)) {
            const bool code = c.name.compare(QLatin1String("CliCodice"), Qt::CaseInsensitive) == 0;
            if (code != (c.keyPart == 1) || (c.keyPart > 1) ||
                (code && c.kind != Database::ColumnKind::Integer))
                return std::nullopt;
        }
        Snapshot numbered(db);
        if (numbered.open(QStringLiteral("SELECT rowid FROM ") + db.qualified(table) +
                          QStringLiteral(" LIMIT 0")))
            return std::nullopt;
    }

    QString names, values;
    for (const ClientField& f : kClientFields) {
        const QString field = Database::quoted(QLatin1String(f.name));
        const QString source = QStringLiteral("s.") + field;
        names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + field;
        values += (values.isEmpty() ? QString() : QStringLiteral(", ")) +
                  (f.numeric ? QStringLiteral("mx_number(%1)") : QStringLiteral("mx_text(%1)")).arg(source);
    }
    const QString code = QStringLiteral("s.\"CliCodice\"");
    const QString name = QStringLiteral("s.\"CliRagsoc\""), localName = QStringLiteral("t.\"CliRagsoc\"");
    const QString visits = QStringLiteral("s.\"CliVisite\""), localVisits = QStringLiteral("t.\"CliVisite\"");
    // Every exchange row: a code that fits, a name.
    const QString anyRow =
        QStringLiteral("typeof(%1) = 'integer' AND %1 BETWEEN -2147483648 AND 2147483647 AND "
                       "typeof(%2) <> 'null'")
            .arg(code, name);
    // A client both sides have goes set-based when its names agree (each
    // without the blanks around it, the local one read as TestoODefault
    // reads it). Two texts with the same bytes, beginning with a printable
    // character other than the blank, agree at once.
    const QString sameNames =
        QStringLiteral(
            "((typeof(%2) = 'text' AND %1 >= '!' COLLATE BINARY AND %1 = %2 COLLATE BINARY) OR "
            "(typeof(%2) IN ('text', "
            "'null') AND %3 AND (%2 IS NULL OR %4) AND trim(%1, ' ') = coalesce(trim(%2, ' '), '')))")
            .arg(name, localName, withoutZero(name), withoutZero(localName));
    const QString shared = QStringLiteral("%1 AND typeof(%2) = 'text' AND %3").arg(anyRow, name, sameNames);
    // Its visits text is taken over when the two differ as held: two with
    // the same bytes never do; others are compared here when both are plain.
    const QString visitsDiffer =
        QStringLiteral("CASE WHEN %1 IS NULL AND %2 IS NULL THEN 0 WHEN typeof(%1) = 'text' AND typeof(%2) = "
                       "'text' AND %1 = %2 COLLATE BINARY THEN 0 WHEN %3 AND %4 THEN %5 <> %6 ELSE "
                       "mx_walk(s.rowid) END")
            .arg(visits, localVisits, plainVisits(visits), plainVisits(localVisits), heldVisitsText(visits),
                 heldVisitsText(localVisits));
    MergePass pass;
    pass.leavesRows = true;
    // A new client: its fields normalised as the walk does. A value of a
    // kind the normalisers do not take (a text in a number field) fails the
    // statement, and the walk, which converts it, takes over.
    const QString newClients =
        QStringLiteral("FROM %1 AS s WHERE {rows} AND NOT EXISTS (SELECT 1 FROM %2 AS t "
                       "WHERE t.\"CliCodice\" = %3) AND CASE WHEN %4 THEN 1 ELSE "
                       "mx_walk(s.rowid) END")
            .arg(exchange, local, code, anyRow);
    // The visits text taken over. The exchange rows lead and the local ones
    // are found by their code: a local client that no exchange row names is
    // never read.
    const QString takenOver = QStringLiteral("FROM %1 AS s CROSS JOIN %2 AS t ON t.\"CliCodice\" = %3 WHERE "
                                             "{rows} AND CASE WHEN %4 THEN %5 ELSE mx_walk(s.rowid) END")
                                  .arg(exchange, local, code, shared, visitsDiffer);
    pass.writes.push_back({QStringLiteral("UPDATE %1 SET \"CliVisite\" = (SELECT %2 FROM %3 AS s WHERE %4 = "
                                          "%1.\"CliCodice\") WHERE \"CliCodice\" IN (SELECT %4 %5)")
                               .arg(local, heldVisitsText(visits), exchange, code, takenOver),
                           &taken, QStringLiteral("SELECT 1 ") + takenOver + QStringLiteral(" LIMIT 1"),
                           QString()});
    // Then the new clients. The two statements take different exchange rows
    // (a code the local table has, one it lacks), so their order changes
    // no row; the visits texts go first so that their join meets only the
    // clients the local table had, not the ones just added.
    // They are listed first, so that the statement that adds them reads
    // only the exchange table and writes each row as it reads it.
    MergePass::Write addNew;
    addNew.sql = QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4 AS s WHERE {listed} ORDER BY s.rowid")
                     .arg(local, names, values, exchange);
    addNew.count = &added;
    addNew.listed = QStringLiteral("SELECT s.rowid ") + newClients + QStringLiteral(" ORDER BY s.rowid");
    pass.writes.push_back(addNew);
    pass.commitEvery = kBatchRows;
    return pass;
}

// The merge of the exchange clients into the local table: set-based where
// the tables allow it, else a walk over the whole exchange table. Returns
// the error that ended it; `reachedEnd` tells whether every exchange client
// was merged.
Error mergeClients(Prompt& prompt, Database& db, ClientTransfer& transfer, bool& reachedEnd, RunState& w)
{
    reachedEnd = true;
    int added = 0;
    int taken = 0;
    std::optional<MergePass> pass = setBasedClients(db, added, taken);
    if (!pass) {
        Snapshot rows(db);
        if (Error e = rows.open(QStringLiteral("SELECT * FROM ") + kAttachment))
            return e;
        if (rows.recordCount() <= 0)
            return {};
        return walkClients(prompt, db, transfer, rows, reachedEnd, w);
    }
    const QString exchange = db.qualified(kAttachment);
    pass->walk = [&](const QString& which, bool& stop) -> Error {
        Snapshot rows(db);
        if (Error e = rows.open(QStringLiteral("SELECT * FROM ") + exchange + QStringLiteral(" AS s WHERE ") +
                                which + QStringLiteral(" ORDER BY s.rowid")))
            return e;
        bool ended = true;
        const Error e = rows.eof() ? Error() : walkClients(prompt, db, transfer, rows, ended, w);
        stop = !ended;
        return e;
    };
    bool stopped = false;
    const Error error = runPass(db, *pass, stopped);
    w.clientsAdded += added;
    w.visitsTexts += taken;
    reachedEnd = !stopped && !error;
    return error;
}

QString inUse(const QString& file)
{
    return QStringLiteral("ARCHIVIO CLIENTI IN USO DA UN ALTRO PROGRAMMA") + QLatin1Char('\n') + file +
           QLatin1Char('\n') + QStringLiteral("Chiudere il programma che lo usa e ripetere l'aggiornamento.");
}

// The one message that says why the local file was not copied over the
// exchange copy.
void tellNotCopied(Prompt& prompt, const QString& why)
{
    prompt.show(QStringLiteral("DATABASE NON COPIATO NELL'AREA DI SCAMBIO!") + QLatin1Char('\n') + why +
                    QLatin1Char('\n') + QStringLiteral("La copia di scambio non è stata modificata."),
                MsgStyle::Ok);
}

} // namespace

void detail::setClientsRowWalkOnly(bool only)
{
    g_rowWalkOnly = only;
}

StepOutcome syncClients(RunState& w)
{
    Prompt& prompt = w.prompt();
    const QString local = w.request.localClients;
    const QString exchange = w.request.exchangeClients;
    if (local.isEmpty() || exchange.isEmpty())
        return StepOutcome::skipped(QStringLiteral("percorso del database non indicato"));
    // A file that is not there skips the step; a folder that cannot be read
    // (already explained, with Retry) fails it: an unreadable disk is never
    // taken for a missing file.
    for (const QString& path : {local, exchange}) {
        int unreadable = 0;
        if (EsisteFile(prompt, path, 0, &unreadable))
            continue;
        if (unreadable != 0)
            return StepOutcome::failure(static_cast<qint16>(unreadable),
                                        QStringLiteral("cartella non leggibile: ") + path);
        return StepOutcome::skipped(QStringLiteral("database non trovato"), path);
    }
    const QString localPath = platform::resolve(local);
    const QString exchangePath = platform::resolve(exchange);
    // The exchange copy named as the local file itself: nothing to merge, and
    // copying a file onto itself would destroy it.
    if (sameFile(localPath, exchangePath))
        return StepOutcome::skipped(QStringLiteral("il database di scambio è il database locale"), exchange);

    // Modification times, taken before anything is opened.
    auto timeOf = [&w](const QString& path, const QDateTime& otherwise) {
        const std::optional<qint64> seconds = w.sink.modificationTime(path);
        return seconds ? QDateTime::fromSecsSinceEpoch(*seconds, Qt::LocalTime) : otherwise;
    };
    const QDateTime localTime = timeOf(localPath, QDateTime(QDate::currentDate(), QTime(0, 0)));
    const QDateTime exchangeTime = timeOf(exchangePath, QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    w.clientsAdded = 0;
    w.visitsTexts = 0;

    // Set when the local clients table could not be opened and the user gave
    // up: the local file is then not known to be sound, and copying it over the
    // exchange copy could destroy the other side's clients.
    bool clientsUnreadable = false;
    // Whether the walk went past the last exchange row, and how many clients
    // it failed to look up or add: the local file replaces the exchange copy
    // only when it holds every client of that copy, each merged.
    bool walkEnded = true;
    int failedClients = 0;
    // The error that ended the merge, and the text a failure shows: the
    // context of the step being attempted.
    qint16 code = 0;
    QString context;
    {
        const QString connect = QStringLiteral("ERRORE IN CONNESSIONE TABELLA CLIENTI");
        // Only the local file is changed in place; the exchange copy is
        // replaced whole, later.
        MergeSession session(prompt, w.sink, QStringLiteral("Clienti"), kAttachment);
        Error error =
            session.open(localPath, exchangePath, QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE DATI"),
                         connect, connect, false);
        context = session.context();
        Database& db = session.db();
        ClientTransfer transfer(prompt, db);
        prompt.processEvents();
        bool walk = !error;
        if (walk && !transfer.ApriClienti(context)) {
            walk = false;
            clientsUnreadable = true;
        } else if (walk) {
            // The local file is taken for writing before any client is read,
            // so that a file another program is writing is waited for (a few
            // seconds) and then reported once, before any client is merged,
            // instead of failing client by client.
            error = session.begin();
            if (!error) {
                noteClientRows(w, db, db.qualified(QStringLiteral("Clienti")), db.qualified(kAttachment));
                error = mergeClients(prompt, db, transfer, walkEnded, w);
            }
            // What the merge stored stays, whatever ended it.
            const Error committed = db.commitBatch();
            if (!error)
                error = committed;
            w.sink.databaseCommitted(localPath, db.totalChanges());
            if (session.keepRefused()) {
                // No version of the file could be kept: nothing was written,
                // told as a file that could not be opened.
                error = session.keepRefused();
                context = session.openContext();
            }
            // (An exchange copy another program has begun writing is not
            // read again.)
            if (!error && !unfinishedWriteBeside(exchangePath))
                noteClientDivergences(w, db,
                                      {localPath, QStringLiteral("Clienti"), exchangePath,
                                       QStringLiteral("Clienti"), kAttachment});
            failedClients = transfer.failedClients();
            if (error.number == DbErr::RecordLocked)
                context = inUse(local);
        }
        code = qint16(error.number);

        // Closing, whatever happened.
        transfer.close();
        session.close();
        prompt.processEvents();
    }

    if (code != 0) {
        prompt.show(context, MsgStyle::Ok);
        return StepOutcome::failure(code, context);
    }

    if (clientsUnreadable) {
        tellNotCopied(prompt, QStringLiteral("L'archivio CLIENTI locale non è stato aperto."));
        return StepOutcome::failureGoingOn(
            0, QStringLiteral("archivio CLIENTI locale non aperto: database non copiato"));
    }
    if (failedClients > 0) {
        const QString why = failedClients == 1
                                ? QStringLiteral("1 cliente non è stato aggiornato.")
                                : QStringLiteral("%1 clienti non sono stati aggiornati.").arg(failedClients);
        tellNotCopied(prompt, why);
        return StepOutcome::failureGoingOn(0, why + QStringLiteral(" Database non copiato."));
    }
    if (!walkEnded) {
        const QString why =
            QStringLiteral("L'aggiornamento dei clienti è stato interrotto prima dell'ultimo cliente.");
        tellNotCopied(prompt, why);
        return StepOutcome::stopped(why + QStringLiteral(" Database non copiato."));
    }
    // A damaged local file never replaces the exchange copy, however newer.
    if (const Error damaged = checkDatabaseIntegrity(localPath)) {
        const QString why =
            damaged.number == DbErr::RecordLocked
                ? QStringLiteral("Il database locale è in uso da un altro programma:") + QLatin1Char('\n') +
                      local
                : QStringLiteral("Il database locale è danneggiato:") + QLatin1Char('\n') + local;
        tellNotCopied(prompt, why);
        return StepOutcome::failureGoingOn(qint16(damaged.number), why);
    }

    // The file is copied only as a consistent whole: never while a journal
    // of an unfinished write lies beside either copy.
    if (unfinishedWriteBeside(localPath) || unfinishedWriteBeside(exchangePath)) {
        prompt.show(QStringLiteral("Errore nell'aggiornamento del DataBase"), MsgStyle::Ok);
        return StepOutcome::failureGoingOn(code,
                                           QStringLiteral("scrittura non terminata accanto al database"));
    }

    // The copy is counted with the files sent of the first document group,
    // as the run's counters have always shown it.
    qint16& counter = w.filesOffered[0][0];
    CopyResult copy;
    if (localTime > exchangeTime) {
        copy = copyIfNewer(w, local, exchange, counter, 1, 0);
    } else {
        const QString text = QStringLiteral("DATABASE ORIGINARIO MENO RECENTE! ") + QLatin1Char('\n') +
                             QStringLiteral("Passo comunque ") + QLatin1Char('\n') + local +
                             QLatin1Char('\n') + QStringLiteral("del  ") + MessageDate(localTime) +
                             QLatin1Char('\n') + QStringLiteral("su") + QLatin1Char('\n') + exchange +
                             QLatin1Char('\n') + QStringLiteral("del  ") + MessageDate(exchangeTime);
        if (prompt.show(text, MsgStyle::Question, QStringLiteral("AGGIORNAMENTO DATABASE")) != AnswerYes)
            return StepOutcome::stopped(QStringLiteral("copia del database non confermata"));
        copy = copyIfNewer(w, local, exchange, counter, 1, 1);
    }
    if (!copy.failed) {
        // The step is done once its date is recorded.
        if (const Error e =
                w.sink.writeKey(w.request.configFile, QStringLiteral("EXPORT"),
                                w.request.sideLetter() + QStringLiteral("DATA") + w.request.operatorCode,
                                DateStamp(QDateTime::currentDateTime()))) {
            const QString text = MessaggioDataNonRegistrata(e);
            prompt.show(text, MsgStyle::ExclamationOk);
            return StepOutcome::failure(qint16(e.number), text);
        }
        w.ticks.dati = 2;
        return StepOutcome::done();
    }
    // The cause is named on a second line (a full disk, a refused rename).
    QString text = QStringLiteral("Errore nell'aggiornamento del DataBase");
    if (const Error& e = copy.error)
        text += QLatin1Char('\n') + QString::number(e.number) + QLatin1Char('-') + e.text;
    prompt.show(text, MsgStyle::Ok);
    return StepOutcome::failureGoingOn(copy.number, text);
}

} // namespace mirsalex
