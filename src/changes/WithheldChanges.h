#pragma once

#include "runtypes/ChangeSink.h"

#include <optional>
#include <QHash>
#include <QSet>

namespace mirsalex {

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
    using ChangeSink::copyFile;
    [[nodiscard]] Error copyFile(const QString& source, const QString& destination,
                                 DestinationName known) override;
    std::optional<qint64> modificationTime(const QString& path) const override;
    std::optional<qint64> timeAsLeft(const QString& folder, const QString& name,
                                     std::optional<qint64> onDisk) const override;
    QStringList filesCreatedIn(const QString& folder) const override;
    void prepareDatabase(Database& db) override;
    void databaseCommitted(const QString& path, qint64 rows) override;
    int removeStaleTemporaries(const QString& folder) override;

private:
    QHash<QString, std::optional<qint64>> m_times; // by path on disk
    QSet<QString> m_removed;                       // temporaries recorded as removed
};

} // namespace mirsalex
