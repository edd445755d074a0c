#include "app/Cli.h"
#include "app/ConsolePrompt.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "config/Context.h"
#include "config/PasswordStore.h"
#include "run/Steps.h"
#include "run/RunDriver.h"
#include "transfer/Transfer.h"
#include "transfer/WindowState.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <QFileInfo>
#include <unistd.h>
#include <utility>

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

// The groups of synchronisation steps that this version provides: a group
// whose steps are all missing is not carried out at all.
struct Provided
{
    bool clients = true;
    bool visits = true;
    QStringList visitsMissing; // names of the visits steps not provided
};

Provided providedSteps(const SyncSteps& steps)
{
    Provided p;
    p.clients = bool(steps.SincronizzaClienti);
    const std::pair<const SyncStep*, const char*> visits[] = {
        {&steps.UnisciTabAzioni, "UnisciTabAzioni"},
        {&steps.SincronizzaAzioni, "SincronizzaAzioni"},
        {&steps.SincronizzaVisite, "SincronizzaVisite"},
        {&steps.SincronizzaAppuntamenti, "SincronizzaAppuntamenti"}};
    for (const auto& [step, name] : visits) {
        if (!*step)
            p.visitsMissing << QLatin1String(name);
    }
    p.visits = p.visitsMissing.size() < int(std::size(visits));
    return p;
}

void printState(const Context& ctx, const WindowState& w, const Provided& provided)
{
    std::printf("=== Risultato per l'operatore %s (%s)\n", qPrintable(ctx.CodOperatore),
                w.optPC == 0 ? "DeskTop" : "Portatile");
    auto tick = [](int v) { return v == 2 ? "fatto" : v == 1 ? "da fare" : "no"; };
    // A group that this version does not provide is never shown as done or
    // "to be done", and its counters are not printed as if it had run.
    const char* const notInThisVersion = "NON eseguito: non disponibile in questa versione";
    std::printf("  %-28s [%s]\n", qPrintable(w.chkDati.caption),
                w.chkDati.value > 0 && !provided.clients ? notInThisVersion : tick(w.chkDati.value));
    std::printf("  %-28s [%s]\n", qPrintable(w.chkVisite.caption),
                w.chkVisite.value > 0 && !provided.visits ? notInThisVersion : tick(w.chkVisite.value));
    for (size_t i = 0; i < 3; ++i) {
        std::printf("  %-28s [%s] %s\n", qPrintable(w.Check1[i].caption), tick(w.Check1[i].value),
                    qPrintable(w.lbCount[i].caption));
    }
    if (w.lbAppuVisible && provided.visits) {
        std::printf("  VISITE       %s\n", qPrintable(w.lbCount[3].caption));
        std::printf("  APPUNTAMENTI %s\n", qPrintable(w.lbCount[4].caption));
    }
    std::fflush(stdout);
}

} // namespace

int runBatch(const CliOptions& options)
{
    const bool interactive = ::isatty(STDIN_FILENO);
    ConsolePrompt prompt(stdout, stdin, interactive, options.answers, options.yes);
    for (const QString& a : options.answers) {
        if (ConsolePrompt::parseAnswer(a) == AnswerNone) {
            std::fprintf(stderr, "mirsalex: --answers takes yes, no, ok, cancel, retry (not '%s')\n",
                         qPrintable(a));
            return 2;
        }
    }
    QString code;
    if (!operatorOption(options, code))
        return 2;

    // The configuration file: as given, or searched like the window does.
    QString fileIni;
    QString fullPath;
    if (!findConfiguration(options, fileIni, fullPath))
        return 2;
    std::printf("Configurazione: %s\n", qPrintable(fullPath));
    std::fflush(stdout);

    Context ctx(prompt);
    ctx.config.FileIni = fileIni;
    if (!passwordAccepted(prompt, fullPath))
        return 2;

    // The window's load, then the choices of the command line as the user
    // would make them in the window.
    WindowState w;
    CaricaFinestra(ctx, w);
    if (!code.isEmpty()) {
        w.CodOper = code;
        ctx.CodOperatore = code;
        CaricaParametri(ctx);
        AggiornaFinestra(ctx, w);
    }
    if (options.side == QLatin1String("portable")) {
        w.optPC = 1;
        AggiornaFinestra(ctx, w);
    }
    if (options.debug)
        w.chkDebug.value = 1;

    const SyncSteps steps = StandardSteps(ctx, w);
    const Provided provided = providedSteps(steps);
    const bool clientsAsked = w.chkDati.value == 1;
    const bool visitsAsked = w.chkVisite.value == 1;
    RunDriver driver(ctx, w, steps);
    const RunDriver::Outcome outcome = driver.click(0);
    if (outcome == RunDriver::Outcome::Exit) {
        std::fprintf(stderr,
                     "mirsalex: no valid operator (code '%s'): give one with --operator, or set OPERATORE in "
                     "section [BASE] or [EXPORT]\n",
                     qPrintable(ctx.CodOperatore));
        return 2;
    }
    printState(ctx, w, provided);
    if (prompt.misfit())
        std::fprintf(stderr, "mirsalex: some --answers items did not fit their boxes\n");
    if (!prompt.unusedAnswers().isEmpty())
        std::fprintf(stderr, "mirsalex: unused --answers items: %s\n",
                     qPrintable(prompt.unusedAnswers().join(QLatin1Char(','))));
    // Groups asked for that this version cannot carry out: said plainly, and
    // never counted among the groups done or skipped.
    QStringList notProvided;
    if (clientsAsked && !provided.clients)
        notProvided << QStringLiteral("DATI");
    if (visitsAsked && !provided.visits)
        notProvided << QStringLiteral("VISITE (visite, appuntamenti e azioni)");
    else if (visitsAsked && !provided.visitsMissing.isEmpty())
        notProvided << QStringLiteral("VISITE, in parte: ") +
                           provided.visitsMissing.join(QStringLiteral(", "));
    if (!notProvided.isEmpty())
        std::printf("Non eseguiti, non disponibili in questa versione: %s\n",
                    qPrintable(notProvided.join(QStringLiteral("; "))));
    if (outcome == RunDriver::Outcome::Failed) {
        std::printf("Esito: un passo NON e' stato completato (errore %d)\n", ctx.CodErrore);
        return 1;
    }
    // A ticked group whose exchange folder held nothing (or a step that found
    // no file to work on) was skipped, not failed: say so.
    QStringList skipped;
    for (size_t i = 0; i < 3; ++i) {
        if (w.Check1[i].value == 1)
            skipped << w.NomiGruppi.value(int(i));
    }
    if (w.chkDati.value == 1 && provided.clients)
        skipped << QStringLiteral("DATI");
    if (!skipped.isEmpty())
        std::printf("Non eseguiti (cartella di scambio vuota o archivio assente): %s\n",
                    qPrintable(skipped.join(QStringLiteral(", "))));
    if (!notProvided.isEmpty()) {
        std::printf("Esito: completato, esclusi i gruppi non disponibili in questa versione\n");
        return 0;
    }
    std::printf("Esito: completato\n");
    return 0;
}

} // namespace mirsalex
