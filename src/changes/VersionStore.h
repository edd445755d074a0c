#pragma once

#include <map>
#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace mirsalex {

// Versions: what a run replaces or changes is kept first, so that the whole
// run can be put back later (and the putting back too).
//
// The versions live on this computer, never on the exchange area: by
// default <state folder>mirsalex/versions/, then one folder per operator and
// side, and in it one entry per run:
//
//   versions/P001/portable/20261208-083801/
//       manifest             what the run changed, one record a line
//       files/000001-SK12.DOC  the file as it was before the run
//       ...
//
// A file replaced by a copy is kept as a hard link to its old content when
// the versions are on its file system (the copy puts a new file in its
// place, so the old content is the link's alone), else as a copy (a reflink
// where the file system makes one). A database changed in place is copied
// whole before the step opens it (the run holds the lock, so nothing else
// writes it meanwhile). A file the run created is recorded as such, and a
// configuration key with the value it had (or that it had none).
//
// The manifest is appended one record at a time, each after the version it
// names is complete and before the change it guards is made; the records
// that close it (what the run left, the counters) are added when the run
// ends. An entry whose manifest has no end record is a run that was killed:
// what it lists can still be put back.
//
// An entry belongs to one installation, its configuration file and its data
// folder, recorded in its first record: one computer may hold two
// installations for the same operator, and the versions of one are never
// listed, counted or put back for the other. A kept file is recorded with
// its size and digest (BLAKE2b-256), so that a version damaged since (cut short,
// overwritten) is found before anything is put back. Entries of older
// manifests lack both: they are listed apart and put back after a question,
// and of their files only the databases can be checked.
//
// A database is kept, and put back, as one with its journal: a version is
// taken only after an interrupted write beside it has been rolled back, and
// a database is put back with no journal left beside it that could roll an
// older write onto it.
struct VersionSettings
{
    QString root;      // folder of every operator's versions, with the separator at its end
    int keepRuns = 10; // entries kept per operator and side
    int keepDays = 30; // entries older than this are removed

    // <state folder>mirsalex/versions/
    static QString defaultRoot();
    // The settings of section EXPORT of the configuration file (VERSIONI,
    // VERSIONINUMERO, VERSIONIGIORNI), the defaults where a key is missing or
    // not valid.
    static VersionSettings fromConfiguration(const QString& iniFile);
};

// The installation versions belong to.
struct VersionInstallation
{
    QString configFile; // the configuration file, full path as located
    QString dataFolder; // its data folder (PathDati)

    // The installation of a configuration file name as the program holds it
    // (a full path, or a bare name for the shared configuration folder).
    static VersionInstallation of(const QString& fileIni, const QString& pathDati);
    bool isEmpty() const { return configFile.isEmpty(); }
    // The same files, also when reached by another spelling of their path.
    bool sameAs(const VersionInstallation& other) const;
};

// One thing an entry can put back.
struct VersionItem
{
    enum class Kind
    {
        File,     // replaced by a copy, or created, or removed by a restore
        Database, // changed in place by a merge
        Key,      // a configuration key
    };
    Kind kind = Kind::File;
    QString path;      // the file, the database; for a key, the configuration file
    QString version;   // the kept file, relative to the entry; empty: there was none
    qint64 size = -1;  // the kept file's size; -1: not recorded (an older manifest)
    QByteArray digest; // its digest (see digestOf()); empty: not recorded
    // Keys.
    QString section;
    QString key;
    bool hadValue = false;
    QString oldValue;
    // What the run left (recorded when it ended).
    bool hasAfter = false;
    bool existsAfter = false;
    qint64 sizeAfter = 0;
    qint64 mtimeNsAfter = 0;
    QString valueAfter; // keys: the value the run left, null when none
};

struct VersionEntry
{
    QString id;
    QString folder; // with the separator at its end
    QString operatorCode;
    QString side; // "desktop" or "portable"
    QDateTime started;
    QString restores;                 // the entry a restore put back; empty for a transfer run
    QString madeBy;                   // "conversione": Access files converted; empty for a run or a restore
    VersionInstallation installation; // empty: not recorded (an older manifest)
    bool ended = false;               // false: the run was killed before it ended
    int exitStatus = -1;
    std::vector<std::pair<QString, qint64>> rows; // rows changed per table, as counted by the run
    std::vector<VersionItem> items;

    int count(VersionItem::Kind kind) const;
    // Files replaced or created, by group: "schede", "fogli", "database", "altri".
    std::map<QString, int> filesByGroup() const;
    // One line for the list.
    QString summaryLine() const;
};

// The versions of one operator on one side, of one installation.
class VersionStore
{
public:
    // An empty `installation` takes every entry as its own.
    VersionStore(VersionSettings settings, QString operatorCode, bool portable,
                 VersionInstallation installation = {});

    const VersionSettings& settings() const { return m_settings; }
    QString folder() const; // <root><operator>/<side>/
    const QString& operatorCode() const { return m_operator; }
    bool portable() const { return m_portable; }
    const VersionInstallation& installation() const { return m_installation; }

    enum class Owner
    {
        This,       // an entry of this installation
        Unrecorded, // an entry that does not say (an older manifest)
        Other,      // an entry of another installation
    };
    Owner owner(const VersionEntry& entry) const;

    // Every entry of the folder, of any installation, newest first.
    std::vector<VersionEntry> list() const;
    // The entries of one owner, newest first.
    std::vector<VersionEntry> list(Owner owner) const;
    std::optional<VersionEntry> find(const QString& id) const;

    // Removes this installation's entries beyond the settings (more than
    // keepRuns, or older than keepDays), never `keep`; an entry that does
    // not say its installation goes by age alone, another installation's
    // never. Returns the ids removed, oldest first. The caller holds the
    // lock of the store.
    QStringList prune(const QString& keep, const QDateTime& now = QDateTime::currentDateTime());

    // Reads one entry's manifest; false when it cannot be read.
    static bool readEntry(const QString& folder, VersionEntry& entry);

private:
    VersionSettings m_settings;
    QString m_operator;
    bool m_portable;
    VersionInstallation m_installation;
};

} // namespace mirsalex
