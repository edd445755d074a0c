#pragma once

#include <QString>
#include <QtGlobal>

namespace mirsalex {

struct RunState;

// What a progress display says: the step, then what its numbers are.
//  - a document direction (`copied` not negative) counts the files examined
//    of those listed and the files copied so far:
//    "SCHEDE CLIENTI: invio: esaminati 3 di 11, copiati 1";
//  - any other step (a merge pass) counts rows:
//    "VisiteN: scambio -> locale: righe 120 di 400" ("righe 120" when the
//    total is not known, the step alone before the first row).
QString progressText(const QString& step, qint64 done, qint64 total, int copied);

// The files a document direction has copied so far, or would copy in a dry
// run (which copies nothing): "esaminati 3 di 11, da copiare 1".
struct CopyProgress
{
    int copied = -1; // -1: not a document direction
    bool dryRun = false;
};
QString progressText(const QString& step, qint64 done, qint64 total, const CopyProgress& copies);

// copiedSoFar() with whether the run is a dry run.
CopyProgress copyProgress(const RunState& w, const QString& step);

// The files copied so far by the document direction `step` names
// ("<group>: invio" or "<group>: ricezione"), from the run's counters;
// -1 for any other step.
int copiedSoFar(const RunState& w, const QString& step);

} // namespace mirsalex
