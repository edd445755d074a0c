#pragma once

#include <optional>
#include <QFile>
#include <QString>
#include <sys/stat.h>

namespace mirsalex::detail {

// Last-modification time, in whole seconds since the epoch, of a path that is
// already the name on disk (no lookup without regard to case).
inline std::optional<qint64> diskTime(const QString& path)
{
    struct stat st
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.st_mtim.tv_sec);
}

// A key change as the sinks record it: "[section] key=value".
inline QString keyText(const QString& section, const QString& key, const QString& value)
{
    return QLatin1Char('[') + section + QStringLiteral("] ") + key.trimmed() + QLatin1Char('=') + value;
}

} // namespace mirsalex::detail
