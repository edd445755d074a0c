#pragma once

#include "common/Platform.h"
#include "common/RunLock.h"
#include "runtypes/ChangeSink.h"
#include "runtypes/RunReport.h"
#include "transfer/Changes.h"

#include <map>
#include <optional>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex {

class Prompt;

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
// its size and SHA-256, so that a version damaged since (cut short,
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
    QByteArray sha256; // its SHA-256, in hex; empty: not recorded
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

// The sink of a real run with versions: each change is made by ApplyChanges,
// after a version of what it replaces has been kept. When a version cannot
// be kept (no room, no permission), the change is not made: the user is told
// once (the folder and the cause), and the step gets the error.
class VersioningChanges final : public ChangeSink
{
public:
    // `restores`: the entry this run puts back (a restore), else empty.
    VersioningChanges(VersionStore store, Prompt& prompt, QString restores = QString());
    ~VersioningChanges() override;

    Mode mode() const override { return Mode::Apply; }
    [[nodiscard]] Error writeKey(const QString& file, const QString& section, const QString& key,
                                 const QString& value) override;
    [[nodiscard]] Error copyFile(const QString& source, const QString& destination) override;
    void beginCopies() override { m_apply.beginCopies(); }
    void commitCopies() override { m_apply.commitCopies(); }
    void endCopies() override { m_apply.endCopies(); }
    CopyBatchState copyBatch() const override { return m_apply.copyBatch(); }
    std::optional<qint64> modificationTime(const QString& path) const override;
    void prepareDatabase(Database& db) override;
    [[nodiscard]] Error willChangeDatabase(const QString& path) override;
    void databaseCommitted(const QString& path, qint64 rows) override;
    int removeStaleTemporaries(const QString& folder) override;

    // A restore's own changes: a file removed, a key removed (each kept
    // first, like every other change).
    [[nodiscard]] Error removeFile(const QString& path);
    [[nodiscard]] Error removeKey(const QString& file, const QString& section, const QString& key);

    // Ends the entry: records what the run left and its counters, then
    // removes the entries beyond the settings (under the lock of the store).
    void finish(const RunReport* report, bool prune = true);

    const VersionStore& store() const { return m_store; }
    // The entry this run made; empty when it kept nothing.
    const QString& entryId() const { return m_entry.id; }
    QString entryFolder() const { return m_entry.folder; }
    const QStringList& pruned() const { return m_pruned; }
    // Why versions could not be kept (the first time); empty when they could.
    const QString& failure() const { return m_failure; }

    // How a version of a file is kept: a hard link when the folder is on
    // the file's disk, else a copy. Tests turn links off to force copies.
    static void setLinksAllowed(bool allowed);

private:
    Error openEntry();
    Error keepFile(const QString& path, VersionItem::Kind kind);
    Error append(const QStringList& fields);
    Error refuse(const Error& error);
    // A copy kept its destination's version first; once the copy is in
    // place it is recorded, and when it never will be, the version is not
    // one (a file it would have created was not created).
    void copySettled(const QString& source, const QString& destination, bool placed);
    void dropVersion(const QString& path);
    // Records the value a key had (`old`, or none) before it changes; the
    // error when the record cannot be kept (the user has been told).
    Error keepKey(const QString& file, const QString& section, const QString& key, const QString& old);

    VersionStore m_store;
    Prompt& m_prompt;
    ApplyChanges m_apply;
    VersionEntry m_entry;
    RunLock m_lock;
    int m_manifest = -1;
    int m_counter = 0;
    QSet<QString> m_kept;     // paths (files, databases) already kept by this run
    QSet<QString> m_unplaced; // kept for a copy that is not in place yet
    QSet<QString> m_keys;     // "file\nsection\nkey" already kept
    QStringList m_pruned;
    QString m_failure;
    bool m_told = false;
    bool m_finished = false;
};

// The items of `entry` that something changed again after its run: a file,
// database or key that is no longer as the run left it (a later run, the
// main application). One line each.
// An item whose folder is not there (see missingFolders()) is not one of
// them.
QStringList laterChanges(const VersionEntry& entry);

// The folders that the files and databases of `entry` lie in and that are
// not there now (an exchange area that is not mounted): for each, the
// outermost folder missing, with the separator at its end.
QStringList missingFolders(const VersionEntry& entry);

// The kept files of `entry` that are no longer what was kept: missing, of
// another size or checksum, a database that fails the engine's check. One
// line each, naming the item. Empty when every one can be put back.
QStringList damagedItems(const VersionEntry& entry);

// What a restore of an entry that does not say its installation warns of
// before it asks (two lines).
QString unrecordedEntryWarning();

// Puts back, through `sink`, everything `entry` changed, as it was just
// before its run: files byte for byte with their times, files the run
// created removed, databases whole, keys with their old values (a key that
// did not exist removed). Every kept file is checked first (damagedItems()):
// a damaged entry is refused whole, nothing changed, and its damaged items
// are returned. Returns the failures, one line each.
QStringList restoreEntry(const VersionEntry& entry, VersioningChanges& sink);

} // namespace mirsalex
