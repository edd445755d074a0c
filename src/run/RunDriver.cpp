#include "run/RunDriver.h"

#include "common/Helpers.h"
#include "config/ConfigLoader.h"
#include "run/Steps.h"
#include "transfer/Changes.h"
#include "transfer/RunLockStep.h"
#include "transfer/Transfer.h"

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

} // namespace

RunDriver::RunDriver(Context& ctx, SyncSteps steps) : m_ctx(ctx), m_steps(std::move(steps)) {}

bool RunDriver::runnableOperator(const QString& code)
{
    return CompareBinary(code, QStringLiteral("000")) > 0;
}

RunDriver::Outcome RunDriver::run(const RunRequest& request, ChangeSink& sink, RunObserver* observer)
{
    // The steps let window events run while they work; a second click of
    // "&ESEGUI" meanwhile is ignored: the run in progress ends with its own
    // outcome and "FINE AGGIORNAMENTO".
    if (m_running)
        return Outcome::Refused;
    RunGuard guard(m_running);

    Context& ctx = m_ctx;
    RunState w(request, sink);

    // What is asked for is decided by the ticks as the run starts: a step
    // that completes marks its tick done.
    RunReport report;
    report.started = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    report.operatore = ctx.CodOperatore;
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
    auto finish = [&](Outcome outcome) {
        if (observer)
            observer->runEnded();
        report.durationMs = clock.elapsed();
        report.ticksAfter = w.ticks;
        report.changes = sink.changes();
        m_report = std::move(report);
        return outcome;
    };

    // The values a run writes back were read from the configuration file; one
    // that could not be read (a passing I/O error, a flaky share) left them at
    // their defaults, which must never replace the file's own.
    if (const QString unread = ctx.LetturaIniFallita; !unread.isEmpty()) {
        report.configurationUnread = unread;
        ctx.prompt.show(QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE") + QLatin1Char('\n') + unread +
                            QStringLiteral("\nL'aggiornamento non è stato eseguito e nulla è stato scritto. "
                                           "Riprovare quando il file si potrà leggere."),
                        MsgStyle::ExclamationOk);
        return finish(Outcome::Failed);
    }

    // One run at a time on this operator's folders: a second run is refused
    // at once, naming who holds them, before it writes anything. A dry run
    // changes nothing, takes no lock and leaves no lock file; it tells all
    // the same that the run would be refused now, and lists the leftovers a
    // run would remove.
    std::optional<CorsaEsclusiva> exclusive;
    if (sink.dryRun()) {
        if (CorsaEsclusiva::sarebbeRifiutata(ctx, request)) {
            report.refused = true;
            return finish(Outcome::Refused);
        }
        rimuoviAvanzi(ctx, request, sink);
    } else {
        exclusive.emplace(ctx, request, sink);
        if (exclusive->refused()) {
            report.refused = true;
            return finish(Outcome::Refused);
        }
    }

    // The run's settings. A file that cannot take them stops the run before
    // its first step: the dates of the steps could not be recorded either.
    const QString ini = ctx.config.FileIni;
    const QString section = QStringLiteral("EXPORT");
    const QString code = ctx.CodOperatore;
    const QString parm = QString::number(w.ticks.gruppi[0]) + QString::number(w.ticks.gruppi[1]) +
                         QString::number(w.ticks.gruppi[2]) + QString::number(w.ticks.dati) +
                         QString::number(w.ticks.visite);
    const std::pair<QString, QString> settings[] = {
        {QStringLiteral("OPERATORE"), request.operatorText},
        {w.PrefissoLato + QStringLiteral("PATH") + code, w.DbScambio},
        {w.PrefissoLato + QStringLiteral("FLX0") + code, request.exchangeFolders[0]},
        {w.PrefissoLato + QStringLiteral("FLX1") + code, request.exchangeFolders[1]},
        {w.PrefissoLato + QStringLiteral("FLX2") + code, request.exchangeFolders[2]},
        {w.PrefissoLato + QStringLiteral("PARM") + code, parm},
    };
    for (const auto& [key, value] : settings) {
        if (const Error e = sink.writeKey(ini, section, key, value)) {
            const QString text = MessaggioScritturaIni(e);
            report.configurationUnwritten = text.section(QLatin1Char('\n'), 1);
            ctx.prompt.show(text + QStringLiteral("\nL'aggiornamento non è stato eseguito: "
                                                  "nessun dato è stato trasferito."),
                            MsgStyle::ExclamationOk);
            return finish(Outcome::Failed);
        }
    }

    // The synchronisations, in the order of the table: the first result above
    // zero ends the run (a failure after which the run goes on has result 0).
    bool ended = false;
    for (StepReport& r : report.steps) {
        if (!r.step->sync || r.state == StepReport::State::NotTicked)
            continue;
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
        if (r.outcome.result() > 0) {
            ended = true;
            break;
        }
    }

    // Documents. A group the stage did not record ran to the end when its
    // box is greyed, was skipped when the stage completed without it, and was
    // never reached when the stage ended early before it.
    if (!ended) {
        for (StepReport& r : report.steps) {
            if (observer && r.step->documentGroup >= 0 && r.state != StepReport::State::NotTicked)
                observer->stepStarted(r);
        }
        const bool completed = AggiornaDocumenti(ctx, w);
        bool stageEnded = false;
        for (StepReport& r : report.steps) {
            if (r.step->documentGroup < 0 || r.state == StepReport::State::NotTicked)
                continue;
            const auto g = static_cast<size_t>(r.step->documentGroup);
            if (w.EsitoDocumenti[g]) {
                r.state = StepReport::State::Ran;
                r.outcome = *w.EsitoDocumenti[g];
                stageEnded = stageEnded || r.outcome.failed();
            } else if (casella(w.ticks, r.step->box) == 2) {
                r.state = StepReport::State::Ran;
                r.outcome = StepOutcome::done();
            } else if (completed) {
                r.state = StepReport::State::Ran;
                r.outcome = StepOutcome::skipped(QStringLiteral("cartella di scambio vuota o assente"),
                                                 request.exchangeFolders[g]);
            } else if (!stageEnded) {
                // The group that ended the stage, had it left no record
                // (every failure of the stage records its group, with its
                // error number).
                r.state = StepReport::State::Ran;
                r.outcome = StepOutcome::failure(0, QStringLiteral("trasferimento non riuscito"));
                stageEnded = true;
            }
            if (observer && r.state == StepReport::State::Ran)
                observer->stepEnded(r);
        }
    }

    // Outcome.
    ctx.prompt.processEvents();
    for (const StepReport& r : report.steps) {
        if (r.step->sync == &SyncSteps::SincronizzaClienti && r.state == StepReport::State::Ran &&
            r.outcome.status != StepOutcome::Status::Skipped) {
            report.clientiAggiunti = w.clientiAggiunti;
            report.testiVisite = w.testiVisite;
        }
    }
    report.tabelle = w.tabelle;
    report.visiteAggiunteScambio = w.tabelle[kVisiteN].toExchange;
    report.visiteAggiunteLocale = w.tabelle[kVisiteN].toLocal;
    report.appuntamentiAggiuntiScambio = w.tabelle[kAppuntamenti].toExchange;
    report.appuntamentiAggiuntiLocale = w.tabelle[kAppuntamenti].toLocal;
    for (size_t g = 0; g < report.documenti.size(); ++g)
        report.documenti[g] = w.Contatori[g];
    report.databasiCopiati = databasesCopied(sink.changes());
    const Outcome outcome = finish(Outcome::Completed);

    ctx.prompt.show(QStringLiteral("FINE AGGIORNAMENTO"), MsgStyle::Ok);
    return outcome == Outcome::Completed && m_report.exitStatus() == exitstatus::kFailed ? Outcome::Failed
                                                                                         : outcome;
}

} // namespace mirsalex
