#pragma once

#include <QString>

namespace mirsalex {

// The credential store of the access password: one password for the whole
// installation, kept as a salted, slow hash in a file readable only by its
// owner, beside the configuration file.
class PasswordStore
{
public:
    enum class State { None, Set, Damaged };

    // `iniPath` is the full path of the configuration file.
    explicit PasswordStore(const QString& iniPath);

    QString path() const { return m_path; }
    State state() const;
    // True when `candidate` (already upper-cased) is the stored password.
    bool verify(const QString& candidate) const;
    // Stores a new password (1..12 letters and digits, stored upper-cased);
    // an empty one removes the store. Returns false with `error` set on failure.
    bool set(const QString& password, QString* error = nullptr);

private:
    QString m_path;
};

} // namespace mirsalex
