#pragma once

#include "config/Context.h"
#include "runtypes/RunReport.h"
#include "runtypes/RunRequest.h"
#include "session/OperatorForm.h"

#include <QString>
#include <QStringList>

namespace mirsalex {

// The load of the form, as the window opens (the window and batch mode):
// paths, operator of the last run, transfer set, "DEBUG", operator list.
// The folders the load prepares are made when missing; with `wouldCreate`
// (a load that must write nothing) they are listed there instead.
void loadForm(Context& ctx, OperatorForm& w, QStringList* wouldCreate = nullptr);

// Operator list items: folder name upper-cased in 14 characters followed by
// its "DATA" date for the current side.
QStringList operatorListItems(Context& ctx, const OperatorForm& w);

// Fills the form with the transfer set of the current operator and side
// (`wouldCreate` as for loadForm()).
void loadTransferSet(Context& ctx, OperatorForm& w, QStringList* wouldCreate = nullptr);

// The form's load as batch mode makes it: the load, then the operator
// `code` (when given) and the side, as the user would choose them
// (`wouldCreate` as for loadForm()).
void loadFormAsBatch(Context& ctx, OperatorForm& w, const QString& code, bool portable,
                     QStringList* wouldCreate = nullptr);

// The request of a run with the form as it stands: side, operator, ticks,
// paths and the confirmation of document copies. Whether the run writes is
// not the request's to say: the sink the run is given decides.
RunRequest requestFromForm(const Context& ctx, const OperatorForm& w);

// Shows a run's report in the form: the boxes whose work is done greyed,
// the result labels, and the run button hidden until the next refresh (a dry
// run changes nothing of the window).
void showResults(OperatorForm& w, const RunReport& report);

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
