#pragma once

#include "config/Context.h"
#include "transfer/StepOutcome.h"
#include "transfer/WindowState.h"

#include <functional>
#include <QStringList>
#include <QtGlobal>

namespace mirsalex {

// The synchronisation steps of a run; a step that is not available is empty
// and counts as completed.
using SyncStep = std::function<StepOutcome()>;
struct SyncSteps
{
    SyncStep SincronizzaClienti;
    SyncStep UnisciTabAzioni;
    SyncStep SincronizzaAzioni;
    SyncStep SincronizzaVisite;
    SyncStep SincronizzaAppuntamenti;
};

// The click of the two buttons "&ESEGUI" (0) and "&USCITA" (1).
class RunDriver
{
public:
    enum class Outcome
    {
        Exit,      // the program ends (exit button, or no valid operator)
        Completed, // the run went through every ticked step
        Failed,    // a step failed and ended the run early
        Refused,   // a run was already in progress
    };

    RunDriver(Context& ctx, WindowState& w, SyncSteps steps);

    Outcome click(int index);
    bool running() const { return m_running; }

    // The steps that the last run was asked for (their box held 1) but could
    // not carry out because this program does not provide them, by name
    // ("SincronizzaClienti", "UnisciTabAzioni", ...), in the order met. They
    // count as completed for the chain; whoever reports the run must say that
    // they were not done.
    const QStringList& unavailableSteps() const { return m_unavailable; }

private:
    Context& m_ctx;
    WindowState& m_w;
    SyncSteps m_steps;
    bool m_running = false;
    QStringList m_unavailable;
};

} // namespace mirsalex
