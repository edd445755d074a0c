#pragma once

#include "common/DestinationName.h"
#include "common/Platform.h"

#include <optional>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

namespace mirsalex {

class Database;

// The one way a run changes anything on disk: a configuration key written,
// a file replaced by a copy, a database transaction committed, a leftover
// temporary removed. A run never writes past it, so what decides whether a
// change is made lives here only:
// - apply: the change is made, durably;
// - dry run: the change is recorded and reported, nothing is written, and
//   what later steps of the same run read back (a file's time after a copy
//   or a merge) is answered as the change would have left it.
// Every change is recorded in both modes, in the order made.
class ChangeSink
{
public:
    enum class Mode
    {
        Apply,
        DryRun,
    };
    struct Change
    {
        enum class Kind
        {
            Key,      // path: the configuration file; detail: "[section] key=value"
            File,     // path: the file replaced; detail: the file it is a copy of
            Database, // path: the database; detail: rows changed
            Removal,  // path: the file removed
        };
        Kind kind;
        QString path;
        QString detail;
        // The file a copy was made from.
        const QString& source() const { return detail; }
    };

    virtual ~ChangeSink() = default;
    virtual Mode mode() const = 0;
    bool dryRun() const { return mode() == Mode::DryRun; }

    // Writes key=value in a section of the configuration file; the error
    // that stopped it (the file and the cause), if any. The change is
    // recorded once made, and only when the key did not hold the value
    // already.
    [[nodiscard]] virtual Error writeKey(const QString& file, const QString& section, const QString& key,
                                         const QString& value) = 0;
    // Replaces `destination` with a copy of `source` carrying its time (both
    // paths as they stand on disk); the error that stopped it, if any. In a
    // batch of copies (below) the copy may only be waiting when this returns.
    [[nodiscard]] virtual Error copyFile(const QString& source, const QString& destination,
                                         DestinationName known) = 0;
    [[nodiscard]] Error copyFile(const QString& source, const QString& destination)
    {
        return copyFile(source, destination, DestinationName::Unknown);
    }

    // What a batch of copies has come to.
    struct CopyBatchState
    {
        Error failure;             // the first putting in place that failed; none while none did
        QString failedDestination; // the destination it failed on
        int dropped = 0;           // copies copyFile() accepted that never reached their place
    };
    // A batch of copies: from beginCopies() to endCopies(), copyFile() may
    // leave each copy waiting beside its destination, to be put in place with
    // others (the disk is flushed once for many); commitCopies() puts every
    // waiting copy in place, endCopies() drops those still waiting. A copy is
    // recorded once it is in place, never before. Batches are not nested.
    // A sink that makes every copy at once keeps these as they are.
    virtual void beginCopies() {}
    virtual void commitCopies() {}
    virtual void endCopies() {}
    virtual CopyBatchState copyBatch() const { return {}; }

    // A batch of copies for one scope (see beginCopies()): the copies still
    // waiting when it ends are dropped.
    class CopyBatch
    {
    public:
        explicit CopyBatch(ChangeSink& sink) : m_sink(sink) { m_sink.beginCopies(); }
        ~CopyBatch() { m_sink.endCopies(); }
        CopyBatch(const CopyBatch&) = delete;
        CopyBatch& operator=(const CopyBatch&) = delete;

        void commit() { m_sink.commitCopies(); }
        CopyBatchState state() const { return m_sink.copyBatch(); }

    private:
        ChangeSink& m_sink;
    };

    // The modification time of `path` in seconds as this run has left it,
    // none when there is no such file.
    virtual std::optional<qint64> modificationTime(const QString& path) const = 0;
    // The same for the file `name` of `folder` (a path as it stands on disk,
    // with its separator) whose time the caller has just read in a listing
    // (`onDisk`): a sink that makes its changes answers it as it is; one
    // that withholds them, what they would have left.
    virtual std::optional<qint64> timeAsLeft(const QString& folder, const QString& name,
                                             std::optional<qint64> onDisk) const
    {
        (void)folder;
        (void)name;
        return onDisk;
    }
    // The names of the files this run has put in `folder` (a path as it
    // stands on disk) that the folder itself does not hold: none when the
    // changes are made, the files a dry run only recorded otherwise.
    virtual QStringList filesCreatedIn(const QString& folder) const
    {
        (void)folder;
        return {};
    }
    // A database a step is about to open: in a dry run its writes are
    // withheld (see Database::setWritesWithheld).
    virtual void prepareDatabase(Database& db) = 0;
    // A database file a step is about to change in place (as it stands on
    // disk), named before the step opens or attaches it. A sink that keeps
    // versions copies it first; when it cannot, it returns the reason and the
    // step must not write to the file: it fails instead.
    [[nodiscard]] virtual Error willChangeDatabase(const QString& path)
    {
        (void)path;
        return {};
    }
    // A step has committed `rows` changed rows of the database `path` (called
    // once per file and step, when it changed something).
    virtual void databaseCommitted(const QString& path, qint64 rows) = 0;
    // Removes the temporaries that killed runs left in `folder` (a path as it
    // stands on disk, with its separator), each recorded once it is gone; a
    // dry run records those it would remove. Returns how many.
    virtual int removeStaleTemporaries(const QString& folder) = 0;

    const std::vector<Change>& changes() const { return m_changes; }

protected:
    void record(Change::Kind kind, const QString& path, const QString& detail = QString())
    {
        m_changes.push_back({kind, path, detail});
    }

private:
    std::vector<Change> m_changes;
};

} // namespace mirsalex
