#include "common/JetSignature.h"

#include <QFile>

namespace mirsalex {

namespace {
// Page 0 begins with the page type 0x00 0x01 0x00 0x00, then the format's
// name, NUL-terminated, then the version byte at 0x14.
constexpr char kJetName[] = "Standard Jet DB";
constexpr char kAceName[] = "Standard ACE DB";
constexpr int kNameOffset = 4;
constexpr int kVersionOffset = 0x14;
} // namespace

QString JetSignature::versionName() const
{
    switch (version) {
    case Version::Jet3:
        return QStringLiteral("Jet 3, Access 97");
    case Version::Jet4:
        return QStringLiteral("Jet 4, Access 2000-2003");
    case Version::Ace12:
        return QStringLiteral("ACE 12, Access 2007");
    case Version::Ace14:
        return QStringLiteral("ACE 14, Access 2010");
    case Version::Ace15:
        return QStringLiteral("ACE 15, Access 2013");
    case Version::Ace16:
        return QStringLiteral("ACE 16, Access 2016");
    case Version::Ace17:
        return QStringLiteral("ACE 17, Access 2019");
    case Version::Unknown:
        break;
    }
    return QStringLiteral("Access di versione sconosciuta (%1)").arg(versionByte);
}

std::optional<JetSignature> jetSignature(const QByteArray& firstBytes)
{
    if (firstBytes.size() <= kVersionOffset)
        return std::nullopt;
    if (firstBytes.at(0) != 0 || firstBytes.at(1) != 1 || firstBytes.at(2) != 0 || firstBytes.at(3) != 0)
        return std::nullopt;
    const QByteArray name = firstBytes.mid(kNameOffset, sizeof kJetName); // with its NUL
    JetSignature s;
    if (name == QByteArray(kJetName, sizeof kJetName))
        s.accdb = false;
    else if (name == QByteArray(kAceName, sizeof kAceName))
        s.accdb = true;
    else
        return std::nullopt;
    s.versionByte = static_cast<unsigned char>(firstBytes.at(kVersionOffset));
    switch (s.versionByte) {
    case 0:
        s.version = JetSignature::Version::Jet3;
        s.pageSize = 2048;
        break;
    case 1:
        s.version = JetSignature::Version::Jet4;
        s.pageSize = 4096;
        break;
    case 2:
        s.version = JetSignature::Version::Ace12;
        break;
    case 3:
        s.version = JetSignature::Version::Ace14;
        break;
    case 4:
        s.version = JetSignature::Version::Ace15;
        break;
    case 5:
        s.version = JetSignature::Version::Ace16;
        break;
    case 6:
        s.version = JetSignature::Version::Ace17;
        break;
    default:
        break;
    }
    if (s.known() && s.pageSize == 0)
        s.pageSize = 4096;
    // The Jet name with an ACE version byte, or the other way round, is no
    // file either engine wrote.
    if (s.known() && s.accdb != (s.versionByte >= 2))
        s.version = JetSignature::Version::Unknown, s.pageSize = 0;
    return s;
}

std::optional<JetSignature> jetSignatureOf(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return jetSignature(f.read(kVersionOffset + 1));
}

} // namespace mirsalex
