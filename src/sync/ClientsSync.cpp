#include "sync/ClientsSync.h"

#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "db/Database.h"
#include "db/Integrity.h"
#include "db/Snapshot.h"
#include "sync/ClientTransfer.h"
#include "transfer/FileCopyDetail.h"
#include "transfer/Transfer.h"

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
Error walkClients(Context& ctx, Database& db, ClientTransfer& transfer, Snapshot& rows, bool& reachedEnd,
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
                ctx.ask(QStringLiteral("NOMINATIVI DIFFERENTI!") + QLatin1Char('\n') + QString::number(code) +
                            QStringLiteral(" : ") + c.ragsoc + QLatin1Char('-') + exchangeName +
                            QLatin1Char('\n') + QStringLiteral("Continuo comunque?"),
                        MsgStyle::Question, QStringLiteral("MIRSALEX - NOMINATIVO"));
                if (ctx.RispostaMsg != AnswerYes)
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
                ++w.testiVisite;
            }
        } else {
            if (ctx.CodErrore > 0)
                return {};
            ++written;
            if (transfer.failedClients() == failedBefore)
                ++w.clientiAggiunti;
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

QString inUse(const QString& file)
{
    return QStringLiteral("ARCHIVIO CLIENTI IN USO DA UN ALTRO PROGRAMMA") + QLatin1Char('\n') + file +
           QLatin1Char('\n') + QStringLiteral("Chiudere il programma che lo usa e ripetere l'aggiornamento.");
}

// The one message that says why the local file was not copied over the
// exchange copy.
void tellNotCopied(Context& ctx, const QString& why)
{
    ctx.prompt.show(QStringLiteral("DATABASE NON COPIATO NELL'AREA DI SCAMBIO!") + QLatin1Char('\n') + why +
                        QLatin1Char('\n') + QStringLiteral("La copia di scambio non è stata modificata."),
                    MsgStyle::Ok);
}

} // namespace

StepOutcome SincronizzaClienti(Context& ctx, RunState& w)
{
    const QString local = w.DbLocale;
    const QString exchange = w.DbScambio;
    if (local.isEmpty() || exchange.isEmpty())
        return StepOutcome::skipped(QStringLiteral("percorso del database non indicato"));
    // A file that is not there skips the step; a folder that cannot be read
    // (already explained, with Retry) fails it: an unreadable disk is never
    // taken for a missing file.
    for (const QString& path : {local, exchange}) {
        int unreadable = 0;
        if (EsisteFile(ctx.prompt, path, 0, &unreadable))
            continue;
        if (unreadable != 0) {
            ctx.CodErrore = static_cast<qint16>(unreadable);
            return StepOutcome::failure(ctx.CodErrore, QStringLiteral("cartella non leggibile: ") + path);
        }
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
    w.clientiAggiunti = 0;
    w.testiVisite = 0;

    // Set when the local clients table could not be opened and the user gave
    // up: the local file is then not known to be sound, and copying it over the
    // exchange copy could destroy the other side's clients.
    bool clientsUnreadable = false;
    // Whether the walk went past the last exchange row, and how many clients
    // it failed to look up or add: the local file replaces the exchange copy
    // only when it holds every client of that copy, each merged.
    bool walkEnded = true;
    int failedClients = 0;
    {
        Database db;
        ClientTransfer transfer(ctx, db);
        Snapshot rows(db);

        ctx.MsgErrore = QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE DATI");
        w.sink.prepareDatabase(db);
        // The local file is changed in place: the sink may keep a version of
        // it first, and a file it could not keep one of is not written.
        Error error;
        if (const Error kept = w.sink.willChangeDatabase(localPath))
            error = dbError(kept.number == 61 ? DbErr::DiskFull : DbErr::CannotOpenFile, localPath);
        else
            error = db.open(localPath);
        bool walk = !error;
        if (!error) {
            ctx.MsgErrore = QStringLiteral("ERRORE IN CONNESSIONE TABELLA CLIENTI");
            db.detachTable(kAttachment);
            ctx.prompt.processEvents();
            error = db.attachTable(kAttachment, exchangePath, QStringLiteral("Clienti"));
            ctx.prompt.processEvents();
            ctx.prompt.processEvents();
            walk = !error;
        }
        if (walk && !transfer.ApriClienti()) {
            walk = false;
            clientsUnreadable = true;
            ctx.CodErrore = 0;
        } else if (walk) {
            // The local file is taken for writing before any client is read,
            // so that a file another program is writing is waited for (a few
            // seconds) and then reported once, before any client is merged,
            // instead of failing client by client.
            error = db.beginBatch();
            if (!error)
                error = rows.open(QStringLiteral("SELECT * FROM ClientiEX"));
            if (!error && rows.recordCount() > 0)
                error = walkClients(ctx, db, transfer, rows, walkEnded, w);
            // What the walk stored stays, whatever ended it.
            const Error committed = db.commitBatch();
            if (!error)
                error = committed;
            w.sink.databaseCommitted(localPath, db.totalChanges());
            failedClients = transfer.failedClients();
            if (error.number == DbErr::RecordLocked)
                ctx.MsgErrore = inUse(local);
        }
        if (error || walk)
            ctx.CodErrore = qint16(error.number);

        // Closing, whatever happened.
        rows.close();
        transfer.close();
        db.detachTable(kAttachment);
        ctx.prompt.processEvents();
        db.close();
    }

    if (ctx.CodErrore != 0) {
        ctx.prompt.show(ctx.MsgErrore, MsgStyle::Ok);
        return StepOutcome::failure(ctx.CodErrore, ctx.MsgErrore);
    }

    if (clientsUnreadable) {
        tellNotCopied(ctx, QStringLiteral("L'archivio CLIENTI locale non è stato aperto."));
        return StepOutcome::failureGoingOn(
            0, QStringLiteral("archivio CLIENTI locale non aperto: database non copiato"));
    }
    if (failedClients > 0) {
        const QString why = failedClients == 1
                                ? QStringLiteral("1 cliente non è stato aggiornato.")
                                : QStringLiteral("%1 clienti non sono stati aggiornati.").arg(failedClients);
        tellNotCopied(ctx, why);
        return StepOutcome::failureGoingOn(0, why + QStringLiteral(" Database non copiato."));
    }
    if (!walkEnded) {
        const QString why =
            QStringLiteral("L'aggiornamento dei clienti è stato interrotto prima dell'ultimo cliente.");
        tellNotCopied(ctx, why);
        return StepOutcome::stopped(why + QStringLiteral(" Database non copiato."));
    }
    // A damaged local file never replaces the exchange copy, however newer.
    if (const Error damaged = checkDatabaseIntegrity(localPath)) {
        const QString why =
            damaged.number == DbErr::RecordLocked
                ? QStringLiteral("Il database locale è in uso da un altro programma:") + QLatin1Char('\n') +
                      local
                : QStringLiteral("Il database locale è danneggiato:") + QLatin1Char('\n') + local;
        tellNotCopied(ctx, why);
        return StepOutcome::failureGoingOn(qint16(damaged.number), why);
    }

    // The file is copied only as a consistent whole: never while a journal
    // of an unfinished write lies beside either copy.
    if (unfinishedWriteBeside(localPath) || unfinishedWriteBeside(exchangePath)) {
        ctx.prompt.show(QStringLiteral("Errore nell'aggiornamento del DataBase"), MsgStyle::Ok);
        return StepOutcome::failureGoingOn(ctx.CodErrore,
                                           QStringLiteral("scrittura non terminata accanto al database"));
    }

    bool failed = false;
    if (localTime > exchangeTime) {
        failed = CopiaFile(ctx, w, local, exchange, 1, 0);
    } else {
        const QString text = QStringLiteral("DATABASE ORIGINARIO MENO RECENTE! ") + QLatin1Char('\n') +
                             QStringLiteral("Passo comunque ") + QLatin1Char('\n') + local +
                             QLatin1Char('\n') + QStringLiteral("del  ") + MessageDate(localTime) +
                             QLatin1Char('\n') + QStringLiteral("su") + QLatin1Char('\n') + exchange +
                             QLatin1Char('\n') + QStringLiteral("del  ") + MessageDate(exchangeTime);
        ctx.ask(text, MsgStyle::Question, QStringLiteral("AGGIORNAMENTO DATABASE"));
        if (ctx.RispostaMsg != AnswerYes)
            return StepOutcome::stopped(QStringLiteral("copia del database non confermata"));
        failed = CopiaFile(ctx, w, local, exchange, 1, 1);
    }
    if (!failed) {
        w.ticks.dati = 2;
        w.sink.writeKey(ctx.config.FileIni, QStringLiteral("EXPORT"),
                        w.PrefissoLato + QStringLiteral("DATA") + ctx.CodOperatore,
                        DateStamp(QDateTime::currentDateTime()));
        return StepOutcome::done();
    }
    // The cause is named on a second line (a full disk, a refused rename).
    QString text = QStringLiteral("Errore nell'aggiornamento del DataBase");
    if (const Error& e = detail::lastCopyError())
        text += QLatin1Char('\n') + QString::number(e.number) + QLatin1Char('-') + e.text;
    ctx.prompt.show(text, MsgStyle::Ok);
    return StepOutcome::failureGoingOn(ctx.CodErrore, text);
}

} // namespace mirsalex
