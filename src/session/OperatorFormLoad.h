#pragma once

#include "app/WindowState.h"
#include "config/Context.h"
#include "run/RunReport.h"
#include "runtypes/RunRequest.h"

#include <QString>
#include <QStringList>

namespace mirsalex {

// Load of the main window without the window itself (used by the window and
// by batch mode): paths, operator of the last run, transfer set, "DEBUG",
// operator list.
void CaricaFinestra(Context& ctx, WindowState& w);

// Operator list items: folder name upper-cased in 14 characters followed by
// its "DATA" date for the current side.
QStringList ElencoOperatori(Context& ctx, const WindowState& w);

// Fills the window with the transfer set of the current operator and side.
void AggiornaFinestra(Context& ctx, WindowState& w);

// The window's load as batch mode makes it: the load, then the operator
// `code` (when given) and the side, as the user would choose them.
void caricaComeBatch(Context& ctx, WindowState& w, const QString& code, bool portable);

// The request of a run with the window as it stands: side, operator, ticks,
// paths and the confirmation of document copies.
RunRequest richiestaDaFinestra(const Context& ctx, const WindowState& w, bool dryRun = false);

// Shows a run's report in the window: the boxes whose work is done greyed,
// the result labels, and the run button hidden until the next refresh (a dry
// run changes nothing of the window).
void mostraRisultati(WindowState& w, const RunReport& report);

// The run under way, readable while it lasts (the progress displays count
// the files copied from it).
class LiveRun : public RunObserver
{
public:
    void runStarted(const RunState& state) override { m_state = &state; }
    void runEnded() override { m_state = nullptr; }
    const RunState* state() const { return m_state; }

private:
    const RunState* m_state = nullptr;
};

} // namespace mirsalex
