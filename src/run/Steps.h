#pragma once

#include "run/RunDriver.h"

namespace mirsalex {

// The synchronisation steps this program provides, bound to a context and a
// window state.
SyncSteps StandardSteps(Context& ctx, WindowState& w);

} // namespace mirsalex
