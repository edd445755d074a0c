#pragma once

#include <QByteArray>
#include <QString>

namespace mirsalex {

// The credential store of the access password: one password for the whole
// installation, kept as a salted, slow hash in a file readable only by its
// owner, beside the configuration file.
class PasswordStore
{
public:
    enum class State
    {
        None,
        Set,
        Damaged
    };

    // Work factor of new passwords (PBKDF2-HMAC-SHA256 iterations).
    static constexpr int kDefaultIterations = 100000;

    // `iniPath` is the full path of the configuration file. `iterations` is
    // the work factor used when a password is stored (the stored value keeps
    // its own).
    explicit PasswordStore(const QString& iniPath, int iterations = kDefaultIterations);

    QString path() const { return m_path; }
    State state() const;
    // True when `candidate` (already upper-cased) is the stored password.
    bool verify(const QString& candidate) const;
    // Stores a new password (1..12 letters and digits, stored upper-cased);
    // an empty one removes the store. Returns false with `error` set on failure.
    bool set(const QString& password, QString* error = nullptr);

    // PBKDF2-HMAC-SHA256 of `password` with `salt`, 32 bytes.
    static QByteArray derive(const QByteArray& password, const QByteArray& salt, int iterations);

private:
    QString m_path;
    int m_iterations;
};

} // namespace mirsalex
