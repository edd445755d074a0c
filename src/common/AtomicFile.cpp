#include "common/AtomicFile.h"

#include "common/Platform.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

// Qt's QSaveFile is not used: it commits a short write on a full disk and
// ignores a failing fsync.

namespace mirsalex {

namespace {

// The folder part of a path, with its separator; empty for a bare name.
QString folderOf(const QString& path)
{
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
    return cut < 0 ? QString() : path.left(cut + 1);
}

QByteArray encodedFolder(const QString& folder)
{
    return QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
}

// A file system that keeps no permissions of its own refuses to change them.
bool permissionsNotKept(int err)
{
    return err == EPERM || err == EACCES || err == ENOTSUP || err == EOPNOTSUPP || err == EINVAL ||
           err == ENOSYS;
}

// A rename that refuses an existing destination, for file systems without
// hard links.
int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP && err != EOPNOTSUPP)
        return err;
    // The file system cannot refuse by itself: the check and the rename are
    // two steps, as good as it gets there.
    struct stat st
    {
    };
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return AtomicFile::renameFile(from, to);
}

// Replaces the trailing six characters of `pattern` with letters and digits.
void fillTail(QByteArray& pattern)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 rng(std::random_device{}() ^ (quint64(::getpid()) << 32));
    quint64 bits = rng();
    for (qsizetype i = pattern.size() - 6; i < pattern.size(); ++i, bits /= 62)
        pattern[i] = kLetters[bits % 62];
}

// mkostemp() with the permissions given: replaces the trailing XXXXXX of
// `pattern` with letters and digits until the name is new; `pattern` is
// taken relative to `folderFd`.
int createExclusive(QByteArray& pattern, mode_t mode, int folderFd = AT_FDCWD)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        fillTail(pattern);
        const int fd = ::openat(folderFd, pattern.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// The file system makes no unnamed files (FAT, some network drivers).
bool unnamedNotMade(int err)
{
    return err == EOPNOTSUPP || err == ENOTSUP || err == EISDIR || err == EINVAL;
}

} // namespace

AtomicFile::AtomicFile(QString destination) : AtomicFile(std::move(destination), Options()) {}

AtomicFile::AtomicFile(QString destination, Options options)
    : m_destination(std::move(destination)), m_options(std::move(options))
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::fail(Step step, int err, const QString& path)
{
    discard();
    m_failedStep = step;
    m_error = Error::system(err, path);
    return false;
}

bool AtomicFile::open()
{
    discard();
    m_error = {};
    m_failedStep = Step::None;
    m_unnamedRefused = false;
    const mode_t createMode = m_options.createMode.value_or(0600);
    if (m_options.unnamed && m_options.folderFd >= 0) {
        const int fd = ::openat(m_options.folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, createMode);
        if (fd >= 0) {
            m_fd = fd;
            m_mode = m_options.createMode;
            return true;
        }
        if (!unnamedNotMade(errno))
            return fail(Step::Create, errno, m_destination);
        m_unnamedRefused = true;
    }
    int fd = -1;
    QByteArray pattern;
    if (m_options.folderFd >= 0) {
        // <prefix><name><suffix>XXXXXX, in the open folder.
        const QStringView name =
            QStringView(m_destination).mid(m_destination.lastIndexOf(QLatin1Char('/')) + 1);
        pattern = QFile::encodeName(m_options.tempPrefix) + name.toLocal8Bit() +
                  QFile::encodeName(m_options.tempSuffix) + "XXXXXX";
        fd = createExclusive(pattern, createMode, m_options.folderFd);
        if (fd < 0)
            return fail(Step::Create, errno, folderOf(m_destination) + QFile::decodeName(pattern));
    } else {
        // <folder>/<prefix><name><suffix>XXXXXX, built in one piece ('/'
        // is the same byte in every encoding of a path).
        pattern = QFile::encodeName(m_destination);
        pattern.insert(pattern.lastIndexOf('/') + 1, QFile::encodeName(m_options.tempPrefix));
        pattern += QFile::encodeName(m_options.tempSuffix);
        pattern += "XXXXXX";
        fd = m_options.createMode ? createExclusive(pattern, createMode)
                                  : ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            return fail(Step::Create, errno, QFile::decodeName(pattern));
    }
    m_fd = fd;
    m_temp = pattern;
    m_mode = m_options.createMode;
    return true;
}

bool AtomicFile::write(const char* data, qint64 size)
{
    if (m_fd < 0)
        return fail(Step::Write, EBADF, tempPath());
    if (const int err = writeAll(m_fd, data, size, nullptr, m_options.write))
        return fail(Step::Write, err, tempPath());
    return true;
}

bool AtomicFile::setPermissions(mode_t mode)
{
    if (m_fd < 0)
        return fail(Step::Permissions, EBADF, tempPath());
    int err = m_options.askInjector ? platform::injectedFailure(QStringLiteral("chmod"), m_destination) : 0;
    if (err == 0 && m_mode != mode && ::fchmod(m_fd, mode) != 0)
        err = errno;
    if (err == 0)
        m_mode = mode;
    if (err != 0 && !(m_options.permissionsMayBeRefused && permissionsNotKept(err)))
        return fail(Step::Permissions, err, tempPath());
    return true;
}

void AtomicFile::setOwner(uid_t owner, gid_t group)
{
    if (m_fd >= 0) {
        [[maybe_unused]] const int ignored = ::fchown(m_fd, owner, group);
    }
}

bool AtomicFile::commit()
{
    if (m_fd < 0)
        return fail(Step::Sync, EBADF, tempPath());
    const QString temp = tempPath();
    int err = m_options.askInjector ? platform::injectedFailure(QStringLiteral("fsync"), m_destination) : 0;
    if (err == 0 && m_options.flushToDisk)
        err = m_options.sync ? m_options.sync(m_fd) : syncFile(m_fd);
    if (err != 0)
        return fail(Step::Sync, err, temp);
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0)
        return fail(Step::Close, errno, temp);
    err = m_options.askInjector ? platform::injectedFailure(QStringLiteral("rename"), m_destination) : 0;
    if (err == 0 && m_options.folderFd >= 0)
        err = ::renameat(m_options.folderFd, m_temp.constData(), AT_FDCWD,
                         QFile::encodeName(m_destination).constData()) == 0
                  ? 0
                  : errno;
    else if (err == 0)
        err = renameFile(m_temp, QFile::encodeName(m_destination));
    if (err != 0)
        return fail(Step::Rename, err, m_destination);
    m_temp.clear();
    if (!m_options.flushToDisk)
        return true;
    err = syncFolder(folderOf(m_destination));
    if (err != 0 && m_options.folderSyncRequired)
        return fail(Step::FolderSync, err, QFileInfo(m_destination).absolutePath());
    return true;
}

QByteArray AtomicFile::release()
{
    if (m_fd < 0) {
        fail(Step::Close, EBADF, tempPath());
        return {};
    }
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0) {
        fail(Step::Close, errno, tempPath());
        return {};
    }
    return std::exchange(m_temp, QByteArray());
}

int AtomicFile::takeUnnamed()
{
    if (!isUnnamed())
        return -1;
    m_mode.reset();
    return std::exchange(m_fd, -1);
}

void AtomicFile::discard()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    m_mode.reset();
    if (!m_temp.isEmpty())
        ::unlinkat(m_options.folderFd >= 0 ? m_options.folderFd : AT_FDCWD,
                   std::exchange(m_temp, QByteArray()).constData(), 0);
}

QString AtomicFile::tempPath() const
{
    if (m_options.folderFd >= 0 && !m_temp.isEmpty())
        return folderOf(m_destination) + QFile::decodeName(m_temp);
    return QFile::decodeName(m_temp);
}

int AtomicFile::writeAll(int fd, const char* data, qint64 size, qint64* written, const WriteFn& writeFn)
{
    qint64 done = 0;
    int err = 0;
    while (done < size) {
        const qint64 n = writeFn ? writeFn(fd, data + done, size - done)
                                 : qint64(::write(fd, data + done, size_t(size - done)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno != 0 ? errno : EIO;
            break;
        }
        if (n == 0) {
            err = ENOSPC; // the disk took nothing more: it is full
            break;
        }
        done += n;
    }
    if (written)
        *written = done;
    return err;
}

int AtomicFile::syncFile(int fd)
{
    return ::fsync(fd) == 0 ? 0 : errno;
}

int AtomicFile::syncFileData(int fd)
{
    return ::fdatasync(fd) == 0 ? 0 : errno;
}

int AtomicFile::syncPath(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int err = syncFile(fd);
    ::close(fd);
    return err;
}

int AtomicFile::syncFolder(const QString& folder)
{
    const int fd = ::open(encodedFolder(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int err = syncFile(fd);
    ::close(fd);
    // Some file systems cannot flush a folder; the data itself is safe.
    return (err == EINVAL || err == ENOTSUP) ? 0 : err;
}

int AtomicFile::syncFileSystem(const QString& folder)
{
    const int fd = ::open(encodedFolder(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int err = ::syncfs(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

int AtomicFile::renameFile(const QByteArray& from, const QByteArray& to)
{
    return renameFileAt(AT_FDCWD, from, to);
}

int AtomicFile::renameFile(const QString& from, const QString& to)
{
    return renameFile(QFile::encodeName(from), QFile::encodeName(to));
}

int AtomicFile::renameFileAt(int folderFd, const QByteArray& from, const QByteArray& to)
{
    return ::renameat(folderFd, from.constData(), folderFd, to.constData()) == 0 ? 0 : errno;
}

void AtomicFile::removeTemporary(const QByteArray& temp)
{
    removeTemporaryAt(AT_FDCWD, temp);
}

void AtomicFile::removeTemporaryAt(int folderFd, const QByteArray& name)
{
    if (!name.isEmpty())
        ::unlinkat(folderFd, name.constData(), 0);
}

int AtomicFile::linkUnnamed(int fd, int folderFd, const QByteArray& name)
{
    // The descriptor itself is named where the kernel lets its opener do it;
    // elsewhere through its entry under /proc. Which one works is learned
    // once.
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", folderFd, name.constData(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT && errno != EPERM)
            return errno;
        byDescriptor.store(false, std::memory_order_relaxed);
    }
    char proc[40];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, proc, folderFd, name.constData(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int AtomicFile::linkUnnamedAsTemporary(int fd, int folderFd, const QByteArray& name, QByteArray* temp)
{
    QByteArray pattern = QFile::encodeName(temporaryPrefix()) + name + ".XXXXXX";
    for (int attempt = 0; attempt < 100; ++attempt) {
        fillTail(pattern);
        const int err = linkUnnamed(fd, folderFd, pattern);
        if (err != EEXIST) {
            if (err == 0)
                *temp = pattern;
            return err;
        }
    }
    return EEXIST;
}

bool AtomicFile::unnamedFilesNamed(int folderFd)
{
    const int fd = ::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    QByteArray temp;
    const bool named = linkUnnamedAsTemporary(fd, folderFd, "unnamed", &temp) == 0;
    ::close(fd);
    if (named)
        removeTemporaryAt(folderFd, temp);
    return named;
}

int AtomicFile::placeNew(const QString& temp, const QString& destination)
{
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(destination);
    const QString folder = folderOf(destination);
    // link() refuses an existing name, so nothing is ever overwritten.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        static_cast<void>(syncFolder(folder));
        return 0;
    }
    const int err = errno;
    if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK) {
        // File systems without hard links (FAT).
        if (renameNoReplace(from, to) == 0) {
            static_cast<void>(syncFolder(folder));
            return 0;
        }
    }
    ::unlink(from.constData());
    return err;
}

mode_t AtomicFile::newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

Error saveToFile(const QString& path, const QByteArray& bytes, const AtomicFile::Options& options,
                 AtomicFile::Step* failedStep)
{
    mode_t mode = 0;
    if (options.mode) {
        mode = *options.mode;
    } else {
        struct stat st
        {
        };
        mode = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777)
                                                                     : AtomicFile::newFileMode();
    }
    const auto failed = [failedStep](const AtomicFile& f) {
        if (failedStep)
            *failedStep = f.failedStep();
        return f.error();
    };
    AtomicFile file(path, options);
    if (!file.open())
        return failed(file);
    if (options.permissionsFirst && !file.setPermissions(mode))
        return failed(file);
    if (!file.write(bytes))
        return failed(file);
    if (!options.permissionsFirst && !file.setPermissions(mode))
        return failed(file);
    if (options.owner || options.group)
        file.setOwner(options.owner.value_or(uid_t(-1)), options.group.value_or(gid_t(-1)));
    if (!file.commit())
        return failed(file);
    return {};
}

} // namespace mirsalex
