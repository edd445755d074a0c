#pragma once

#include "runtypes/RunReport.h"

namespace mirsalex {

// The steps this program provides: the clients, the visits group and the
// three groups of the document stage, each working on the run's state.
SyncSteps StandardSteps();

} // namespace mirsalex
