#pragma once

#include "runtypes/ChangeSink.h"
#include "transfer/SafeFileCopy.h"

#include <functional>
#include <optional>
#include <QHash>
#include <QSet>

namespace mirsalex {

// The sink of a real run: every change is made, durably (keys in place in
// the configuration file, copies through SafeFileCopy, in its batches while
// one is open, database batches committed by the steps themselves), and
// recorded once made.
class ApplyChanges final : public ChangeSink
{
public:
    Mode mode() const override { return Mode::Apply; }
    [[nodiscard]] Error writeKey(const QString& file, const QString& section, const QString& key,
                                 const QString& value) override;
    [[nodiscard]] Error copyFile(const QString& source, const QString& destination) override;
    void beginCopies() override;
    void commitCopies() override;
    void endCopies() override;
    CopyBatchState copyBatch() const override;
    std::optional<qint64> modificationTime(const QString& path) const override;
    void prepareDatabase(Database& db) override;
    void databaseCommitted(const QString& path, qint64 rows) override;
    int removeStaleTemporaries(const QString& folder) override;

    // Told of every copy that copyFile() accepted, once: when it is in place
    // (`placed`, after it was recorded), or when it is dropped, never to be
    // (a copy of a batch whose putting in place failed or that ended first).
    // A copy that copyFile() refused is not told.
    using CopySettled = std::function<void(const QString& source, const QString& destination, bool placed)>;
    void setCopySettled(CopySettled settled) { m_settled = std::move(settled); }

private:
    void settled(const QString& source, const QString& destination, bool placed);

    std::optional<SafeFileCopy::Batch> m_batch;
    CopySettled m_settled;
};

// The sink of a dry run: nothing is written. Each change is recorded, and
// the times a later step reads back are the ones the change would have
// left: a copy takes its source's time, a database the run wrote to is as
// new as the moment it would have been committed.
class WithheldChanges final : public ChangeSink
{
public:
    Mode mode() const override { return Mode::DryRun; }
    [[nodiscard]] Error writeKey(const QString& file, const QString& section, const QString& key,
                                 const QString& value) override;
    [[nodiscard]] Error copyFile(const QString& source, const QString& destination) override;
    std::optional<qint64> modificationTime(const QString& path) const override;
    QStringList filesCreatedIn(const QString& folder) const override;
    void prepareDatabase(Database& db) override;
    void databaseCommitted(const QString& path, qint64 rows) override;
    int removeStaleTemporaries(const QString& folder) override;

private:
    QHash<QString, std::optional<qint64>> m_times; // by path on disk
    QSet<QString> m_removed;                       // temporaries recorded as removed
};

} // namespace mirsalex
