#pragma once

#include "config/Context.h"
#include "run/RunReport.h"
#include "transfer/StepOutcome.h"
#include "transfer/WindowState.h"

namespace mirsalex {

// The click of the two buttons "&ESEGUI" (0) and "&USCITA" (1).
class RunDriver
{
public:
    enum class Outcome
    {
        Exit,      // the program ends (exit button, or no valid operator)
        Completed, // the run went through every ticked step
        Failed,    // a step failed (whether or not it ended the run early)
        Refused,   // a run was already in progress
    };

    // Every step of `steps` is carried out when ticked; one left unbound is
    // reported as failed, never as done.
    RunDriver(Context& ctx, WindowState& w, SyncSteps steps);

    Outcome click(int index);
    bool running() const { return m_running; }

    // What the last run did, step by step, with its counters; empty (no
    // steps) before the first run.
    const RunReport& report() const { return m_report; }

private:
    StepOutcome runStep(const StepInfo& step);

    Context& m_ctx;
    WindowState& m_w;
    SyncSteps m_steps;
    bool m_running = false;
    RunReport m_report;
};

} // namespace mirsalex
