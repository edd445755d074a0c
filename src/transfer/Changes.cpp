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
    const Error error = SafeFileCopy::copy(source, destination);
    if (!error)
        record(Change::Kind::File, destination, source);
    return error;
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
    return SafeFileCopy::removeStale(folder);
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

int WithheldChanges::removeStaleTemporaries(const QString&)
{
    return 0;
}

} // namespace mirsalex
