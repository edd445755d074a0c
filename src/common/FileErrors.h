#pragma once

#include <QString>

namespace mirsalex {

class Prompt;

// Result codes of MsgErroreFile.
enum FileErrorChoice : int
{
    SceltaRiprova = 0, // Retry
    SceltaIgnora = 1,  // Ignore
    SceltaChiudi = 2,  // OK, Cancel or Abort
    SceltaNessuna = 3, // no message for this number, or no known answer
};

// Explains a file error number in Italian and asks what to do.
int MsgErroreFile(Prompt& prompt, int errorNumber, const QString& fileName);

// True when at least one entry matches `fileName` (which may hold wildcards;
// a folder path ending with the separator matches its ordinary files).
// `attributes` 0 means ordinary files. A failing search is explained through
// MsgErroreFile and retried on request; `failure`, when given, then receives
// its error number (0 when the search itself went through), so a caller can
// tell an unreadable folder from an empty one.
bool EsisteFile(Prompt& prompt, const QString& fileName, int attributes = 0, int* failure = nullptr);

} // namespace mirsalex
