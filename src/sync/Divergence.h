#pragma once

#include "common/Error.h"
#include "runtypes/RunState.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex {

class Database;
struct MergePlan;

// What the merges leave as it is, read set-based from a merge's own open
// session, writing nothing: the rows a key has on both sides with different
// content, and (for a preview) the rows a pass is about to add or purge.

// Two tables compared row by row on their keys.
struct ComparedTables
{
    QString name;        // the table as a report names it ("Clienti", "VisiteN")
    QString local;       // the local table, as statements write it
    QString exchange;    // the exchange table, as statements write it
    QStringList keys;    // the key fields
    QList<bool> foldKey; // per key part: a text, matched without regard to case
    QStringList columns; // the other fields compared
    QString description; // a field whose local value describes the row (a client's name), or empty
    QString heldVisits;  // a visits text field compared as the merge holds it (13 characters), or empty
    // The highest row numbers of the two tables before a merge added rows
    // to them, or -1 (see lastRowNumbers).
    qint64 localBefore = -1;
    qint64 exchangeBefore = -1;
};

// The highest row numbers of a merge's two tables (plan.local and
// plan.exchange; `localName` and `exchangeName` as Database::columns names
// them) before it adds rows, or -1 for both when the rows it adds are not
// sure to be copies of their sources as the comparison sees them: a key or
// compared field declared differently on the two sides (a value copied
// would take the other side's kind), or no row numbers to read. A row
// numbered above these was added by the merge from the other side's row
// with the same key, written the same: that pair is not compared. Its time
// counts as the run's time spent on the rows left different.
void lastRowNumbers(RunState& w, Database& db, const MergePlan& plan, const QString& localName,
                    const QString& exchangeName, qint64& local, qint64& exchange);

// The rows whose key is on both sides and whose compared fields differ, one
// RowItem (Kind::Divergence) each, appended to `rows` with the fields that
// differ and both values; `count` is how many. Texts are compared as the
// merges compare keys: without regard to case (every letter, not only
// ASCII), trailing blanks ignored, Null as a blank; other values as stored.
// One statement.
Error findDivergences(Database& db, const ComparedTables& t, std::vector<RowItem>& rows, qint64& count);

// The tables of a visits-group merge, compared on the fields it copies
// (the deletion mark is not compared: marked rows are purged); `localBefore`
// and `exchangeBefore` from lastRowNumbers.
ComparedTables comparedTables(const MergePlan& plan, const QString& name, qint64 localBefore = -1,
                              qint64 exchangeBefore = -1);

// The files a merge's session compares: the local file and table, and the
// exchange file and table, attached under `attached`.
struct ComparedFiles
{
    QString localPath;
    QString localTable;
    QString exchangePath;
    QString exchangeTable;
    QString attached;
};

// After the merge of one table of the visits group (`counters` its place in
// kVisitsTableNames), from its open session: the rows left different, into
// the run's state. A failure is no failure of the step: the table stays
// not compared.
//
// In a run that writes, the comparison reads the files on a connection of
// its own on the run's side thread, held until the run releases it (the
// steps of the visits group to come write the same files); a dry run, whose
// merge is withheld in its session, compares there.
void noteDivergences(RunState& w, Database& db, const MergePlan& plan, const ComparedFiles& files,
                     int counters, qint64 localBefore = -1, qint64 exchangeBefore = -1);

// After the merge of the clients, from its open session (the exchange
// table attached there as `files.attached`): the clients left different,
// every field both tables have compared, the visits text as the merge holds
// it. In a run that writes, compared on the side thread at once, on a
// connection opened now: a copy that replaces the exchange file afterwards
// does not change what is compared.
void noteClientDivergences(RunState& w, Database& db, const ComparedFiles& files);

// A preview's rows, read only in a dry run, each before the statement that
// writes them, with the same conditions:
// - the rows a pass of a visits-group merge adds (`toExchange`: to the
//   exchange copy);
void noteRowsAdded(RunState& w, Database& db, const MergePlan& plan, const QString& name, bool toExchange);
// - the marked rows the purge removes from both sides;
void noteRowsPurged(RunState& w, Database& db, const MergePlan& plan, const QString& name);
// - the exchange clients missing locally (added) and the known clients
//   whose visits text differs as held (taken over), `local` and `exchange`
//   the two clients tables.
void noteClientRows(RunState& w, Database& db, const QString& local, const QString& exchange);

// A value as a report shows it: a day number in a date field as a date
// ("03/05/2026", "03/05/2026 14:30"), Null as "(nullo)", others as stored.
QString shownValue(const QString& field, const QVariant& value);

} // namespace mirsalex
