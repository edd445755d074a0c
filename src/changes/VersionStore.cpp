#include "changes/VersionStore.h"

#include "changes/Manifest.h"
#include "common/AtomicFile.h"
#include "common/Platform.h"
#include "common/ProfileFile.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace mirsalex {

using namespace detail;

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
            .arg(!restores.isEmpty()                      ? QStringLiteral("ripristino di ") + restores
                 : madeBy == QLatin1String("conversione") ? QStringLiteral("conversione da Access")
                                                          : QStringLiteral("aggiornamento"));
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
            // Added later still: what made an entry that is neither a run
            // nor a restore.
            if (r.size() >= 9)
                entry.madeBy = r[8];
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
                    i.digest = r[4].toLatin1();
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

} // namespace mirsalex
