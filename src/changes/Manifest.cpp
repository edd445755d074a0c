#include "changes/Manifest.h"

#include "common/ProfileFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QUrl>

namespace mirsalex::detail {

namespace {

constexpr int kValueBuffer = 65536;

} // namespace

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

QString sideName(bool portable)
{
    return portable ? QStringLiteral("portable") : QStringLiteral("desktop");
}

// Fields of a manifest record: tab-separated, each percent-encoded so that
// no value can break a record.
QByteArray recordLine(const QStringList& fields)
{
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += '\t';
        line += QUrl::toPercentEncoding(fields.at(i));
    }
    return line + '\n';
}

QStringList recordFields(const QByteArray& line)
{
    QStringList fields;
    for (const QByteArray& f : line.split('\t'))
        fields << QUrl::fromPercentEncoding(f);
    return fields;
}

QString isoTime(const QDateTime& t)
{
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// A key's value in the configuration file, or kAbsent.
QString keyValue(const QString& file, const QString& section, const QString& key)
{
    QString value;
    ProfileFile::read(file, section, key, kAbsent, value, kValueBuffer);
    return value;
}

QString keyId(const QString& file, const QString& section, const QString& key)
{
    return file + QLatin1Char('\n') + section.trimmed().toUpper() + QLatin1Char('\n') +
           key.trimmed().toUpper();
}

// The size and digest of a file ("blake2b-256:" and the hex of its BLAKE2b
// hash: several times quicker than SHA-256 here, and just as sure to tell a
// version cut short or written over); false when it cannot be read whole.
bool digestOf(const QString& path, qint64& size, QByteArray& digest)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    if (!hash.addData(&f))
        return false;
    size = f.size();
    digest = QByteArrayLiteral("blake2b-256:") + hash.result().toHex();
    return true;
}

} // namespace mirsalex::detail
