#pragma once

#include "config/Context.h"

#include <QString>

namespace mirsalex {

// Name of the product and of the program, used to find the configuration file.
QString productName(); // "Mirsal"

struct IniLocation
{
    bool found = false;
    QString fileIni;  // full path, or a bare file name for the shared configuration folder
    QString fullPath; // where the file actually is (empty when not found)
};

// Looks for the configuration file: program folder + program name + ".ini",
// program folder + product name + ".ini", then the same two names in the
// shared configuration folder. When none exists, fileIni is the product name +
// ".ini" and found is false.
IniLocation LocateIni(const QString& programFolder, const QString& programName);

// Reads a cleaned value (TAB and " ;" comments cut, trimmed, at most 99
// characters); the empty text when the key or the file is missing.
QString LeggiIni(const QString& file, const QString& section, const QString& key);

// Writes key=value into a section. A run does not stop on a failure (a
// read-only or full disk), but the failure is remembered, so the run can tell
// the user once that its dates and ticks were not recorded.
void ScriviIni(const QString& file, const QString& section, const QString& key, const QString& value);
// The configuration file of the first write that failed since the last
// reset; empty when every write went through.
QString ScritturaIniFallita();
void AzzeraScritturaIniFallita();
// The configuration file and why it could not be read ("file\nreason"), for
// the first read that failed since the load began (CaricaPercorsi); empty
// when every read went through. A value read then is not the file's, and a
// run must not write it back over the file's own.
QString LetturaIniFallita();

// First loading step: PathDati, PathWork, OperatoreBase.
void CaricaPercorsi(Context& ctx);

// Second loading step: every other field; needs CodOperatore.
void CaricaParametri(Context& ctx);

// Normalises and creates a configured folder ("%" marks a per-operator
// folder); reports a failure with "ERRORE " + label and returns the empty text.
QString PreparaCartella(Context& ctx, const QString& label, const QString& folder);

// True when `code` can name an operator folder: greater than "0" in
// character-code order and free of separators, "..", NUL and characters not
// allowed in a folder name.
bool CodiceOperatoreValido(const QString& code);

} // namespace mirsalex
