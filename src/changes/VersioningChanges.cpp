#include "transfer/Versions.h"

#include "common/AtomicFile.h"
#include "common/ProfileFile.h"
#include "common/Prompt.h"
#include "config/ConfigLoader.h"
#include "db/Integrity.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirsalex {

namespace {

bool& linksAllowed()
{
    static bool allowed = true;
    return allowed;
}

const QString kManifest = QStringLiteral("manifest");
const QString kFiles = QStringLiteral("files");
// A value no configuration key can hold: a key that was not there.
const QString kAbsent = QStringLiteral("\x01\x02");
constexpr int kValueBuffer = 65536;

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

QString sideName(bool portable)
{
    return portable ? QStringLiteral("portable") : QStringLiteral("desktop");
}

// Fields of a manifest record: tab-separated, each percent-encoded so that
// no value can break a record.
QByteArray recordLine(const QStringList& fields)
{
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += '\t';
        line += QUrl::toPercentEncoding(fields.at(i));
    }
    return line + '\n';
}

QStringList recordFields(const QByteArray& line)
{
    QStringList fields;
    for (const QByteArray& f : line.split('\t'))
        fields << QUrl::fromPercentEncoding(f);
    return fields;
}

QString isoTime(const QDateTime& t)
{
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// A key's value in the configuration file, or kAbsent.
QString keyValue(const QString& file, const QString& section, const QString& key)
{
    QString value;
    ProfileFile::read(file, section, key, kAbsent, value, kValueBuffer);
    return value;
}

QString keyText(const QString& section, const QString& key, const QString& value)
{
    return QLatin1Char('[') + section + QStringLiteral("] ") + key.trimmed() + QLatin1Char('=') + value;
}

QString keyId(const QString& file, const QString& section, const QString& key)
{
    return file + QLatin1Char('\n') + section.trimmed().toUpper() + QLatin1Char('\n') +
           key.trimmed().toUpper();
}

// Copies `source` whole to the new file `destination` through the program's
// atomic writer: a reflink when the file system makes one, else the kernel's
// copy, else read and write. The copy keeps the source's times and
// permissions. Returns 0 or the errno value.
int copyWhole(const QString& source, const QString& destination)
{
    const int in = ::open(encoded(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{in};
    struct stat st
    {
    };
    if (::fstat(in, &st) != 0)
        return errno;
    AtomicFile out(destination);
    if (!out.open())
        return out.error().number;
    bool done = ::ioctl(out.handle(), FICLONE, in) == 0;
    if (!done) {
        qint64 left = st.st_size;
        loff_t from = 0;
        while (left > 0) {
            const ssize_t n = ::copy_file_range(in, &from, out.handle(), nullptr, size_t(left), 0);
            if (n <= 0)
                break;
            left -= n;
        }
        done = left == 0;
        if (!done && from == 0) {
            // No kernel copy between these file systems: read and write.
            char buffer[1 << 16];
            for (;;) {
                const ssize_t n = ::read(in, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    return errno;
                if (n == 0)
                    break;
                if (!out.write(buffer, n))
                    return out.error().number;
            }
            done = true;
        } else if (!done) {
            return errno != 0 ? errno : EIO;
        }
    }
    if (!out.setPermissions(st.st_mode & 07777))
        return out.error().number;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.handle(), times) != 0)
        return errno;
    if (!out.commit())
        return out.error().number;
    return 0;
}

// The size and SHA-256 (hex) of a file; false when it cannot be read whole.
bool digestOf(const QString& path, qint64& size, QByteArray& sha256)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f))
        return false;
    size = f.size();
    sha256 = hash.result().toHex();
    return true;
}

// True when the file begins as a database of the engine does.
bool engineFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(16) == QByteArray("SQLite format 3", 16);
}

// A database, or a file that may be one: its journal is its part.
bool databaseItem(const VersionItem& i)
{
    return i.kind == VersionItem::Kind::Database ||
           i.path.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive) ||
           QFileInfo::exists(i.path + QStringLiteral("-journal"));
}

// Removes what an interrupted write left beside a database (its rollback
// journal, the super-journals of a write across several files), flushed
// out of its folder: a database put back must have nothing beside it that
// the next open would roll onto it. Returns 0 or the errno value.
int removeJournals(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath() + QLatin1Char('/');
    const QString journal = info.fileName() + QStringLiteral("-journal");
    const QString super = info.fileName() + QStringLiteral("-mj");
    QStringList gone;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name == journal || name.startsWith(super))
            gone << name;
    }
    if (gone.isEmpty())
        return 0;
    for (const QString& name : std::as_const(gone)) {
        if (::unlink(encoded(folder + name).constData()) != 0 && errno != ENOENT)
            return errno;
    }
    return AtomicFile::syncFolder(folder);
}

} // namespace

// ---------------------------------------------------------------------------
// VersionInstallation

VersionInstallation VersionInstallation::of(const QString& fileIni, const QString& pathDati)
{
    VersionInstallation i;
    if (!fileIni.isEmpty())
        i.configFile = QFileInfo(ProfileFile::locate(fileIni)).absoluteFilePath();
    i.dataFolder = pathDati;
    return i;
}

bool VersionInstallation::sameAs(const VersionInstallation& other) const
{
    const auto samePath = [](const QString& a, const QString& b) {
        if (QDir::cleanPath(a) == QDir::cleanPath(b))
            return true;
        const QString ca = QFileInfo(a).canonicalFilePath();
        return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
    };
    return samePath(configFile, other.configFile) && samePath(dataFolder, other.dataFolder);
}

// ---------------------------------------------------------------------------
// VersionSettings

QString VersionSettings::defaultRoot()
{
    return platform::stateFolder() + QStringLiteral("mirsalex/versions/");
}

VersionSettings VersionSettings::fromConfiguration(const QString& iniFile)
{
    VersionSettings s;
    s.root = defaultRoot();
    if (iniFile.isEmpty())
        return s;
    const QString section = QStringLiteral("EXPORT");
    const QString folder = keyValue(iniFile, section, QStringLiteral("VERSIONI")).trimmed();
    if (folder != kAbsent && !folder.isEmpty())
        s.root = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    bool ok = false;
    const int runs = keyValue(iniFile, section, QStringLiteral("VERSIONINUMERO")).trimmed().toInt(&ok);
    if (ok && runs > 0)
        s.keepRuns = runs;
    const int days = keyValue(iniFile, section, QStringLiteral("VERSIONIGIORNI")).trimmed().toInt(&ok);
    if (ok && days > 0)
        s.keepDays = days;
    return s;
}

// ---------------------------------------------------------------------------
// VersionEntry

int VersionEntry::count(VersionItem::Kind kind) const
{
    return int(
        std::count_if(items.begin(), items.end(), [kind](const VersionItem& i) { return i.kind == kind; }));
}

std::map<QString, int> VersionEntry::filesByGroup() const
{
    std::map<QString, int> groups;
    for (const VersionItem& i : items) {
        if (i.kind != VersionItem::Kind::File)
            continue;
        const QString name = QFileInfo(i.path).fileName().toUpper();
        QString group = QStringLiteral("altri");
        if (name.endsWith(QLatin1String(".MDB")))
            group = QStringLiteral("database");
        else if (name.startsWith(QLatin1String("SK")))
            group = QStringLiteral("schede");
        else if (name.startsWith(QLatin1String("XK")))
            group = QStringLiteral("fogli");
        ++groups[group];
    }
    return groups;
}

QString VersionEntry::summaryLine() const
{
    QStringList files;
    for (const auto& [group, n] : filesByGroup())
        files << QStringLiteral("%1 %2").arg(group).arg(n);
    QStringList rowText;
    for (const auto& [table, n] : rows) {
        if (n > 0)
            rowText << QStringLiteral("%1 %2").arg(table).arg(n);
    }
    QString line =
        QStringLiteral("%1  %2  %3  %4")
            .arg(id, -17)
            .arg(started.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")))
            .arg(side == QLatin1String("portable") ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"),
                 -9)
            .arg(restores.isEmpty() ? QStringLiteral("aggiornamento")
                                    : QStringLiteral("ripristino di ") + restores);
    line += QStringLiteral("  file: ") +
            (files.isEmpty() ? QStringLiteral("nessuno") : files.join(QStringLiteral(", ")));
    line += QStringLiteral("; righe: ") +
            (rowText.isEmpty() ? QStringLiteral("nessuna") : rowText.join(QStringLiteral(", ")));
    line += QStringLiteral("; database modificati: %1; chiavi: %2")
                .arg(count(VersionItem::Kind::Database))
                .arg(count(VersionItem::Kind::Key));
    if (!ended)
        line += QStringLiteral("  [INTERROTTO]");
    return line;
}

// ---------------------------------------------------------------------------
// VersionStore

VersionStore::VersionStore(VersionSettings settings, QString operatorCode, bool portable,
                           VersionInstallation installation)
    : m_settings(std::move(settings)), m_operator(std::move(operatorCode)), m_portable(portable),
      m_installation(std::move(installation))
{
    if (m_settings.root.isEmpty())
        m_settings.root = VersionSettings::defaultRoot();
    if (!m_settings.root.endsWith(QLatin1Char('/')))
        m_settings.root += QLatin1Char('/');
}

QString VersionStore::folder() const
{
    return m_settings.root + m_operator + QLatin1Char('/') + sideName(m_portable) + QLatin1Char('/');
}

bool VersionStore::readEntry(const QString& folder, VersionEntry& entry)
{
    QFile f(folder + kManifest);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    entry = VersionEntry();
    entry.folder = folder;
    QHash<QString, size_t> byPath; // "kind\npath" -> item index
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            break; // a record cut off by a crash is not one
        const QStringList r = recordFields(bytes.mid(start, end - start));
        start = end + 1;
        const QString& what = r.at(0);
        if (what == QLatin1String("entry") && r.size() >= 6) {
            entry.id = r[1];
            entry.operatorCode = r[2];
            entry.side = r[3];
            entry.started = QDateTime::fromString(r[4], Qt::ISODateWithMs);
            entry.restores = r[5];
            // Added later: the installation the entry belongs to.
            if (r.size() >= 8) {
                entry.installation.configFile = r[6];
                entry.installation.dataFolder = r[7];
            }
        } else if ((what == QLatin1String("file") || what == QLatin1String("database")) && r.size() >= 3) {
            VersionItem i;
            i.kind = what == QLatin1String("file") ? VersionItem::Kind::File : VersionItem::Kind::Database;
            i.path = r[1];
            i.version = r[2];
            // Added later: the kept file's size and checksum.
            if (r.size() >= 5 && !i.version.isEmpty()) {
                bool ok = false;
                const qint64 size = r[3].toLongLong(&ok);
                if (ok && size >= 0) {
                    i.size = size;
                    i.sha256 = r[4].toLatin1();
                }
            }
            byPath.insert(r[1], entry.items.size());
            entry.items.push_back(i);
        } else if (what == QLatin1String("drop") && r.size() >= 2) {
            // A version whose change was not made after all.
            const auto it = byPath.constFind(r[1]);
            if (it != byPath.constEnd()) {
                entry.items[*it].path.clear();
                byPath.remove(r[1]);
            }
        } else if (what == QLatin1String("key") && r.size() >= 6) {
            VersionItem i;
            i.kind = VersionItem::Kind::Key;
            i.path = r[1];
            i.section = r[2];
            i.key = r[3];
            i.hadValue = r[4] == QLatin1String("1");
            i.oldValue = r[5];
            byPath.insert(keyId(r[1], r[2], r[3]), entry.items.size());
            entry.items.push_back(i);
        } else if (what == QLatin1String("after") && r.size() >= 5) {
            const auto it = byPath.constFind(r[1]);
            if (it != byPath.constEnd()) {
                VersionItem& i = entry.items[*it];
                i.hasAfter = true;
                i.existsAfter = r[2] == QLatin1String("1");
                i.sizeAfter = r[3].toLongLong();
                i.mtimeNsAfter = r[4].toLongLong();
            }
        } else if (what == QLatin1String("keyafter") && r.size() >= 6) {
            const auto it = byPath.constFind(keyId(r[1], r[2], r[3]));
            if (it != byPath.constEnd()) {
                VersionItem& i = entry.items[*it];
                i.hasAfter = true;
                i.valueAfter = r[4] == QLatin1String("1") ? r[5] : QString();
            }
        } else if (what == QLatin1String("rows") && r.size() >= 3) {
            entry.rows.emplace_back(r[1], r[2].toLongLong());
        } else if (what == QLatin1String("end") && r.size() >= 3) {
            entry.ended = true;
            entry.exitStatus = r[2].toInt();
        }
    }
    std::erase_if(entry.items, [](const VersionItem& i) { return i.path.isEmpty(); });
    return !entry.id.isEmpty();
}

std::vector<VersionEntry> VersionStore::list() const
{
    std::vector<VersionEntry> entries;
    const QString base = folder();
    const QStringList names = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (name.startsWith(QLatin1Char('.')))
            continue;
        VersionEntry e;
        if (readEntry(base + name + QLatin1Char('/'), e))
            entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(), [](const VersionEntry& a, const VersionEntry& b) {
        if (a.started != b.started)
            return a.started > b.started;
        return a.id > b.id;
    });
    return entries;
}

VersionStore::Owner VersionStore::owner(const VersionEntry& entry) const
{
    if (m_installation.isEmpty())
        return Owner::This;
    if (entry.installation.isEmpty())
        return Owner::Unrecorded;
    return m_installation.sameAs(entry.installation) ? Owner::This : Owner::Other;
}

std::vector<VersionEntry> VersionStore::list(Owner which) const
{
    std::vector<VersionEntry> entries = list();
    std::erase_if(entries, [&](const VersionEntry& e) { return owner(e) != which; });
    return entries;
}

std::optional<VersionEntry> VersionStore::find(const QString& id) const
{
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.startsWith(QLatin1Char('.')))
        return std::nullopt;
    VersionEntry e;
    if (!readEntry(folder() + id + QLatin1Char('/'), e))
        return std::nullopt;
    return e;
}

QStringList VersionStore::prune(const QString& keep, const QDateTime& now)
{
    const QString base = folder();
    // What an earlier pruning was killed in the middle of.
    for (const QString& name : QDir(base).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (name.startsWith(QLatin1String(".removing-")))
            QDir(base + name).removeRecursively();
    }
    const std::vector<VersionEntry> entries = list();
    const QDateTime oldest = now.addDays(-m_settings.keepDays);
    QStringList removed;
    int counted = 0; // this installation's entries so far, newest first
    for (const VersionEntry& e : entries) {
        const Owner o = owner(e);
        if (o == Owner::Other)
            continue;
        const int place = o == Owner::This ? counted++ : 0;
        if (e.id == keep)
            continue;
        if (place < m_settings.keepRuns && e.started >= oldest)
            continue;
        // Out of the list at once (a rename), then removed.
        const QString gone = base + QStringLiteral(".removing-") + e.id;
        if (AtomicFile::renameFile(base + e.id, gone) != 0)
            continue;
        QDir(gone).removeRecursively();
        removed.prepend(e.id);
    }
    if (!removed.isEmpty())
        (void)AtomicFile::syncFolder(base);
    return removed;
}

// ---------------------------------------------------------------------------
// VersioningChanges

void VersioningChanges::setLinksAllowed(bool allowed)
{
    linksAllowed() = allowed;
}

VersioningChanges::VersioningChanges(VersionStore store, Prompt& prompt, QString restores)
    : m_store(std::move(store)), m_prompt(prompt)
{
    m_entry.restores = std::move(restores);
    m_entry.operatorCode = m_store.operatorCode();
    m_entry.side = sideName(m_store.portable());
    m_apply.setCopySettled([this](const QString& source, const QString& destination, bool placed) {
        copySettled(source, destination, placed);
    });
}

VersioningChanges::~VersioningChanges()
{
    if (m_manifest >= 0)
        ::close(m_manifest);
}

Error VersioningChanges::openEntry()
{
    if (m_manifest >= 0)
        return {};
    const QString base = m_store.folder();
    if (!QDir().mkpath(base))
        return platform::fileErrorFromErrno(errno != 0 ? errno : EACCES, base);
    ::chmod(encoded(m_store.settings().root).constData(), 0700);
    if (!m_lock.held()) {
        QString busy;
        if (!m_lock.acquire(
                {base}, m_store.portable() ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"), &busy))
            return platform::fileErrorFromErrno(EBUSY, base);
    }
    // The entry's name is the time of its first change; a second entry in
    // the same second gets a number.
    m_entry.started = QDateTime::currentDateTime();
    const QString stamp = m_entry.started.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString id = stamp;
    for (int n = 2;; ++n) {
        if (::mkdir(encoded(base + id).constData(), 0700) == 0)
            break;
        if (errno != EEXIST)
            return platform::fileErrorFromErrno(errno, base);
        id = stamp + QLatin1Char('-') + QString::number(n);
    }
    const QString folder = base + id + QLatin1Char('/');
    if (::mkdir(encoded(folder + kFiles).constData(), 0700) != 0) {
        const int err = errno;
        QDir(folder).removeRecursively();
        return platform::fileErrorFromErrno(err, folder);
    }
    m_manifest = ::open(encoded(folder + kManifest).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (m_manifest < 0) {
        const int err = errno;
        QDir(folder).removeRecursively();
        return platform::fileErrorFromErrno(err, folder);
    }
    m_entry.id = id;
    m_entry.folder = folder;
    m_entry.installation = m_store.installation();
    if (Error e =
            append({QStringLiteral("entry"), id, m_entry.operatorCode, m_entry.side, isoTime(m_entry.started),
                    m_entry.restores, m_entry.installation.configFile, m_entry.installation.dataFolder})) {
        ::close(m_manifest);
        m_manifest = -1;
        QDir(folder).removeRecursively();
        m_entry.id.clear();
        m_entry.folder.clear();
        return e;
    }
    (void)AtomicFile::syncFolder(base);
    return {};
}

Error VersioningChanges::append(const QStringList& fields)
{
    const QByteArray line = recordLine(fields);
    if (const int err = AtomicFile::writeAll(m_manifest, line.constData(), line.size()))
        return platform::fileErrorFromErrno(err, m_entry.folder);
    return {};
}

Error VersioningChanges::refuse(const Error& error)
{
    if (!m_told) {
        m_told = true;
        const QString folder = m_entry.folder.isEmpty() ? m_store.folder() : m_entry.folder;
        m_failure = QStringLiteral("VERSIONI: IMPOSSIBILE CONSERVARE LA VERSIONE DEI FILE\n") + folder +
                    QLatin1Char('\n') + QString::number(error.number) + QLatin1Char('-') +
                    (error.number == 55 ? QStringLiteral("cartella in uso da un altro aggiornamento")
                                        : platform::errorDescription(error.number)) +
                    QStringLiteral("\nNessun file viene sostituito senza la sua versione.");
        m_prompt.show(m_failure, MsgStyle::ExclamationOk);
    }
    Error e = error;
    e.path = m_entry.folder.isEmpty() ? m_store.folder() : m_entry.folder;
    return e;
}

Error VersioningChanges::keepFile(const QString& path, VersionItem::Kind kind)
{
    if (m_kept.contains(path))
        return {};
    if (Error e = openEntry())
        return e;
    const QString what =
        kind == VersionItem::Kind::File ? QStringLiteral("file") : QStringLiteral("database");
    struct stat st
    {
    };
    QString version;
    QString kept; // the version's full path, removed again when it cannot be recorded
    qint64 size = -1;
    QByteArray sha256;
    // A database is kept whole only: an interrupted write beside it is
    // rolled back first, as its next open would.
    if (interruptedWriteBeside(path)) {
        if (Error e = rollBackInterruptedWrite(path))
            return e;
    }
    if (::lstat(encoded(path).constData(), &st) != 0) {
        if (errno != ENOENT)
            return platform::fileErrorFromErrno(errno, path);
        // Not there: the run creates it, and putting the run back removes it.
    } else {
        version = kFiles + QLatin1Char('/') +
                  QStringLiteral("%1-").arg(++m_counter, 6, 10, QLatin1Char('0')) +
                  QFileInfo(path).fileName();
        kept = m_entry.folder + version;
        // A file replaced by a copy gets a new inode: a link keeps the old
        // content. A database is changed in place and must be copied.
        bool linked = false;
        if (kind == VersionItem::Kind::File && linksAllowed() && S_ISREG(st.st_mode)) {
            if (::link(encoded(path).constData(), encoded(kept).constData()) == 0)
                linked = true;
            else if (errno == ENOSPC || errno == EDQUOT || errno == EACCES || errno == EROFS)
                return platform::fileErrorFromErrno(errno, m_entry.folder);
        }
        if (!linked) {
            if (const int err = copyWhole(path, kept))
                return platform::fileErrorFromErrno(err, m_entry.folder);
        }
        // What was kept, so that a version damaged later is found.
        if (!digestOf(kept, size, sha256)) {
            const int err = errno != 0 ? errno : EIO;
            ::unlink(encoded(kept).constData());
            return platform::fileErrorFromErrno(err, m_entry.folder);
        }
    }
    VersionItem item;
    item.kind = kind;
    item.path = path;
    item.version = version;
    item.size = size;
    item.sha256 = sha256;
    const QStringList fields = version.isEmpty() ? QStringList{what, path, version}
                                                 : QStringList{what, path, version, QString::number(size),
                                                               QString::fromLatin1(sha256)};
    if (Error e = append(fields)) {
        if (!kept.isEmpty())
            ::unlink(encoded(kept).constData());
        return e;
    }
    m_entry.items.push_back(item);
    m_kept.insert(path);
    return {};
}

Error VersioningChanges::keepKey(const QString& file, const QString& section, const QString& key,
                                 const QString& old)
{
    const bool had = old != kAbsent;
    Error e = openEntry();
    if (!e)
        e = append({QStringLiteral("key"), file, section, key,
                    had ? QStringLiteral("1") : QStringLiteral("0"), had ? old : QString()});
    if (e)
        return refuse(e);
    VersionItem item;
    item.kind = VersionItem::Kind::Key;
    item.path = file;
    item.section = section;
    item.key = key;
    item.hadValue = had;
    item.oldValue = had ? old : QString();
    m_entry.items.push_back(item);
    m_keys.insert(keyId(file, section, key));
    return {};
}

Error VersioningChanges::writeKey(const QString& file, const QString& section, const QString& key,
                                  const QString& value)
{
    // A key that holds the value already is not written: no entry, no change.
    if (ProfileFile::holds(file, section, key, value))
        return {};
    const QString id = keyId(file, section, key);
    if (!m_keys.contains(id)) {
        const QString old = keyValue(file, section, key);
        // The key keeps its value: nothing is changed without its version.
        if (old != value || old == kAbsent) {
            if (Error e = keepKey(file, section, key, old))
                return e;
        }
    }
    bool changed = false;
    if (Error e = ScriviIni(file, section, key, value, &changed))
        return e;
    if (changed)
        record(Change::Kind::Key, file, keyText(section, key, value));
    return {};
}

Error VersioningChanges::removeKey(const QString& file, const QString& section, const QString& key)
{
    const QString id = keyId(file, section, key);
    const QString old = keyValue(file, section, key);
    if (old == kAbsent)
        return {};
    if (!m_keys.contains(id)) {
        if (Error e = keepKey(file, section, key, old))
            return e;
    }
    bool changed = false;
    if (Error e = ProfileFile::remove(file, section, key, &changed))
        return e;
    if (changed)
        record(Change::Kind::Key, file,
               QLatin1Char('[') + section + QStringLiteral("] ") + key.trimmed() +
                   QStringLiteral(" (rimossa)"));
    return {};
}

Error VersioningChanges::copyFile(const QString& source, const QString& destination)
{
    const bool keptBefore = m_kept.contains(destination);
    if (Error e = keepFile(destination, VersionItem::Kind::File))
        return refuse(e);
    if (!keptBefore)
        m_unplaced.insert(destination);
    const Error error = m_apply.copyFile(source, destination);
    if (error)
        dropVersion(destination); // nothing was replaced
    return error;
}

void VersioningChanges::copySettled(const QString& source, const QString& destination, bool placed)
{
    if (!placed) {
        dropVersion(destination);
        return;
    }
    m_unplaced.remove(destination);
    record(Change::Kind::File, destination, source);
}

void VersioningChanges::dropVersion(const QString& path)
{
    // Only a version kept for this very copy: one kept for an earlier change
    // that was made stands.
    if (!m_unplaced.remove(path))
        return;
    const auto it = std::find_if(m_entry.items.begin(), m_entry.items.end(), [&](const VersionItem& i) {
        return i.kind == VersionItem::Kind::File && i.path == path;
    });
    if (it == m_entry.items.end() || append({QStringLiteral("drop"), path}))
        return; // a record that cannot be added leaves the version listed
    if (!it->version.isEmpty())
        ::unlink(encoded(m_entry.folder + it->version).constData());
    m_entry.items.erase(it);
    m_kept.remove(path);
}

Error VersioningChanges::removeFile(const QString& path)
{
    if (Error e = keepFile(path, VersionItem::Kind::File))
        return refuse(e);
    if (::unlink(encoded(path).constData()) != 0 && errno != ENOENT)
        return platform::fileErrorFromErrno(errno, path);
    (void)AtomicFile::syncFolder(QFileInfo(path).absolutePath());
    record(Change::Kind::Removal, path);
    return {};
}

std::optional<qint64> VersioningChanges::modificationTime(const QString& path) const
{
    return m_apply.modificationTime(path);
}

void VersioningChanges::prepareDatabase(Database& db)
{
    m_apply.prepareDatabase(db);
}

Error VersioningChanges::willChangeDatabase(const QString& path)
{
    if (Error e = keepFile(path, VersionItem::Kind::Database))
        return refuse(e);
    return {};
}

void VersioningChanges::databaseCommitted(const QString& path, qint64 rows)
{
    m_apply.databaseCommitted(path, rows);
    if (rows > 0)
        record(Change::Kind::Database, path, QString::number(rows));
}

int VersioningChanges::removeStaleTemporaries(const QString& folder)
{
    // Abandoned halves of copies: nothing to keep a version of.
    const size_t before = m_apply.changes().size();
    const int removed = m_apply.removeStaleTemporaries(folder);
    for (size_t i = before; i < m_apply.changes().size(); ++i)
        record(Change::Kind::Removal, m_apply.changes()[i].path);
    return removed;
}

void VersioningChanges::finish(const RunReport* report, bool prune)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_manifest >= 0) {
        QByteArray tail;
        for (const VersionItem& i : m_entry.items) {
            if (i.kind == VersionItem::Kind::Key) {
                const QString v = keyValue(i.path, i.section, i.key);
                tail += recordLine({QStringLiteral("keyafter"), i.path, i.section, i.key,
                                    v == kAbsent ? QStringLiteral("0") : QStringLiteral("1"),
                                    v == kAbsent ? QString() : v});
                continue;
            }
            struct stat st
            {
            };
            const bool exists = ::stat(encoded(i.path).constData(), &st) == 0;
            tail += recordLine(
                {QStringLiteral("after"), i.path, exists ? QStringLiteral("1") : QStringLiteral("0"),
                 QString::number(exists ? qint64(st.st_size) : 0),
                 QString::number(exists ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0)});
        }
        if (report) {
            if (report->clientiAggiunti > 0)
                tail += recordLine({QStringLiteral("rows"), QStringLiteral("Clienti"),
                                    QString::number(report->clientiAggiunti)});
            for (size_t t = 0; t < report->tabelle.size(); ++t) {
                const TableCounters& c = report->tabelle[t];
                const qint64 n = c.toLocal + c.toExchange + c.purgedLocal + c.purgedExchange;
                tail += recordLine(
                    {QStringLiteral("rows"), QLatin1String(kVisitsTableNames[t]), QString::number(n)});
            }
        }
        tail += recordLine({QStringLiteral("end"), isoTime(QDateTime::currentDateTime()),
                            QString::number(report ? report->exitStatus() : 0)});
        (void)AtomicFile::writeAll(m_manifest, tail.constData(), tail.size());
        (void)AtomicFile::syncFile(m_manifest);
        (void)AtomicFile::syncFolder(m_entry.folder + kFiles);
        ::close(m_manifest);
        m_manifest = -1;
    }
    // A run refused by the lock changes nothing, not even the old entries.
    if (!prune || (report && report->refused))
        return;
    // Pruning works under the lock of the store, like the entries.
    if (!m_lock.held()) {
        const QString base = m_store.folder();
        if (!platform::isDirectory(base))
            return;
        if (!m_lock.acquire({base},
                            m_store.portable() ? QStringLiteral("Portatile") : QStringLiteral("DeskTop")))
            return;
    }
    m_pruned = m_store.prune(m_entry.id);
}

// ---------------------------------------------------------------------------
// Restore

namespace {

// The outermost missing folder above `path`, with the separator at its end;
// empty when the file's own folder is there.
QString missingFolderOf(const QString& path)
{
    QString folder = QFileInfo(path).absolutePath();
    if (platform::isDirectory(folder))
        return QString();
    for (;;) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder || platform::isDirectory(parent))
            break;
        folder = parent;
    }
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

QStringList missingFolders(const VersionEntry& entry)
{
    QStringList out;
    for (const VersionItem& i : entry.items) {
        if (i.kind == VersionItem::Kind::Key)
            continue;
        const QString folder = missingFolderOf(i.path);
        if (!folder.isEmpty() && !out.contains(folder))
            out << folder;
    }
    return out;
}

QStringList laterChanges(const VersionEntry& entry)
{
    QStringList out;
    for (const VersionItem& i : entry.items) {
        if (!i.hasAfter)
            continue;
        if (i.kind == VersionItem::Kind::Key) {
            const QString v = keyValue(i.path, i.section, i.key);
            const QString now = v == kAbsent ? QString() : v;
            if (now != i.valueAfter || (now.isNull() != i.valueAfter.isNull()))
                out << QStringLiteral("[%1] %2 (%3)").arg(i.section, i.key, i.path);
            continue;
        }
        struct stat st
        {
        };
        const bool exists = ::stat(encoded(i.path).constData(), &st) == 0;
        // A folder that is not there (an exchange area not mounted) is no
        // later change: missingFolders() names it.
        if (!exists && !missingFolderOf(i.path).isEmpty())
            continue;
        const qint64 mtime = exists ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0;
        if (exists != i.existsAfter ||
            (exists && (qint64(st.st_size) != i.sizeAfter || mtime != i.mtimeNsAfter)))
            out << i.path;
    }
    return out;
}

QStringList damagedItems(const VersionEntry& entry)
{
    QStringList out;
    for (const VersionItem& i : entry.items) {
        if (i.kind == VersionItem::Kind::Key || i.version.isEmpty())
            continue;
        const QString kept = entry.folder + i.version;
        const auto damaged = [&](const QString& why) {
            out << QStringLiteral("%1: versione danneggiata (%2): %3").arg(i.path, i.version, why);
        };
        if (!platform::isFile(kept)) {
            damaged(QStringLiteral("il file conservato non c'è più"));
            continue;
        }
        if (i.size >= 0) {
            qint64 size = -1;
            QByteArray sha256;
            if (!digestOf(kept, size, sha256)) {
                damaged(QStringLiteral("il file conservato non si può leggere"));
                continue;
            }
            if (size != i.size) {
                damaged(QStringLiteral("%1 byte invece dei %2 conservati").arg(size).arg(i.size));
                continue;
            }
            if (!i.sha256.isEmpty() && sha256 != i.sha256) {
                damaged(QStringLiteral("il contenuto non è quello conservato"));
                continue;
            }
        }
        // A database must also be whole for the engine (the one check an
        // older manifest allows).
        const bool database = i.kind == VersionItem::Kind::Database ||
                              (i.path.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive) &&
                               (engineFile(kept) || engineFile(i.path)));
        if (database) {
            if (const Error e = checkDatabaseIntegrity(kept))
                damaged(QStringLiteral("database non integro: ") + QString::number(e.number) +
                        QLatin1Char('-') + e.text);
        }
    }
    return out;
}

QString unrecordedEntryWarning()
{
    return QStringLiteral("La versione non dice di quale installazione è (l'ha conservata una versione "
                          "precedente del programma).\n"
                          "Se è di un'altra installazione di questo computer, il ripristino riscrive i file "
                          "e le chiavi di quella.");
}

QStringList restoreEntry(const VersionEntry& entry, VersioningChanges& sink)
{
    // Nothing is put back unless everything can be.
    if (QStringList damaged = damagedItems(entry); !damaged.isEmpty())
        return damaged;
    // The interrupted writes beside the databases are rolled back first, all
    // of them before any journal is removed (a write across several files
    // needs the journal of each while it is rolled back): the live files
    // are then whole, whenever the restore stops. One that cannot be rolled
    // back is replaced all the same, its journal removed first.
    for (const VersionItem& i : entry.items) {
        if (i.kind != VersionItem::Kind::Key && databaseItem(i))
            (void)rollBackInterruptedWrite(i.path);
    }
    QStringList failures;
    const auto fail = [&](const QString& path, int number) {
        failures << QStringLiteral("%1: %2-%3").arg(path).arg(number).arg(platform::errorDescription(number));
    };
    // Last change first: a key or file changed twice is put back as it was
    // before the first change (the entry holds only that one).
    for (auto it = entry.items.rbegin(); it != entry.items.rend(); ++it) {
        const VersionItem& i = *it;
        if (i.kind == VersionItem::Kind::Key) {
            const Error e = i.hadValue ? sink.writeKey(i.path, i.section, i.key, i.oldValue)
                                       : sink.removeKey(i.path, i.section, i.key);
            if (e)
                failures << QStringLiteral("[%1] %2 (%3): %4-%5")
                                .arg(i.section, i.key, i.path)
                                .arg(e.number)
                                .arg(e.text);
            continue;
        }
        // No journal may outlive the file it was written for: removed (and
        // flushed) before the kept content takes the file's place.
        if (databaseItem(i)) {
            if (const int err = removeJournals(i.path)) {
                fail(i.path, platform::fileErrorFromErrno(err, i.path).number);
                continue;
            }
        }
        Error e;
        if (i.version.isEmpty()) {
            if (platform::isFile(i.path) || QFileInfo(i.path).isSymLink())
                e = sink.removeFile(i.path);
        } else {
            e = sink.copyFile(entry.folder + i.version, i.path);
        }
        if (e)
            fail(i.path, e.number);
    }
    return failures;
}

} // namespace mirsalex
