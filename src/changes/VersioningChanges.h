#pragma once

#include "changes/ApplyChanges.h"
#include "changes/VersionStore.h"
#include "common/RunLock.h"
#include "runtypes/ChangeSink.h"
#include "runtypes/RunReport.h"

#include <optional>
#include <QSet>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace mirsalex {

class Prompt;

// The sink of a real run with versions: each change is made by ApplyChanges,
// after a version of what it replaces has been kept. When a version cannot
// be kept (no room, no permission), the change is not made: the user is told
// once (the folder and the cause), and the step gets the error.
class VersioningChanges final : public ChangeSink
{
public:
    // `restores`: the entry this run puts back (a restore), else empty.
    // `kind`: what made the entry when it is neither a run nor a restore
    // ("conversione": Access files converted), else empty.
    VersioningChanges(VersionStore store, Prompt& prompt, QString restores = QString(),
                      QString kind = QString());
    ~VersioningChanges() override;

    Mode mode() const override { return Mode::Apply; }
    [[nodiscard]] Error writeKey(const QString& file, const QString& section, const QString& key,
                                 const QString& value) override;
    using ChangeSink::copyFile;
    [[nodiscard]] Error copyFile(const QString& source, const QString& destination,
                                 DestinationName known) override;
    void beginCopies() override { m_apply.beginCopies(); }
    void commitCopies() override { m_apply.commitCopies(); }
    void endCopies() override { m_apply.endCopies(); }
    CopyBatchState copyBatch() const override { return m_apply.copyBatch(); }
    std::optional<qint64> modificationTime(const QString& path) const override;
    void prepareDatabase(Database& db) override;
    [[nodiscard]] Error willChangeDatabase(const QString& path) override;
    void databaseCommitted(const QString& path, qint64 rows) override;
    int removeStaleTemporaries(const QString& folder) override;

    // A restore's own changes: a file removed, a key removed (each kept
    // first, like every other change).
    [[nodiscard]] Error removeFile(const QString& path);
    [[nodiscard]] Error removeKey(const QString& file, const QString& section, const QString& key);

    // Ends the entry: records what the run left and its counters, then
    // removes the entries beyond the settings (under the lock of the store).
    void finish(const RunReport* report, bool prune = true);

    const VersionStore& store() const { return m_store; }
    // The entry this run made; empty when it kept nothing.
    const QString& entryId() const { return m_entry.id; }
    QString entryFolder() const { return m_entry.folder; }
    const QStringList& pruned() const { return m_pruned; }
    // Why versions could not be kept (the first time); empty when they could.
    const QString& failure() const { return m_failure; }

    // How a version of a file is kept: a hard link when the folder is on
    // the file's disk, else a copy. Tests turn links off to force copies.
    static void setLinksAllowed(bool allowed);

private:
    Error openEntry();
    Error keepFile(const QString& path, VersionItem::Kind kind);
    Error append(const QStringList& fields);
    Error refuse(const Error& error);
    // A copy kept its destination's version first; once the copy is in
    // place it is recorded, and when it never will be, the version is not
    // one (a file it would have created was not created).
    void copySettled(const QString& source, const QString& destination, bool placed);
    void dropVersion(const QString& path);
    // Records the value a key had (`old`, or none) before it changes; the
    // error when the record cannot be kept (the user has been told).
    Error keepKey(const QString& file, const QString& section, const QString& key, const QString& old);

    VersionStore m_store;
    Prompt& m_prompt;
    ApplyChanges m_apply;
    VersionEntry m_entry;
    RunLock m_lock;
    int m_manifest = -1;
    int m_counter = 0;
    QSet<QString> m_kept;               // paths (files, databases) already kept by this run
    QSet<QString> m_unplaced;           // kept for a copy that is not in place yet
    QSet<QString> m_keys;               // "file\nsection\nkey" already kept
    dev_t m_versionsDevice = dev_t(-1); // the disk of the entry's files
    QSet<quint64> m_noLinksFrom;        // disks that refused a link into it
    QStringList m_pruned;
    QString m_failure;
    bool m_told = false;
    bool m_finished = false;
};

} // namespace mirsalex
