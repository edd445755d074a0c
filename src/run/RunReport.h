#pragma once

#include "transfer/StepOutcome.h"
#include "transfer/WindowState.h"

#include <array>
#include <functional>
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace mirsalex {

// Exit statuses of the program's command-line faces. They are part of the
// program's interface (schedulers test them): README, --help and the manual
// page list them; change them nowhere else.
namespace exitstatus {
constexpr int kCompleted = 0;  // every ticked step completed
constexpr int kFailed = 1;     // a step failed (even one after which the run went on)
constexpr int kUsage = 2;      // bad usage, or the program could not start
constexpr int kIncomplete = 3; // a ticked step was skipped or stopped, and nothing failed
constexpr int kLocked = 4;     // refused: another run holds the lock
} // namespace exitstatus

// The synchronisation steps of a run, bound to a context and a window state.
using SyncStep = std::function<StepOutcome()>;
struct SyncSteps
{
    SyncStep SincronizzaClienti;
    SyncStep UnisciTabAzioni;
    SyncStep SincronizzaAzioni;
    SyncStep SincronizzaVisite;
    SyncStep SincronizzaAppuntamenti;
};

// The check boxes that tick the steps of a run.
enum class Casella
{
    Dati,   // chkDati
    Visite, // chkVisite
    Indici, // Check1(0)
    Schede, // Check1(1)
    Fogli,  // Check1(2)
};

CheckState& casella(WindowState& w, Casella box);
const CheckState& casella(const WindowState& w, Casella box);

// One step of a run: its name, the box that ticks it, and what carries it
// out: a synchronisation routine, or a group of the document stage.
struct StepInfo
{
    const char* name;          // "SincronizzaClienti", ..., "INDICI", ...
    const char* group;         // the group it belongs to, as the window names it
    Casella box;               // the check box that ticks it
    SyncStep SyncSteps::*sync; // the routine; null for a document group
    int documentGroup;         // 0..2 for a document group, -1 otherwise
};

// Every step in the order a run takes them: the clients, the visits chain,
// then the three document groups.
inline constexpr std::array<StepInfo, 8> kSteps{{
    {"SincronizzaClienti", "DATI", Casella::Dati, &SyncSteps::SincronizzaClienti, -1},
    {"UnisciTabAzioni", "VISITE", Casella::Visite, &SyncSteps::UnisciTabAzioni, -1},
    {"SincronizzaAzioni", "VISITE", Casella::Visite, &SyncSteps::SincronizzaAzioni, -1},
    {"SincronizzaVisite", "VISITE", Casella::Visite, &SyncSteps::SincronizzaVisite, -1},
    {"SincronizzaAppuntamenti", "VISITE", Casella::Visite, &SyncSteps::SincronizzaAppuntamenti, -1},
    {"INDICI", "INDICI", Casella::Indici, nullptr, 0},
    {"SCHEDE CLIENTI", "SCHEDE CLIENTI", Casella::Schede, nullptr, 1},
    {"FOGLI CLIENTI", "FOGLI CLIENTI", Casella::Fogli, nullptr, 2},
}};

// How one step of the table fared in a run.
struct StepReport
{
    enum class State
    {
        NotTicked,  // its box did not hold 1: not asked for
        NotReached, // asked for, but an earlier failure ended the run first
        Ran,        // carried out: `outcome` says how it ended
    };

    const StepInfo* step = nullptr;
    State state = State::NotTicked;
    StepOutcome outcome;

    bool failed() const { return state == State::Ran && outcome.failed(); }
    // Asked for and not carried out to the end, without a failure of its own.
    bool incomplete() const
    {
        return state == State::Ran && (outcome.status == StepOutcome::Status::Skipped ||
                                       outcome.status == StepOutcome::Status::Stopped);
    }
};

// What a run did: a value the window and batch mode display.
struct RunReport
{
    QString operatore;             // the operator code of the run
    bool portable = false;         // side: "Portatile" (true) or "DeskTop"
    std::vector<StepReport> steps; // one per entry of kSteps, in its order
    // Refused at once because another run holds the operator's folders: no
    // step ran.
    bool refused = false;
    // The configuration file could not be read whole when the run began
    // ("file\nreason"): no step ran and nothing was written.
    QString configurationUnread;
    QDateTime started;      // when the run began
    qint64 durationMs = -1; // from the start to "FINE AGGIORNAMENTO", -1 when unknown

    // Counters as the run left them. Clients added to the local database:
    // -1 when they could not be counted (the step did not run, or a database
    // could not be read).
    qint64 clientiAggiunti = -1;
    qint64 visiteAggiunteScambio = 0;
    qint64 visiteAggiunteLocale = 0;
    qint64 appuntamentiAggiuntiScambio = 0;
    qint64 appuntamentiAggiuntiLocale = 0;
    std::array<std::array<qint16, 2>, 3> documenti{}; // (group, 0 send / 1 receive)

    // The first step that failed, or null.
    const StepReport* firstFailure() const;
    // The steps asked for that were skipped or stopped.
    std::vector<const StepReport*> incompleteSteps() const;
    const StepReport& of(const char* name) const;

    // The exit status that tells this run's outcome: a failure beats a skip.
    int exitStatus() const;
};

// Short Italian description of how a step fared, for reports: "completato",
// "saltato: database non trovato: /x/DatiDV.mdb", "NON riuscito (errore 3021):
// ...", "interrotto: ...", "non richiesto", "non eseguito: ...".
QString describeStep(const StepReport& step);

// One message box shown during a run, with the answer it got.
struct ShownBox
{
    QString title;
    int style = 0;
    QString text;
    int answer = 0;
};

// How a step fared, as one word for scripts: "done", "skipped", "stopped",
// "failed", "not_reached", "not_ticked".
QString stepStatusName(const StepReport& step);

// The readable report of a run that the run log keeps (the log adds the
// frame with the time): operator and side, each step with its outcome, the
// counters, every box shown with its answer, the outcome and the duration.
QString runLogText(const RunReport& report, const std::vector<ShownBox>& boxes);

// The report of a run as a JSON document (indented, UTF-8), for scripts.
QByteArray runReportJson(const RunReport& report, const std::vector<ShownBox>& boxes);

} // namespace mirsalex
