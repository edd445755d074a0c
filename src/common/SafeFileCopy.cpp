#include "common/SafeFileCopy.h"

#include "common/AtomicFile.h"
#include "common/RunLock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace mirsalex {

namespace {

SafeFileCopy::WriteFn& writeHook()
{
    static SafeFileCopy::WriteFn fn;
    return fn;
}

// Closes a descriptor once; the destructor covers every early return.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString folderOf(const QString& path)
{
    const int cut = path.lastIndexOf(QLatin1Char('/'));
    return cut < 0 ? QString() : path.left(cut + 1);
}

// Makes the renames in a folder durable; a folder that cannot be synced (some
// network and FAT drivers) keeps its files anyway.
void syncFolder(const QString& folder)
{
    static_cast<void>(AtomicFile::syncFolder(folder));
}

} // namespace

namespace {
qint64& staleAgeSlot()
{
    static qint64 seconds = 3600;
    return seconds;
}
} // namespace

qint64 SafeFileCopy::staleAge()
{
    return staleAgeSlot();
}

void SafeFileCopy::setStaleAge(qint64 seconds)
{
    staleAgeSlot() = seconds;
}

QStringList SafeFileCopy::staleTemporaries(const QString& folder, qint64 olderThanSeconds)
{
    QList<platform::DirEntry> entries;
    if (platform::listDirectory(folder, AtomicFile::temporaryPrefix() + QStringLiteral("*"), false, entries))
        return {};
    const qint64 limit = QDateTime::currentSecsSinceEpoch() - olderThanSeconds;
    QStringList stale;
    for (const platform::DirEntry& e : entries) {
        // The listing matches without regard to case; only our own exact
        // prefix is ever removed.
        if (!e.name.startsWith(AtomicFile::temporaryPrefix()))
            continue;
        const QString path = folder + e.name;
        struct stat st
        {
        };
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // Written when its status last changed (creation, the dating of the
        // copy); the later of the two times stands in for a file system that
        // keeps no status-change time of its own.
        const qint64 written = std::max(qint64(st.st_ctim.tv_sec), qint64(st.st_mtim.tv_sec));
        if (written < limit)
            stale << path;
    }
    stale.sort();
    return stale;
}

QStringList SafeFileCopy::removeStale(const QString& folder, qint64 olderThanSeconds)
{
    // Another run may be writing these files right now: only a run holding
    // the lock may judge them abandoned.
    if (!RunLock::anyHeldByThisProcess())
        return {};
    QStringList removed;
    for (const QString& path : staleTemporaries(folder, olderThanSeconds)) {
        if (::unlink(QFile::encodeName(path).constData()) == 0)
            removed << path;
    }
    return removed;
}

void SafeFileCopy::setWriteHook(WriteFn fn)
{
    writeHook() = std::move(fn);
}

namespace {

bool diskFull(int err)
{
    return err == ENOSPC || err == EDQUOT;
}

// The kernel will not copy between these two files (other file systems, a
// file system that cannot): the copy takes another way.
bool kernelCopyRefused(int err)
{
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ENOTTY;
}

// What the kernel refused between a source's disk and a destination folder.
enum class Refusal
{
    Clone,
    KernelCopy,
};

QSet<QString>& refusals()
{
    thread_local QSet<QString> known;
    return known;
}

QString refusalKey(Refusal what, dev_t device, const QString& folder)
{
    return QString::number(int(what)) + QLatin1Char(':') + QString::number(quint64(device)) +
           QLatin1Char(':') + folder;
}

bool refused(Refusal what, dev_t device, const QString& folder)
{
    return !refusals().isEmpty() && refusals().contains(refusalKey(what, device, folder));
}

void learnRefused(Refusal what, dev_t device, const QString& folder)
{
    refusals().insert(refusalKey(what, device, folder));
}

struct Attempt
{
    Error error;
    bool outOfSpace = false; // the destination's disk was full
};

// Where a copy of a batch is made: the folders open, by name within them.
struct Place
{
    int sourceFolder = -1;      // -1: by the full path
    int destinationFolder = -1; // -1: by the full path
    mode_t umask = 0;           // the process's, when the batch began
    // A destination not yet there is made without a name, if this allows.
    std::function<bool()> mayBeUnnamed;
    DestinationName name = DestinationName::Unknown; // what the caller's listing said
    bool unnamedRefused = false;                     // out: the file system makes none
};

// A copy written and dated, waiting in a batch.
struct Pending
{
    QByteArray name;
    QByteArray temp;
    QByteArray tempName;
    int fd = -1;
};

// The encoded name of a file in its folder (the part of its path after the
// last separator).
QByteArray nameOf(const QString& path)
{
    return QStringView(path).mid(path.lastIndexOf(QLatin1Char('/')) + 1).toLocal8Bit();
}

// One copy into a temporary file; in a batch it is left pending there.
Attempt copyOnce(const QString& source, const QString& destination, const QString& folder, Place* place,
                 std::optional<Pending>* pendingOut, qint64* sizeOut,
                 const std::function<bool(qint64)>& beforeWrite, SafeFileCopy::Blocks blocks,
                 SafeFileCopy::Flush flush = SafeFileCopy::Flush::Now)
{
    const bool batched = place != nullptr;
    Descriptor in(batched && place->sourceFolder >= 0
                      ? ::openat(place->sourceFolder, nameOf(source).constData(), O_RDONLY | O_CLOEXEC)
                      : ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return {platform::fileErrorFromErrno(errno, source)};
    struct stat info
    {
    };
    if (::fstat(in.get(), &info) != 0)
        return {platform::fileErrorFromErrno(errno, source)};
    if (S_ISDIR(info.st_mode))
        return {platform::fileErrorFromErrno(EISDIR, source)};
    if (const int injected = platform::injectedFailure(QStringLiteral("read"), source))
        return {platform::fileErrorFromErrno(injected, source)};
    *sizeOut = qint64(info.st_size);
    // Room is made (what is pending put in place) before anything is written.
    if (beforeWrite && !beforeWrite(qint64(info.st_size)))
        return {Error{ErrorDomain::File, -1, QString(), destination}};

    if (const int injected = platform::injectedFailure(QStringLiteral("write"), destination))
        return {platform::fileErrorFromErrno(injected, destination), diskFull(injected)};
    AtomicFile::Options options; // the temporary is .~mirsalex-<name>.XXXXXX (no document pattern matches it)
    options.permissionsMayBeRefused = true; // the content and the time are what count
    options.askInjector = true;
    options.write = writeHook();
    options.flushToDisk = flush == SafeFileCopy::Flush::Now;
    // In a batch the umask is known: a copy whose permissions it leaves
    // whole is created with them, and nothing is left to change.
    const mode_t mode = info.st_mode & 0777;
    if (batched && (mode & place->umask) == 0 && (mode & 0600) == 0600)
        options.createMode = mode;
    QByteArray name;
    if (batched && place->destinationFolder >= 0) {
        options.folderFd = place->destinationFolder;
        name = nameOf(destination);
        // A name not yet taken gets an unnamed copy (not looked up again when
        // the caller listed the folder).
        struct stat there
        {
        };
        options.unnamed =
            place->name != DestinationName::Listed && place->mayBeUnnamed && place->mayBeUnnamed() &&
            (place->name == DestinationName::NotListed ||
             (::fstatat(place->destinationFolder, name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0 &&
              errno == ENOENT));
    }
    AtomicFile out(destination, options);
    // Every failure of the writer removes the temporary file.
    auto failed = [&] {
        const int err = out.error().number;
        return Attempt{platform::fileErrorFromErrno(err, destination), diskFull(err)};
    };
    const bool opened = out.open();
    if (batched)
        place->unnamedRefused = out.unnamedRefused();
    if (!opened)
        return failed();

    // A copy that may share the source's blocks is one call where the file
    // system makes such copies; otherwise the kernel moves the bytes itself
    // (copy_file_range), and where it refuses to, they are read and written
    // here. What a pair of disks refused once is not asked again. A
    // simulated disk (the write hook) always takes the bytes written here.
    const bool hooked = bool(writeHook());
    bool shared = false;
    if (blocks == SafeFileCopy::Blocks::SharedWherePossible && !hooked &&
        !refused(Refusal::Clone, info.st_dev, folder)) {
        shared = ::ioctl(out.handle(), FICLONE, in.get()) == 0;
        if (!shared && kernelCopyRefused(errno))
            learnRefused(Refusal::Clone, info.st_dev, folder);
    }
    bool plain = shared || hooked || refused(Refusal::KernelCopy, info.st_dev, folder);
    for (off_t left = info.st_size; !shared && !plain && left > 0;) {
        const ssize_t n = ::copy_file_range(in.get(), nullptr, out.handle(), nullptr, size_t(left), 0);
        if (n > 0) {
            left -= n;
            continue;
        }
        if (n == 0)
            break; // the source got shorter: what there is has been copied
        if (errno == EINTR)
            continue;
        if (kernelCopyRefused(errno)) {
            // The bytes moved so far stay; the rest is read and written.
            learnRefused(Refusal::KernelCopy, info.st_dev, folder);
            plain = true;
            break;
        }
        const int err = errno;
        out.discard();
        return {platform::fileErrorFromErrno(err, err == EIO ? source : destination), diskFull(err)};
    }
    thread_local std::vector<char> buffer;
    while (plain && !shared) {
        if (buffer.empty())
            buffer.resize(1 << 20);
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            out.discard();
            return {platform::fileErrorFromErrno(err, source)};
        }
        if (got == 0)
            break;
        if (!out.write(buffer.data(), got))
            return failed();
    }

    if (!out.setPermissions(mode))
        return failed();
    // The copy keeps the source's modification time, so that the next
    // comparison of the two finds them equal.
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (const int injected = platform::injectedFailure(QStringLiteral("utime"), destination)) {
        out.discard();
        return {platform::fileErrorFromErrno(injected, destination), diskFull(injected)};
    }
    if (::futimens(out.handle(), times) != 0) {
        const int err = errno;
        out.discard();
        return {platform::fileErrorFromErrno(err, destination), diskFull(err)};
    }
    if (batched) {
        // Flushed and put in place by the batch's commit.
        Pending pending;
        pending.name = std::move(name);
        if (out.isUnnamed()) {
            pending.fd = out.takeUnnamed();
        } else {
            // Relative to the open folder when there is one.
            QByteArray temp = out.release();
            if (temp.isEmpty())
                return failed();
            (options.folderFd >= 0 ? pending.tempName : pending.temp) = std::move(temp);
        }
        pendingOut->emplace(std::move(pending));
        return {};
    }
    if (!out.commit()) {
        // A refused rename is never a full disk.
        Attempt attempt = failed();
        if (out.failedStep() == AtomicFile::Step::Rename)
            attempt.outOfSpace = false;
        return attempt;
    }
    return {};
}

// Free bytes on the disk holding `folder`; nothing when it cannot be told.
std::optional<qint64> freeSpace(const QString& folder)
{
    struct statvfs fs
    {
    };
    if (::statvfs(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData(), &fs) != 0)
        return std::nullopt;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

// The share of the process's descriptors that a batch may hold open.
int descriptorShare()
{
    struct rlimit limit
    {
    };
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 256;
    return int(std::min<rlim_t>(limit.rlim_cur / 4, 256));
}

// Folders a batch keeps open at most; others are reached by full paths.
constexpr int kMaxFolderFds = 32;

} // namespace

Error SafeFileCopy::copy(const QString& source, const QString& destination, Batch* batch, Blocks blocks,
                         Flush flush, DestinationName name)
{
    std::optional<Pending> made;
    qint64 size = 0;
    if (!batch)
        return copyOnce(source, destination, folderOf(destination), nullptr, &made, &size, {}, blocks, flush)
            .error;

    Batch::Folder& from = batch->folder(source, batch->m_lastSource);
    Batch::Folder& to = batch->folder(destination, batch->m_lastDestination);
    Place place;
    place.sourceFolder = from.fd;
    place.destinationFolder = to.fd;
    place.umask = batch->umask();
    place.name = name;
    if (to.fd >= 0 && !to.unnamedTried) {
        // A copy made unnamed must be sure of its name at the commit (the
        // kernel may refuse to name a descriptor, and /proc may be absent).
        to.unnamedTried = true;
        to.unnamedRefused = !AtomicFile::unnamedFilesNamed(to.fd);
    }
    if (!to.unnamedRefused)
        place.mayBeUnnamed = [batch] { return batch->m_unnamedOpen < batch->m_unnamedMax; };
    auto makeRoom = [&](qint64 nextSize) {
        if (batch->pending() == 0 || !batch->full(nextSize, to))
            return true;
        return !batch->commit();
    };
    Attempt attempt = copyOnce(source, destination, to.path, &place, &made, &size, makeRoom, blocks);
    if (attempt.error.number == -1)
        return batch->failure(); // what was pending could not be put in place
    if (attempt.outOfSpace && batch->pending() > 0) {
        // The disk filled while copies were waiting: putting them in place
        // frees the files they replace; then this one is tried once more,
        // exactly as if it had been made on its own.
        if (batch->commit())
            return batch->failure();
        attempt = copyOnce(source, destination, to.path, &place, &made, &size, {}, blocks);
    }
    if (place.unnamedRefused)
        to.unnamedRefused = true;
    if (attempt.error)
        return attempt.error;
    Batch::Entry entry;
    entry.folder = &to;
    entry.name = std::move(made->name);
    entry.temp = std::move(made->temp);
    entry.tempName = std::move(made->tempName);
    entry.fd = made->fd;
    entry.source = source;
    entry.destination = destination;
    entry.size = size;
    if (entry.fd >= 0)
        ++batch->m_unnamedOpen;
    batch->m_entries.push_back(std::move(entry));
    batch->m_bytes += size;
    return {};
}

SafeFileCopy::Batch::Folder& SafeFileCopy::Batch::folder(const QString& path, Folder*& last)
{
    const QStringView key = QStringView(path).left(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (last && QStringView(last->path) == key)
        return *last;
    auto it = m_folders.find(key);
    if (it == m_folders.end()) {
        it = m_folders.emplace(key.toString(), Folder{}).first;
        Folder& f = it->second;
        f.path = it->first;
        if (!f.path.isEmpty() && m_folderFds < kMaxFolderFds) {
            f.fd = ::open(QFile::encodeName(f.path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (f.fd >= 0)
                ++m_folderFds;
        }
    }
    last = &it->second;
    return *last;
}

bool SafeFileCopy::Batch::full(qint64 nextSize, Folder& folder)
{
    if (int(m_entries.size()) >= m_maxCount || m_bytes + nextSize > m_maxBytes)
        return true;
    // Some room is kept for the folder's own records. The free space of a
    // folder is asked once until the next commit; the copies written since
    // are taken from it.
    if (!folder.roomAsked) {
        folder.roomAsked = true;
        folder.room = freeSpace(folder.path);
        folder.bytesThen = m_bytes;
    }
    return folder.room && *folder.room - (m_bytes - folder.bytesThen) < nextSize + (qint64(1) << 20);
}

SafeFileCopy::Batch::Batch(int maxCount, qint64 maxBytes, Settled settled)
    : m_maxCount(std::max(1, maxCount)), m_maxBytes(maxBytes), m_settled(std::move(settled))
{
    m_umask = ::umask(0);
    ::umask(m_umask);
    m_unnamedMax = std::min(m_maxCount, descriptorShare());
}

void SafeFileCopy::Batch::flushWith(const QString& folder)
{
    const QString f = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (!m_flushAlso.contains(f))
        m_flushAlso << f;
}

SafeFileCopy::Batch::~Batch()
{
    discardFrom(0);
    for (auto& [path, f] : m_folders) {
        if (f.fd >= 0)
            ::close(f.fd);
    }
}

void SafeFileCopy::Batch::tell(const std::vector<Entry>& entries, size_t from, size_t to, bool placed) const
{
    if (!m_settled)
        return;
    for (size_t i = from; i < to && i < entries.size(); ++i)
        m_settled(entries[i].source, entries[i].destination, placed);
}

void SafeFileCopy::Batch::dropTemporary(Entry& entry)
{
    if (entry.fd >= 0) {
        ::close(std::exchange(entry.fd, -1)); // an unnamed file goes with its last descriptor
        --m_unnamedOpen;
    } else if (entry.folder && entry.folder->fd >= 0) {
        AtomicFile::removeTemporaryAt(entry.folder->fd, std::exchange(entry.tempName, QByteArray()));
    } else {
        AtomicFile::removeTemporary(std::exchange(entry.temp, QByteArray()));
    }
}

// Puts one copy in place: names an unnamed one (never over a file; a name
// taken meanwhile is replaced as any other), renames a named one.
int SafeFileCopy::Batch::place(Entry& entry)
{
    const int folderFd = entry.folder ? entry.folder->fd : -1;
    if (entry.fd >= 0) {
        int err = AtomicFile::linkUnnamed(entry.fd, folderFd, entry.name);
        if (err == EEXIST) {
            err = AtomicFile::linkUnnamedAsTemporary(entry.fd, folderFd, entry.name, &entry.tempName);
            if (err == 0) {
                err = AtomicFile::renameFileAt(folderFd, entry.tempName, entry.name);
                if (err != 0)
                    AtomicFile::removeTemporaryAt(folderFd, std::exchange(entry.tempName, QByteArray()));
            }
        }
        ::close(std::exchange(entry.fd, -1));
        --m_unnamedOpen;
        return err;
    }
    if (folderFd >= 0)
        return AtomicFile::renameFileAt(folderFd, entry.tempName, entry.name);
    return AtomicFile::renameFile(entry.temp, QFile::encodeName(entry.destination));
}

void SafeFileCopy::Batch::discardFrom(size_t index)
{
    for (size_t i = index; i < m_entries.size(); ++i)
        dropTemporary(m_entries[i]);
    std::vector<Entry> dropped;
    if (index < m_entries.size())
        dropped.assign(std::make_move_iterator(m_entries.begin() + std::ptrdiff_t(index)),
                       std::make_move_iterator(m_entries.end()));
    m_entries.resize(std::min(index, m_entries.size()));
    m_bytes = 0;
    for (const Entry& e : m_entries)
        m_bytes += e.size;
    tell(dropped, 0, dropped.size(), false);
}

Error SafeFileCopy::Batch::commit(int* placed)
{
    std::vector<Entry> entries;
    entries.swap(m_entries);
    m_bytes = 0;
    for (auto& [path, f] : m_folders)
        f.roomAsked = false; // the files replaced free their room
    const QStringList alsoFlushed = std::exchange(m_flushAlso, {});
    if (placed)
        *placed = 0;
    if (entries.empty())
        return {};
    auto failAt = [&](size_t index, int err) {
        for (size_t i = index; i < entries.size(); ++i)
            dropTemporary(entries[i]);
        const Error e = platform::fileErrorFromErrno(err, entries[index].destination);
        if (placed)
            *placed = int(index);
        if (!m_failure) {
            m_failure = e;
            m_failedDestination = entries[index].destination;
        }
        m_dropped += int(entries.size() - index);
        return e;
    };
    // One flush per file system holding a temporary file (and one for each
    // folder flushed with the batch: the versions of what it replaces): the
    // data of every copy is on the disk before any destination is replaced.
    std::vector<const Folder*> folders;
    for (const Entry& e : entries) {
        if (std::find(folders.begin(), folders.end(), e.folder) == folders.end())
            folders.push_back(e.folder);
    }
    QStringList flushed;
    for (const Folder* f : folders)
        flushed << f->path;
    for (const QString& folder : alsoFlushed) {
        if (!flushed.contains(folder))
            flushed << folder;
    }
    for (const QString& folder : flushed) {
        const int injected = platform::injectedFailure(QStringLiteral("fsync"), folder);
        const int err = injected != 0 ? injected : AtomicFile::syncFileSystem(folder);
        if (err != 0) {
            // Nothing has been put in place yet: every copy is dropped, and
            // the first one of the folder that failed is named.
            size_t named = 0;
            while (named + 1 < entries.size() && entries[named].folder->path != folder)
                ++named;
            for (Entry& e : entries)
                dropTemporary(e);
            const Error e = platform::fileErrorFromErrno(err, entries[named].destination);
            if (!m_failure) {
                m_failure = e;
                m_failedDestination = entries[named].destination;
            }
            m_dropped += int(entries.size());
            tell(entries, 0, entries.size(), false);
            return e;
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const int injected = platform::injectedFailure(QStringLiteral("rename"), entries[i].destination);
        const int err = injected != 0 ? injected : place(entries[i]);
        if (err != 0) {
            const Error e = failAt(i, err);
            for (const Folder* f : folders)
                syncFolder(f->path); // the renames made before stay durable
            tell(entries, 0, i, true);
            tell(entries, i, entries.size(), false);
            return e;
        }
    }
    for (const Folder* f : folders)
        syncFolder(f->path);
    if (placed)
        *placed = int(entries.size());
    tell(entries, 0, entries.size(), true);
    return {};
}

} // namespace mirsalex
