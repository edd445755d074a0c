#include "run/Steps.h"

#include "sync/ClientsSync.h"
#include "sync/VisitsSync.h"

namespace mirsalex {

SyncSteps StandardSteps(Context& ctx)
{
    SyncSteps steps;
    steps.SincronizzaClienti = [&ctx](RunState& w) { return SincronizzaClienti(ctx, w); };
    steps.UnisciTabAzioni = [&ctx](RunState& w) { return UnisciTabAzioni(ctx, w); };
    steps.SincronizzaAzioni = [&ctx](RunState& w) { return SincronizzaAzioni(ctx, w); };
    steps.SincronizzaVisite = [&ctx](RunState& w) { return SincronizzaVisite(ctx, w); };
    steps.SincronizzaAppuntamenti = [&ctx](RunState& w) { return SincronizzaAppuntamenti(ctx, w); };
    return steps;
}

} // namespace mirsalex
