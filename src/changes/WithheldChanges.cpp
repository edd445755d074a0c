#include "changes/WithheldChanges.h"

#include "changes/ChangeDetail.h"
#include "common/ProfileFile.h"
#include "common/SafeFileCopy.h"
#include "db/Database.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace mirsalex {

using detail::diskTime;
using detail::keyText;

Error WithheldChanges::writeKey(const QString& file, const QString& section, const QString& key,
                                const QString& value)
{
    // A key that holds the value already would not be written.
    if (!ProfileFile::holds(file, section, key, value))
        record(Change::Kind::Key, file, keyText(section, key, value));
    return {};
}

Error WithheldChanges::copyFile(const QString& source, const QString& destination, DestinationName)
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

std::optional<qint64> WithheldChanges::timeAsLeft(const QString& folder, const QString& name,
                                                  std::optional<qint64> onDisk) const
{
    if (m_times.isEmpty())
        return onDisk;
    const auto it = m_times.constFind(folder + name);
    return it != m_times.constEnd() ? *it : onDisk;
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
