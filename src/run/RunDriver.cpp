#include "run/RunDriver.h"

#include "common/Helpers.h"
#include "config/ConfigLoader.h"
#include "transfer/RunLockStep.h"
#include "transfer/Transfer.h"

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

// Runs one step; a step that is not available counts as completed and is
// recorded under its name.
qint16 esegui(const SyncStep& step, const char* name, QStringList& unavailable)
{
    if (step)
        return step().result();
    unavailable << QString::fromLatin1(name);
    return 0;
}

QString allinea(int value)
{
    return AllineaDestra(QVariant(value), 5);
}

} // namespace

RunDriver::RunDriver(Context& ctx, WindowState& w, SyncSteps steps)
    : m_ctx(ctx), m_w(w), m_steps(std::move(steps))
{
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
    m_unavailable.clear();

    Context& ctx = m_ctx;
    WindowState& w = m_w;
    ctx.CodErrore = 0;
    w.DbLocale = w.lbFile[0].caption.trimmed();
    w.DbScambio = w.lbFile[1].caption.trimmed();
    w.PrefissoLato = w.sideLetter();

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
    if (exclusive.refused())
        return Outcome::Refused;

    bool failed = false;
    if (w.chkDati.value == 1)
        failed = esegui(m_steps.SincronizzaClienti, "SincronizzaClienti", m_unavailable) > 0;
    if (!failed && w.chkVisite.value == 1) {
        const std::pair<const SyncStep*, const char*> chain[] = {
            {&m_steps.UnisciTabAzioni, "UnisciTabAzioni"},
            {&m_steps.SincronizzaAzioni, "SincronizzaAzioni"},
            {&m_steps.SincronizzaVisite, "SincronizzaVisite"},
            {&m_steps.SincronizzaAppuntamenti, "SincronizzaAppuntamenti"}};
        for (const auto& [step, name] : chain) {
            if (esegui(*step, name, m_unavailable) > 0) {
                failed = true;
                break;
            }
        }
    }
    if (!failed)
        failed = !AggiornaDocumenti(ctx, w);

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
    ctx.prompt.show(QStringLiteral("FINE AGGIORNAMENTO"), MsgStyle::Ok);
    return failed ? Outcome::Failed : Outcome::Completed;
}

} // namespace mirsalex
