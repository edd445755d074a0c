#include "common/RunLock.h"

#include "common/AtomicFile.h"
#include "common/Platform.h"

#include <cerrno>
#include <fcntl.h>
#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirsalex {

namespace {

// How often, and how far apart, a lock found held is tried again before the
// run is refused (see heldElsewhere()).
constexpr int kBusyTries = 3;
constexpr useconds_t kBusyWaitMicros = 2000;

// Folders locked by this process, as resolved on disk, with their separator.
QStringList& heldFolders()
{
    static QStringList folders;
    return folders;
}

QString normalised(const QString& folder)
{
    QString f = platform::resolve(folder);
    if (!f.isEmpty() && !f.endsWith(platform::separator()))
        f += platform::separator();
    return f;
}

RunLock::Holder readHolder(int fd)
{
    RunLock::Holder h;
    char buffer[1024];
    const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
    if (got <= 0)
        return h;
    const QString text = QString::fromUtf8(buffer, got);
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed().left(100);
        if (key == QLatin1String("computer"))
            h.computer = value;
        else if (key == QLatin1String("side"))
            h.side = value;
        else if (key == QLatin1String("pid"))
            h.pid = value.toLongLong();
        else if (key == QLatin1String("since")) {
            const QDateTime t = QDateTime::fromString(value, Qt::ISODate);
            h.since = t.isValid() ? t.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm")) : QString();
        }
    }
    return h;
}

void writeHolder(int fd, const QString& side)
{
    const QByteArray text =
        (QStringLiteral("computer=") + QSysInfo::machineHostName() + QStringLiteral("\nside=") + side +
         QStringLiteral("\npid=") + QString::number(::getpid()) + QStringLiteral("\nsince=") +
         QDateTime::currentDateTimeUtc().toString(Qt::ISODate) + QLatin1Char('\n'))
            .toUtf8();
    // Who holds the lock is a courtesy for the refused run: a failing write
    // leaves the lock itself in force.
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.constData(), size_t(text.size()), 0) == text.size())
        static_cast<void>(AtomicFile::syncFileData(fd));
}

} // namespace

RunLock::~RunLock()
{
    release();
}

QString RunLock::fileName()
{
    return QStringLiteral(".mirsalex.lock");
}

bool RunLock::acquire(const QStringList& folders, const QString& side, QString* busyFolder, Holder* holder)
{
    release();
    std::vector<std::pair<dev_t, ino_t>> taken;
    for (const QString& given : folders) {
        if (given.trimmed().isEmpty())
            continue;
        const QString folder = normalised(given);
        if (!platform::isDirectory(folder))
            continue;
        const QByteArray path = QFile::encodeName(folder + fileName());
        int fd = -1;
        bool writable = true;
        struct stat st
        {
        };
        bool busy = false;
        // A run that ends removes its lock file while still holding the
        // lock; a lock taken on a file removed meanwhile is worth nothing,
        // so the file locked must still be the one in the folder.
        for (int attempt = 0; attempt < 5; ++attempt) {
            fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
            writable = fd >= 0;
            if (fd < 0)
                fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0)
                break; // nothing can be written here by this run either
            if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                ::close(fd);
                fd = -1;
                break;
            }
            // A dry run looking whether the folder is held takes a shared
            // lock for an instant: a few short tries tell it from a run.
            int rc;
            for (int tries = 0;; ++tries) {
                do {
                    rc = ::flock(fd, LOCK_EX | LOCK_NB);
                } while (rc != 0 && errno == EINTR);
                if (rc == 0 || errno != EWOULDBLOCK || tries == kBusyTries)
                    break;
                ::usleep(kBusyWaitMicros);
            }
            if (rc != 0) {
                const int err = errno;
                if (err == EWOULDBLOCK) {
                    busy = true;
                    break;
                }
                // A file system without locks (some network drivers): the
                // run goes on unprotected there rather than not at all.
                ::close(fd);
                fd = -1;
                break;
            }
            struct stat now
            {
            };
            if (::stat(path.constData(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
                break;
            ::close(fd);
            fd = -1;
        }
        if (busy) {
            if (busyFolder)
                *busyFolder = given;
            if (holder)
                *holder = readHolder(fd);
            ::close(fd);
            release();
            return false;
        }
        if (fd < 0)
            continue;
        bool duplicate = false;
        for (const auto& [dev, ino] : taken)
            duplicate = duplicate || (dev == st.st_dev && ino == st.st_ino);
        if (duplicate) { // the same folder reached by two paths: already held
            ::close(fd);
            continue;
        }
        if (writable)
            writeHolder(fd, side);
        taken.emplace_back(st.st_dev, st.st_ino);
        m_files.push_back({fd, folder, writable});
        heldFolders() << folder;
    }
    return true;
}

bool RunLock::heldElsewhere(const QStringList& folders, QString* busyFolder, Holder* holder)
{
    for (const QString& given : folders) {
        if (given.trimmed().isEmpty())
            continue;
        const QString folder = normalised(given);
        if (!platform::isDirectory(folder))
            continue;
        const QByteArray path = QFile::encodeName(folder + fileName());
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue; // no lock file: no run holds the folder
        struct stat st
        {
        };
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            continue;
        }
        // A shared lock is refused while a run holds the exclusive one; it
        // is given back at once (a run starting in that instant tries again,
        // see acquire()).
        int rc;
        do {
            rc = ::flock(fd, LOCK_SH | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        const bool busy = rc != 0 && errno == EWOULDBLOCK;
        if (rc == 0)
            ::flock(fd, LOCK_UN);
        if (busy) {
            if (busyFolder)
                *busyFolder = given;
            if (holder)
                *holder = readHolder(fd);
            ::close(fd);
            return true;
        }
        ::close(fd);
    }
    return false;
}

void RunLock::release()
{
    for (const File& f : m_files) {
        // Removed while still locked: a run that opened it meanwhile finds
        // it gone once it gets the lock, and starts again on a new file.
        if (f.writable)
            ::unlink(QFile::encodeName(f.folder + fileName()).constData());
        ::flock(f.fd, LOCK_UN);
        ::close(f.fd);
        heldFolders().removeOne(f.folder);
    }
    m_files.clear();
}

bool RunLock::heldByThisProcess(const QString& folder)
{
    return heldFolders().contains(normalised(folder));
}

bool RunLock::anyHeldByThisProcess()
{
    return !heldFolders().isEmpty();
}

QString RunLock::refusalMessage(const QString& folder, const Holder& holder)
{
    QString who;
    if (holder.computer.isEmpty()) {
        who = QStringLiteral("da un altro aggiornamento");
    } else {
        who = QStringLiteral("dal computer ") + holder.computer;
        if (!holder.side.isEmpty())
            who += QStringLiteral(" (") + holder.side + QLatin1Char(')');
        if (holder.pid > 0)
            who += QStringLiteral(", processo ") + QString::number(holder.pid);
        if (!holder.since.isEmpty())
            who += QStringLiteral(", dal ") + holder.since;
    }
    return QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO") + QLatin1Char('\n') + folder + QLatin1Char('\n') +
           QStringLiteral("è in uso ") + who + QLatin1Char('.') + QLatin1Char('\n') +
           QStringLiteral("Riprovare quando l'altro aggiornamento sarà terminato.");
}

} // namespace mirsalex
