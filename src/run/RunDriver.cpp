#include "run/RunDriver.h"

#include "common/Helpers.h"
#include "config/ConfigLoader.h"
#include "db/Database.h"
#include "db/Snapshot.h"
#include "transfer/RunLockStep.h"
#include "transfer/Transfer.h"

#include <QElapsedTimer>
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

QString allinea(int value)
{
    return AllineaDestra(QVariant(value), 5);
}

// The clients of a clients database, -1 when it cannot be read. The
// synchronisation only ever adds clients, so the difference over the step
// is the number it added.
qint64 contaClienti(const QString& path)
{
    Database db;
    if (db.open(path))
        return -1;
    qint64 count = -1;
    {
        Snapshot rows(db);
        if (!rows.open(QStringLiteral("SELECT COUNT(*) FROM Clienti")) && !rows.eof()) {
            bool ok = false;
            const qint64 v = rows.value(0).toLongLong(&ok);
            if (ok)
                count = v;
        }
        rows.close();
    }
    db.close();
    return count;
}

} // namespace

RunDriver::RunDriver(Context& ctx, WindowState& w, SyncSteps steps)
    : m_ctx(ctx), m_w(w), m_steps(std::move(steps))
{
}

StepOutcome RunDriver::runStep(const StepInfo& step)
{
    const SyncStep& routine = m_steps.*(step.sync);
    if (!routine)
        return StepOutcome::failure(
            0, QStringLiteral("nessuna routine collegata a questo passo (errore del programma)"));
    return routine();
}

RunDriver::Outcome RunDriver::click(int index)
{
    if (index == 1 || CompareBinary(m_ctx.CodOperatore, QStringLiteral("000")) <= 0)
        return Outcome::Exit;
    // The steps let window events run while they work; a second click of
    // "&ESEGUI" meanwhile is ignored: the run in progress ends with its own
    // outcome and "FINE AGGIORNAMENTO".
    if (m_running)
        return Outcome::Refused;
    RunGuard guard(m_running);

    Context& ctx = m_ctx;
    WindowState& w = m_w;
    ctx.CodErrore = 0;
    w.DbLocale = w.lbFile[0].caption.trimmed();
    w.DbScambio = w.lbFile[1].caption.trimmed();
    w.PrefissoLato = w.sideLetter();

    // What is asked for is decided by the boxes as the run starts: a step
    // that completes greys its box.
    RunReport report;
    report.started = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    report.operatore = ctx.CodOperatore;
    report.portable = w.optPC != 0;
    for (const StepInfo& step : kSteps) {
        StepReport r;
        r.step = &step;
        r.state =
            casella(w, step.box).value == 1 ? StepReport::State::NotReached : StepReport::State::NotTicked;
        report.steps.push_back(r);
    }

    // The values a run writes back were read from the configuration file; one
    // that could not be read (a passing I/O error, a flaky share) left them at
    // their defaults, which must never replace the file's own.
    if (const QString unread = LetturaIniFallita(); !unread.isEmpty()) {
        report.configurationUnread = unread;
        report.durationMs = clock.elapsed();
        m_report = std::move(report);
        ctx.prompt.show(QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE") + QLatin1Char('\n') + unread +
                            QStringLiteral("\nL'aggiornamento non è stato eseguito e nulla è stato scritto. "
                                           "Riprovare quando il file si potrà leggere."),
                        MsgStyle::ExclamationOk);
        return Outcome::Failed;
    }

    const QString ini = ctx.config.FileIni;
    const QString section = QStringLiteral("EXPORT");
    const QString code = ctx.CodOperatore;
    ScriviIni(ini, section, QStringLiteral("OPERATORE"), w.CodOper);
    ScriviIni(ini, section, w.PrefissoLato + QStringLiteral("PATH") + code, w.DbScambio);
    for (int i = 0; i < 3; ++i) {
        ScriviIni(ini, section, w.PrefissoLato + QStringLiteral("FLX") + QString::number(i) + code,
                  w.lbFileX[static_cast<size_t>(i)].caption);
    }
    const QString parm = QString::number(w.Check1[0].value) + QString::number(w.Check1[1].value) +
                         QString::number(w.Check1[2].value) + QString::number(w.chkDati.value) +
                         QString::number(w.chkVisite.value);
    ScriviIni(ini, section, w.PrefissoLato + QStringLiteral("PARM") + code, parm);

    // One run at a time on this operator's folders: a second run is refused
    // at once, naming who holds them.
    const CorsaEsclusiva exclusive(ctx, w);
    if (exclusive.refused()) {
        report.refused = true;
        report.durationMs = clock.elapsed();
        m_report = std::move(report);
        return Outcome::Refused;
    }

    // The synchronisations, in the order of the table: the first result above
    // zero ends the run (a failure after which the run goes on has result 0).
    bool ended = false;
    for (StepReport& r : report.steps) {
        if (!r.step->sync || r.state == StepReport::State::NotTicked)
            continue;
        const bool clients = r.step->sync == &SyncSteps::SincronizzaClienti;
        const qint64 before = clients ? contaClienti(w.DbLocale) : -1;
        const QString clientsFile = w.DbLocale;
        r.outcome = runStep(*r.step);
        r.state = StepReport::State::Ran;
        if (clients && before >= 0 && r.outcome.status != StepOutcome::Status::Skipped) {
            const qint64 after = contaClienti(clientsFile);
            if (after >= before)
                report.clientiAggiunti = after - before;
        }
        if (r.outcome.result() > 0) {
            ended = true;
            break;
        }
    }

    // Documents. A group the stage did not record ran to the end when its
    // box is greyed, was skipped when the stage completed without it, and was
    // never reached when the stage ended early before it.
    if (!ended) {
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
            } else if (casella(w, r.step->box).value == 2) {
                r.state = StepReport::State::Ran;
                r.outcome = StepOutcome::done();
            } else if (completed) {
                r.state = StepReport::State::Ran;
                r.outcome = StepOutcome::skipped(QStringLiteral("cartella di scambio vuota o assente"),
                                                 w.lbFileX[g].caption);
            } else if (!stageEnded) {
                // The group that ended the stage, had it left no record.
                r.state = StepReport::State::Ran;
                r.outcome = StepOutcome::failure(ctx.CodErrore, QStringLiteral("trasferimento non riuscito"));
                stageEnded = true;
            }
        }
    }

    // Outcome.
    ctx.prompt.processEvents();
    if (w.Check1[0].value > 0) {
        w.cmdEseguiVisible = false;
        w.lbCount[0].caption =
            w.Contatori[0][0] != 0 ? QStringLiteral("Aggiornati") : QStringLiteral("NON aggiornati");
    }
    if (w.Check1[1].value > 0) {
        w.lbCount[1].caption = QStringLiteral("Aggiornate: ->") + allinea(w.Contatori[1][0]) +
                               allinea(w.Contatori[1][1]) + QStringLiteral(" <-");
    }
    if (w.Check1[2].value > 0) {
        w.lbCount[2].caption = QStringLiteral("Aggiornati: ->") + allinea(w.Contatori[2][0]) +
                               allinea(w.Contatori[2][1]) + QStringLiteral(" <-");
    }
    if (w.chkVisite.value > 0) {
        w.lbAppuVisible = true;
        w.lbCount[3].caption = QStringLiteral("Aggiornate: ->") + allinea(w.VisiteAggiunteScambio) +
                               allinea(w.VisiteAggiunteLocale) + QStringLiteral(" <-");
        w.lbCount[4].caption = QStringLiteral("Aggiornati: ->") + allinea(w.AppuntamentiAggiuntiScambio) +
                               allinea(w.AppuntamentiAggiuntiLocale) + QStringLiteral(" <-");
    }
    w.cmdEseguiVisible = false;

    report.visiteAggiunteScambio = w.VisiteAggiunteScambio;
    report.visiteAggiunteLocale = w.VisiteAggiunteLocale;
    report.appuntamentiAggiuntiScambio = w.AppuntamentiAggiuntiScambio;
    report.appuntamentiAggiuntiLocale = w.AppuntamentiAggiuntiLocale;
    for (size_t g = 0; g < report.documenti.size(); ++g)
        report.documenti[g] = w.Contatori[g];
    report.durationMs = clock.elapsed();
    m_report = std::move(report);

    ctx.prompt.show(QStringLiteral("FINE AGGIORNAMENTO"), MsgStyle::Ok);
    return m_report.exitStatus() == exitstatus::kFailed ? Outcome::Failed : Outcome::Completed;
}

} // namespace mirsalex
