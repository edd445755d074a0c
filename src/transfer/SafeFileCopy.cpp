#include "transfer/SafeFileCopy.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace mirsalex {

namespace {

SafeFileCopy::Batch*& activeBatch()
{
    static SafeFileCopy::Batch* batch = nullptr;
    return batch;
}

SafeFileCopy::WriteFn& writeHook()
{
    static SafeFileCopy::WriteFn fn;
    return fn;
}

qint64 writeSome(int fd, const char* data, qint64 size)
{
    if (writeHook())
        return writeHook()(fd, data, size);
    return ::write(fd, data, static_cast<size_t>(size));
}

// Closes a descriptor once; the destructor covers every early return.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes and reports the outcome (a failing close may mean lost data).
    int close()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

QString folderOf(const QString& path)
{
    const int cut = path.lastIndexOf(QLatin1Char('/'));
    return cut < 0 ? QString() : path.left(cut + 1);
}

QString nameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Makes the renames in a folder durable; a folder that cannot be synced (some
// network and FAT drivers) keeps its files anyway.
void syncFolder(const QString& folder)
{
    Descriptor dir(::open(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

} // namespace

QString SafeFileCopy::temporaryPrefix()
{
    return QStringLiteral(".~mirsalex-");
}

int SafeFileCopy::removeStale(const QString& folder, qint64 olderThanSeconds)
{
    QList<platform::DirEntry> entries;
    if (platform::listDirectory(folder, temporaryPrefix() + QStringLiteral("*"), false, entries))
        return 0;
    const QDateTime limit = QDateTime::currentDateTime().addSecs(-olderThanSeconds);
    int removed = 0;
    for (const platform::DirEntry& e : entries) {
        // The listing matches without regard to case; only our own exact
        // prefix is ever removed.
        if (!e.name.startsWith(temporaryPrefix()))
            continue;
        const QString path = folder + e.name;
        const std::optional<QDateTime> when = platform::modificationTime(path);
        if (when && *when < limit && QFile::remove(path))
            ++removed;
    }
    return removed;
}

void SafeFileCopy::setWriteHook(WriteFn fn)
{
    writeHook() = std::move(fn);
}

platform::FileError SafeFileCopy::copy(const QString& source, const QString& destination)
{
    const QByteArray src = QFile::encodeName(source);
    Descriptor in(::open(src.constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return platform::fileErrorFromErrno(errno, source);
    struct stat info
    {
    };
    if (::fstat(in.get(), &info) != 0)
        return platform::fileErrorFromErrno(errno, source);
    if (S_ISDIR(info.st_mode))
        return platform::fileErrorFromErrno(EISDIR, source);

    const QString folder = folderOf(destination);
    QByteArray pattern =
        QFile::encodeName(folder + temporaryPrefix() + nameOf(destination) + QStringLiteral(".XXXXXX"));
    Descriptor out(::mkostemp(pattern.data(), O_CLOEXEC));
    if (out.get() < 0)
        return platform::fileErrorFromErrno(errno, destination);
    const QByteArray temp = pattern;

    // From here on every failure removes the temporary file.
    auto fail = [&](int err) {
        out.reset();
        ::unlink(temp.constData());
        return platform::fileErrorFromErrno(err, destination);
    };

    thread_local std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            out.reset();
            ::unlink(temp.constData());
            return platform::fileErrorFromErrno(err, source);
        }
        if (got == 0)
            break;
        qint64 done = 0;
        while (done < got) {
            const qint64 put = writeSome(out.get(), buffer.data() + done, got - done);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno);
            }
            if (put == 0)
                return fail(ENOSPC); // the disk took nothing more: it is full
            done += put;
        }
    }

    if (::fchmod(out.get(), info.st_mode & 0777) != 0)
        return fail(errno);
    // The copy keeps the source's modification time, so that the next
    // comparison of the two finds them equal.
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::futimens(out.get(), times) != 0)
        return fail(errno);
    if (SafeFileCopy::Batch* batch = activeBatch()) {
        // Flushed and put in place by the batch's commit.
        if (out.close() != 0) {
            const int err = errno;
            ::unlink(temp.constData());
            return platform::fileErrorFromErrno(err, destination);
        }
        batch->m_entries.push_back({temp, destination});
        return {};
    }
    if (::fsync(out.get()) != 0)
        return fail(errno);
    if (out.close() != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return platform::fileErrorFromErrno(err, destination);
    }
    if (::rename(temp.constData(), QFile::encodeName(destination).constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return platform::fileErrorFromErrno(err, destination);
    }
    syncFolder(folder);
    return {};
}

SafeFileCopy::Batch::Batch()
{
    Q_ASSERT(!activeBatch());
    activeBatch() = this;
}

SafeFileCopy::Batch::~Batch()
{
    discardFrom(0);
    if (activeBatch() == this)
        activeBatch() = nullptr;
}

void SafeFileCopy::Batch::discardFrom(size_t index)
{
    for (size_t i = index; i < m_entries.size(); ++i)
        ::unlink(m_entries[i].temp.constData());
    m_entries.resize(std::min(index, m_entries.size()));
}

int SafeFileCopy::Batch::commit(platform::FileError* error, QString* failedDestination)
{
    std::vector<Entry> entries;
    entries.swap(m_entries);
    if (entries.empty())
        return 0;
    auto failAt = [&](size_t index, int err) {
        for (size_t i = index; i < entries.size(); ++i)
            ::unlink(entries[i].temp.constData());
        if (error)
            *error = platform::fileErrorFromErrno(err, entries[index].destination);
        if (failedDestination)
            *failedDestination = entries[index].destination;
        return int(index);
    };
    // One flush per file system holding a temporary file: the data of every
    // copy is on the disk before any destination is replaced.
    QStringList folders;
    for (const Entry& e : entries) {
        const QString folder = folderOf(e.destination);
        if (!folders.contains(folder))
            folders << folder;
    }
    for (const QString& folder : folders) {
        Descriptor dir(::open(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() < 0 || ::syncfs(dir.get()) != 0) {
            // Nothing has been put in place yet: every copy is dropped, and
            // the first one of the folder that failed is named.
            const int err = errno;
            for (size_t i = 0; i < entries.size(); ++i) {
                if (folderOf(entries[i].destination) == folder) {
                    failAt(i, err);
                    break;
                }
            }
            for (const Entry& e : entries)
                ::unlink(e.temp.constData());
            return 0;
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        if (::rename(entries[i].temp.constData(), QFile::encodeName(entries[i].destination).constData()) != 0)
            return failAt(i, errno);
    }
    for (const QString& folder : folders)
        syncFolder(folder);
    return int(entries.size());
}

} // namespace mirsalex
