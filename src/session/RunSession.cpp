#include "session/RunSession.h"

#include "changes/ApplyChanges.h"
#include "changes/WithheldChanges.h"
#include "run/RecordingPrompt.h"
#include "run/RunDriver.h"
#include "run/Steps.h"
#include "session/OperatorFormLoad.h"
#include "session/ReportText.h"
#include "transfer/RunLockStep.h"

#include <QDateTime>

namespace mirsalex {

namespace {

// Appends `text` to `log`; the error, with the log's path, when it cannot
// be written (the faces tell it or pass over it: it never fails the run).
void appendToLog(const std::optional<RunLog>& log, const QDateTime& when, const QString& text, QString& path,
                 Error& error)
{
    if (!log)
        return;
    if (const Error e = log->append(when, text)) {
        path = log->path();
        error = e;
    }
}

} // namespace

RunSession::RunSession(Context& ctx) : m_ctx(ctx), m_driver(std::make_unique<RunDriver>(StandardSteps())) {}

RunSession::~RunSession() = default;

bool RunSession::running() const
{
    return m_driver->running();
}

bool RunSession::runnableOperator(const QString& code)
{
    return RunDriver::runnableOperator(code);
}

SessionRun RunSession::run(OperatorForm& form, const RunSettings& settings, RunObserver* observer)
{
    SessionRun result;
    const RunRequest request = requestFromForm(m_ctx, form);
    if (settings.boxes)
        settings.boxes->clear();

    switch (settings.mode) {
    case RunMode::DryRun:
        if (settings.answerQuestions) {
            // The questions answered unseen: the dry run asks them of a
            // prompt of its own, which lists them with their answers.
            AnsweringPrompt answers(m_ctx.prompt, true);
            RunRequest dry = request;
            dry.prompt = &answers;
            RunDriver driver(StandardSteps());
            WithheldChanges sink;
            result.report = driver.run(dry, sink, observer);
            result.boxes = answers.boxes();
        } else {
            WithheldChanges sink;
            result.report = m_driver->run(request, sink, observer);
        }
        break;
    case RunMode::Apply: {
        ApplyChanges sink;
        result.report = m_driver->run(request, sink, observer);
        break;
    }
    case RunMode::Versions: {
        // Every change kept first, so that the run can be put back.
        VersioningChanges sink(versionStoreFor(m_ctx, form, settings.versions), m_ctx.prompt);
        result.report = m_driver->run(request, sink, observer);
        sink.finish(&result.report);
        result.report.versions.entry = sink.entryId();
        result.report.versions.folder = sink.entryFolder();
        result.report.versions.pruned = sink.pruned();
        result.report.versions.failure = sink.failure();
        break;
    }
    }
    if (settings.boxes && !settings.answerQuestions)
        result.boxes = settings.boxes->boxes();

    // A real run tells its versions (or that it kept none) and leaves its
    // entry in the run log; a dry run does neither.
    if (settings.mode != RunMode::DryRun) {
        result.report.versions.asked = true;
        result.report.versions.off = settings.mode == RunMode::Apply;
        appendToLog(settings.log, result.report.started, runLogText(result.report, result.boxes),
                    result.logPath, result.logError);
    }
    showResults(form, result.report);
    return result;
}

VersionStore versionStoreFor(const Context& ctx, const OperatorForm& form, const VersionSettings& settings)
{
    return VersionStore(settings, ctx.CodOperatore, form.optPC == 1,
                        VersionInstallation::of(ctx.config.FileIni, ctx.config.PathDati));
}

RestoreResult restoreVersion(Context& ctx, const OperatorForm& form, const VersionStore& store,
                             const VersionEntry& entry, const RestoreQuestion& confirm,
                             const std::optional<RunLog>& log)
{
    RestoreResult result;
    const QDateTime started = QDateTime::currentDateTime();
    RestoreChecks checks;
    checks.owner = store.owner(entry);
    // Another installation's entry would put its files and keys over this
    // one's: never.
    if (checks.owner == VersionStore::Owner::Other) {
        result.status = RestoreResult::Status::OtherInstallation;
        return result;
    }
    // A damaged version is not put back, not even in part.
    result.damaged = damagedItems(entry);
    if (!result.damaged.isEmpty()) {
        result.status = RestoreResult::Status::Damaged;
        return result;
    }
    checks.missing = missingFolders(entry);
    checks.later = laterChanges(entry);
    if (!confirm(entry, checks)) {
        result.status = RestoreResult::Status::NotConfirmed;
        return result;
    }

    // Under the run lock of the operator's folders, like a run, and through
    // a sink that keeps versions: the restore can be put back in turn.
    ApplyChanges leftovers; // a killed run's temporaries, removed under the lock
    ExclusiveRun exclusive(requestFromForm(ctx, form), leftovers);
    if (exclusive.refused()) {
        result.status = RestoreResult::Status::Refused;
        return result;
    }
    VersioningChanges sink(store, ctx.prompt, entry.id);
    result.failures = restoreEntry(entry, sink);
    sink.finish(nullptr);
    result.entryMade = sink.entryId();
    result.status =
        result.failures.isEmpty() ? RestoreResult::Status::Restored : RestoreResult::Status::Failed;

    QStringList lines;
    lines << QStringLiteral("Operatore: ") + ctx.CodOperatore;
    lines << QStringLiteral("Lato: ") +
                 (store.portable() ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"));
    lines << QStringLiteral("Ripristino della versione ") + entry.id;
    int files = 0, keys = 0;
    for (const ChangeSink::Change& c : sink.changes())
        (c.kind == ChangeSink::Change::Kind::Key ? keys : files)++;
    lines << QStringLiteral("  file e database rimessi: %1, chiavi: %2").arg(files).arg(keys);
    for (const QString& f : std::as_const(result.failures))
        lines << QStringLiteral("  NON ripristinato: ") + f;
    if (!sink.entryId().isEmpty())
        lines << QStringLiteral("Versioni: voce %1 in %2").arg(sink.entryId(), sink.entryFolder());
    lines << QStringLiteral("Versioni rimosse: ") + (sink.pruned().isEmpty()
                                                         ? QStringLiteral("nessuna")
                                                         : sink.pruned().join(QStringLiteral(", ")));
    lines << (result.failures.isEmpty() ? QStringLiteral("RIPRISTINO COMPLETATO")
                                        : QStringLiteral("RIPRISTINO NON RIUSCITO"));
    result.text = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    appendToLog(log, started, result.text, result.logPath, result.logError);
    return result;
}

} // namespace mirsalex
