#pragma once

#include "access/JetConversion.h"
#include "common/Error.h"
#include "common/RunLog.h"
#include "config/Context.h"
#include "session/OperatorForm.h"
#include "session/RunSession.h"

#include <optional>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex {

// What converting an operator's Access databases came to.
struct ImportResult
{
    enum class Status
    {
        Converted,        // every Access database found was converted and put in its place
        NothingToConvert, // none of the operator's databases is an Access file
        Failed,           // some could not be converted (`files` says which and why)
        Refused,          // another run holds the operator's folders: nothing changed
    };
    Status status = Status::NothingToConvert;
    QString operatorCode;
    bool portable = false;
    bool dryRun = false;
    std::vector<access::Conversion> files; // one per Access database found, in the order found
    // A converted file that could not be put in place of the original: the
    // path and why (the original is left as it was).
    std::vector<std::pair<QString, Error>> notReplaced;
    QString entry;       // the versions entry the conversion keeps, empty when none
    QString entryFolder; // its folder
    QStringList pruned;  // entries pruned after it
    QString versionsFailure;
    qint64 durationMs = 0;
    QString text; // the report, as printed and as the run log keeps it
    QString logPath;
    Error logError;

    // 0 converted (or nothing to convert), 1 a file not converted or not put
    // in place, 4 refused by the lock; a dry run the status the conversion
    // would have.
    int exitStatus() const;
};

// Converts the Access databases of the form's operator, on both sides of the
// exchange (the clients and visits databases, local and in the exchange
// area, and the indices database with its exchange copy), into the
// program's format. Under the run lock of the operator's folders, like a
// run; each file is converted apart, checked, and only then put in place of
// the original through the sink of `mode`: with versions the original is kept
// first, so that the conversion can be put back (--restore); a dry run
// converts into a scratch folder only and reports what it would replace.
ImportResult importAccessDatabases(Context& ctx, const OperatorForm& form, RunMode mode,
                                   const VersionSettings& versions, const std::optional<RunLog>& log);

// After a run stopped by Access databases (report.accessDatabases), the
// window's offer: asks through the context's prompt whether to convert them
// now (No is the default) and, on Yes, converts them with versions and shows
// the result in a box and in the form's status line. Nothing when the run met no Access database or the
// answer is No.
std::optional<ImportResult> offerAccessImport(Context& ctx, OperatorForm& form, const RunReport& report,
                                              const VersionSettings& versions,
                                              const std::optional<RunLog>& log);

// The result as JSON (for --report json).
QByteArray importResultJson(const ImportResult& result);

} // namespace mirsalex
