#pragma once

#include "common/SafeFileCopy.h"
#include "runtypes/ChangeSink.h"

#include <functional>
#include <optional>

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
    using ChangeSink::copyFile;
    [[nodiscard]] Error copyFile(const QString& source, const QString& destination,
                                 DestinationName known) override;
    void beginCopies() override;
    void commitCopies() override;
    void endCopies() override;
    CopyBatchState copyBatch() const override;
    // The batch of copies open now, if any.
    SafeFileCopy::Batch* batch() { return m_batch ? &*m_batch : nullptr; }
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

} // namespace mirsalex
