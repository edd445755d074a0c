#pragma once

#include "config/Context.h"
#include "runtypes/RunReport.h"

namespace mirsalex {

// The synchronisation steps this program provides, bound to a context.
SyncSteps StandardSteps(Context& ctx);

} // namespace mirsalex
