#include "common/RunLog.h"

#include "common/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace mirsalex {

namespace {

const char kBegin[] = "=== INIZIO ";
const char kEnd[] = "=== FINE ";
const char kFrameClose[] = " ===\n";
const char kTornNote[] = "=== VOCE PRECEDENTE INCOMPLETA ===\n\n";

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

Error errorOf(int err, const QString& path)
{
    return platform::fileErrorFromErrno(err, path);
}

// "08/12/2026 07:48:40 +01:00": the local time of the run with its offset
// from UTC, so that entries around a change of summer time stay in order.
QByteArray stamp(const QDateTime& when)
{
    const int offset = when.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    const QString text = when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) +
                         QStringLiteral(" %1%2:%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return text.toUtf8();
}

// Creates the folder and the missing folders above it.
Error makeFolders(const QString& folder)
{
    QString f = folder;
    while (f.size() > 1 && f.endsWith(platform::separator()))
        f.chop(1);
    if (f.isEmpty() || platform::isDirectory(f))
        return {};
    QString parent, name;
    platform::splitPath(f, parent, name);
    if (!parent.isEmpty() && parent != f) {
        if (Error e = makeFolders(parent))
            return e;
    }
    return platform::makeDirectory(f);
}

void syncFolder(const QString& folder)
{
    // Best effort: some file systems cannot sync a folder.
    static_cast<void>(AtomicFile::syncFolder(folder));
}

// True when the file ends where an entry ends (or is empty); false when its
// last entry was cut off by a crash or holds something else.
bool endsCleanly(int fd, off_t size)
{
    if (size == 0)
        return true;
    char tail[256];
    const off_t want = size < off_t(sizeof tail) ? size : off_t(sizeof tail);
    const ssize_t got = ::pread(fd, tail, size_t(want), size - want);
    if (got != want)
        return false;
    const QByteArray t(tail, int(got));
    if (!t.endsWith(QByteArray(kFrameClose) + '\n'))
        return false;
    const qsizetype lineStart = t.lastIndexOf('\n', t.size() - 3) + 1;
    return t.mid(lineStart).startsWith(kEnd);
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes now and reports whether the close went well.
    bool close()
    {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

} // namespace

QString RunLog::defaultPath()
{
    return platform::stateFolder() + QStringLiteral("mirsalex") + platform::sep() +
           QStringLiteral("mirsalex.log");
}

RunLog RunLog::forOption(const QString& logOption)
{
    if (logOption.isEmpty())
        return RunLog();
    return RunLog(QFileInfo(logOption).absoluteFilePath());
}

RunLog::RunLog(QString path, qint64 limitBytes, int keptFiles)
    : m_path(std::move(path)), m_limit(limitBytes), m_kept(keptFiles < 0 ? 0 : keptFiles)
{
}

QString RunLog::rotatedPath(int n) const
{
    return m_path + QLatin1Char('.') + QString::number(n);
}

QByteArray RunLog::entry(const QDateTime& when, const QString& text)
{
    const QByteArray at = stamp(when);
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    body.remove(QChar(0));
    if (!body.isEmpty() && !body.endsWith(QLatin1Char('\n')))
        body += QLatin1Char('\n');

    QByteArray out;
    out.reserve(body.size() + 2 * at.size() + 40);
    out += kBegin;
    out += at;
    out += kFrameClose;
    qsizetype from = 0;
    while (from < body.size()) {
        const qsizetype nl = body.indexOf(QLatin1Char('\n'), from);
        const QStringView line = QStringView(body).mid(from, nl - from);
        if (line.startsWith(QLatin1String("===")))
            out += ' ';
        out += line.toUtf8();
        out += '\n';
        from = nl + 1;
    }
    out += kEnd;
    out += at;
    out += kFrameClose;
    out += '\n';
    return out;
}

Error RunLog::append(const QDateTime& when, const QString& text) const
{
    if (m_path.isEmpty())
        return errorOf(ENOENT, m_path);
    QString folder, name;
    platform::splitPath(m_path, folder, name);
    if (Error e = makeFolders(folder))
        return e;
    const QByteArray bytes = entry(when, text);
    const QByteArray file = encoded(m_path);

    // Another writer may rotate the file between our open and our lock; the
    // file locked must be the one the name stands for, so the open is tried
    // again until it is (a rotation also leads back here, to a new file).
    for (int attempt = 0; attempt < 8; ++attempt) {
        Fd fd(::open(file.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (fd.get() < 0)
            return errorOf(errno, m_path);
        int rc = 0;
        while ((rc = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (rc != 0)
            return errorOf(errno, m_path);
        struct stat held
        {
        };
        struct stat named
        {
        };
        if (::fstat(fd.get(), &held) != 0)
            return errorOf(errno, m_path);
        if (::stat(file.constData(), &named) != 0 || named.st_ino != held.st_ino ||
            named.st_dev != held.st_dev)
            continue; // rotated away meanwhile

        const off_t before = held.st_size;
        if (before > 0 && before + bytes.size() > m_limit) {
            // Rotation: every step is a rename, so a crash in the middle
            // loses no entry; at worst one older number is missing.
            if (m_kept == 0) {
                if (::unlink(file.constData()) != 0)
                    return errorOf(errno, m_path);
            } else {
                ::unlink(encoded(rotatedPath(m_kept)).constData());
                for (int n = m_kept - 1; n >= 1; --n) {
                    const int err = AtomicFile::renameFile(rotatedPath(n), rotatedPath(n + 1));
                    if (err != 0 && err != ENOENT)
                        return errorOf(err, rotatedPath(n));
                }
                if (const int err = AtomicFile::renameFile(file, encoded(rotatedPath(1))))
                    return errorOf(err, m_path);
            }
            syncFolder(folder);
            continue; // the entry goes to a new file
        }

        QByteArray out;
        if (!endsCleanly(fd.get(), before)) {
            char last = '\n';
            if (::pread(fd.get(), &last, 1, before - 1) == 1 && last != '\n')
                out += '\n';
            out += kTornNote;
        }
        out += bytes;

        if (const int injected = platform::injectedFailure(QStringLiteral("write"), m_path))
            return errorOf(injected, m_path);
        qint64 done = 0;
        if (const int writeError = AtomicFile::writeAll(fd.get(), out.constData(), out.size(), &done)) {
            // Takes back the part that was written, so the file ends where
            // it ended before (the lock keeps other writers out meanwhile).
            if (done > 0 && ::ftruncate(fd.get(), before) == 0)
                static_cast<void>(AtomicFile::syncFile(fd.get()));
            return errorOf(writeError, m_path);
        }
        if (const int err = AtomicFile::syncFile(fd.get()))
            return errorOf(err, m_path);
        if (!fd.close())
            return errorOf(errno, m_path);
        if (before == 0)
            syncFolder(folder); // a new file: its name must last too
        return {};
    }
    return errorOf(EBUSY, m_path);
}

} // namespace mirsalex
