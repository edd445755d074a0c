#include "changes/VersioningChanges.h"

#include "changes/ChangeDetail.h"
#include "changes/Manifest.h"
#include "common/AtomicFile.h"
#include "common/ProfileFile.h"
#include "common/Prompt.h"
#include "common/SafeFileCopy.h"
#include "db/Integrity.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace mirsalex {

using namespace detail;

namespace {

bool& linksAllowed()
{
    static bool allowed = true;
    return allowed;
}

} // namespace

void VersioningChanges::setLinksAllowed(bool allowed)
{
    linksAllowed() = allowed;
}

VersioningChanges::VersioningChanges(VersionStore store, Prompt& prompt, QString restores, QString kind)
    : m_store(std::move(store)), m_prompt(prompt)
{
    m_entry.restores = std::move(restores);
    m_entry.madeBy = std::move(kind);
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
    struct stat st
    {
    };
    m_versionsDevice = ::stat(encoded(folder + kFiles).constData(), &st) == 0 ? st.st_dev : dev_t(-1);
    m_entry.installation = m_store.installation();
    if (Error e = append({QStringLiteral("entry"), id, m_entry.operatorCode, m_entry.side,
                          isoTime(m_entry.started), m_entry.restores, m_entry.installation.configFile,
                          m_entry.installation.dataFolder, m_entry.madeBy})) {
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
    QByteArray digest;
    // A database is kept whole only: an interrupted write beside it is
    // rolled back first, as its next open would. (The program's databases
    // are its .mdb files; a document has no journal to look for.)
    const bool database =
        kind == VersionItem::Kind::Database || path.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive);
    if (database && interruptedWriteBeside(path)) {
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
        // content. A database is changed in place and must be copied. Two
        // file systems never share a link: a disk that refused once is not
        // asked again.
        bool linked = false;
        if (kind == VersionItem::Kind::File && linksAllowed() && S_ISREG(st.st_mode) &&
            st.st_dev == m_versionsDevice && !m_noLinksFrom.contains(quint64(st.st_dev))) {
            if (::link(encoded(path).constData(), encoded(kept).constData()) == 0)
                linked = true;
            else if (errno == ENOSPC || errno == EDQUOT || errno == EACCES || errno == EROFS)
                return platform::fileErrorFromErrno(errno, m_entry.folder);
            else if (errno == EXDEV || errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK)
                m_noLinksFrom.insert(quint64(st.st_dev));
        }
        if (!linked) {
            // The program's one copier: the version is in place before the
            // change it guards is made, and on the disk before that change
            // is: flushed here, or, for a copy that joins a batch, with the
            // batch, before any of its copies is put in place.
            SafeFileCopy::Batch* batch = kind == VersionItem::Kind::File ? m_apply.batch() : nullptr;
            if (Error e = SafeFileCopy::copy(path, kept, nullptr, SafeFileCopy::Blocks::SharedWherePossible,
                                             batch ? SafeFileCopy::Flush::Later : SafeFileCopy::Flush::Now)) {
                e.path = m_entry.folder;
                return e;
            }
            if (batch)
                batch->flushWith(m_entry.folder);
        }
        // What was kept, so that a version damaged later is found.
        if (!digestOf(kept, size, digest)) {
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
    item.digest = digest;
    const QStringList fields = version.isEmpty() ? QStringList{what, path, version}
                                                 : QStringList{what, path, version, QString::number(size),
                                                               QString::fromLatin1(digest)};
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
    if (Error e = ProfileFile::write(file, section, key, value, &changed))
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

Error VersioningChanges::copyFile(const QString& source, const QString& destination, DestinationName known)
{
    // The destination is looked at whatever the caller knows: a file that
    // came after the listing is replaced, and must be kept first.
    const bool keptBefore = m_kept.contains(destination);
    if (Error e = keepFile(destination, VersionItem::Kind::File))
        return refuse(e);
    if (!keptBefore)
        m_unplaced.insert(destination);
    const Error error = m_apply.copyFile(source, destination, known);
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

} // namespace mirsalex
