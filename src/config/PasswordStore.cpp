#include "config/PasswordStore.h"

#include "common/AtomicFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <sys/stat.h>
#include <unistd.h>

namespace mirsalex {

namespace {

// The store is one line of text:
//   MIRSALEX-PWD1 pbkdf2-sha256 <iterations> <salt, hex> <key, hex>
const QByteArray kMagic = QByteArrayLiteral("MIRSALEX-PWD1");
const QByteArray kScheme = QByteArrayLiteral("pbkdf2-sha256");
constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;
constexpr int kMaxIterations = 10000000; // a larger count is a damaged file, not a slower hash
constexpr qint64 kMaxFileSize = 1024;
constexpr int kMaxPasswordLength = 12;

struct Record
{
    int iterations = 0;
    QByteArray salt;
    QByteArray key;
};

enum class ReadResult
{
    Missing,
    Damaged,
    Ok
};

bool isHex(const QByteArray& text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return !text.isEmpty();
}

ReadResult readRecord(const QString& path, Record& out)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return ReadResult::Missing;
    if (!info.isFile() || info.size() > kMaxFileSize)
        return ReadResult::Damaged;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return ReadResult::Damaged;
    QByteArray bytes = f.read(kMaxFileSize + 1);
    if (f.error() != QFileDevice::NoError || bytes.size() > kMaxFileSize)
        return ReadResult::Damaged;
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.contains('\n') || bytes.contains('\r'))
        return ReadResult::Damaged;
    const QList<QByteArray> fields = bytes.split(' ');
    if (fields.size() != 5 || fields[0] != kMagic || fields[1] != kScheme)
        return ReadResult::Damaged;
    bool ok = false;
    const int iterations = fields[2].toInt(&ok);
    if (!ok || iterations < 1 || iterations > kMaxIterations)
        return ReadResult::Damaged;
    if (!isHex(fields[3]) || !isHex(fields[4]) || fields[3].size() != 2 * kSaltBytes ||
        fields[4].size() != 2 * kKeyBytes)
        return ReadResult::Damaged;
    out.iterations = iterations;
    out.salt = QByteArray::fromHex(fields[3]);
    out.key = QByteArray::fromHex(fields[4]);
    return ReadResult::Ok;
}

// Same outcome time whatever the first differing byte.
bool equalConstantTime(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool validPassword(const QString& password)
{
    if (password.isEmpty() || password.size() > kMaxPasswordLength)
        return false;
    for (QChar c : password) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z')))
            return false;
    }
    return true;
}

QString errnoText(const QString& what, const QString& path, int err)
{
    return what + QStringLiteral(" ") + path + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(err));
}

// Writes `bytes` to a new file readable only by its owner and puts it in
// place of `path` in one step; `path` is untouched on any failure.
bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    AtomicFile::Options options; // the temporary is <path>.tmpXXXXXX
    options.tempPrefix.clear();
    options.tempSuffix = QStringLiteral(".tmp");
    options.mode = S_IRUSR | S_IWUSR;
    options.permissionsFirst = true; // never readable by others, not even for a moment
    options.folderSyncRequired = true;
    AtomicFile::Step step = AtomicFile::Step::None;
    const Error e = saveToFile(path, bytes, options, &step);
    if (!e)
        return true;
    if (error) {
        QString what;
        switch (step) {
        case AtomicFile::Step::None:
        case AtomicFile::Step::Create:
            what = QStringLiteral("impossibile creare");
            break;
        case AtomicFile::Step::Permissions:
            what = QStringLiteral("impossibile proteggere");
            break;
        case AtomicFile::Step::Write:
            what = QStringLiteral("impossibile scrivere");
            break;
        case AtomicFile::Step::Sync:
        case AtomicFile::Step::Close:
            what = QStringLiteral("impossibile salvare");
            break;
        case AtomicFile::Step::Rename:
            what = QStringLiteral("impossibile sostituire");
            break;
        case AtomicFile::Step::FolderSync:
            what = QStringLiteral("impossibile salvare la cartella");
            break;
        }
        *error = errnoText(what, e.path, e.number);
    }
    return false;
}

} // namespace

PasswordStore::PasswordStore(const QString& iniPath, int iterations)
    : m_path(QFileInfo(iniPath).absolutePath() + QStringLiteral("/mirsalex.pwd")),
      m_iterations(iterations < 1 ? kDefaultIterations : iterations)
{
}

QByteArray PasswordStore::derive(const QByteArray& password, const QByteArray& salt, int iterations)
{
    // One block of PBKDF2 (RFC 8018) gives exactly the 32 bytes kept.
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    QByteArray block = salt;
    block.append('\0').append('\0').append('\0').append('\1');
    mac.addData(block);
    QByteArray u = mac.result();
    QByteArray out = u;
    for (int i = 1; i < iterations; ++i) {
        mac.reset();
        mac.addData(u);
        u = mac.result();
        for (qsizetype j = 0; j < out.size(); ++j)
            out[j] = static_cast<char>(out[j] ^ u[j]);
    }
    return out;
}

PasswordStore::State PasswordStore::state() const
{
    Record record;
    switch (readRecord(m_path, record)) {
    case ReadResult::Missing:
        return State::None;
    case ReadResult::Damaged:
        return State::Damaged;
    case ReadResult::Ok:
        break;
    }
    return State::Set;
}

bool PasswordStore::verify(const QString& candidate) const
{
    Record record;
    if (readRecord(m_path, record) != ReadResult::Ok)
        return false;
    // Only letters and digits can be stored; anything else cannot match.
    if (!validPassword(candidate))
        return false;
    return equalConstantTime(derive(candidate.toLatin1(), record.salt, record.iterations), record.key);
}

bool PasswordStore::set(const QString& password, QString* error)
{
    if (password.isEmpty()) {
        if (::unlink(QFile::encodeName(m_path).constData()) != 0 && errno != ENOENT) {
            if (error)
                *error = errnoText(QStringLiteral("impossibile eliminare"), m_path, errno);
            return false;
        }
        if (const int err = AtomicFile::syncFolder(QFileInfo(m_path).absolutePath()); err != 0) {
            if (error)
                *error = errnoText(QStringLiteral("impossibile salvare la cartella"), m_path, err);
            return false;
        }
        return true;
    }
    // Upper-cased per character, so a letter outside A-Z can never turn into
    // letters that pass (the German sharp s becomes "SS" in a full mapping).
    QString upper = password;
    for (QChar& c : upper) {
        if (c.unicode() >= u'a' && c.unicode() <= u'z')
            c = QChar(c.unicode() - 32);
    }
    if (!validPassword(upper)) {
        if (error)
            *error =
                QStringLiteral("la password deve avere da 1 a %1 lettere o cifre").arg(kMaxPasswordLength);
        return false;
    }
    std::array<quint32, kSaltBytes / 4> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray salt(reinterpret_cast<const char*>(words.data()), kSaltBytes);
    const QByteArray key = derive(upper.toLatin1(), salt, m_iterations);
    const QByteArray line = kMagic + ' ' + kScheme + ' ' + QByteArray::number(m_iterations) + ' ' +
                            salt.toHex() + ' ' + key.toHex() + '\n';
    return writeAtomically(m_path, line, error);
}

} // namespace mirsalex
