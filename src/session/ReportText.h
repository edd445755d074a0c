#pragma once

#include "runtypes/RunReport.h"

#include <array>
#include <functional>
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

namespace mirsalex {

// Short Italian description of how a step fared, for reports: "completato",
// "saltato: database non trovato: /x/DatiDV.mdb", "NON riuscito (errore 3021):
// ...", "interrotto: ...", "non richiesto", "non eseguito: ...".
QString describeStep(const StepReport& step);

// How a step fared, as one word for scripts: "done", "skipped", "stopped",
// "failed", "not_reached", "not_ticked".
QString stepStatusName(const StepReport& step);

// How a run ended, in one line for the window: "Aggiornamento completato."
// when every ticked step completed; otherwise whether nothing was
// transferred, and which groups were skipped, stopped or failed, with the
// reason ("NESSUN DATO TRASFERITO. DATI, VISITE: saltato: ...").
QString runOutcomeLine(const RunReport& report);
// The last line of a printed report: "Esito: completato", "Esito: INCOMPLETO, ...",
// "Esito: ERRORE in STEP (errore N)", or why no step ran.
QString reportOutcomeLine(const RunReport& report);

// An answer as the boxes name it ("Sì", "No", "OK", ...; "nessuna").
QString answerText(int answer);

// The readable report of a run that the run log keeps (the log adds the
// frame with the time): operator and side, each step with its outcome, the
// counters, every box shown with its answer, the outcome and the duration.
QString runLogText(const RunReport& report, const std::vector<ShownBox>& boxes);

// The report of a dry run as the user reads it: a heading that says nothing
// was written, the run log's report, the rows left different on the two
// sides (divergenceLines()), then every change the run would make
// (configuration keys, databases, files copied, sorted by place).
QString previewText(const RunReport& report, const std::vector<ShownBox>& boxes);

// The rows a run left different on the two sides: one line with the count
// per table compared ("Righe diverse sui due lati ...: Clienti 0, VisiteN 2"),
// then one line per row with its key and the fields that differ, local and
// exchange value.
QStringList divergenceLines(const RunReport& report);

// The report of a run as a JSON document (indented, UTF-8), for scripts.
QByteArray runReportJson(const RunReport& report, const std::vector<ShownBox>& boxes);

// The preview's text with the files of each group and direction in name
// order (sent before received).
QString sortedPreviewFiles(const QString& text);

} // namespace mirsalex
