#pragma once

#include "common/Error.h"

#include <QString>

namespace mirsalex {

// An exclusive lock that processes changing one file take in turn: an
// advisory lock (flock) on a lock file beside it, named after it with
// suffix() added. The file itself cannot carry the lock when it is replaced
// by a rename. The lock is waited for (a holder keeps it for one short
// change), up to a limit; the lock file is removed when the lock is given
// back, and the operating system drops the lock of a process that ends,
// however it ends.
class FileLock
{
public:
    // Suffix of the lock file: "Mirsal.ini" is locked through "Mirsal.ini.lock".
    static QString suffix() { return QStringLiteral(".lock"); }

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock of `path` (a path on disk). Fails when the lock file
    // cannot be made (a folder that is missing or cannot be written: the
    // file beside it could not be replaced either) or when another process
    // keeps the lock beyond the limit (55, file already open). A file system
    // without locks lets the change go on without one.
    [[nodiscard]] Error lock(const QString& path);
    void unlock();
    bool locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    QByteArray m_lockPath;
};

} // namespace mirsalex
