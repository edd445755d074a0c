#pragma once

#include "common/Error.h"
#include "config/Context.h"
#include "runtypes/RunState.h"

#include <QString>

namespace mirsalex {

// What a newest-wins copy came to.
struct CopyResult
{
    // The copy failed, or the file could not be counted.
    bool failed = false;
    // The file error of a copy that failed (number, text and the file
    // concerned, source or destination); none otherwise.
    Error error;
    // The number the failure goes by: the file error's, 6 for a counter
    // already at its limit; 0 otherwise.
    qint16 number = 0;
    // The answer the copy went by: the box's, or Yes when none was shown.
    int answer = AnswerYes;

    // True when it failed, as the callers test it.
    operator bool() const { return failed; }
};

// Copies `source` over `destination` when the destination is missing or
// older (or `force` is 1); shows/asks when `prompt` > 0; counts into
// Contatori(GruppoCorrente, DirezioneCorrente). The copy and the times it
// compares go through the run's change sink.
CopyResult CopiaFile(Context& ctx, RunState& w, const QString& source, const QString& destination, int prompt,
                     int force = 0);

// Document stage: indices database, client cards, client sheets. Returns
// true when it completed, false when it ended the run early.
bool AggiornaDocumenti(Context& ctx, RunState& w);

} // namespace mirsalex
