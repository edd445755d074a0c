#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace mirsalex::detail {

// What the versions' store, sink and restore share: the names in an entry's
// folder, the manifest's records and the values of configuration keys.

inline const QString kManifest = QStringLiteral("manifest");
inline const QString kFiles = QStringLiteral("files");
// A value no configuration key can hold: a key that was not there.
inline const QString kAbsent = QStringLiteral("\x01\x02");

QByteArray encoded(const QString& path);
// "portable" or "desktop".
QString sideName(bool portable);

// Fields of a manifest record: tab-separated, each percent-encoded so that
// no value can break a record.
QByteArray recordLine(const QStringList& fields);
QStringList recordFields(const QByteArray& line);
QString isoTime(const QDateTime& t);

// A key's value in the configuration file, or kAbsent.
QString keyValue(const QString& file, const QString& section, const QString& key);
// One key of one file, whatever the case of its section and name.
QString keyId(const QString& file, const QString& section, const QString& key);

// The size and digest (BLAKE2b-256, tagged) of a file; false when it cannot be read whole.
bool digestOf(const QString& path, qint64& size, QByteArray& digest);

} // namespace mirsalex::detail
