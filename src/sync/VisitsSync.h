#pragma once

#include "runtypes/RunState.h"

#include <array>

namespace mirsalex {

struct MergePolicy;

// The visits group, run in this order on the local VisiteDV.mdb and the one
// beside the exchange clients database (see takeVisitsPaths()). Each is
// skipped silently when a file is missing, and after a failure has shown its
// context text.

// Action codes: each side receives the codes (whole rows of TabAzioni) that
// only the other side has; nothing else changes.
StepOutcome mergeActionCodes(RunState& w);

// Actions (Azioni, key client and action code, deletion mark AzDelete).
StepOutcome syncActions(RunState& w);

// Visits (VisiteN, key client and date); counts the visits added.
StepOutcome syncVisits(RunState& w);

// Appointments (Appuntamenti, key client, date and action, deletion mark
// ApDelete); counts the appointments added.
StepOutcome syncAppointments(RunState& w);

// The tables of the group, for what works out a run without running it.
// Action codes: table and key only (each side receives the whole rows whose
// code the other lacks, with no mark and no counters).
const MergePolicy& actionCodesPolicy();
// Actions, visits and appointments, in the order a run merges them.
const std::array<const MergePolicy*, 3>& twoWayPolicies();

} // namespace mirsalex
