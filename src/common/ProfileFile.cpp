#include "common/ProfileFile.h"

#include "common/AtomicFile.h"
#include "common/FileLock.h"
#include "common/Platform.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <sys/stat.h>
#include <unistd.h>

// The file is handled as bytes: lines end with LF or CR LF (in a file with
// no LF at all, with a lone CR, as old editors wrote them), names and values
// are decoded as UTF-8 when the file starts with a UTF-8 byte-order mark or
// its non-ASCII bytes form valid UTF-8 (a file written by an editor of this
// platform), as Latin-1 otherwise, and a write changes only the bytes of the
// one value it replaces or the lines it adds. A write never stores a
// character the file's encoding cannot hold: a plain ASCII file then becomes
// UTF-8, any other file is left as it is and the write fails.

namespace mirsalex::ProfileFile {

namespace {

// A configuration file is a few kilobytes; anything this large is not one.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
const QByteArray kUtf8Bom("\xEF\xBB\xBF");

struct Text
{
    QByteArray bytes;
    qsizetype bodyStart = 0; // after a byte-order mark
    bool utf8 = false;
};

struct Line
{
    qsizetype start = 0;
    qsizetype end = 0;  // end of the text, line end excluded
    qsizetype next = 0; // start of the following line
    bool hasEol = false;
};

enum class Kind
{
    Blank,
    Comment,
    Section,
    Key,
    Other
};

struct Parsed
{
    Kind kind = Kind::Other;
    QString name;         // section or key name, trimmed
    qsizetype eqPos = -1; // byte offset of '=' in the file (keys)
};

bool isBlankByte(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

bool isBlankChar(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

QString trimBlanks(const QString& s)
{
    qsizetype a = 0, b = s.size();
    while (a < b && isBlankChar(s.at(a)))
        ++a;
    while (b > a && isBlankChar(s.at(b - 1)))
        --b;
    return s.mid(a, b - a);
}

QString decode(const Text& t, qsizetype from, qsizetype to)
{
    const QByteArray part = t.bytes.mid(from, to - from);
    return t.utf8 ? QString::fromUtf8(part) : QString::fromLatin1(part);
}

QByteArray encode(const Text& t, const QString& s)
{
    return t.utf8 ? s.toUtf8() : s.toLatin1();
}

bool isAscii(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Loads the file; false when it cannot be read or is not a text file.
// Reads the file whole. False when it is not there (`failure` stays empty:
// the file is absent, and so is every key) or cannot be read (`failure`
// tells why: a file that is there but unreadable is not a file without keys).
bool load(const QString& path, Text& t, QString* failure = nullptr, Error* error = nullptr)
{
    auto fail = [&](const QString& why) {
        if (failure)
            *failure = why;
        if (error)
            *error = Error{ErrorDomain::File, 75, why, path};
        return false;
    };
    auto failErrno = [&](int err) {
        const Error e = platform::fileErrorFromErrno(err, path);
        fail(QStringLiteral("non si può leggere: ") + QString::number(e.number) + QLatin1Char('-') + e.text);
        if (error)
            *error = e;
        return false;
    };
    if (path.isEmpty())
        return false;
    if (const int injected = platform::injectedFailure(QStringLiteral("read"), path))
        return failErrno(injected);
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return failErrno(errno);
        if (error)
            *error = platform::fileErrorFromErrno(errno, path);
        return false;
    }
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("non è un file"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failErrno(errno);
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failErrno(EIO);
    }
    if (f.size() > kMaxFileSize)
        return fail(QStringLiteral("è troppo grande per un file di configurazione"));
    t.bytes = f.read(std::min(f.size(), kMaxFileSize) + 1); // never more than the file holds, plus one
    if (t.bytes.size() > kMaxFileSize)
        return fail(QStringLiteral("è troppo grande per un file di configurazione"));
    if (f.error() != QFileDevice::NoError)
        return failErrno(EIO);
    if (t.bytes.contains('\0'))
        return fail(QStringLiteral("non è un file di testo (contiene caratteri nulli)"));
    if (t.bytes.startsWith(kUtf8Bom)) {
        t.utf8 = true;
        t.bodyStart = kUtf8Bom.size();
    } else if (!isAscii(t.bytes)) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        [[maybe_unused]] const QString decoded = utf8(t.bytes);
        t.utf8 = !utf8.hasError();
    }
    return true;
}

// True when `s` can be stored in the file's encoding without loss.
bool representable(const Text& t, const QString& s)
{
    if (t.utf8)
        return true;
    for (const QChar c : s) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

// The byte that ends a line: LF, or CR in a file that holds no LF at all.
char lineBreak(const Text& t)
{
    const QByteArrayView body = QByteArrayView(t.bytes).sliced(t.bodyStart);
    return !body.contains('\n') && body.contains('\r') ? '\r' : '\n';
}

QList<Line> splitLines(const Text& t)
{
    QList<Line> lines;
    const QByteArray& b = t.bytes;
    const char eol = lineBreak(t);
    qsizetype pos = t.bodyStart;
    while (pos < b.size()) {
        Line l;
        l.start = pos;
        const qsizetype lf = b.indexOf(eol, pos);
        if (lf < 0) {
            l.end = b.size();
            l.next = b.size();
        } else {
            l.end = (eol == '\n' && lf > pos && b.at(lf - 1) == '\r') ? lf - 1 : lf;
            l.next = lf + 1;
            l.hasEol = true;
        }
        lines.append(l);
        pos = l.next;
    }
    return lines;
}

Parsed parse(const Text& t, const Line& l)
{
    Parsed p;
    const QByteArray& b = t.bytes;
    qsizetype s = l.start;
    while (s < l.end && isBlankByte(b.at(s)))
        ++s;
    if (s == l.end) {
        p.kind = Kind::Blank;
        return p;
    }
    if (b.at(s) == ';') {
        p.kind = Kind::Comment;
        return p;
    }
    if (b.at(s) == '[') {
        const qsizetype close = b.lastIndexOf(']', l.end - 1);
        if (close > s) {
            p.kind = Kind::Section;
            p.name = trimBlanks(decode(t, s + 1, close));
            return p;
        }
    }
    const qsizetype eq = b.indexOf('=', s);
    if (eq >= 0 && eq < l.end) {
        p.kind = Kind::Key;
        p.name = trimBlanks(decode(t, s, eq));
        p.eqPos = eq;
        if (p.name.isEmpty())
            p.kind = Kind::Other;
        return p;
    }
    p.kind = Kind::Other;
    return p;
}

bool sameName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

struct Found
{
    qsizetype sectionLine = -1;
    qsizetype keyLine = -1;
    qsizetype lastKeyLine = -1;
    qsizetype eqPos = -1;
};

// The first section of that name and, inside it, the first key of that name.
Found find(const Text& t, const QList<Line>& lines, const QString& section, const QString& key)
{
    Found f;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Parsed p = parse(t, lines.at(i));
        if (f.sectionLine < 0) {
            if (p.kind == Kind::Section && sameName(p.name, section))
                f.sectionLine = i;
            continue;
        }
        if (p.kind == Kind::Section)
            break;
        if (p.kind != Kind::Key)
            continue;
        f.lastKeyLine = i;
        if (f.keyLine < 0 && sameName(p.name, key)) {
            f.keyLine = i;
            f.eqPos = p.eqPos;
        }
    }
    return f;
}

QString cleanName(const QString& s)
{
    return trimBlanks(s);
}

bool hasLineBreakOrNul(const QString& s)
{
    for (const QChar c : s) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c.unicode() == 0)
            return true;
    }
    return false;
}

// Writes `data` to a new file beside `path` and renames it over `path`.
Error replaceFile(const QString& path, const QByteArray& data, mode_t mode, const struct stat* owner)
{
    if (const int injected = platform::injectedFailure(QStringLiteral("write"), path))
        return platform::fileErrorFromErrno(injected, path);
    AtomicFile::Options options; // the temporary is .~mirsalex-<name>.XXXXXX
    options.mode = mode;
    if (owner) {
        // Keeps the owner when allowed to; an ordinary user cannot and need not.
        options.owner = owner->st_uid;
        options.group = owner->st_gid;
    }
    if (const Error e = saveToFile(path, data, options))
        return platform::fileErrorFromErrno(e.number, path);
    return {};
}

} // namespace

QString locate(const QString& fileName)
{
    if (fileName.isEmpty())
        return QString();
    if (!fileName.contains(platform::separator()))
        return platform::resolve(platform::windowsFolder() + fileName);
    return platform::resolve(fileName);
}

QString problem(const QString& fileName)
{
    const QString path = locate(fileName);
    struct stat st
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString(); // a missing file is told apart by whoever looks for it
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("non è un file");
    const int injected = platform::injectedFailure(QStringLiteral("read"), path);
    const int fd = injected != 0 ? -1 : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QFile f;
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const int err = injected != 0 ? injected : (fd < 0 ? errno : EIO);
        if (fd >= 0)
            ::close(fd);
        const Error e = platform::fileErrorFromErrno(err, path);
        return QStringLiteral("non si può leggere: ") + QString::number(e.number) + QLatin1Char('-') + e.text;
    }
    if (f.size() > kMaxFileSize)
        return QStringLiteral("è troppo grande per un file di configurazione");
    Text t;
    t.bytes = f.read(std::min(f.size(), kMaxFileSize) + 1); // never more than the file holds, plus one
    if (f.error() != QFileDevice::NoError) {
        const Error e = platform::fileErrorFromErrno(EIO, path);
        return QStringLiteral("non si può leggere: ") + QString::number(e.number) + QLatin1Char('-') + e.text;
    }
    if (t.bytes.contains('\0'))
        return QStringLiteral("non è un file di testo (contiene caratteri nulli)");
    if (t.bytes.startsWith(kUtf8Bom))
        t.bodyStart = kUtf8Bom.size();
    bool anything = false;
    for (const Line& l : splitLines(t)) {
        const Kind kind = parse(t, l).kind;
        if (kind == Kind::Section)
            return QString();
        anything = anything || (kind != Kind::Blank && kind != Kind::Comment);
    }
    return anything ? QStringLiteral("non contiene nessuna sezione [...]") : QString();
}

int read(const QString& fileName, const QString& section, const QString& key, const QString& defaultValue,
         QString& out, int bufferSize, QString* failure)
{
    out.clear();
    if (failure)
        failure->clear();
    if (bufferSize <= 0)
        return 0;
    QString value = defaultValue;
    Text t;
    if (load(locate(fileName), t, failure)) {
        const QList<Line> lines = splitLines(t);
        const Found f = find(t, lines, cleanName(section), cleanName(key));
        if (f.keyLine >= 0) {
            value = trimBlanks(decode(t, f.eqPos + 1, lines.at(f.keyLine).end));
            if (value.size() >= 2 &&
                (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
                value.back() == value.front())
                value = value.mid(1, value.size() - 2);
        }
    }
    out = value.left(bufferSize - 1);
    return int(out.size());
}

namespace {

// A failure of a write that has no system error behind it.
Error writeFailure(const QString& why, const QString& path)
{
    return Error{ErrorDomain::File, 75, why, path};
}

// Reads an existing file (`st` from lstat) that is about to be rewritten:
// through a link, the file it names (so the link stays; `path` and `st`
// become that file's); only a plain file the user may write, since a
// read-only file stays as it is, even for a user allowed to override it.
Error loadForRewrite(QString& path, struct stat& st, Text& t)
{
    if (S_ISLNK(st.st_mode)) {
        const QString target = QFileInfo(path).canonicalFilePath();
        if (target.isEmpty())
            return platform::fileErrorFromErrno(ENOENT, path);
        path = target;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return platform::fileErrorFromErrno(errno, path);
    }
    if (!S_ISREG(st.st_mode))
        return writeFailure(QStringLiteral("non è un file"), path);
    if ((st.st_mode & 0222) == 0 || ::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return platform::fileErrorFromErrno(EACCES, path);
    Error e;
    if (!load(path, t, nullptr, &e))
        return e ? e : platform::fileErrorFromErrno(EIO, path);
    return {};
}

// Section and key names as the file holds them, and the value as one line
// (cut at its first line break or NUL); false for names that would break
// the file's structure.
bool cleanArguments(const QString& section, const QString& key, const QString& value, QString& sectionName,
                    QString& keyName, QString& text)
{
    sectionName = cleanName(section);
    keyName = cleanName(key);
    if (sectionName.isEmpty() || keyName.isEmpty() || hasLineBreakOrNul(sectionName) ||
        hasLineBreakOrNul(keyName) || keyName.contains(QLatin1Char('=')) ||
        keyName.startsWith(QLatin1Char(';')) || keyName.startsWith(QLatin1Char('[')))
        return false;
    text = value;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c.unicode() == 0) {
            text.truncate(i);
            break;
        }
    }
    return true;
}

// The file's new content with key=value written in the section; false
// when the file's encoding cannot hold the text.
bool compose(Text& t, const QString& sectionName, const QString& keyName, const QString& text,
             QByteArray& out)
{
    if (!representable(t, sectionName) || !representable(t, keyName) || !representable(t, text)) {
        // Latin-1 cannot hold it: a file of plain ASCII is the same file in
        // UTF-8; one with Latin-1 text in it would be corrupted either way.
        if (!isAscii(t.bytes))
            return false;
        t.utf8 = true;
    }

    const QList<Line> lines = splitLines(t);
    const Found f = find(t, lines, sectionName, keyName);
    QByteArray eol("\r\n");
    const qsizetype lf = t.bytes.indexOf('\n', t.bodyStart);
    if (lf >= 0)
        eol = (lf > 0 && t.bytes.at(lf - 1) == '\r') ? QByteArray("\r\n") : QByteArray("\n");
    else if (lineBreak(t) == '\r')
        eol = QByteArray("\r"); // lines added to a CR-only file end the same way
    const QByteArray keyLine = encode(t, keyName) + '=' + encode(t, text);

    if (f.keyLine >= 0) {
        const Line& l = lines.at(f.keyLine);
        qsizetype valueStart = f.eqPos + 1;
        while (valueStart < l.end && (t.bytes.at(valueStart) == ' ' || t.bytes.at(valueStart) == '\t'))
            ++valueStart;
        out = t.bytes.left(valueStart) + encode(t, text) + t.bytes.mid(l.end);
    } else if (f.sectionLine >= 0) {
        const Line& after = lines.at(f.lastKeyLine >= 0 ? f.lastKeyLine : f.sectionLine);
        if (after.hasEol)
            out = t.bytes.left(after.next) + keyLine + eol + t.bytes.mid(after.next);
        else
            out = t.bytes + eol + keyLine;
    } else {
        out = t.bytes;
        if (!lines.isEmpty()) {
            if (!lines.back().hasEol)
                out += eol;
            if (parse(t, lines.back()).kind != Kind::Blank)
                out += eol;
        }
        out += '[' + encode(t, sectionName) + ']' + eol + keyLine + eol;
    }
    return true;
}

// Whether the file at `path` holds key=text already, byte for byte as a
// write would leave it (read without the lock: a key no one else writes).
bool alreadyHolds(const QString& path, const QString& sectionName, const QString& keyName,
                  const QString& text)
{
    Text t;
    if (!load(path, t))
        return false;
    const QByteArray before = t.bytes;
    QByteArray out;
    return compose(t, sectionName, keyName, text, out) && out == before;
}

// Takes the change lock of the file at `path` (through a link, of the file
// it names, which is the one replaced).
Error lockFor(const QString& path, FileLock& lock)
{
    QString target = path;
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        target = QFileInfo(path).canonicalFilePath();
        if (target.isEmpty())
            return platform::fileErrorFromErrno(ENOENT, path);
    }
    return lock.lock(target);
}

} // namespace

bool holds(const QString& fileName, const QString& section, const QString& key, const QString& value)
{
    QString sectionName, keyName, text;
    if (!cleanArguments(section, key, value, sectionName, keyName, text))
        return false;
    const QString path = locate(fileName);
    return !path.isEmpty() && alreadyHolds(path, sectionName, keyName, text);
}

Error write(const QString& fileName, const QString& section, const QString& key, const QString& value,
            bool* changed)
{
    if (changed)
        *changed = false;
    QString sectionName, keyName, text;
    QString path = locate(fileName);
    if (!cleanArguments(section, key, value, sectionName, keyName, text))
        return writeFailure(QStringLiteral("nome di sezione o di chiave non valido: [") + section +
                                QStringLiteral("] ") + key,
                            path.isEmpty() ? fileName : path);
    if (path.isEmpty())
        return platform::fileError(64, fileName);
    // A key that holds its value already is not written again.
    if (alreadyHolds(path, sectionName, keyName, text))
        return {};

    // One change at a time: the file is read again and replaced under the
    // lock, so a change made meanwhile by another process is kept.
    FileLock lock;
    if (Error e = lockFor(path, lock))
        return e;
    Text t;
    struct stat st
    {
    };
    const bool exists = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return platform::fileErrorFromErrno(errno, path);
    mode_t mode = 0;
    if (exists) {
        if (Error e = loadForRewrite(path, st, t))
            return e;
        mode = st.st_mode & 07777;
    } else {
        mode = AtomicFile::newFileMode();
    }
    const QByteArray before = t.bytes;
    QByteArray out;
    if (!compose(t, sectionName, keyName, text, out))
        return writeFailure(
            QStringLiteral("il valore contiene caratteri che la codifica del file non ammette"), path);
    if (exists && out == before)
        return {};
    if (Error e = replaceFile(path, out, mode, exists ? &st : nullptr))
        return e;
    if (changed)
        *changed = true;
    return {};
}

Error remove(const QString& fileName, const QString& section, const QString& key, bool* changed)
{
    if (changed)
        *changed = false;
    const QString sectionName = cleanName(section);
    const QString keyName = cleanName(key);
    QString path = locate(fileName);
    if (sectionName.isEmpty() || keyName.isEmpty())
        return writeFailure(QStringLiteral("nome di sezione o di chiave non valido: [") + section +
                                QStringLiteral("] ") + key,
                            path.isEmpty() ? fileName : path);
    if (path.isEmpty())
        return platform::fileError(64, fileName);
    auto hasKey = [&](const Text& t) { return find(t, splitLines(t), sectionName, keyName).keyLine >= 0; };
    {
        // A key that is not there is not removed again (nor is its file
        // locked for nothing).
        Text t;
        Error e;
        if (!load(path, t, nullptr, &e) && (!e || e.notFound()))
            return {}; // no file: no key either
        if (!e && !hasKey(t))
            return {};
    }
    FileLock lock;
    if (Error e = lockFor(path, lock))
        return e;
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? Error{} : platform::fileErrorFromErrno(errno, path);
    Text t;
    if (Error e = loadForRewrite(path, st, t))
        return e;
    const QList<Line> lines = splitLines(t);
    const Found f = find(t, lines, sectionName, keyName);
    if (f.keyLine < 0)
        return {};
    // The key's line goes with its line end; every other byte stays.
    const Line& l = lines.at(f.keyLine);
    const QByteArray out = t.bytes.left(l.start) + t.bytes.mid(l.next);
    if (Error e = replaceFile(path, out, st.st_mode & 07777, &st))
        return e;
    if (changed)
        *changed = true;
    return {};
}

} // namespace mirsalex::ProfileFile
