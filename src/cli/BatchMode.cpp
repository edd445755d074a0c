#include "cli/Cli.h"
#include "cli/ConsolePrompt.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "common/RunLog.h"
#include "config/ConfigLoader.h"
#include "config/Context.h"
#include "config/PasswordStore.h"
#include "run/RecordingPrompt.h"
#include "session/AccessImport.h"
#include "session/OperatorFolders.h"
#include "session/OperatorForm.h"
#include "session/OperatorFormLoad.h"
#include "session/ProgressText.h"
#include "session/ReportText.h"
#include "session/RunSession.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace mirsalex {

namespace {

// The password gate of the window, on the terminal: three attempts, each
// refused one shown as "PASSWORD ERRATA". Without a terminal the password
// comes from MIRSALEX_PASSWORD (one attempt).
bool passwordAccepted(Prompt& prompt, const QString& iniPath)
{
    const PasswordStore store(iniPath);
    switch (store.state()) {
    case PasswordStore::State::None:
        return true;
    case PasswordStore::State::Damaged:
        prompt.show(damagedPasswordText(store.path()), MsgStyle::Critical);
        return false;
    case PasswordStore::State::Set:
        break;
    }
    const bool tty = ::isatty(STDIN_FILENO);
    if (!tty) {
        if (!qEnvironmentVariableIsSet("MIRSALEX_PASSWORD")) {
            std::fprintf(stderr,
                         "mirsalex: a password is set: give it in MIRSALEX_PASSWORD or run on a terminal\n");
            return false;
        }
        if (store.verify(qEnvironmentVariable("MIRSALEX_PASSWORD").toUpper()))
            return true;
        prompt.show(QStringLiteral("PASSWORD ERRATA"), MsgStyle::Ok);
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        QString typed;
        if (!readSecretLine("PassWord: ", typed))
            return false;
        if (store.verify(typed.toUpper()))
            return true;
        prompt.show(QStringLiteral("PASSWORD ERRATA"), MsgStyle::Ok);
    }
    return false;
}

// The report of a run: the boxes as the run left them with their result
// labels, then every step of the run with how it fared, then the outcome.
void printReport(const OperatorForm& w, const RunReport& report)
{
    std::printf("=== Risultato per l'operatore %s (%s)\n", qPrintable(report.operatore),
                report.portable ? "Portatile" : "DeskTop");
    auto tick = [](int v) { return v == 2 ? "fatto" : v == 1 ? "da fare" : "no"; };
    std::printf("  %-28s [%s]\n", qPrintable(w.chkDati.caption), tick(w.chkDati.value));
    std::printf("  %-28s [%s]\n", qPrintable(w.chkVisite.caption), tick(w.chkVisite.value));
    for (size_t i = 0; i < 3; ++i) {
        std::printf("  %-28s [%s] %s\n", qPrintable(w.Check1[i].caption), tick(w.Check1[i].value),
                    qPrintable(w.lbCount[i].caption));
    }
    if (w.lbAppuVisible) {
        std::printf("  VISITE       %s\n", qPrintable(w.lbCount[3].caption));
        std::printf("  APPUNTAMENTI %s\n", qPrintable(w.lbCount[4].caption));
    }
    if (report.refused) {
        std::printf("Esito: RIFIUTATO, un altro aggiornamento tiene le cartelle dell'operatore\n");
        return;
    }
    std::printf("Passi:\n");
    for (const StepReport& s : report.steps) {
        QString line = describeStep(s);
        if (s.step->sync == &SyncSteps::clients && s.state == StepReport::State::Ran &&
            report.clientiAggiunti >= 0)
            line += QStringLiteral(" (clienti aggiunti: %1)").arg(report.clientiAggiunti);
        std::printf("  %-24s %s\n", s.step->name, qPrintable(line));
    }

    for (const QString& line : divergenceLines(report))
        std::printf("%s\n", qPrintable(line));

    if (report.versions.asked) {
        if (report.versions.off)
            std::printf("Versioni: DISATTIVATE per questo aggiornamento (--no-versions)\n");
        else if (!report.versions.entry.isEmpty())
            std::printf("Versioni: voce %s (ripristino: mirsalex --batch --restore %s)\n",
                        qPrintable(report.versions.entry), qPrintable(report.versions.entry));
        if (!report.versions.pruned.isEmpty())
            std::printf("Versioni rimosse: %s\n",
                        qPrintable(report.versions.pruned.join(QStringLiteral(", "))));
    }
    std::printf("%s\n", qPrintable(reportOutcomeLine(report)));
    std::fflush(stdout);
}

// How one operator's run ended, for the summary of --all-operators.
struct OperatorRun
{
    QString code;
    QString outcome;
    int status = exitstatus::kCompleted;
};

// How bad an exit status is, for the worst of several runs: completed, a
// step skipped, a step failed, refused by the lock, bad usage or start-up.
int severity(int status)
{
    switch (status) {
    case exitstatus::kCompleted:
        return 0;
    case exitstatus::kIncomplete:
        return 1;
    case exitstatus::kFailed:
        return 2;
    case exitstatus::kLocked:
        return 3;
    default:
        return 4;
    }
}

// Whether any part of the operator's exchange area is there: the folder of
// the exchange database, or the exchange folder of a ticked document group.
bool exchangeAreaPresent(const OperatorForm& w, QString& where)
{
    QStringList paths;
    const QString db = w.lbFile[1].caption.trimmed();
    if (!db.isEmpty())
        paths << CartellaDi(db);
    for (size_t i = 0; i < 3; ++i) {
        if (w.Check1[i].value == 1 && !w.lbFileX[i].caption.trimmed().isEmpty())
            paths << w.lbFileX[i].caption;
    }
    for (const QString& p : std::as_const(paths)) {
        if (platform::isDirectory(p))
            return true;
    }
    where = paths.isEmpty() ? QStringLiteral("non indicata") : paths.constFirst();
    return false;
}

// The conversion of the operator's Access databases, reported like a run.
OperatorRun importOperator(const CliOptions& options, Context& ctx, const OperatorForm& w, OperatorRun run)
{
    const RunMode mode = options.dryRun       ? RunMode::DryRun
                         : options.noVersions ? RunMode::Apply
                                              : RunMode::Versions;
    const VersionSettings versions =
        mode == RunMode::Versions ? versionSettings(options, ctx.config.FileIni) : VersionSettings{};
    const ImportResult result =
        importAccessDatabases(ctx, w, mode, versions,
                              options.dryRun ? std::nullopt : std::optional(RunLog::forOption(options.log)));
    if (result.logError)
        std::fprintf(
            stderr, "mirsalex: the run log %s could not be written (%d %s); the conversion is not affected\n",
            qPrintable(result.logPath), result.logError.number, qPrintable(result.logError.text));
    if (options.report == QLatin1String("json")) {
        QByteArray document = importResultJson(result);
        if (!document.endsWith('\n'))
            document += '\n';
        std::fwrite(document.constData(), 1, size_t(document.size()), stdout);
    } else {
        std::fputs(qPrintable(result.text), stdout);
        if (!result.entry.isEmpty())
            std::printf("Per rimettere i file di Access: mirsalex --batch --restore %s\n",
                        qPrintable(result.entry));
    }
    std::fflush(stdout);
    run.status = result.exitStatus();
    run.outcome = result.status == ImportResult::Status::Converted ? QStringLiteral("convertito")
                  : result.status == ImportResult::Status::NothingToConvert
                      ? QStringLiteral("nulla da convertire")
                  : result.status == ImportResult::Status::Refused ? QStringLiteral("RIFIUTATO")
                                                                   : QStringLiteral("ERRORE");
    if (options.dryRun)
        run.outcome = QStringLiteral("anteprima: ") + (result.status == ImportResult::Status::Converted
                                                           ? QStringLiteral("da convertire")
                                                           : run.outcome);
    return run;
}

// The window's load, then the choices of the command line as the user would
// make them in the window, then one click on "ESEGUI" (or its preview).
OperatorRun runOperator(RecordingPrompt& prompt, ConsolePrompt& console, std::FILE* out,
                        const CliOptions& options, const QString& fileIni, const QString& code,
                        bool needsExchangeArea)
{
    OperatorRun run;
    Context ctx(prompt);
    ctx.config.FileIni = fileIni;
    OperatorForm w;
    // The progress line tells the files copied from this run's counters.
    LiveRun live;
    console.setCopiedCounter([&live](const QString& step) {
        return live.state() ? copyProgress(*live.state(), step) : CopyProgress{};
    });
    struct Forget
    {
        ConsolePrompt& console;
        ~Forget() { console.setCopiedCounter(nullptr); }
    } forget{console};
    // A dry run makes no folder either: the load lists those it would make.
    QStringList wouldCreate;
    loadFormAsBatch(ctx, w, code, options.side == QLatin1String("portable"),
                    options.dryRun ? &wouldCreate : nullptr);
    if (options.debug)
        w.chkDebug.value = 1;
    run.code = ctx.CodOperatore;

    if (CompareBinary(ctx.CodOperatore, QStringLiteral("000")) <= 0 && !ctx.ProblemaIni.isEmpty()) {
        // The configuration file itself is at fault: say what is wrong with it.
        std::fprintf(stderr, "mirsalex: %s: %s\n", qPrintable(ctx.config.FileIni),
                     qPrintable(ctx.ProblemaIni));
        run.outcome = QStringLiteral("file di configurazione non valido");
        run.status = exitstatus::kUsage;
        return run;
    }
    if (CompareBinary(ctx.CodOperatore, QStringLiteral("000")) <= 0) {
        std::fprintf(stderr,
                     "mirsalex: no valid operator (code '%s'): give one with --operator, or set OPERATORE in "
                     "section [BASE] or [EXPORT]\n",
                     qPrintable(ctx.CodOperatore));
        run.outcome = QStringLiteral("operatore non valido");
        run.status = exitstatus::kUsage;
        return run;
    }
    QString where;
    if (needsExchangeArea && !exchangeAreaPresent(w, where)) {
        std::fprintf(out, "=== Operatore %s: area di scambio assente (%s), saltato\n", qPrintable(run.code),
                     qPrintable(where));
        std::fflush(out);
        run.outcome = QStringLiteral("area di scambio assente: ") + where;
        run.status = exitstatus::kIncomplete;
        return run;
    }

    if (options.importAccess)
        return importOperator(options, ctx, w, run);

    // The run, or its dry run: the same code, with every change withheld.
    RunSettings settings;
    settings.mode = options.dryRun       ? RunMode::DryRun
                    : options.noVersions ? RunMode::Apply
                                         : RunMode::Versions;
    if (settings.mode == RunMode::Versions)
        settings.versions = versionSettings(options, fileIni);
    if (!options.dryRun)
        settings.log = RunLog::forOption(options.log);
    settings.boxes = &prompt;
    RunSession session(ctx);
    const SessionRun result = session.run(w, settings, &live);
    const RunReport& report = result.report;
    // A log that cannot be written never fails the run: it is said once, on
    // standard error.
    if (result.logError)
        std::fprintf(stderr,
                     "mirsalex: the run log %s could not be written (%d %s); the run is not affected\n",
                     qPrintable(result.logPath), result.logError.number, qPrintable(result.logError.text));
    if (options.report == QLatin1String("json")) {
        // One JSON document a line: one operator, or one line for each.
        QByteArray document = runReportJson(report, result.boxes);
        if (!document.endsWith('\n'))
            document += '\n';
        std::fwrite(document.constData(), 1, size_t(document.size()), stdout);
        std::fflush(stdout);
    } else if (options.dryRun) {
        std::fputs(qPrintable(previewText(report, result.boxes)), out);
        std::fflush(out);
    } else {
        printReport(w, report);
    }
    run.status = report.exitStatus();
    run.outcome = run.status == exitstatus::kCompleted    ? QStringLiteral("completato")
                  : run.status == exitstatus::kIncomplete ? QStringLiteral("INCOMPLETO")
                                                          : QStringLiteral("ERRORE");
    if (options.dryRun)
        run.outcome = QStringLiteral("anteprima: ") + run.outcome;
    return run;
}

} // namespace

int runBatch(const CliOptions& options)
{
    const bool interactive = ::isatty(STDIN_FILENO);
    // With --report json standard output carries the JSON document alone:
    // the boxes and the other lines go to standard error.
    const bool json = options.report == QLatin1String("json");
    std::FILE* const out = json ? stderr : stdout;
    // A dry run asks nothing: its questions are listed, each answered as an
    // unattended run would answer it (--answers, --yes).
    ConsolePrompt console(out, stdin, interactive && !options.dryRun, options.answers, options.yes);
    // Every box passes through the recorder, so the run log holds them all.
    RecordingPrompt prompt(console);
    for (const QString& a : options.answers) {
        if (ConsolePrompt::parseAnswer(a) == AnswerNone) {
            std::fprintf(stderr, "mirsalex: --answers takes yes, no, ok, cancel, retry (not '%s')\n",
                         qPrintable(a));
            return exitstatus::kUsage;
        }
    }
    QString code;
    if (!operatorOption(options, code))
        return exitstatus::kUsage;
    if (options.allOperators && !code.isEmpty()) {
        std::fprintf(stderr, "mirsalex: --all-operators and --operator exclude each other\n");
        return exitstatus::kUsage;
    }

    // The configuration file: as given, or searched like the window does.
    QString fileIni;
    QString fullPath;
    if (!findConfiguration(options, fileIni, fullPath)) {
        logMissingConfiguration(RunLog::forOption(options.log), configurationCandidates(options));
        return exitstatus::kUsage;
    }
    std::fprintf(out, "Configurazione: %s\n", qPrintable(fullPath));
    std::fflush(out);

    if (!passwordAccepted(prompt, fullPath))
        return exitstatus::kUsage;

    if (!options.restore.isEmpty())
        return runRestore(prompt, out, options, fileIni, code);

    int status = exitstatus::kCompleted;
    if (!options.allOperators) {
        status = runOperator(prompt, console, out, options, fileIni, code, false).status;
    } else {
        // Every operator folder in turn, each with its own settings.
        Context ctx(prompt);
        ctx.config.FileIni = fileIni;
        CaricaPercorsi(ctx);
        const QStringList codes = operatorFolders(platform::resolve(ctx.config.PathDati));
        QList<OperatorRun> runs;
        for (const QString& c : codes)
            runs << runOperator(prompt, console, out, options, fileIni, c, !options.importAccess);
        std::fprintf(out, "=== Riepilogo (%lld operatori%s)\n", qlonglong(runs.size()),
                     options.dryRun ? ", anteprima" : "");
        std::fprintf(out, "  %-14s %-56s %s\n", "OPERATORE", "ESITO", "STATO");
        for (const OperatorRun& r : std::as_const(runs)) {
            std::fprintf(out, "  %-14s %-56s %d\n", qPrintable(r.code), qPrintable(r.outcome), r.status);
            if (severity(r.status) > severity(status))
                status = r.status;
        }
        if (runs.isEmpty())
            std::fprintf(out, "  nessuna cartella operatore in %s\n", qPrintable(ctx.config.PathDati));
        std::fflush(out);
    }
    if (console.misfit())
        std::fprintf(stderr, "mirsalex: some --answers items did not fit their boxes\n");
    if (!console.unusedAnswers().isEmpty())
        std::fprintf(stderr, "mirsalex: unused --answers items: %s\n",
                     qPrintable(console.unusedAnswers().join(QLatin1Char(','))));
    return status;
}

} // namespace mirsalex
