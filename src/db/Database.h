#pragma once

#include "db/DbError.h"
#include "db/Sqlite.h"

#include <functional>
#include <memory>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariantList>
#include <vector>

struct sqlite3;

namespace mirsalex {

class Database;

// What a database must be able to do with the recordsets open on it: close
// them before it closes itself, so no statement outlives its connection.
class RecordsetBase
{
public:
    RecordsetBase(const RecordsetBase&) = delete;
    RecordsetBase& operator=(const RecordsetBase&) = delete;
    virtual void close() = 0;
    // Ends any read the recordset keeps open from one call to the next on
    // its own account (not one its caller is walking), so that the database
    // can detach a file or run a statement of its own.
    virtual void releaseReads() {}

protected:
    explicit RecordsetBase(Database& db);
    virtual ~RecordsetBase();
    // Drops the link to the database (called by the database when it closes).
    void forgetDatabase() { m_db = nullptr; }
    Database* m_db;

    friend class Database;
};

// One open database file on the embedded engine, SQLite, through its own C
// library: the connection is owned here (sqlite::Connection) and every
// statement on it is compiled on that one interface.
//
// A file is only ever opened, never created: the path must name an existing
// SQLite database, checked before anything is trusted (header, size against
// the page count, readable schema), and the engine is asked for an existing
// file for reading and writing only (a "file:" URI with mode=rw, never
// SQLITE_OPEN_CREATE). Every open uses a connection of its own. Files keep
// a rollback journal, never a write-ahead log, so that a closed file is
// complete on its own and can be copied as a whole.
//
// A table of another file is attached under a local name for the length of
// one synchronisation: the other file is attached to this connection under a
// private schema name, and the local name is a TEMP view over its table for
// reading. Writes name the local name too: execute() sends a statement whose
// target is the local name to the table in the other file, and a table
// recordset opened on the local name reads and writes that table. (The
// engine lets no trigger write a table of an attached file by its schema
// name, so the view carries no triggers.) TEMP objects and attachments live
// in the connection only, so attaching never writes to the local file, and
// a leftover attachment cannot survive a failure or a crash: closing the
// connection removes it.
//
// Writes are grouped in batches (one transaction per batch) when the caller
// asks for it; otherwise each statement commits on its own.
class Database
{
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens the existing database file at `path` (resolved without regard to
    // case). Fails with 3044 (no path), 3024 (missing), 3051 (unreadable),
    // 3343 (not a database of this engine) or 3049 (damaged or truncated).
    Error open(const QString& path);
    bool isOpen() const { return m_conn.isOpen(); }
    QString path() const { return m_path; }

    // True when `name` is a table (or an attached table) of this database.
    bool hasTable(const QString& name) const;

    // What a column's declared type makes of the values it holds, by the
    // engine's own rules.
    enum class ColumnKind
    {
        Integer,
        Real, // REAL, FLOAT, DOUBLE, NUMERIC and the other number types
        Text,
        Any // no declared type, or BLOB: values are kept as they come
    };
    static ColumnKind kindOf(const QString& declaredType);
    struct ColumnInfo
    {
        QString name;
        ColumnKind kind = ColumnKind::Any;
        int keyPart = 0;  // 1-based place in the primary key, 0 when not part of it
        QString declared; // the type as the table declares it
    };
    // The columns of table `name` (or of an attached table), in the order
    // of the table. Fails with 3078 when there is no such table.
    Error columns(const QString& name, QList<ColumnInfo>& out) const;
    // The table's name as statements must write it, with its schema:
    // "main"."VisiteN" for a table of this file, the other file's schema for
    // an attached one. Empty when there is no such table. An unqualified
    // name that this file lacks would reach a table of an attached file.
    QString qualified(const QString& name) const;

    // Attaches the table `sourceTable` of the file `otherFile` under the
    // local name `localName`. A previous attachment of that name is removed
    // first. Fails (and leaves nothing behind) when the other file cannot be
    // opened as a database or has no such table.
    Error attachTable(const QString& localName, const QString& otherFile, const QString& sourceTable);
    // Removes an attachment; errors are ignored. Commits a pending batch first.
    void detachTable(const QString& localName);
    bool isAttached(const QString& localName) const { return m_attachments.contains(localName.toLower()); }
    // Sets the page cache of this file and of each file attached now to
    // `kib` KiB (a connection that reads each page once needs little).
    void limitCache(int kib);

    // Runs one action statement (INSERT, UPDATE, DELETE; "DELETE * FROM" is
    // accepted) so that it completes whole or changes nothing. `rowsAffected`
    // receives the number of rows changed when not null.
    Error execute(const QString& statement, int* rowsAffected = nullptr);
    // The same with values bound to the statement's parameters ("?"), in
    // order (see Statement::bind); they are never written into its text.
    // Fails with 3061, changing nothing, when their number is not the
    // statement's.
    Error execute(const QString& statement, const QVariantList& params, int* rowsAffected = nullptr);
    // The same for a statement that changes rows exactly when the query
    // `changesIf` (run on its own, without parameters) gives a row, or
    // fails. While the files await their first change (see
    // setBeforeFirstChange), the query decides whether the call is made
    // before the statement runs, so that a statement that must set its rows
    // aside before writing the first one does not do so twice.
    Error executeProbed(const QString& statement, const QString& changesIf, int* rowsAffected = nullptr);

    // Batches: begin, commit. Committing without a batch is not an error. A
    // batch that cannot be committed is rolled back and its error returned.
    // A batch takes the file for writing when it begins, waiting for another
    // program's write to end for at most busyTimeout(); past that it fails
    // with 3218, before anything is read or written in it.
    //
    // `writes`, when given, names the tables ("schema.table", see
    // qualified()) the batch will write: it then takes only their files for
    // writing, the same way, and the others only as it reads them. A batch
    // that writes one file of several commits it on its own, without the
    // engine's record of a commit across files (a file and two flushes
    // fewer). A batch that writes a file it did not name takes it at its
    // first write, without waiting.
    Error beginBatch(const QStringList& writes = {});
    // The tables the batch was begun for (none: every file).
    const QStringList& batchWrites() const { return m_batchWrites; }
    Error commitBatch();
    // Abandons the rows written since the batch began.
    void rollbackBatch();
    bool inBatch() const { return m_batch != nullptr; }
    // Batches committed whole through this object: one more means that
    // every write made before it is stored. (A batch the engine gave up in
    // the middle, or one that failed to commit, does not count.)
    quint64 batchesKept() const { return m_batchesKept; }
    // A point inside the batch that the writes made after it can be taken
    // back to, all together: markPoint(), then keepPoint() or
    // takeBackToPoint(). One point at a time.
    Error markPoint();
    Error keepPoint();
    Error takeBackToPoint();
    // While `rows` is set, statements may call mx_walk(x): it adds x to
    // `rows` and gives 0. A set-based statement names with it the source
    // rows it leaves to a row walk. Statements may also call:
    // - mx_text(x): a text as the program stores it (TestoODefault), failing
    //   the statement on a value that is neither a text nor Null;
    // - mx_number(x): a number as the program stores it (NumeroOZero),
    //   failing the statement on a value that is neither a number nor Null.
    void setWalkNotes(std::vector<qint64>* rows) { m_walkNotes = rows; }
    // While `rows` (in ascending order) is set, statements may call
    // mx_listed(x): 1 when x is among them, else 0. A statement that would
    // read the table it writes to choose its rows (and so set every row it
    // writes aside before writing the first) takes them from a list made
    // just before it instead.
    void setListedRows(const std::vector<qint64>* rows) { m_listed = rows; }
    // The first column of every row of `query`, as whole numbers, in order.
    Error rowNumbers(const QString& query, std::vector<qint64>& out) const;
    // Changes whenever a batch begins or ends, a statement is executed, an
    // attachment changes or the database closes: a reader that keeps a read
    // open from call to call starts it again when this has moved.
    quint64 epoch() const { return m_epoch; }

    // Closes every recordset open on it (they stay bound to it), commits a pending batch,
    // removes the attachments and closes the file. Errors are ignored.
    void close();

    // Withheld writes, for a dry run: every statement works as usual and
    // reads its own writes, but nothing ever reaches the disk, not even a
    // journal. Set before open(). The journal is kept in memory and the page
    // cache never spills to the file; the first write (or batch) opens one
    // transaction that commitBatch() leaves open and close() rolls back, so
    // that the files stay byte for byte as they were, also when the process
    // is killed half way.
    void setWritesWithheld(bool withheld) { m_withheld = withheld; }
    bool writesWithheld() const { return m_withheld; }
    // Rows changed through this connection since it opened (withheld or not),
    // each once (not again when a statement ran again for the first change).
    qint64 totalChanges() const;
    // Opens the withheld transaction when writes are withheld and none is
    // open yet: called before any write outside a batch.
    Error prepareWrite();

    // A call made once, before the first statement that changes a row of
    // this connection's files (its own or an attached one) is kept: a step
    // that keeps a version of what it changes copies the files there, and
    // only when something does change. A statement that changes no row
    // (an INSERT whose SELECT finds nothing) does not count, and neither do
    // batches, savepoints, attachments and settings. The files are handed
    // over whole, as they stand on disk: no write of this connection has
    // reached them nor any journal beside them; a batch that has changed
    // nothing yet is ended for the call (there is nothing to store) and
    // begun again after it. When the call fails, the statement is not run
    // and fails with that error, as does every later change through this
    // connection. Set after open(); close() forgets it.
    void setBeforeFirstChange(std::function<Error()> call);
    // Called by every writer just before a statement that changes rows is
    // run (execute() itself, and the table recordsets): the call above, if
    // it is still due; the error that refused it, once it has failed.
    Error aboutToChange();
    // True once that call has failed: a writer then stops instead of trying
    // its rows one by one.
    bool changesRefused() const { return bool(m_changeRefused); }

    // The connection on the engine's own interface, for statements run row
    // by row (see Statement); null while closed. Statements compiled on it
    // must be finalized before the database closes (a recordset's are, when
    // it closes).
    sqlite3* handle() const { return m_conn.get(); }

    // Where a table really lives: schema name and table name (an attached
    // local name leads to its source table in the other file). Empty schema
    // when there is no such table.
    struct TableLocation
    {
        QString schema;
        QString table;
    };
    TableLocation locate(const QString& name) const;

    // Translates an engine result code (extended codes included) and its
    // message into an engine error.
    static Error fromNative(int code, const QString& text, const QString& object = QString());
    // Checks that `path` looks like an intact database file of this engine.
    static Error checkFile(const QString& path);
    // How long an open database waits for another program's lock on its
    // file before an operation fails with 3218, in milliseconds (5 seconds
    // unless changed; tests shorten it).
    static int busyTimeout();
    static void setBusyTimeout(int milliseconds);
    // Quotes an identifier for SQL text.
    static QString quoted(const QString& identifier);

private:
    friend class RecordsetBase;
    struct Attachment
    {
        QString localName;
        QString schema;
        QString sourceTable;
    };

    Error run(const QString& sql);
    // Runs `sql` as well as it goes: a setting or a cleanup whose failure is
    // no failure of the caller.
    void tryRun(const QString& sql);
    // The first column of the first row of `sql` (bound to `params`).
    Error scalar(const QString& sql, const QVariantList& params, QVariant& out) const;
    Error lastError(const QString& object) const;
    void dropAttachment(const Attachment& a);

public:
    // Records a failed statement; when the engine has rolled back the whole
    // batch because of it, the next commitBatch() reports that error.
    Error noteFailure(const Error& error);

private:
    Error executeWith(const QString& statement, const QVariantList& params, const QString& changesIf,
                      int* rowsAffected);
    // Begins the batch taking the files of m_batchWrites for writing (every
    // file when it names none).
    Error openBatch();
    sqlite::Connection m_conn;
    QString m_path;
    std::unique_ptr<sqlite::Transaction> m_batch;
    QStringList m_batchWrites; // the tables the batch takes for writing (none named: every file)
    quint64 m_epoch = 0;
    bool m_batchLost = false;
    bool m_withheld = false;
    quint64 m_batchesKept = 0;
    std::vector<qint64>* m_walkNotes = nullptr;
    const std::vector<qint64>* m_listed = nullptr;
    std::function<Error()> m_beforeFirstChange;
    Error m_changeRefused;
    bool m_pointMarked = false; // a markPoint() not yet kept or taken back to
    // Changes a statement made before the first change was told, taken back
    // and made again: left out of totalChanges().
    qint64 m_changesTakenBack = 0;
    Error m_batchLostError;
    QHash<QString, Attachment> m_attachments; // by lower-case local name
    QList<Attachment> m_lingering;            // detached by name while writes are withheld
    QList<RecordsetBase*> m_recordsets;
};

} // namespace mirsalex
