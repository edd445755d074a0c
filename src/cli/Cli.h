#pragma once

#include "session/Startup.h"

#include <cstdio>
#include <QString>
#include <QStringList>

namespace mirsalex {

class Prompt;
class RunLog;
struct VersionSettings;

// Options of the command line, shared by the program's faces.
struct CliOptions
{
    QString ini;               // --ini FILE: configuration file, search skipped
    QString operatorCode;      // --operator CODE
    QString side;              // --side desktop|portable (empty: desktop)
    bool debug = false;        // --debug: show and confirm every document copy
    bool yes = false;          // --yes: answer Yes to unattended questions
    QStringList answers;       // --answers LIST: scripted answers, consumed in order
    QString log;               // --log FILE: run log to append to (empty: the default one)
    QString report;            // --report text|json: batch report format (empty: text)
    bool dryRun = false;       // --dry-run: list what the run would move, write nothing
    bool allOperators = false; // --all-operators: every operator folder in turn
    bool importAccess = false; // --import-access: convert the operator's Access databases
    // Versions (changes/VersionStore.h).
    bool listVersions = false; // --versions: list the kept runs
    QString restore;           // --restore ID: put back the run of that entry (with --batch)
    bool noVersions = false;   // --no-versions: this run keeps no versions
    QString versionsDir;       // --versions-dir DIR: where versions are kept
    int keepVersions = 0;      // --keep-versions N: entries kept (0: the configured number)
    int keepDays = 0;          // --keep-days N: days kept (0: the configured number)
};

// Prints where the configuration file is and every loaded field.
int runShowConfig(const CliOptions& options);
// One transfer run without a window (with --import-access, the conversion of
// the operator's Access databases instead). Exit status as in exitstatus
// (run/RunReport.h): 0 done, 1 a step failed, 2 bad usage or failed
// start-up, 3 a ticked step skipped or stopped, 4 refused by the lock. With
// --all-operators, the worst of the runs (0 < 3 < 1 < 4 < 2).
int runBatch(const CliOptions& options);
// Lists the kept runs of the operator and side, newest first (text or JSON).
int runVersions(const CliOptions& options);
// Puts back the run of entry options.restore, under the run lock and with
// versions of its own (batch mode, after the password). Exit status 3 when a
// later run changed the same files or a folder is missing and --yes was not
// given, when the entry is another installation's, or when the question
// about an entry that does not say its installation is answered No; 1 when
// the entry is damaged (nothing is changed) or something could not be put
// back.
int runRestore(Prompt& prompt, std::FILE* out, const CliOptions& options, const QString& fileIni,
               const QString& code);
// Where versions are kept and how many: the configuration file's settings,
// then the command line's.
VersionSettings versionSettings(const CliOptions& options, const QString& fileIni);
// Sets or clears the access password from the terminal.
int runSetPassword(const CliOptions& options);

// The configuration file named by --ini (from the current folder), or found
// by the search the window makes. When there is none, prints "File di
// configurazione inesistente" on standard error and returns false.
// When the search fails, the places it looked in follow, one a line.
bool findConfiguration(const CliOptions& options, QString& fileIni, QString& fullPath);
// The places the configuration file is looked for, in search order (the
// --ini file alone when one is given).
QStringList configurationCandidates(const CliOptions& options);

// The --operator code as the window takes a typed one (trimmed, upper case).
// Returns false, after a message on standard error, when it cannot name an
// operator folder. An absent option gives the empty text.
bool operatorOption(const CliOptions& options, QString& code);

// Reads one line from the terminal without echo (from standard input as it
// is when that is not a terminal). False at the end of input.
bool readSecretLine(const char* question, QString& out);

} // namespace mirsalex
