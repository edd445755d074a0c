#pragma once

#include "config/Context.h"
#include "transfer/WindowState.h"

#include <QString>

namespace mirsalex {

// Load of the main window without the window itself (used by the window and
// by batch mode): paths, operator of the last run, transfer set, "DEBUG",
// operator list.
void CaricaFinestra(Context& ctx, WindowState& w);

// Operator list items: folder name upper-cased in 14 characters followed by
// its "DATA" date for the current side.
QStringList ElencoOperatori(Context& ctx, const WindowState& w);

// Fills the window with the transfer set of the current operator and side.
void AggiornaFinestra(Context& ctx, WindowState& w);

// Copies `source` over `destination` when the destination is missing or
// older (or `force` is 1); shows/asks when `prompt` > 0; counts into
// Contatori(GruppoCorrente, DirezioneCorrente). Returns true when it failed.
bool CopiaFile(Context& ctx, WindowState& w, const QString& source, const QString& destination, int prompt,
               int force = 0);

// Document stage: indices database, client cards, client sheets. Returns
// true when it completed, false when it ended the run early.
bool AggiornaDocumenti(Context& ctx, WindowState& w);

} // namespace mirsalex
