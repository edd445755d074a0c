#include "run/Steps.h"

#include "sync/ClientsSync.h"
#include "sync/VisitsSync.h"

namespace mirsalex {

SyncSteps StandardSteps(Context& ctx, WindowState& w)
{
    SyncSteps steps;
    steps.SincronizzaClienti = [&ctx, &w]() { return SincronizzaClienti(ctx, w); };
    steps.UnisciTabAzioni = [&ctx, &w]() { return UnisciTabAzioni(ctx, w); };
    steps.SincronizzaAzioni = [&ctx, &w]() { return SincronizzaAzioni(ctx, w); };
    steps.SincronizzaVisite = [&ctx, &w]() { return SincronizzaVisite(ctx, w); };
    steps.SincronizzaAppuntamenti = [&ctx, &w]() { return SincronizzaAppuntamenti(ctx, w); };
    return steps;
}

} // namespace mirsalex
