#pragma once

#include "common/Error.h"
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
// characters); the empty text when the key or the file is missing. A file
// that is there but could not be read gives the empty text too: `failure`,
// when given and still empty, then receives the file and why
// ("file\nreason").
QString LeggiIni(const QString& file, const QString& section, const QString& key, QString* failure = nullptr);
// The same for the loaded configuration file (ctx.config.FileIni); the first
// read that failed since the load began is kept in ctx.LetturaIniFallita.
QString LeggiIni(Context& ctx, const QString& section, const QString& key);

// Writes key=value into a section (common/ProfileFile: under the file's
// lock, nothing written when the key holds the value already). Returns the
// error: the file and why it could not be written.
Error ScriviIni(const QString& file, const QString& section, const QString& key, const QString& value,
                bool* changed = nullptr);
// The text that tells a configuration file that could not be written:
// "ERRORE NEL FILE DI CONFIGURAZIONE", the file, then "non si può scrivere: "
// with the error's number and description, each on its own line.
QString MessaggioScritturaIni(const Error& error);
// The same, for the date a step records when it ends: followed by the line
// that the date was not recorded.
QString MessaggioDataNonRegistrata(const Error& error);

// First loading step: PathDati, PathWork, OperatoreBase.
void CaricaPercorsi(Context& ctx);

// Second loading step: every other field; needs CodOperatore. The folders
// it prepares are made when missing; with `wouldCreate` (a load that must
// write nothing: a dry run, --show-config, the versions) each one is listed
// there instead, and reads as prepared.
void CaricaParametri(Context& ctx, QStringList* wouldCreate = nullptr);

// Normalises and creates a configured folder ("%" marks a per-operator
// folder); reports a failure with "ERRORE " + label and returns the empty text.
// With `wouldCreate`, a missing folder is listed there instead of made.
QString PreparaCartella(Context& ctx, const QString& label, const QString& folder,
                        QStringList* wouldCreate = nullptr);

// True when `code` can name an operator folder: greater than "0" in
// character-code order and free of separators, "..", NUL and characters not
// allowed in a folder name.
bool CodiceOperatoreValido(const QString& code);

} // namespace mirsalex
