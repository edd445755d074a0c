#pragma once

#include "config/Context.h"
#include "runtypes/RunState.h"

#include <QString>

namespace mirsalex {

// Copies `source` over `destination` when the destination is missing or
// older (or `force` is 1); shows/asks when `prompt` > 0; counts into
// Contatori(GruppoCorrente, DirezioneCorrente). The copy and the times it
// compares go through the run's change sink. Returns true when it failed.
bool CopiaFile(Context& ctx, RunState& w, const QString& source, const QString& destination, int prompt,
               int force = 0);

// Document stage: indices database, client cards, client sheets. Returns
// true when it completed, false when it ended the run early.
bool AggiornaDocumenti(Context& ctx, RunState& w);

} // namespace mirsalex
