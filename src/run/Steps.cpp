#include "run/Steps.h"

#include "sync/ClientsSync.h"

namespace mirsalex {

SyncSteps StandardSteps(Context& ctx, WindowState& w)
{
    SyncSteps steps;
    steps.SincronizzaClienti = [&ctx, &w]() { return SincronizzaClienti(ctx, w); };
    return steps;
}

} // namespace mirsalex
