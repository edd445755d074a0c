#pragma once

#include "runtypes/RunState.h"

#include <QtGlobal>

namespace mirsalex {

// Clients synchronisation: adds the exchange copy's new clients to the local
// clients database, takes over the visits text of known clients after a name
// check, then offers the local file to the exchange area newest-wins.
// Its result is 0 when it completed, was skipped or was stopped by the user,
// otherwise the number of the error that ended it (already reported).
StepOutcome syncClients(RunState& w);

namespace detail {
// Makes every later synchronisation walk the exchange clients row by row, as
// it does when the tables do not allow the set-based statements: the
// reference the statements are compared with.
void setClientsRowWalkOnly(bool only);
} // namespace detail

} // namespace mirsalex
