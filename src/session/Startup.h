#pragma once

#include <QString>
#include <QStringList>

namespace mirsalex {

class RunLog;

// The text of a start that found no configuration file.
inline constexpr const char* kMissingConfiguration = "File di configurazione inesistente";

// The program's own folder and base name (for the configuration file search).
QString programFolder();
QString programName();

// The places the configuration file is looked for, in search order (`ini`
// alone when one is given).
QStringList configurationCandidates(const QString& ini, const QString& folderOfProgram,
                                    const QString& nameOfProgram);
// "File di configurazione inesistente", then "Cercato in:" and the places.
QString missingConfigurationText(const QStringList& searched);
// Appends a run log entry for a start that found no configuration file.
void logMissingConfiguration(const RunLog& log, const QStringList& searched);

// The message shown when the password store exists but cannot be read.
QString damagedPasswordText(const QString& storePath);

} // namespace mirsalex
