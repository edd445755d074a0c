#include "common/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

// POSIX implementation of the file layer. A Windows build would provide the
// same interface on top of the Win32 file functions; nothing above this file
// knows which one it runs on.

namespace mirsalex::platform {

namespace {

FailureInjector& injectorSlot()
{
    static FailureInjector injector;
    return injector;
}

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

bool lexists(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(encoded(path).constData(), &st) == 0;
}

// The entry of `folder` whose name equals `name` ignoring case; the smallest
// such name in character-code order when several differ only by case.
QString findIgnoringCase(const QString& folder, const QString& name)
{
    DIR* dir = ::opendir(encoded(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
    if (!dir)
        return QString();
    const QString wanted = name.toCaseFolded();
    QString best;
    while (const dirent* entry = ::readdir(dir)) {
        const QString entryName = QFile::decodeName(entry->d_name);
        if (entryName == QLatin1String(".") || entryName == QLatin1String(".."))
            continue;
        if (entryName.toCaseFolded() != wanted)
            continue;
        if (best.isEmpty() || QString::compare(entryName, best, Qt::CaseSensitive) < 0)
            best = entryName;
    }
    ::closedir(dir);
    return best;
}

// Wildcard matching ("*" any run, "?" one character) of a case-folded
// pattern against a name read through `at`.
template <typename At> bool matchFolded(const QString& p, qsizetype size, At at)
{
    qsizetype pi = 0, ni = 0, starP = -1, starN = 0;
    while (ni < size) {
        if (pi < p.size() && (p[pi] == QLatin1Char('?') || p[pi] == at(ni))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == QLatin1Char('*')) {
            starP = pi++;
            starN = ni;
        } else if (starP >= 0) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == QLatin1Char('*'))
        ++pi;
    return pi == p.size();
}

// The same with the pattern case-folded already (a listing folds it once).
bool matchFoldedWildcard(const QString& p, const QString& name)
{
    // A name of plain ASCII folds letter by letter, with nothing to allocate.
    const bool ascii = std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        return matchFolded(p, name.size(), [&name](qsizetype i) {
            const char16_t c = name[i].unicode();
            return QChar(c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c);
        });
    }
    const QString n = name.toCaseFolded();
    return matchFolded(p, n.size(), [&n](qsizetype i) { return n[i]; });
}

// Wildcard match ignoring case.
bool matchWildcard(const QString& pattern, const QString& name)
{
    return matchFoldedWildcard(pattern.toCaseFolded(), name);
}

} // namespace

QChar separator()
{
    return QLatin1Char('/');
}

QString sep()
{
    return QStringLiteral("/");
}

QString driveRoot()
{
    return QStringLiteral("/");
}

QString resolve(const QString& path)
{
    if (path.isEmpty() || lexists(path))
        return path;
    const QStringList parts = path.split(separator());
    QString result;
    bool matching = true;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        const bool last = i == parts.size() - 1;
        if (!part.isEmpty() && matching && part != QLatin1String(".") && part != QLatin1String("..")) {
            if (lexists(result + part)) {
                result += part;
            } else {
                const QString found = findIgnoringCase(result, part);
                if (found.isEmpty()) {
                    matching = false; // nothing below a missing component can exist
                    result += part;
                } else {
                    result += found;
                }
            }
        } else {
            result += part;
        }
        if (!last)
            result += separator();
    }
    return result;
}

QString windowsFolder()
{
    QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.config");
    if (!folder.endsWith(separator()))
        folder += separator();
    return folder;
}

QString stateFolder()
{
    QString folder = qEnvironmentVariable("XDG_STATE_HOME");
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.local/state");
    if (!folder.endsWith(separator()))
        folder += separator();
    return folder;
}

bool isDirectory(const QString& path)
{
    if (path.isEmpty() || injectedFailure(QStringLiteral("stat"), path) != 0)
        return false;
    struct stat st
    {
    };
    return ::stat(encoded(resolve(path)).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const QString& path)
{
    if (path.isEmpty() || injectedFailure(QStringLiteral("stat"), path) != 0)
        return false;
    struct stat st
    {
    };
    return ::stat(encoded(resolve(path)).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

int errorNumberFromErrno(int err)
{
    switch (err) {
    case 0:
        return 0;
    case ENOENT:
    case ENOTDIR:
        return 76;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return 61;
    case EIO:
        return 57;
    case ENXIO:
    case ENODEV:
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
        return 68;
#ifdef ENOMEDIUM
    case ENOMEDIUM:
        return 71;
#endif
    case EACCES:
    case EPERM:
        return 70;
    case EBUSY:
    case ETXTBSY:
        return 55;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
        return 64;
    case EEXIST:
        return 58;
    case EMFILE:
    case ENFILE:
        return 67;
    case EXDEV:
        return 74;
    default:
        return 75;
    }
}

QString errorDescription(int number)
{
    switch (number) {
    case 0:
        return QString();
    case 52:
        return QStringLiteral("Nome o numero di file non valido");
    case 53:
        return QStringLiteral("Impossibile trovare il file");
    case 54:
        return QStringLiteral("Modalità del file non valida");
    case 55:
        return QStringLiteral("File già aperto");
    case 57:
        return QStringLiteral("Errore di I/O della periferica");
    case 58:
        return QStringLiteral("File già esistente");
    case 61:
        return QStringLiteral("Disco pieno");
    case 62:
        return QStringLiteral("Input oltre la fine del file");
    case 64:
        return QStringLiteral("Nome di file non valido");
    case 67:
        return QStringLiteral("Troppi file");
    case 68:
        return QStringLiteral("Periferica non disponibile");
    case 70:
        return QStringLiteral("Autorizzazione negata");
    case 71:
        return QStringLiteral("Disco non pronto");
    case 74:
        return QStringLiteral("Impossibile rinominare con un'unità disco diversa");
    case 75:
        return QStringLiteral("Errore di accesso al percorso/file");
    case 76:
        return QStringLiteral("Impossibile trovare il percorso");
    default:
        return QStringLiteral("Errore definito dall'applicazione o dall'oggetto");
    }
}

Error fileError(int number, const QString& file)
{
    if (number == 0)
        return Error{};
    return Error{ErrorDomain::File, number, errorDescription(number), file};
}

Error fileErrorFromErrno(int err, const QString& file)
{
    int number = errorNumberFromErrno(err);
    if (err == ENOENT) {
        // Only the last component missing: the file, not the path, is not there.
        QString folder, name;
        splitPath(file, folder, name);
        if (!name.isEmpty() && (folder.isEmpty() || isDirectory(folder)))
            number = 53;
    }
    return fileError(number, file);
}

Error makeDirectory(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(separator()))
        p.chop(1);
    if (const int injected = injectedFailure(QStringLiteral("mkdir"), path))
        return fileError(errorNumberFromErrno(injected), path);
    if (p.isEmpty())
        return fileError(76, path);
    const QString resolved = resolve(p);
    struct stat st
    {
    };
    if (::stat(encoded(resolved).constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return Error{};
        return fileError(75, path); // a file stands where the folder should be
    }
    if (::mkdir(encoded(resolved).constData(), 0777) == 0)
        return Error{};
    const int err = errno;
    if (err == EEXIST && isDirectory(resolved))
        return Error{};
    if (err == EEXIST)
        return fileError(75, path);
    return fileError(errorNumberFromErrno(err), path);
}

std::optional<QDateTime> modificationTime(const QString& path)
{
    if (path.isEmpty() || injectedFailure(QStringLiteral("stat"), path) != 0)
        return std::nullopt;
    struct stat st
    {
    };
    if (::stat(encoded(resolve(path)).constData(), &st) != 0)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(qint64(st.st_mtim.tv_sec), Qt::LocalTime);
}

Error setModificationTime(const QString& path, const QDateTime& when)
{
    if (const int injected = injectedFailure(QStringLiteral("utime"), path))
        return fileErrorFromErrno(injected, path);
    if (!when.isValid())
        return fileError(75, path);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(when.toSecsSinceEpoch());
    times[1].tv_nsec = 0;
    if (::utimensat(AT_FDCWD, encoded(resolve(path)).constData(), times, 0) != 0)
        return fileErrorFromErrno(errno, path);
    return Error{};
}

namespace {

// `times`, when given, receives the modification time of each entry of
// `out` (none when it could not be read); every entry but a folder is then
// read once, by its name in the open folder, which also tells a link.
// `enough`, when given, ends the list and the read at the first entry it
// accepts, as a search ends at its first find.
Error listEntries(const QString& folder, const QString& pattern, bool directoriesToo, QList<DirEntry>& out,
                  QStringList* passedOver, QList<std::optional<qint64>>* times = nullptr,
                  const std::function<bool(const DirEntry&)>* enough = nullptr)
{
    out.clear();
    if (times)
        times->clear();
    const QString where = folder.isEmpty() ? QStringLiteral(".") : resolve(folder);
    if (const int injected = injectedFailure(QStringLiteral("list"), folder))
        return fileError(errorNumberFromErrno(injected), folder);
    DIR* dir = ::opendir(encoded(where).constData());
    if (!dir)
        return fileError(errorNumberFromErrno(errno), folder);
    QString wanted = pattern.isEmpty() ? QStringLiteral("*") : pattern;
    if (wanted == QLatin1String("*.*"))
        wanted = QStringLiteral("*");
    wanted = wanted.toCaseFolded();
    const QString prefix = where.endsWith(separator()) ? where : where + separator();
    int readError = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            readError = errno;
            break;
        }
        // A name of plain ASCII reads the same in every encoding.
        const char* raw = entry->d_name;
        const size_t length = std::strlen(raw);
        const bool ascii = std::all_of(raw, raw + length, [](char c) { return uchar(c) < 0x80; });
        const QString name = ascii ? QString::fromLatin1(raw, qsizetype(length))
                                   : QFile::decodeName(QByteArray(raw, qsizetype(length)));
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (!matchFoldedWildcard(wanted, name))
            continue;
        if (!ascii && QFile::encodeName(name) != QByteArray(raw)) {
            // Bytes that are no text in the system's encoding: the name read
            // back would name another file (or none).
            if (passedOver)
                passedOver->append(prefix + name);
            continue;
        }
        bool isDir = false;
        bool isPlain = false;
        std::optional<qint64> modified;
        if (times && entry->d_type != DT_DIR) {
            struct stat st
            {
            };
            if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                // Gone since it was listed, or unreadable: a plain file is
                // kept undated, as a lookup by name would have found it.
                if (entry->d_type != DT_REG)
                    continue;
                isPlain = true;
            } else if (S_ISLNK(st.st_mode) && passedOver) {
                passedOver->append(prefix + name);
                continue;
            } else {
                isDir = S_ISDIR(st.st_mode);
                isPlain = S_ISREG(st.st_mode);
                modified = qint64(st.st_mtim.tv_sec);
            }
        } else if (entry->d_type == DT_DIR) {
            isDir = true;
        } else if (entry->d_type == DT_REG) {
            isPlain = true;
        } else {
            struct stat st
            {
            };
            if (::lstat(encoded(prefix + name).constData(), &st) != 0)
                continue;
            if (S_ISLNK(st.st_mode)) {
                if (passedOver) {
                    passedOver->append(prefix + name);
                    continue;
                }
                if (::stat(encoded(prefix + name).constData(), &st) != 0)
                    continue; // a dangling link is no entry
            }
            isDir = S_ISDIR(st.st_mode);
            isPlain = S_ISREG(st.st_mode);
        }
        if (isPlain || (isDir && directoriesToo)) {
            out.append(DirEntry{name, isDir});
            if (times)
                times->append(modified);
            if (enough && (*enough)(out.constLast()))
                break;
        }
    }
    ::closedir(dir);
    if (readError != 0) {
        out.clear();
        if (times)
            times->clear();
        return fileError(errorNumberFromErrno(readError), folder);
    }
    return Error{};
}

} // namespace

bool wildcardMatch(const QString& pattern, const QString& name)
{
    return matchWildcard(pattern, name);
}

Error listDirectory(const QString& folder, const QString& pattern, bool directoriesToo, QList<DirEntry>& out)
{
    return listEntries(folder, pattern, directoriesToo, out, nullptr);
}

Error listDirectoryUntil(const QString& folder, const QString& pattern, bool directoriesToo,
                         const std::function<bool(const DirEntry&)>& enough, QList<DirEntry>& out)
{
    return listEntries(folder, pattern, directoriesToo, out, nullptr, nullptr, &enough);
}

Error listDirectoryNoLinks(const QString& folder, const QString& pattern, bool directoriesToo,
                           QList<DirEntry>& out, QStringList& passedOver)
{
    return listEntries(folder, pattern, directoriesToo, out, &passedOver);
}

Error listFilesDated(const QString& folder, const QString& pattern, QList<DatedEntry>& out,
                     QStringList& passedOver)
{
    out.clear();
    QList<DirEntry> entries;
    QList<std::optional<qint64>> times;
    const Error error = listEntries(folder, pattern, false, entries, &passedOver, &times);
    out.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        out.append(DatedEntry{entries.at(i).name, times.at(i)});
    return error;
}

QString linkBelow(const QString& anchor, const QString& path)
{
    QString base = resolve(anchor);
    QString full = resolve(path);
    while (base.size() > 1 && base.endsWith(separator()))
        base.chop(1);
    while (full.size() > 1 && full.endsWith(separator()))
        full.chop(1);
    if (base.isEmpty() || full.size() <= base.size() || !full.startsWith(base) ||
        (full.at(base.size()) != separator() && !base.endsWith(separator())))
        return QString();
    QString current = base;
    const QStringList parts = full.mid(base.size()).split(separator(), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (!current.endsWith(separator()))
            current += separator();
        current += part;
        struct stat st
        {
        };
        if (::lstat(encoded(current).constData(), &st) != 0)
            return QString(); // nothing below a missing folder
        if (S_ISLNK(st.st_mode))
            return current;
    }
    return QString();
}

QString executablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

void setFailureInjector(FailureInjector injector)
{
    injectorSlot() = std::move(injector);
}

int injectedFailure(const QString& operation, const QString& path)
{
    const FailureInjector& injector = injectorSlot();
    return injector ? injector(operation, path) : 0;
}

bool failureInjectorSet()
{
    return bool(injectorSlot());
}

void splitPath(const QString& path, QString& folder, QString& name)
{
    const qsizetype at = path.lastIndexOf(separator());
    if (at < 0) {
        folder.clear();
        name = path;
    } else {
        folder = path.left(at + 1);
        name = path.mid(at + 1);
    }
}

} // namespace mirsalex::platform
