// The program: one executable for both faces. The command line is read
// here; batch mode and the other command-line modes go to src/cli, the
// window to src/gui.

#include "cli/Cli.h"
#include "gui/GuiMain.h"
#include "runtypes/RunReport.h"

#include <cstdio>
#include <memory>
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <utility>

using namespace mirsalex;

namespace {

// Takes out Qt's "-platform NAME" option, which only the window's
// application object reads; NAME goes to `platform`.
QStringList withoutPlatformOption(const QStringList& args, QString& platform)
{
    QStringList kept;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if ((args[i] == QLatin1String("-platform") || args[i] == QLatin1String("--platform")) && i > 0 &&
            i + 1 < args.size()) {
            platform = args[++i];
            continue;
        }
        kept << args[i];
    }
    return kept;
}

const char* kHelpTail = R"(
Without a mode option the window opens.

Modes:
  --show-config      print where the configuration file was found and every
                     loaded value (Name=value), then exit; status 2 when
                     the load reported an error (a missing data folder)
  --batch            one transfer run without a window, as one click on
                     "ESEGUI" after the window has loaded for the operator and
                     side; ticks come from the last run ("PARM" key)
  --import-access    convert the operator's databases that are still in the
                     Access format of the main application (Jet 3, Jet 4;
                     DatiDV.mdb, VisiteDV.mdb, IndiciDV.mdb, local and on the
                     exchange area) into the program's format, once, before
                     its first run (which refuses them, status 1): every
                     table and row, keys and indexes built, each file
                     checked (rows per table, integrity, a checksum of every
                     value) before it replaces its original; under the run
                     lock, with a version of the original kept, so that
                     --batch --restore ID puts the Access files back byte for
                     byte; with --ini, --operator, --side, --all-operators,
                     --dry-run (convert into a scratch folder only and
                     list), --no-versions, --report json; status 0 converted
                     or nothing to convert, 1 a file not converted (damaged,
                     truncated, password-protected, of an unknown version, a
                     row breaking a key), 4 refused by the lock
  --set-password     set the access password (asked twice, without echo);
                     an empty entry clears it

Batch options:
  --dry-run          the run itself with every change withheld: prints the
                     report the run would print (steps, counters: clients
                     added, visits texts, rows each way and rows purged per
                     table, files per group and direction, databases copied)
                     and every change it would make; its questions are
                     listed with the answer an unattended run gives them,
                     never asked; writes no file, no configuration key, no
                     database row, no journal, creates no folder
  --all-operators    run every operator folder of the data folder in turn
                     (a folder holding DatiDV.mdb or VisiteDV.mdb), each with
                     its own settings; an operator whose exchange area is not
                     there is reported and skipped; a summary table ends it

Versions: a run keeps, on this computer, a version of everything it
replaces or changes, on both sides (documents, index file and databases,
local and on the exchange area, and the configuration keys it writes), in
$XDG_STATE_HOME/mirsalex/versions/OPERATOR/SIDE/ID/ (else
~/.local/state/mirsalex/versions/), or the --versions-dir DIR (key VERSIONI
of section [EXPORT]). A replacement whose version cannot be kept is not
made: the step fails and the folder and cause are told. After a run, entries
beyond the last 10 runs (--keep-versions N, key VERSIONINUMERO) or older than
30 days (--keep-days N, key VERSIONIGIORNI) are removed; the report and the
run log name the run's entry and what was removed.
  --versions         list the kept runs (with --ini, --operator, --side;
                     --report json for JSON), newest first: id, date, side,
                     files per group, rows per table, databases, keys
  --batch --restore ID
                     put back everything run ID changed, on both sides, as
                     it was before it (files byte for byte, files it created
                     removed, databases, keys), under the run lock; the
                     restore keeps versions too and can be put back in
                     turn; when a later run changed the same files or keys,
                     or a folder (the exchange area) is missing, they are
                     listed and --yes is needed (else status 3); a damaged
                     version is refused whole (status 1), another
                     installation's version too (status 3); a version that
                     does not say its installation is asked about first
  --no-versions      (batch) this run keeps no versions; the report says so

Batch mode: every message box is printed (title, style, text, answer).
Yes/No questions are asked on the terminal when it is interactive; otherwise
they take the next --answers item, then Yes with --yes, else No. OK/Cancel
boxes take OK, Retry/Cancel boxes take Cancel. When an access password is set,
batch mode asks for it on the terminal, or reads MIRSALEX_PASSWORD when there
is no terminal.

Run log: every run, from the window or in batch mode, appends its report
(time, operator, side, each step with its outcome, the counters, every
message box with its answer, the duration) to
$XDG_STATE_HOME/mirsalex/mirsalex.log (else ~/.local/state/mirsalex/), or to
the --log FILE. A log that cannot be written does not fail the run.

--report json: batch mode prints the run's report as one JSON document on
standard output; the message boxes and the other lines go to standard error,
and the text report is not printed.

Exit statuses (of every mode; the window ends with 0 or 2):
  0  every ticked step completed (or the mode did its work)
  1  a step failed, also one after which the run went on (for one, the copy
     of the clients database: "Errore nell'aggiornamento del DataBase"); a
     database the run would open is still an Access file (convert it with
     --import-access); a restore failed or refused for a damaged version; a
     file --import-access could not convert
  2  bad usage (unknown option, bad value), or the program could not start
     (no configuration file, wrong password, no display for the window, or
     for --show-config an error the load reported)
  3  a ticked step was skipped (a database, file or folder is missing, e.g. an
     exchange disk that is not mounted) or stopped by an answer, and no step
     failed; the report names each such step and the missing path; a
     restore not made (later changes or a missing folder without --yes,
     another installation's version, No to a question)
  4  refused: another run holds the lock on the operator's folders
A failure beats a skip: a run with both exits with 1.
A dry run exits with the status the run itself would have. With
--all-operators the status is the worst of the runs, in the order
0 < 3 < 1 < 4 < 2.
)";

} // namespace

int main(int argc, char** argv)
{
    // The command line is read before any application object exists: a
    // mistake in it is told plainly, whatever the display.
    QCoreApplication::setApplicationName(QStringLiteral("mirsalex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MIRSALEX_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString platform;
    arguments = withoutPlatformOption(arguments, platform);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "MirsalEX - Esportazione Dati per Filiale: moves one operator's data between the branch "
        "desktop and the promoter's portable computer through an exchange area."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption showConfig(QStringLiteral("show-config"),
                                        QStringLiteral("Print the loaded configuration."));
    const QCommandLineOption batch(QStringLiteral("batch"),
                                   QStringLiteral("Run one transfer without a window."));
    const QCommandLineOption setPassword(QStringLiteral("set-password"),
                                         QStringLiteral("Set the access password."));
    const QCommandLineOption ini(QStringLiteral("ini"),
                                 QStringLiteral("Use this configuration file (no search)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption oper(QStringLiteral("operator"), QStringLiteral("Operator code."),
                                  QStringLiteral("CODE"));
    const QCommandLineOption side(QStringLiteral("side"),
                                  QStringLiteral("Side of this computer: desktop or portable."),
                                  QStringLiteral("desktop|portable"));
    const QCommandLineOption debug(QStringLiteral("debug"),
                                   QStringLiteral("Show and confirm every document copy."));
    const QCommandLineOption yes(QStringLiteral("yes"),
                                 QStringLiteral("Answer Yes to unattended questions."));
    const QCommandLineOption answers(
        QStringLiteral("answers"),
        QStringLiteral("Comma list of answers (yes,no,ok,cancel,retry) used in order."),
        QStringLiteral("LIST"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append the run's report to this run log file."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Batch report format: text, or json on standard output."),
                                    QStringLiteral("text|json"));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("With --batch: list what the run would move, write nothing (with --import-access: "
                       "what would be converted)."));
    const QCommandLineOption allOperators(
        QStringLiteral("all-operators"),
        QStringLiteral("With --batch or --import-access: every operator folder in turn."));
    const QCommandLineOption importAccess(
        QStringLiteral("import-access"),
        QStringLiteral("Convert the operator's Access databases (DatiDV.mdb, VisiteDV.mdb, IndiciDV.mdb), "
                       "local and on the exchange area, into the program's format."));
    const QCommandLineOption versions(
        QStringLiteral("versions"),
        QStringLiteral("List the kept runs of the operator and side, newest first."));
    const QCommandLineOption restore(QStringLiteral("restore"),
                                     QStringLiteral("With --batch: put back everything the run ID changed."),
                                     QStringLiteral("ID"));
    const QCommandLineOption noVersions(QStringLiteral("no-versions"),
                                        QStringLiteral("With --batch or --import-access: keep no versions."));
    const QCommandLineOption versionsDir(QStringLiteral("versions-dir"),
                                         QStringLiteral("Keep versions in this folder."),
                                         QStringLiteral("DIR"));
    const QCommandLineOption keepVersions(QStringLiteral("keep-versions"),
                                          QStringLiteral("Runs kept per operator and side (default 10)."),
                                          QStringLiteral("N"));
    const QCommandLineOption keepDays(QStringLiteral("keep-days"),
                                      QStringLiteral("Days a kept run is kept (default 30)."),
                                      QStringLiteral("N"));
    for (const auto& o :
         {showConfig, batch,   setPassword, ini,         oper,         side,         debug,
          yes,        answers, log,         report,      dryRun,       allOperators, importAccess,
          versions,   restore, noVersions,  versionsDir, keepVersions, keepDays})
        parser.addOption(o);

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString& name = unknown.constFirst();
            std::fprintf(stderr, "mirsalex: unknown option '%s%s'\nTry 'mirsalex --help'.\n",
                         name.size() == 1 ? "-" : "--", qPrintable(name));
        } else {
            std::fprintf(stderr, "mirsalex: %s\nTry 'mirsalex --help'.\n", qPrintable(parser.errorText()));
        }
        return exitstatus::kUsage;
    }
    const bool help = parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"));
    const bool window = !parser.isSet(showConfig) && !parser.isSet(batch) && !parser.isSet(setPassword) &&
                        !parser.isSet(versions) && !parser.isSet(importAccess) && !help &&
                        !parser.isSet(versionOption);
    if (!window && !platform.isEmpty()) {
        std::fprintf(stderr, "mirsalex: -platform is an option of the window only\n");
        return exitstatus::kUsage;
    }
    std::unique_ptr<QCoreApplication> app;
    if (!window)
        app = std::make_unique<QCoreApplication>(argc, argv);
    if (help) {
        std::printf("%s%s", qPrintable(parser.helpText()), kHelpTail);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("mirsalex %s\n", MIRSALEX_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "mirsalex: unexpected argument '%s'\nTry 'mirsalex --help'.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return exitstatus::kUsage;
    }
    const int modes = int(parser.isSet(showConfig)) + int(parser.isSet(batch)) +
                      int(parser.isSet(setPassword)) + int(parser.isSet(versions)) +
                      int(parser.isSet(importAccess));
    if (modes > 1) {
        std::fprintf(stderr,
                     "mirsalex: --show-config, --batch, --versions, --import-access and --set-password "
                     "exclude each other\n");
        return exitstatus::kUsage;
    }
    if (parser.isSet(restore) && !parser.isSet(batch)) {
        std::fprintf(stderr, "mirsalex: --restore goes with --batch\n");
        return exitstatus::kUsage;
    }
    if (parser.isSet(noVersions) && !parser.isSet(batch) && !parser.isSet(importAccess)) {
        std::fprintf(stderr, "mirsalex: --no-versions goes with --batch or --import-access\n");
        return exitstatus::kUsage;
    }
    if (parser.isSet(restore) &&
        (parser.isSet(dryRun) || parser.isSet(allOperators) || parser.isSet(noVersions))) {
        std::fprintf(stderr, "mirsalex: --restore excludes --dry-run, --all-operators and --no-versions\n");
        return exitstatus::kUsage;
    }
    if (parser.isSet(restore) && parser.value(restore).trimmed().isEmpty()) {
        std::fprintf(stderr, "mirsalex: --restore needs the id of a version (see mirsalex --versions)\n");
        return exitstatus::kUsage;
    }
    int keptRuns = 0;
    int keptDays = 0;
    for (const auto& [option, value] :
         {std::pair{&keepVersions, &keptRuns}, std::pair{&keepDays, &keptDays}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        *value = parser.value(*option).toInt(&ok);
        if (!ok || *value < 1) {
            std::fprintf(stderr, "mirsalex: --%s takes a whole number from 1\n",
                         qPrintable(option->names().constFirst()));
            return exitstatus::kUsage;
        }
    }

    if ((parser.isSet(dryRun) || parser.isSet(allOperators)) && !parser.isSet(batch) &&
        !parser.isSet(importAccess)) {
        std::fprintf(stderr, "mirsalex: --dry-run and --all-operators go with --batch or --import-access\n");
        return exitstatus::kUsage;
    }

    CliOptions options;
    options.ini = parser.value(ini);
    options.operatorCode = parser.value(oper);
    options.side = parser.value(side).toLower();
    options.debug = parser.isSet(debug);
    options.yes = parser.isSet(yes);
    options.log = parser.value(log);
    options.report = parser.value(report).toLower();
    options.dryRun = parser.isSet(dryRun);
    options.allOperators = parser.isSet(allOperators);
    options.importAccess = parser.isSet(importAccess);
    options.listVersions = parser.isSet(versions);
    options.restore = parser.value(restore).trimmed();
    options.noVersions = parser.isSet(noVersions);
    options.versionsDir = parser.value(versionsDir);
    options.keepVersions = keptRuns;
    options.keepDays = keptDays;
    if (parser.isSet(answers))
        options.answers = parser.value(answers).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!options.side.isEmpty() && options.side != QLatin1String("desktop") &&
        options.side != QLatin1String("portable")) {
        std::fprintf(stderr, "mirsalex: --side takes desktop or portable\n");
        return exitstatus::kUsage;
    }

    if (!options.report.isEmpty() && options.report != QLatin1String("text") &&
        options.report != QLatin1String("json")) {
        std::fprintf(stderr, "mirsalex: --report takes text or json\n");
        return exitstatus::kUsage;
    }
    if (parser.isSet(report) && !parser.isSet(batch) && !parser.isSet(versions) &&
        !parser.isSet(importAccess)) {
        std::fprintf(stderr, "mirsalex: --report is an option of --batch, --versions and --import-access\n");
        return exitstatus::kUsage;
    }
    if (parser.isSet(log) && options.log.isEmpty()) {
        std::fprintf(stderr, "mirsalex: --log needs a file name\n");
        return exitstatus::kUsage;
    }

    if (parser.isSet(showConfig))
        return runShowConfig(options);
    if (parser.isSet(batch) || parser.isSet(importAccess))
        return runBatch(options);
    if (parser.isSet(versions))
        return runVersions(options);
    if (parser.isSet(setPassword))
        return runSetPassword(options);
    // The window: only where there is a display to open it on.
    QString why;
    if (!displayAvailable(platform, why)) {
        std::fprintf(stderr, "mirsalex: %s\n", qPrintable(why));
        return exitstatus::kUsage;
    }
    app = std::make_unique<QApplication>(argc, argv);
    GuiOptions gui;
    gui.ini = options.ini;
    gui.operatorCode = options.operatorCode;
    gui.side = options.side;
    gui.log = options.log;
    return runGui(gui);
}
