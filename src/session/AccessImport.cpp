#include "session/AccessImport.h"

#include "changes/ApplyChanges.h"
#include "changes/VersioningChanges.h"
#include "changes/WithheldChanges.h"
#include "run/AccessCheck.h"
#include "runtypes/RunReport.h"
#include "session/OperatorFormLoad.h"
#include "transfer/RunLockStep.h"

#include <memory>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTemporaryDir>

namespace mirsalex {

namespace {

QString seconds(qint64 ms)
{
    return QLocale(QLocale::Italian).toString(double(ms) / 1000.0, 'f', 2) + QStringLiteral(" s");
}

QString errorLine(const Error& e)
{
    QString line = e.number != 0 ? QStringLiteral("errore %1: ").arg(e.number) : QString();
    line += e.text;
    if (!e.path.isEmpty() && !e.text.contains(e.path))
        line += QStringLiteral(" (") + e.path + QLatin1Char(')');
    return line;
}

QString reportText(const ImportResult& r)
{
    QStringList lines;
    lines << (r.dryRun
                  ? QStringLiteral("Conversione dei database di Access (anteprima: nulla è stato scritto)")
                  : QStringLiteral("Conversione dei database di Access"));
    lines << QStringLiteral("Operatore: ") + r.operatorCode;
    lines << QStringLiteral("Lato: ") +
                 (r.portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"));
    for (const access::Conversion& c : r.files) {
        const auto unplaced = std::find_if(r.notReplaced.begin(), r.notReplaced.end(),
                                           [&](const auto& p) { return p.first == c.source; });
        QString head = c.source + QStringLiteral(" (") + c.signature.versionName() + QStringLiteral("): ");
        if (c.error)
            head += QStringLiteral("NON convertito: ") + errorLine(c.error);
        else if (unplaced != r.notReplaced.end())
            head += QStringLiteral("convertito ma NON sostituito: ") + errorLine(unplaced->second);
        else
            head +=
                (r.dryRun ? QStringLiteral("da convertire, provato in ") : QStringLiteral("convertito in ")) +
                seconds(c.ms);
        lines << head;
        for (const access::TableResult& t : c.tables)
            lines << QStringLiteral("  %1: righe %2 (%3)%4")
                         .arg(t.name)
                         .arg(t.rows)
                         .arg(seconds(t.ms),
                              t.known ? QString() : QStringLiteral(", tabella non del programma"));
        for (const QString& v : c.violations)
            lines << QStringLiteral("  ") + v;
    }
    if (!r.entry.isEmpty())
        lines << QStringLiteral("Versioni: voce %1 in %2").arg(r.entry, r.entryFolder);
    if (!r.versionsFailure.isEmpty())
        lines << QStringLiteral("Versioni: ") + r.versionsFailure;
    if (!r.pruned.isEmpty())
        lines << QStringLiteral("Versioni rimosse: ") + r.pruned.join(QStringLiteral(", "));
    switch (r.status) {
    case ImportResult::Status::Converted:
        lines << (r.dryRun ? QStringLiteral("Esito: da convertire (%1 file)").arg(r.files.size())
                           : QStringLiteral("Esito: CONVERSIONE COMPLETATA (%1 file)").arg(r.files.size()));
        break;
    case ImportResult::Status::NothingToConvert:
        lines << QStringLiteral("Esito: nessun database di Access da convertire");
        break;
    case ImportResult::Status::Failed:
        lines << QStringLiteral("Esito: CONVERSIONE NON RIUSCITA");
        break;
    case ImportResult::Status::Refused:
        lines << QStringLiteral(
            "Esito: RIFIUTATA, un aggiornamento è in corso sulle cartelle dell'operatore");
        break;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

int ImportResult::exitStatus() const
{
    switch (status) {
    case Status::Converted:
    case Status::NothingToConvert:
        return exitstatus::kCompleted;
    case Status::Failed:
        return exitstatus::kFailed;
    case Status::Refused:
        return exitstatus::kLocked;
    }
    return exitstatus::kFailed;
}

ImportResult importAccessDatabases(Context& ctx, const OperatorForm& form, RunMode mode,
                                   const VersionSettings& versions, const std::optional<RunLog>& log)
{
    ImportResult result;
    QElapsedTimer clock;
    clock.start();
    const QDateTime started = QDateTime::currentDateTime();
    RunRequest request = requestFromForm(ctx, form);
    result.operatorCode = request.operatorCode;
    result.portable = request.portable;
    result.dryRun = mode == RunMode::DryRun;
    auto finish = [&] {
        result.durationMs = clock.elapsed();
        result.text = reportText(result);
        if (log && !result.dryRun) {
            if (const Error e = log->append(started, result.text)) {
                result.logPath = log->path();
                result.logError = e;
            }
        }
        return result;
    };

    // Every database of the operator, whatever the run's ticks.
    RunRequest everything = request;
    everything.ticks.dati = everything.ticks.visite = 1;
    everything.ticks.gruppi = {1, 1, 1};

    // One run at a time on the operator's folders, a conversion included.
    std::optional<ExclusiveRun> exclusive;
    ApplyChanges leftovers; // a killed run's temporaries, removed under the lock
    if (result.dryRun) {
        if (ExclusiveRun::wouldBeRefused(request)) {
            result.status = ImportResult::Status::Refused;
            return finish();
        }
    } else {
        exclusive.emplace(request, leftovers);
        if (exclusive->refused()) {
            result.status = ImportResult::Status::Refused;
            return finish();
        }
    }
    const std::vector<AccessDatabase> found = accessDatabasesOf(everything);
    if (found.empty())
        return finish();

    std::unique_ptr<ChangeSink> sink;
    VersioningChanges* versioning = nullptr;
    switch (mode) {
    case RunMode::DryRun:
        sink = std::make_unique<WithheldChanges>();
        break;
    case RunMode::Apply:
        sink = std::make_unique<ApplyChanges>();
        break;
    case RunMode::Versions: {
        auto v = std::make_unique<VersioningChanges>(versionStoreFor(ctx, form, versions), ctx.prompt,
                                                     QString(), QStringLiteral("conversione"));
        versioning = v.get();
        sink = std::move(v);
        break;
    }
    }

    // Each file converted into a scratch folder and checked there; only a
    // complete, checked conversion replaces its original.
    QTemporaryDir scratch;
    bool allDone = scratch.isValid();
    for (size_t i = 0; i < found.size(); ++i) {
        const AccessDatabase& db = found[i];
        const QString target =
            scratch.filePath(QStringLiteral("%1-%2").arg(i).arg(QFileInfo(db.path).fileName()));
        access::Conversion c =
            scratch.isValid() ? access::convertJetFile(db.path, target) : access::Conversion{};
        if (!scratch.isValid()) {
            c.source = db.path;
            c.signature = db.signature;
            c.error = Error::system(ENOSPC, scratch.path());
            c.error.text = QStringLiteral("cartella temporanea non disponibile: ") + scratch.errorString();
        }
        if (c.error) {
            allDone = false;
        } else if (const Error e = sink->copyFile(c.target, db.path)) {
            allDone = false;
            result.notReplaced.emplace_back(db.path, e);
        }
        result.files.push_back(std::move(c));
    }
    if (versioning) {
        versioning->finish(nullptr);
        result.entry = versioning->entryId();
        result.entryFolder = versioning->entryFolder();
        result.pruned = versioning->pruned();
        result.versionsFailure = versioning->failure();
    }
    result.status = allDone ? ImportResult::Status::Converted : ImportResult::Status::Failed;
    return finish();
}

std::optional<ImportResult> offerAccessImport(Context& ctx, OperatorForm& form, const RunReport& report,
                                              const VersionSettings& versions,
                                              const std::optional<RunLog>& log)
{
    if (report.accessDatabases.empty() || report.dryRun)
        return std::nullopt;
    const int answer = ctx.prompt.show(
        QStringLiteral("CONVERSIONE DEI DATABASE DI ACCESS\n"
                       "Convertire ora i database di Access dell'operatore nel formato di questo programma?\n"
                       "Ogni file è controllato prima di sostituire l'originale, e gli originali sono "
                       "conservati fra le versioni: si possono rimettere con VERSIONI."),
        MsgStyle::Question | MsgStyle::DefaultButton2);
    if (answer != AnswerYes)
        return std::nullopt;
    ImportResult result = importAccessDatabases(ctx, form, RunMode::Versions, versions, log);
    const bool done = result.status == ImportResult::Status::Converted;
    QString text =
        done ? QStringLiteral("CONVERSIONE COMPLETATA\n") : QStringLiteral("CONVERSIONE NON RIUSCITA\n");
    text += result.text;
    if (done)
        text += QStringLiteral("Ora si può eseguire l'aggiornamento.");
    form.lbEsito = done
                       ? QStringLiteral("DATABASE DI ACCESS CONVERTITI. Ora si può eseguire l'aggiornamento.")
                       : QStringLiteral("CONVERSIONE DEI DATABASE DI ACCESS NON RIUSCITA.");
    ctx.prompt.show(text.trimmed(),
                    done ? MsgStyle::IconInformation | MsgStyle::Ok : MsgStyle::ExclamationOk);
    return result;
}

QByteArray importResultJson(const ImportResult& r)
{
    QJsonObject root;
    root[QStringLiteral("operator")] = r.operatorCode;
    root[QStringLiteral("side")] = r.portable ? QStringLiteral("portable") : QStringLiteral("desktop");
    root[QStringLiteral("dry_run")] = r.dryRun;
    root[QStringLiteral("duration_ms")] = r.durationMs;
    root[QStringLiteral("exit_status")] = r.exitStatus();
    static const char* const statusNames[] = {"converted", "nothing_to_convert", "failed", "refused"};
    root[QStringLiteral("status")] = QLatin1String(statusNames[int(r.status)]);
    QJsonArray files;
    for (const access::Conversion& c : r.files) {
        QJsonObject f;
        f[QStringLiteral("path")] = c.source;
        f[QStringLiteral("version")] = c.signature.versionName();
        f[QStringLiteral("duration_ms")] = c.ms;
        f[QStringLiteral("converted")] = !c.error;
        if (c.error)
            f[QStringLiteral("error")] = errorLine(c.error);
        for (const auto& [path, e] : r.notReplaced) {
            if (path == c.source)
                f[QStringLiteral("not_replaced")] = errorLine(e);
        }
        QJsonArray tables;
        for (const access::TableResult& t : c.tables)
            tables.append(QJsonObject{{QStringLiteral("name"), t.name},
                                      {QStringLiteral("rows"), t.rows},
                                      {QStringLiteral("duration_ms"), t.ms},
                                      {QStringLiteral("known"), t.known}});
        f[QStringLiteral("tables")] = tables;
        f[QStringLiteral("violations")] = QJsonArray::fromStringList(c.violations);
        files.append(f);
    }
    root[QStringLiteral("files")] = files;
    if (!r.dryRun)
        root[QStringLiteral("versions")] =
            r.entry.isEmpty() ? QJsonValue()
                              : QJsonValue(QJsonObject{{QStringLiteral("entry"), r.entry},
                                                       {QStringLiteral("folder"), r.entryFolder}});
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace mirsalex
