#pragma once

#include "common/Error.h"
#include "common/Prompt.h"
#include "runtypes/RunState.h"
#include "runtypes/StepOutcome.h"

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
    // The copy was made (in a batch of copies: it is waiting to be put in
    // place).
    bool copied = false;
};

// Copies `source` over `destination` when the destination is missing or
// older (or `force` is 1); shows/asks when `prompt` > 0; counts the file
// offered into `counter`. The copy and the times it compares go through the
// run's change sink.
CopyResult copyIfNewer(RunState& w, const QString& source, const QString& destination, qint16& counter,
                       int prompt, int force = 0);

// The document stage, one step for each group, taken in this order. A
// group whose box is not ticked (1) is not taken up; a failure, already told
// to the user, ends the stage. The files the stage left alone are told once,
// when it ends.
//
// Indices: the indices database, only ever pushed to the exchange folder,
// always with its confirmation box.
StepOutcome sendIndices(RunState& w);
// Client cards and client sheets: sent, then received, newest wins.
StepOutcome exchangeCards(RunState& w);
StepOutcome exchangeSheets(RunState& w);

} // namespace mirsalex
