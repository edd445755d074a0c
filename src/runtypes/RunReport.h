#pragma once

#include "runtypes/ChangeSink.h"
#include "runtypes/RunState.h"
#include "runtypes/StepOutcome.h"

#include <array>
#include <functional>
#include <QDateTime>
#include <QString>
#include <QStringList>
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

// The steps of a run, each working on the run's state alone: the clients,
// the visits group, then the three groups of the document stage.
using SyncStep = std::function<StepOutcome(RunState&)>;
struct SyncSteps
{
    SyncStep clients;
    SyncStep actionCodes;
    SyncStep actions;
    SyncStep visits;
    SyncStep appointments;
    SyncStep indices;
    SyncStep cards;
    SyncStep sheets;
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

// The tick of a box.
int& casella(Ticks& t, Casella box);
int casella(const Ticks& t, Casella box);

// One step of a run: its name, the box that ticks it, and the routine that
// carries it out.
struct StepInfo
{
    const char* name;          // "SincronizzaClienti", ..., "INDICI", ...
    const char* group;         // the group it belongs to, as the window names it
    Casella box;               // the check box that ticks it
    SyncStep SyncSteps::*sync; // the routine
    int documentGroup;         // 0..2 for a group of the document stage, -1 otherwise
};

// Every step in the order a run takes them: the clients, the visits chain,
// then the three document groups. The first result above zero ends the run.
inline constexpr std::array<StepInfo, 8> kSteps{{
    {"SincronizzaClienti", "DATI", Casella::Dati, &SyncSteps::clients, -1},
    {"UnisciTabAzioni", "VISITE", Casella::Visite, &SyncSteps::actionCodes, -1},
    {"SincronizzaAzioni", "VISITE", Casella::Visite, &SyncSteps::actions, -1},
    {"SincronizzaVisite", "VISITE", Casella::Visite, &SyncSteps::visits, -1},
    {"SincronizzaAppuntamenti", "VISITE", Casella::Visite, &SyncSteps::appointments, -1},
    {"INDICI", "INDICI", Casella::Indici, &SyncSteps::indices, 0},
    {"SCHEDE CLIENTI", "SCHEDE CLIENTI", Casella::Schede, &SyncSteps::cards, 1},
    {"FOGLI CLIENTI", "FOGLI CLIENTI", Casella::Fogli, &SyncSteps::sheets, 2},
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
    // The run's settings could not be written to the configuration file when
    // the run began ("file\nreason"): no step ran.
    QString configurationUnwritten;
    // Databases the run would open that are still in the Access format of the
    // main application, and the command that converts them: no step ran and
    // nothing was written.
    struct AccessFile
    {
        QString path;
        QString version; // "Jet 4, Access 2000-2003", ...
    };
    std::vector<AccessFile> accessDatabases;
    QString importCommand;
    QDateTime started;      // when the run began
    qint64 durationMs = -1; // from the start to "FINE AGGIORNAMENTO", -1 when unknown

    // Counters as the run left them. Clients added to the local database:
    // -1 when they could not be counted (the step did not run, or a database
    // could not be read).
    qint64 clientiAggiunti = -1;
    qint64 testiVisite = 0; // visits texts taken over from the exchange copy
    qint64 visiteAggiunteScambio = 0;
    qint64 visiteAggiunteLocale = 0;
    qint64 appuntamentiAggiuntiScambio = 0;
    qint64 appuntamentiAggiuntiLocale = 0;
    std::array<TableCounters, 4> tabelle{};           // the visits group, in kVisitsTableNames order
    std::array<std::array<qint16, 2>, 3> documenti{}; // (group, 0 send / 1 receive)
    int databasiCopiati = 0;                          // database files copied to the exchange area

    // A dry run: nothing was written, the counters are what the run would do.
    bool dryRun = false;
    // The ticks as the run left them (2 for a box whose work is done).
    Ticks ticksAfter;
    // Every change the run made (a dry run: would make), in order.
    std::vector<ChangeSink::Change> changes;
    // The database rows behind the counters, one by one (filled in a dry
    // run), and the rows both sides hold with different content (every run).
    std::vector<RowItem> rows;
    // Rows left different per table (Clienti, then the visits group in
    // kVisitsTableNames order; see kDivergenceTables): -1 when the table was
    // not compared (its step did not get to it).
    std::array<qint64, 5> divergenze{-1, -1, -1, -1, -1};
    // Milliseconds the run spent finding them (part of durationMs): in a run
    // that writes, the opening of the comparisons and the wait for what the
    // side thread had not done by the end of the steps.
    qint64 divergenzeMs = 0;
    // Milliseconds the side thread spent comparing, beside the steps.
    qint64 divergenzeSideMs = 0;

    // The versions the run kept (changes/VersionStore.h), told by the report
    // when the face that ran it keeps them (`asked`): turned off for this run
    // (--no-versions), or the entry made (empty when the run kept nothing),
    // its folder, the entries pruning removed after the run, and why versions
    // could not be kept when they could not.
    struct Versions
    {
        bool asked = false;
        bool off = false;
        QString entry;
        QString folder;
        QStringList pruned;
        QString failure;
    } versions;

    // The first step that failed, or null.
    const StepReport* firstFailure() const;
    // The steps asked for that were skipped or stopped.
    std::vector<const StepReport*> incompleteSteps() const;
    const StepReport& of(const char* name) const;

    // The exit status that tells this run's outcome: a failure beats a skip.
    int exitStatus() const;
};

// One message box shown during a run, with the answer it got.
struct ShownBox
{
    QString title;
    int style = 0;
    QString text;
    int answer = 0;
};

// What the window and batch mode are told while a run works (progress and
// questions go through the prompt).
class RunObserver
{
public:
    virtual ~RunObserver() = default;
    // The run's state, readable (never written) while the run lasts.
    virtual void runStarted(const RunState& state) { (void)state; }
    virtual void runEnded() {}
    virtual void stepStarted(const StepReport& step) { (void)step; }
    virtual void stepEnded(const StepReport& step) { (void)step; }
};

} // namespace mirsalex
