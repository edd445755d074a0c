#pragma once

#include <optional>
#include <QByteArray>
#include <QString>

namespace mirsalex {

// The signature of an Access (Jet or ACE) database file, read from its first
// page: the main application keeps DatiDV.mdb, VisiteDV.mdb and IndiciDV.mdb
// in that format, and a run meets such files on installations that come over
// from it.
struct JetSignature
{
    enum class Version
    {
        Jet3,
        Jet4,
        Ace12,
        Ace14,
        Ace15,
        Ace16,
        Ace17,
        Unknown
    };
    Version version = Version::Unknown;
    int versionByte = -1; // the raw version byte at offset 0x14
    int pageSize = 0;     // 2048 for Jet 3, 4096 for the later ones; 0 when unknown
    bool accdb = false;   // "Standard ACE DB" rather than "Standard Jet DB"

    // "Jet 3, Access 97", "Jet 4, Access 2000-2003", "ACE 12, Access 2007", ...
    QString versionName() const;
    bool known() const { return version != Version::Unknown; }
};

// The signature in `firstBytes` (at least the first 0x18 bytes of a file), or
// nothing when they are not those of an Access database.
std::optional<JetSignature> jetSignature(const QByteArray& firstBytes);

// The same, read from the file at `path`; nothing also when it cannot be read.
std::optional<JetSignature> jetSignatureOf(const QString& path);

} // namespace mirsalex
