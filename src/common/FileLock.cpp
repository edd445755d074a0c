#include "common/FileLock.h"

#include "common/Platform.h"

#include <cerrno>
#include <fcntl.h>
#include <QFile>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirsalex {

namespace {

// How long a change waits for the lock: a holder keeps it for one read and
// one rename of a small file, so only a process stopped while holding it
// keeps it this long.
constexpr int kWaitMicros = 5000;
constexpr int kMaxWaits = 2000; // 10 seconds

} // namespace

FileLock::~FileLock()
{
    unlock();
}

Error FileLock::lock(const QString& path)
{
    unlock();
    const QByteArray lockPath = QFile::encodeName(path + suffix());
    for (int waits = 0;;) {
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0)
            return platform::fileErrorFromErrno(errno, path);
        struct stat st
        {
        };
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int err = errno != 0 ? errno : EINVAL;
            ::close(fd);
            return platform::fileErrorFromErrno(err, path);
        }
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0 && errno != EWOULDBLOCK) {
            // No locks on this file system (some network drivers): the
            // change goes on unprotected rather than not at all.
            ::close(fd);
            return {};
        }
        if (rc == 0) {
            // A holder that gave the lock back removed the file; a lock on
            // a removed file protects nothing, so it must still be there.
            struct stat now
            {
            };
            if (::stat(lockPath.constData(), &now) == 0 && now.st_dev == st.st_dev &&
                now.st_ino == st.st_ino) {
                m_fd = fd;
                m_lockPath = lockPath;
                return {};
            }
            ::close(fd);
            continue;
        }
        ::close(fd);
        if (++waits > kMaxWaits)
            return platform::fileErrorFromErrno(EBUSY, path);
        ::usleep(kWaitMicros);
    }
}

void FileLock::unlock()
{
    if (m_fd < 0)
        return;
    // Removed while still held: a process that opened it meanwhile finds it
    // gone once it gets the lock, and starts again on a new file.
    ::unlink(m_lockPath.constData());
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_lockPath.clear();
}

} // namespace mirsalex
