#include "changes/ApplyChanges.h"

#include "changes/ChangeDetail.h"
#include "common/ProfileFile.h"
#include "common/SafeFileCopy.h"

namespace mirsalex {

using detail::diskTime;
using detail::keyText;

Error ApplyChanges::writeKey(const QString& file, const QString& section, const QString& key,
                             const QString& value)
{
    bool changed = false;
    if (Error e = ProfileFile::write(file, section, key, value, &changed))
        return e;
    if (changed)
        record(Change::Kind::Key, file, keyText(section, key, value));
    return {};
}

Error ApplyChanges::copyFile(const QString& source, const QString& destination, DestinationName known)
{
    // In a batch the copy is recorded when the batch puts it in place.
    const Error error = SafeFileCopy::copy(source, destination, m_batch ? &*m_batch : nullptr,
                                           SafeFileCopy::Blocks::Written, SafeFileCopy::Flush::Now, known);
    if (!error && !m_batch)
        settled(source, destination, true);
    return error;
}

void ApplyChanges::settled(const QString& source, const QString& destination, bool placed)
{
    if (placed)
        record(Change::Kind::File, destination, source);
    if (m_settled)
        m_settled(source, destination, placed);
}

void ApplyChanges::beginCopies()
{
    Q_ASSERT(!m_batch);
    m_batch.emplace(200, qint64(256) << 20,
                    [this](const QString& source, const QString& destination, bool placed) {
                        settled(source, destination, placed);
                    });
}

void ApplyChanges::commitCopies()
{
    if (m_batch)
        static_cast<void>(m_batch->commit()); // told by copyBatch(), with the copies before it
}

void ApplyChanges::endCopies()
{
    m_batch.reset();
}

ChangeSink::CopyBatchState ApplyChanges::copyBatch() const
{
    if (!m_batch)
        return {};
    return {m_batch->failure(), m_batch->failedDestination(), m_batch->dropped()};
}

std::optional<qint64> ApplyChanges::modificationTime(const QString& path) const
{
    return diskTime(path);
}

void ApplyChanges::prepareDatabase(Database&) {}

void ApplyChanges::databaseCommitted(const QString& path, qint64 rows)
{
    if (rows > 0)
        record(Change::Kind::Database, path, QString::number(rows));
}

int ApplyChanges::removeStaleTemporaries(const QString& folder)
{
    const QStringList removed = SafeFileCopy::removeStale(folder);
    for (const QString& path : removed)
        record(Change::Kind::Removal, path);
    return int(removed.size());
}

} // namespace mirsalex
