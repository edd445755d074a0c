#include "transfer/Changes.h"

#include "common/ProfileFile.h"
#include "config/ConfigLoader.h"
#include "db/Database.h"
#include "transfer/SafeFileCopy.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace mirsalex {

namespace {

// Last-modification time, in whole seconds since the epoch, of a path that is
// already the name on disk (no lookup without regard to case).
std::optional<qint64> diskTime(const QString& path)
{
    struct stat st
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.st_mtim.tv_sec);
}

QString keyText(const QString& section, const QString& key, const QString& value)
{
    return QLatin1Char('[') + section + QStringLiteral("] ") + key.trimmed() + QLatin1Char('=') + value;
}

} // namespace

// ---------------------------------------------------------------------------
// ApplyChanges

Error ApplyChanges::writeKey(const QString& file, const QString& section, const QString& key,
                             const QString& value)
{
    bool changed = false;
    if (Error e = ScriviIni(file, section, key, value, &changed))
        return e;
    if (changed)
        record(Change::Kind::Key, file, keyText(section, key, value));
    return {};
}

Error ApplyChanges::copyFile(const QString& source, const QString& destination)
{
    // In a batch the copy is recorded when the batch puts it in place.
    const Error error = SafeFileCopy::copy(source, destination, m_batch ? &*m_batch : nullptr);
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

// ---------------------------------------------------------------------------
// WithheldChanges

Error WithheldChanges::writeKey(const QString& file, const QString& section, const QString& key,
                                const QString& value)
{
    // A key that holds the value already would not be written.
    if (!ProfileFile::holds(file, section, key, value))
        record(Change::Kind::Key, file, keyText(section, key, value));
    return {};
}

Error WithheldChanges::copyFile(const QString& source, const QString& destination)
{
    // The source must be readable, as for a real copy.
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return platform::fileErrorFromErrno(EACCES, source);
    m_times.insert(destination, modificationTime(source));
    record(Change::Kind::File, destination, source);
    return {};
}

std::optional<qint64> WithheldChanges::modificationTime(const QString& path) const
{
    const auto it = m_times.constFind(path);
    return it != m_times.constEnd() ? *it : diskTime(path);
}

QStringList WithheldChanges::filesCreatedIn(const QString& folder) const
{
    QStringList names;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (auto it = m_times.constBegin(); it != m_times.constEnd(); ++it) {
        const QString& path = it.key();
        if (path.startsWith(prefix) && !path.mid(prefix.size()).contains(QLatin1Char('/')) &&
            !QFileInfo::exists(path))
            names << path.mid(prefix.size());
    }
    return names;
}

void WithheldChanges::prepareDatabase(Database& db)
{
    db.setWritesWithheld(true);
}

void WithheldChanges::databaseCommitted(const QString& path, qint64 rows)
{
    if (rows > 0) {
        m_times.insert(path, QDateTime::currentSecsSinceEpoch());
        record(Change::Kind::Database, path, QString::number(rows));
    }
}

int WithheldChanges::removeStaleTemporaries(const QString& folder)
{
    // Those a real run would remove, listed without the lock that a dry run
    // never takes; each once, however often its folder is named.
    int count = 0;
    for (const QString& path : SafeFileCopy::staleTemporaries(folder)) {
        if (m_removed.contains(path))
            continue;
        m_removed.insert(path);
        record(Change::Kind::Removal, path);
        ++count;
    }
    return count;
}

} // namespace mirsalex
