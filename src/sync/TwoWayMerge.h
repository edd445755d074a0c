#pragma once

#include "config/Context.h"
#include "db/Database.h"
#include "runtypes/RunState.h"

#include <optional>
#include <QString>
#include <QStringList>

namespace mirsalex {

// The pieces shared by the merges of the visits database (action codes,
// actions, visits, appointments).

// Context texts of the two openings.
extern const QString kVisitsOpenLocal;    // "ERRORE NELL'APERTURA DEL DATABASE VISITE LOCALE"
extern const QString kVisitsOpenExchange; // "ERRORE NELL'APERTURA DEL DATABASE VISITE REMOTO"

// Checks the run's two paths, then rewrites them to the two visits databases
// (the local one under PathDati + operator, the exchange one beside the
// exchange clients database) and checks those. The rewrite stays in the
// window state for the rest of the chain; applied to visits paths it gives
// the same paths. Returns the skip (nothing shown) when a path is empty or a
// file is missing, nothing when the step can go on.
std::optional<StepOutcome> takeVisitsPaths(Context& ctx, RunState& w);

// An error number as the 16-bit CodErrore holds it: a number that does not
// fit (or is not above zero) is recorded as 32767, still a failure.
qint16 errorCode(const Error& error);

// The local visits database with one table of the exchange copy attached
// under its own name followed by "EX", for the length of one merge. Every
// write goes into one batch on the local connection, committed before any
// message is shown; the attachment and the file are closed on every path.
// The database goes through the run's change sink (a dry run withholds its
// writes).
class VisitsSession
{
public:
    VisitsSession(Context& ctx, ChangeSink& sink, QString table);
    ~VisitsSession() { close(); }
    VisitsSession(const VisitsSession&) = delete;
    VisitsSession& operator=(const VisitsSession&) = delete;

    // Opens the local file (context `openLocal`), attaches the exchange
    // table (context `openExchange`; an exchange file without the table
    // fails under `missingTable`, the context of the pass that would have
    // read it) and begins the batch.
    Error open(const QString& localPath, const QString& exchangePath, const QString& openLocal,
                 const QString& openExchange, const QString& missingTable);

    // Commits the batch (what is stored stays, whatever ended the work),
    // records `error` (or the commit's) in CodErrore, serves pending window
    // events once, detaches and closes. Idempotent.
    void finish(Error error);
    void close();

    Database& db() { return m_db; }
    const QString& table() const { return m_table; }
    const QString& attached() const { return m_attached; }

private:
    Context& m_ctx;
    ChangeSink& m_sink;
    QString m_localPath;
    QString m_table;
    QString m_attached;
    Database m_db;
    bool m_finished = false;
};

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
// may hold a value of the wrong kind (a text in a number key). A refusal
// sets the context text (with the reason on a second line where the
// context alone would not tell it) and returns the error; nothing is
// written.
Error planMerge(Context& ctx, Database& db, const MergePolicy& policy, const QString& attached,
                  MergePlan& plan);

// The two-pass merge of one table of the visits database: the exchange
// copy's missing rows are added locally, then the local ones (now including
// those) to the exchange copy, each pass walking its source in key order;
// marked rows are never copied, and once both passes succeeded they are
// deleted on both sides. Added rows get the mark " ". On success the
// "VISITE" box is greyed and the marker written; a failure shows its
// context text alone and keeps what was stored before it.
StepOutcome mergeBothWays(Context& ctx, RunState& w, const MergePolicy& policy);

// Adds to table `target` of `db` the rows of `source` whose key it lacks,
// walking `source` in key order, skipping marked rows and giving the added
// ones the mark " ". Set-based, with the row-by-row walk taking over when
// the statement fails, so that the rows before a failing one are added and
// counted. `added` counts the rows added. With `progress`, the pass is
// shown under the name `step`: its start and end for the one statement, each
// source row for the walk; progressEnd() closes it on every path.
// `toExchange` tells the direction; `target` is the target table's name as
// the database knows it (the local name, or the attached one).
Error copyMissingRows(Database& db, const MergePlan& plan, bool toExchange, const QString& target,
                        int& added, bool walkOnFailure, Prompt* progress = nullptr,
                        const QString& step = QString());

} // namespace mirsalex
