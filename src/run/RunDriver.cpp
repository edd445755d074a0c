#include "run/RunDriver.h"

#include "changes/ApplyChanges.h"
#include "changes/WithheldChanges.h"
#include "common/Helpers.h"
#include "config/ConfigLoader.h"
#include "run/AccessCheck.h"
#include "run/Steps.h"
#include "runtypes/RunState.h"
#include "transfer/RunLockStep.h"

#include <optional>
#include <QElapsedTimer>
#include <QFileInfo>
#include <utility>

namespace mirsalex {

namespace {

// Marks a run in progress for as long as it lasts, whatever path ends it.
class RunGuard
{
public:
    explicit RunGuard(bool& flag) : m_flag(flag) { m_flag = true; }
    ~RunGuard() { m_flag = false; }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    bool& m_flag;
};

// Database files among the copies a run made: the clients database and the
// indices database go to the exchange area whole.
int databasesCopied(const std::vector<ChangeSink::Change>& changes)
{
    int count = 0;
    for (const ChangeSink::Change& c : changes) {
        if (c.kind == ChangeSink::Change::Kind::File &&
            QFileInfo(c.path).suffix().compare(QLatin1String("mdb"), Qt::CaseInsensitive) == 0)
            ++count;
    }
    return count;
}

// Waits for the comparisons left to the side thread (serving window
// events meanwhile) and takes their results in, in the order they were
// left. The wait counts as time spent finding the rows left different.
void takeSideResults(RunState& w)
{
    QElapsedTimer waited;
    waited.start();
    while (!w.sideThread.waitFor(50))
        w.prompt().processEvents();
    w.divergenceNs += waited.nsecsElapsed();
    for (const auto& take : w.sideResults)
        take(w);
    w.sideResults.clear();
}

} // namespace

RunDriver::RunDriver(SyncSteps steps) : m_steps(std::move(steps)) {}

bool RunDriver::runnableOperator(const QString& code)
{
    return CompareBinary(code, QStringLiteral("000")) > 0;
}

RunDriver::Outcome RunDriver::outcome(const RunReport& report)
{
    if (report.refused)
        return Outcome::Refused;
    return report.exitStatus() == exitstatus::kFailed ? Outcome::Failed : Outcome::Completed;
}

RunReport RunDriver::run(const RunRequest& request, ChangeSink& sink, RunObserver* observer)
{
    // The steps let window events run while they work; a second click of
    // "&ESEGUI" meanwhile is ignored: the run in progress ends with its own
    // outcome and "FINE AGGIORNAMENTO".
    RunReport report;
    if (m_running) {
        report.refused = true;
        return report;
    }
    RunGuard guard(m_running);

    RunState w(request, sink);
    Prompt& prompt = w.prompt();

    // What is asked for is decided by the ticks as the run starts: a step
    // that completes marks its tick done.
    report.started = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    report.operatore = request.operatorCode;
    report.portable = request.portable;
    report.dryRun = sink.dryRun();
    for (const StepInfo& step : kSteps) {
        StepReport r;
        r.step = &step;
        r.state =
            casella(w.ticks, step.box) == 1 ? StepReport::State::NotReached : StepReport::State::NotTicked;
        report.steps.push_back(r);
    }
    if (observer)
        observer->runStarted(w);
    auto finish = [&] {
        if (observer)
            observer->runEnded();
        report.durationMs = clock.elapsed();
        report.ticksAfter = w.ticks;
        report.changes = sink.changes();
        return std::move(report);
    };

    // The values a run writes back were read from the configuration file; one
    // that could not be read (a passing I/O error, a flaky share) left them at
    // their defaults, which must never replace the file's own.
    if (const QString unread = request.configurationUnread; !unread.isEmpty()) {
        report.configurationUnread = unread;
        prompt.show(QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE") + QLatin1Char('\n') + unread +
                        QStringLiteral("\nL'aggiornamento non è stato eseguito e nulla è stato scritto. "
                                       "Riprovare quando il file si potrà leggere."),
                    MsgStyle::ExclamationOk);
        return finish();
    }

    // One run at a time on this operator's folders: a second run is refused
    // at once, naming who holds them, before it writes anything. A dry run
    // changes nothing, takes no lock and leaves no lock file; it tells all
    // the same that the run would be refused now, and lists the leftovers a
    // run would remove.
    std::optional<ExclusiveRun> exclusive;
    if (sink.dryRun()) {
        if (ExclusiveRun::wouldBeRefused(request)) {
            report.refused = true;
            return finish();
        }
        removeLeftovers(request, sink);
    } else {
        exclusive.emplace(request, sink);
        if (exclusive->refused()) {
            report.refused = true;
            return finish();
        }
    }

    // Databases still in the Access format of the main application are
    // converted once, on request, before any run may touch them: the run
    // stops before its first write and names the command.
    if (const std::vector<AccessDatabase> access = accessDatabasesOf(request); !access.empty()) {
        for (const AccessDatabase& db : access)
            report.accessDatabases.push_back({db.path, db.signature.versionName()});
        report.importCommand = importAccessCommand(request);
        prompt.show(accessDatabasesMessage(access, request), MsgStyle::ExclamationOk);
        return finish();
    }

    // The run's settings. A file that cannot take them stops the run before
    // its first step: the dates of the steps could not be recorded either.
    const QString ini = request.configFile;
    const QString section = QStringLiteral("EXPORT");
    const QString code = request.operatorCode;
    const QString side = request.sideLetter();
    const QString parm = QString::number(w.ticks.gruppi[0]) + QString::number(w.ticks.gruppi[1]) +
                         QString::number(w.ticks.gruppi[2]) + QString::number(w.ticks.dati) +
                         QString::number(w.ticks.visite);
    const std::pair<QString, QString> settings[] = {
        {QStringLiteral("OPERATORE"), request.typedOperator},
        {side + QStringLiteral("PATH") + code, w.request.exchangeClients},
        {side + QStringLiteral("FLX0") + code, request.exchangeFolders[0]},
        {side + QStringLiteral("FLX1") + code, request.exchangeFolders[1]},
        {side + QStringLiteral("FLX2") + code, request.exchangeFolders[2]},
        {side + QStringLiteral("PARM") + code, parm},
    };
    for (const auto& [key, value] : settings) {
        if (const Error e = sink.writeKey(ini, section, key, value)) {
            const QString text = MessaggioScritturaIni(e);
            report.configurationUnwritten = text.section(QLatin1Char('\n'), 1);
            prompt.show(text + QStringLiteral("\nL'aggiornamento non è stato eseguito: "
                                              "nessun dato è stato trasferito."),
                        MsgStyle::ExclamationOk);
            return finish();
        }
    }

    // The steps, in the order of the table: the first result above zero ends
    // the run (a failure after which the run goes on has result 0).
    for (StepReport& r : report.steps) {
        if (r.state == StepReport::State::NotTicked)
            continue;
        // The merges' files are written by their own steps only: the
        // comparisons held for them may begin once the run is past them.
        if (r.step->box != Casella::Dati && r.step->box != Casella::Visite)
            w.sideThread.release();
        if (observer)
            observer->stepStarted(r);
        const SyncStep& routine = m_steps.*(r.step->sync);
        r.outcome = routine
                        ? routine(w)
                        : StepOutcome::failure(0, QStringLiteral("nessuna routine collegata a questo passo "
                                                                 "(errore del programma)"));
        r.state = StepReport::State::Ran;
        if (observer)
            observer->stepEnded(r);
        if (r.outcome.result() > 0)
            break;
    }

    // Outcome.
    prompt.processEvents();
    takeSideResults(w);
    if (const StepReport& clients = report.of("SincronizzaClienti");
        clients.state == StepReport::State::Ran && clients.outcome.status != StepOutcome::Status::Skipped) {
        report.clientiAggiunti = w.clientsAdded;
        report.testiVisite = w.visitsTexts;
    }
    report.tabelle = w.tables;
    report.rows = std::move(w.rows);
    report.divergenze = w.divergences;
    report.divergenzeMs = w.divergenceNs / 1000000;
    report.divergenzeSideMs = w.divergenceSideNs / 1000000;
    report.visiteAggiunteScambio = w.tables[kVisiteN].toExchange;
    report.visiteAggiunteLocale = w.tables[kVisiteN].toLocal;
    report.appuntamentiAggiuntiScambio = w.tables[kAppuntamenti].toExchange;
    report.appuntamentiAggiuntiLocale = w.tables[kAppuntamenti].toLocal;
    report.documenti = w.filesOffered;
    report.databasiCopiati = databasesCopied(sink.changes());
    RunReport done = finish();

    prompt.show(QStringLiteral("FINE AGGIORNAMENTO"), MsgStyle::Ok);
    return done;
}

} // namespace mirsalex
