#pragma once

#include "config/Context.h"
#include "runtypes/ChangeSink.h"
#include "runtypes/RunReport.h"
#include "runtypes/RunRequest.h"

namespace mirsalex {

// A run: a request in, a report out. The window and batch mode build the
// request, give the observer that shows what happens, and display the
// report; progress and questions go through the context's prompt. The same
// code serves the dry run, with the changes withheld by the sink.
class RunDriver
{
public:
    enum class Outcome
    {
        Completed, // the run went through every ticked step
        Failed,    // a step failed (whether or not it ended the run early)
        Refused,   // a run was already in progress
    };

    // Every step of `steps` is carried out when ticked; one left unbound is
    // reported as failed, never as done.
    RunDriver(Context& ctx, SyncSteps steps);

    // Carries out `request`, every change through `sink` (which decides
    // whether it is made: a dry run withholds them all).
    Outcome run(const RunRequest& request, ChangeSink& sink, RunObserver* observer = nullptr);
    bool running() const { return m_running; }

    // What the last run did, step by step, with its counters; empty (no
    // steps) before the first run.
    const RunReport& report() const { return m_report; }

    // Whether `code` names an operator a run can work for (a code at or
    // below "000" never does: the run button then ends the program).
    static bool runnableOperator(const QString& code);

private:
    Context& m_ctx;
    SyncSteps m_steps;
    bool m_running = false;
    RunReport m_report;
};

} // namespace mirsalex
