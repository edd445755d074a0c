#pragma once

#include "changes/Restore.h"
#include "changes/VersioningChanges.h"
#include "changes/VersionStore.h"
#include "common/Error.h"
#include "common/RunLog.h"
#include "config/Context.h"
#include "runtypes/RunReport.h"
#include "session/OperatorForm.h"

#include <functional>
#include <memory>
#include <optional>
#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex {

class RecordingPrompt;
class RunDriver;

// How a run's changes are made: the one thing that tells a run from its dry
// run (the sink the session gives the driver).
enum class RunMode
{
    Versions, // made, each after a version of what it replaces is kept: the ordinary run
    Apply,    // made without versions (--no-versions)
    DryRun,   // withheld: worked out and reported, nothing written
};

// What a face asks of a run besides the form.
struct RunSettings
{
    RunMode mode = RunMode::Versions;
    VersionSettings versions; // with RunMode::Versions: where they are kept and how many
    // The run log that receives the run's entry; none keeps no entry. A dry
    // run never writes one.
    std::optional<RunLog> log;
    // The recorder that the context's prompt is, if any: the boxes the run
    // showed are taken from it (for the log, the report, the preview).
    RecordingPrompt* boxes = nullptr;
    // The questions of a dry run are not shown: each is answered Yes, as the
    // window's preview answers them, and listed with its answer.
    bool answerQuestions = false;
};

// What a run leaves for the face that asked for it.
struct SessionRun
{
    RunReport report;            // with the versions kept, when the mode keeps them
    std::vector<ShownBox> boxes; // every box of the run with its answer, in order
    // A run log that could not be written (which never fails the run): its
    // path and the error; no error when it was written or none was asked for.
    QString logPath;
    Error logError;
};

// The one way the faces run a transfer: the window ("&ESEGUI", "&ANTEPRIMA")
// and batch mode (--batch, --dry-run, --no-versions) give the form and the
// settings; the session builds the request and the sink of the mode, runs
// the driver with the program's steps, finishes the versions entry, fills the
// report, writes the run log and shows the results in the form.
class RunSession
{
public:
    explicit RunSession(Context& ctx);
    ~RunSession();
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    // Carries out the run the form asks for; `observer` hears it as it goes.
    SessionRun run(OperatorForm& form, const RunSettings& settings, RunObserver* observer = nullptr);
    // Whether a run of this session is under way (a run started meanwhile,
    // from a window event, is refused).
    bool running() const;

    // Whether `code` names an operator a run can work for (a code at or
    // below "000" never does: the run button then ends the program).
    static bool runnableOperator(const QString& code);

private:
    Context& m_ctx;
    std::unique_ptr<RunDriver> m_driver;
};

// The versions of the form's operator and side, of this installation.
VersionStore versionStoreFor(const Context& ctx, const OperatorForm& form, const VersionSettings& settings);

// What stands in the way of putting an entry back.
struct RestoreChecks
{
    VersionStore::Owner owner = VersionStore::Owner::This;
    QStringList missing; // folders not there now (an exchange area not mounted)
    QStringList later;   // items a later run (or the main application) changed again
};

// What a restore came to.
struct RestoreResult
{
    enum class Status
    {
        Restored,          // everything put back
        Failed,            // some items could not be put back (`failures`)
        Damaged,           // a kept file is damaged: nothing changed (`damaged`)
        OtherInstallation, // the entry is another installation's: nothing changed
        NotConfirmed,      // the face's question was answered No: nothing changed
        Refused,           // another run holds the operator's folders: nothing changed
    };
    Status status = Status::Restored;
    QStringList damaged;
    QStringList failures;
    QString entryMade; // the restore's own versions entry, empty when it kept nothing
    QString text;      // the restore's report, as the run log keeps it
    // A run log that could not be written: its path and the error.
    QString logPath;
    Error logError;
};

// Asked once the entry has passed the checks that refuse it outright: true
// to go on. The face asks through its prompt (or its options) and tells the
// user what `checks` holds as it sees fit.
using RestoreQuestion = std::function<bool(const VersionEntry& entry, const RestoreChecks& checks)>;

// The one restore of the faces: refuses another installation's entry and a
// damaged one, asks `confirm`, then under the run lock of the form's operator
// (a killed run's leftovers removed) puts the entry back through a sink that
// keeps versions in turn, so the restore can be undone too. The report text
// goes to `log` when one is given.
RestoreResult restoreVersion(Context& ctx, const OperatorForm& form, const VersionStore& store,
                             const VersionEntry& entry, const RestoreQuestion& confirm,
                             const std::optional<RunLog>& log = std::nullopt);

} // namespace mirsalex
