#include "changes/Restore.h"

#include "changes/Manifest.h"
#include "changes/VersioningChanges.h"
#include "common/AtomicFile.h"
#include "common/JetSignature.h"
#include "common/Platform.h"
#include "db/Integrity.h"

#include <cerrno>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace mirsalex {

using namespace detail;

namespace {

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
            QByteArray digest;
            if (!digestOf(kept, size, digest)) {
                damaged(QStringLiteral("il file conservato non si può leggere"));
                continue;
            }
            if (size != i.size) {
                damaged(QStringLiteral("%1 byte invece dei %2 conservati").arg(size).arg(i.size));
                continue;
            }
            if (!i.digest.isEmpty() && digest != i.digest) {
                damaged(QStringLiteral("il contenuto non è quello conservato"));
                continue;
            }
        }
        // A database must also be whole for the engine (the one check an
        // older manifest allows). An Access file kept by its conversion is
        // none of the engine's: its digest is its check.
        const bool database = i.kind == VersionItem::Kind::Database ||
                              (i.path.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive) &&
                               (engineFile(kept) || (engineFile(i.path) && !jetSignatureOf(kept))));
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
