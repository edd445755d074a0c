#pragma once

#include "common/Prompt.h"
#include "db/Database.h"
#include "runtypes/RunState.h"

#include <functional>
#include <optional>
#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex {

// The merge skeleton shared by the five database steps: the clients (one
// way, with its name question and its visits text) and the visits database's
// action codes, actions, visits and appointments (both ways). Each step is a
// policy of the same pieces: a session on the local file with the other
// file's table attached, passes whose rows go in set-based statements, and a
// row walk only where a row needs a question, a value only the walk can
// convert, or a statement failed.

// Context texts of the two openings.
extern const QString kVisitsOpenLocal;    // "ERRORE NELL'APERTURA DEL DATABASE VISITE LOCALE"
extern const QString kVisitsOpenExchange; // "ERRORE NELL'APERTURA DEL DATABASE VISITE REMOTO"

// The two visits databases of the run, checked. The first step of the group
// that finds both clients databases takes the visits databases (the local
// one in the operator's folder under the data folder, the exchange one
// beside the exchange clients database) into the run's state; each later
// step checks those again. Returns the skip (nothing shown) when a path is
// empty or a file is missing, nothing when the step can go on.
std::optional<StepOutcome> takeVisitsPaths(RunState& w);

// An error number as a step's 16-bit outcome holds it: a number that does
// not fit (or is not above zero) is recorded as 32767, still a failure.
qint16 errorCode(const Error& error);

// The local database with one table of the exchange copy attached under
// `attached` (by default its own name followed by "EX"), for the length of
// one merge. Every write goes into one batch on the local connection,
// committed before any message is shown; the attachment and the file are
// closed on every path. The database goes through the run's change sink (a
// dry run withholds its writes). The session keeps the context text of the
// step being attempted, the text a failure shows.
class MergeSession
{
public:
    MergeSession(Prompt& prompt, ChangeSink& sink, QString table, QString attached = QString());
    ~MergeSession() { close(); }
    MergeSession(const MergeSession&) = delete;
    MergeSession& operator=(const MergeSession&) = delete;

    // Opens the local file (context `openLocal`) and attaches the exchange
    // table (context `openExchange`; an exchange file without the table
    // fails under `missingTable`, the context of the pass that would have
    // read it). The files changed in place (the local one, and the exchange
    // one when `exchangeChanged`) are offered to the sink, in that order,
    // just before the first row of either changes, so that it may keep a
    // version of each; a merge that changes nothing offers none. When it
    // could not keep one, no row is written and the merge fails as a file
    // that could not be opened (see keepRefused(); finish() tells it under
    // `openLocal`). The batch is begun by begin(). Sets context() to the
    // part that failed (to `openExchange` when none did).
    Error open(const QString& localPath, const QString& exchangePath, const QString& openLocal,
               const QString& openExchange, const QString& missingTable, bool exchangeChanged = true);
    // `writes`: the tables the first batch writes (see
    // Database::beginBatch()); none named, every file.
    Error begin(const QStringList& writes = {}) { return m_db.beginBatch(writes); }

    // Commits the batch (what is stored stays, whatever ended the work),
    // serves pending window events once, detaches and closes; returns
    // `error`, or else the commit's. Idempotent: once finished it returns
    // no error.
    [[nodiscard]] Error finish(Error error);
    void close();

    Database& db() { return m_db; }
    const QString& table() const { return m_table; }
    const QString& attached() const { return m_attached; }
    const QString& context() const { return m_context; }
    void setContext(const QString& text) { m_context = text; }
    // The failure of the sink to keep a version (see open()), and the
    // context it is told under.
    const Error& keepRefused() const { return m_keepRefused; }
    const QString& openContext() const { return m_openContext; }

private:
    Prompt& m_prompt;
    ChangeSink& m_sink;
    QString m_localPath;
    QString m_table;
    QString m_attached;
    QString m_context;
    QString m_openContext;
    Error m_keepRefused; // the version the sink could not keep, before any row changed
    Database m_db;
    bool m_finished = false;
};

// One pass of a merge. The rows its statements can take are written
// set-based, a run at a time; the rows they cannot take are walked one by
// one between the runs, in the order the walk reads them, so that every
// row is handled in that order whichever way it goes. A run whose
// statements fail is walked instead when the pass allows it.
struct MergePass
{
    // A statement writing a run of source rows: "{rows}" in it stands for
    // the run as a condition on the source rows' numbers (s.rowid), or "1"
    // for all of them. What it changes is added to `count`.
    struct Write
    {
        QString sql;
        int* count = nullptr;
        // A query (with "{rows}" as above) giving a row exactly when the
        // statement changes rows or fails: see Database::executeProbed.
        QString changesIf;
        // When set, a query (with "{rows}" as above) giving the numbers
        // (s.rowid) of the source rows the statement writes, and the
        // statement chooses them with "{listed}" (the rows between the
        // first and the last listed, each looked up with mx_listed, see
        // Database::setListedRows) instead of reading its own target. With an
        // empty list it reads no row; else it writes rows or fails.
        QString listed;
    };
    std::vector<Write> writes;
    // The statements call mx_walk(s.rowid) for each source row they leave
    // to the walk (a row that needs a question, or a value only the walk
    // converts). They are first run over every row at once; when a row was
    // left, that is taken back and they run a run at a time around the rows
    // left, each of which is walked in its place. Without it the statements
    // take every row.
    bool leavesRows = false;
    // Walks the source rows matching `rows` (a condition of the same form)
    // in walk order; sets `stop` when the walk ended the pass early.
    std::function<Error(const QString& rows, bool& stop)> walk;
    bool walkOnFailure = true;
    // Rows written between two commits of the batch; 0 commits only at the end.
    int commitEvery = 0;
};

// Runs a pass; `stopped` tells whether its walk ended it early.
Error runPass(Database& db, const MergePass& pass, bool& stopped);

// The policy of one table in the two-pass merge: which rows, which fields,
// which mark, which counters and texts.
struct MergePolicy
{
    QString table;      // table name in both files
    QStringList keys;   // fields of the index "primaria", in order
    QStringList copied; // the other fields copied, in order
    QString mark;       // deletion mark field ("S" marked), empty when none
    QString passIn;     // context of the exchange-to-local pass
    QString passOut;    // context of the local-to-exchange pass and the purges
    QString marker; // marker of section "EXPORT" ("DATV", "DATP", "DATZ"); none: no marker, box left alone
    // Where the run counts the table's rows (received and purged each side).
    VisitsTable counters = kTabAzioni;
    QString openLocal = kVisitsOpenLocal;       // context of opening the local file
    QString openExchange = kVisitsOpenExchange; // context of reaching the exchange table
    // Whole rows move: every column of the table, the keys' and the others
    // (named as the local table names them); both tables must have the
    // same columns, or the merge is refused before anything is written.
    bool wholeRows = false;
    // A pass whose statement fails is walked row by row, keeping the rows
    // before the failing one; without it a pass adds all its rows or none.
    bool walkOnFailure = true;
};

// What a merge works on once both tables are known: their names as the
// statements write them, the fields, and which key parts are texts
// (compared without regard to case).
struct MergePlan
{
    QString local;      // "main"."VisiteN"
    QString exchange;   // the attached file's table
    QStringList keys;   // as the policy names them
    QStringList copied; // the policy's, or every other column for whole rows
    QString mark;
    QList<bool> foldKey; // per key part: a text, matched without regard to case
};

// Checks both tables and plans the merge: the local table must exist (an
// unqualified name the local file lacks would reach the exchange file's
// table), whole rows need the same columns on both sides, and no key field
// may hold a value of the wrong kind (a text in a number key). Sets
// `context` to the policy's `passIn`; a refusal adds the reason on a second
// line where the context alone would not tell it and returns the error;
// nothing is written.
Error planMerge(Database& db, const MergePolicy& policy, const QString& attached, MergePlan& plan,
                QString& context);

// The two-pass merge of one table of the visits database: the exchange
// copy's missing rows are added locally, then the local ones (now including
// those) to the exchange copy, each pass walking its source in key order;
// marked rows are never copied, and once both passes succeeded they are
// deleted on both sides. Added rows get the mark " ". On success the
// "VISITE" box is greyed and the marker written; a failure shows its
// context text alone and keeps what was stored before it.
StepOutcome mergeBothWays(RunState& w, const MergePolicy& policy);

// Adds to table `target` of `db` the rows of `source` whose key it lacks,
// walking `source` in key order, skipping marked rows and giving the added
// ones the mark " ". Set-based, with the row-by-row walk taking over when
// the statement fails, so that the rows before a failing one are added and
// counted. `added` counts the rows added. With `progress`, the pass is
// shown under the name `step`: its start and end for the one statement, each
// source row for the walk; progressEnd() closes it on every path.
// `toExchange` tells the direction; `target` is the target table's name as
// the database knows it (the local name, or the attached one).
Error copyMissingRows(Database& db, const MergePlan& plan, bool toExchange, const QString& target, int& added,
                      bool walkOnFailure, Prompt* progress = nullptr, const QString& step = QString());

} // namespace mirsalex
