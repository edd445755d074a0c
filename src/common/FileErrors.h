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

// Explains a file error number in Italian and asks what to do. The drive
// named in the text is the first two characters of the file name, or
// `drive` when one is given (the mount point of a medium on this platform).
int MsgErroreFile(Prompt& prompt, int errorNumber, const QString& fileName, const QString& drive = QString());

// True when at least one entry matches `fileName` (which may hold wildcards;
// a folder path ending with the separator matches its ordinary files).
// `attributes` 0 means ordinary files. A failing search is explained through
// MsgErroreFile and retried on request; so is a name on a removable or
// mountable medium that is absent (error 71, "disk not ready", naming the
// medium's mount point), so the user can insert it and retry. `failure`,
// when given, receives the error number of a search that failed (0 when the
// search itself went through), so a caller can tell an unreadable folder
// from an empty one.
bool EsisteFile(Prompt& prompt, const QString& fileName, int attributes = 0, int* failure = nullptr);

} // namespace mirsalex
