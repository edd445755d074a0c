// The versions store and sink on their own: pruning keeps exactly what the
// settings say, a replaced file is kept (link or copy) with its bytes and
// time and put back, a created file is removed again, a key that did not
// exist is removed again keeping every other byte of the file; a database
// killed inside a transaction is kept and put back whole, without its
// journal; a damaged version is refused whole; the entries of another
// installation are neither listed, pruned nor taken as this one's.

#include "changes/Restore.h"
#include "changes/VersioningChanges.h"
#include "common/ProfileFile.h"
#include "common/Prompt.h"
#include "common/SafeFileCopy.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mirsalex {
namespace {

class SilentPrompt : public Prompt
{
public:
    QStringList shown;

protected:
    int ask(const QString& text, int, const QString&) override
    {
        shown << text;
        return AnswerOk;
    }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// An entry made by hand, started `ageDays` days before `now`.
void makeEntry(const VersionStore& store, const QString& id, const QDateTime& started)
{
    const QString folder = store.folder() + id + QLatin1Char('/');
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray line = "entry\t" + QUrl::toPercentEncoding(id) + "\tP001\tdesktop\t" +
                            QUrl::toPercentEncoding(started.toString(Qt::ISODateWithMs)) + "\t\nend\tx\t0\n";
    writeFile(folder + QStringLiteral("manifest"), line);
}

struct PruneCase
{
    int keepRuns;
    int keepDays;
    std::vector<int> agesInDays; // entries e0, e1, ... by age
    QString keep;                // the entry of the run that prunes
    QStringList expected;        // entries left, newest first
};

class PruneTest : public ::testing::TestWithParam<PruneCase>
{
};

TEST_P(PruneTest, KeepsExactlyWhatTheSettingsSay)
{
    const PruneCase c = GetParam();
    QTemporaryDir dir;
    VersionSettings s;
    s.root = dir.path() + QStringLiteral("/v/");
    s.keepRuns = c.keepRuns;
    s.keepDays = c.keepDays;
    VersionStore store(s, QStringLiteral("P001"), false);
    const QDateTime now = QDateTime::currentDateTime();
    for (size_t i = 0; i < c.agesInDays.size(); ++i)
        makeEntry(store, QStringLiteral("e%1").arg(i), now.addDays(-c.agesInDays[i]).addSecs(-qint64(i)));
    store.prune(c.keep, now);
    QStringList left;
    for (const VersionEntry& e : store.list())
        left << e.id;
    EXPECT_EQ(left, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PruneTest,
    ::testing::Values(
        // Count: the newest ones stay.
        PruneCase{2, 30, {0, 0, 0, 0}, QStringLiteral("e0"), {QStringLiteral("e0"), QStringLiteral("e1")}},
        PruneCase{10,
                  30,
                  {0, 1, 2},
                  QStringLiteral("e0"),
                  {QStringLiteral("e0"), QStringLiteral("e1"), QStringLiteral("e2")}},
        // Age: nothing older than the days, whatever the count.
        PruneCase{
            10, 30, {0, 29, 31, 40}, QStringLiteral("e0"), {QStringLiteral("e0"), QStringLiteral("e1")}},
        PruneCase{10, 1, {0, 2, 3}, QStringLiteral("e0"), {QStringLiteral("e0")}},
        // Both at once.
        PruneCase{2, 5, {0, 1, 2, 10}, QStringLiteral("e0"), {QStringLiteral("e0"), QStringLiteral("e1")}},
        // The run's own entry always stays, even past both limits.
        PruneCase{1, 1, {5, 0}, QStringLiteral("e0"), {QStringLiteral("e1"), QStringLiteral("e0")}}));

class VersionsSinkTest : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override { VersioningChanges::setLinksAllowed(GetParam()); }
    void TearDown() override { VersioningChanges::setLinksAllowed(true); }
};

TEST_P(VersionsSinkTest, ReplacedCreatedAndKeysArePutBack)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    VersionSettings s;
    s.root = base + QStringLiteral("versions/");
    const VersionStore store(s, QStringLiteral("P001"), true);
    const QString ini = base + QStringLiteral("mirsalex.ini");
    const QByteArray iniBytes =
        "[BASE]\r\nOPERATORE=P001\r\n[EXPORT]\r\nA=1\r\n; note\r\nB = 2\r\n\r\n[ALTRO]\r\nC=3\r\n";
    writeFile(ini, iniBytes);
    writeFile(base + QStringLiteral("old.doc"), "old content");
    ASSERT_FALSE(platform::setModificationTime(base + QStringLiteral("old.doc"),
                                               QDateTime::fromSecsSinceEpoch(1600000000)));
    writeFile(base + QStringLiteral("src.doc"), "new content");

    SilentPrompt prompt;
    QString id;
    {
        VersioningChanges sink(store, prompt);
        ASSERT_FALSE(sink.copyFile(base + QStringLiteral("src.doc"), base + QStringLiteral("old.doc")));
        ASSERT_FALSE(sink.copyFile(base + QStringLiteral("src.doc"), base + QStringLiteral("new.doc")));
        ASSERT_FALSE(sink.writeKey(ini, QStringLiteral("EXPORT"), QStringLiteral("B"), QStringLiteral("20")));
        ASSERT_FALSE(
            sink.writeKey(ini, QStringLiteral("EXPORT"), QStringLiteral("NUOVA"), QStringLiteral("x")));
        sink.finish(nullptr);
        id = sink.entryId();
    }
    ASSERT_FALSE(id.isEmpty());
    EXPECT_EQ(readAll(base + QStringLiteral("old.doc")), "new content");
    const std::optional<VersionEntry> entry = store.find(id);
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->ended);
    EXPECT_TRUE(laterChanges(*entry).isEmpty());

    {
        VersioningChanges sink(store, prompt, id);
        EXPECT_TRUE(restoreEntry(*entry, sink).isEmpty());
        sink.finish(nullptr);
    }
    EXPECT_EQ(readAll(base + QStringLiteral("old.doc")), "old content");
    EXPECT_EQ(QFileInfo(base + QStringLiteral("old.doc")).lastModified().toSecsSinceEpoch(), 1600000000);
    EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("new.doc")));
    // B gets its old value in place, NUOVA's line is gone: the file is byte
    // for byte as before.
    EXPECT_EQ(readAll(ini), iniBytes);
    EXPECT_TRUE(prompt.shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(LinkOrCopy, VersionsSinkTest, ::testing::Bool());

// A version kept as a copy is made by the program's one copier: a disk that
// fills while a database is kept refuses the change, says so once with the
// entry's folder, and leaves no half version behind; once there is room the
// database is kept whole.
TEST(VersionsSink, AFullDiskWhileADatabaseIsKeptRefusesItsChange)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    VersionSettings s;
    s.root = base + QStringLiteral("versions/");
    const VersionStore store(s, QStringLiteral("P001"), false);
    const QString db = base + QStringLiteral("DatiDV.mdb");
    const QByteArray content(150 * 1024 + 1, 'd');
    writeFile(db, content);

    SilentPrompt prompt;
    VersioningChanges sink(store, prompt);
    SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 {
        errno = ENOSPC;
        return -1;
    });
    const Error e = sink.willChangeDatabase(db);
    SafeFileCopy::setWriteHook({});
    EXPECT_EQ(e.number, 61);
    EXPECT_EQ(e.path, sink.entryFolder());
    ASSERT_EQ(prompt.shown.size(), 1);
    EXPECT_EQ(prompt.shown[0], QStringLiteral("VERSIONI: IMPOSSIBILE CONSERVARE LA VERSIONE DEI FILE\n") +
                                   sink.entryFolder() + QStringLiteral("\n61-") +
                                   platform::errorDescription(61) +
                                   QStringLiteral("\nNessun file viene sostituito senza la sua versione."));
    EXPECT_TRUE(QDir(sink.entryFolder() + QStringLiteral("files"))
                    .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());

    ASSERT_FALSE(sink.willChangeDatabase(db));
    sink.finish(nullptr);
    const std::optional<VersionEntry> entry = store.find(sink.entryId());
    ASSERT_TRUE(entry);
    ASSERT_EQ(entry->items.size(), 1u);
    EXPECT_EQ(entry->items[0].kind, VersionItem::Kind::Database);
    EXPECT_EQ(readAll(entry->folder + entry->items[0].version), content);
    EXPECT_EQ(prompt.shown.size(), 1);
}

TEST(VersionsSink, NoVersionNoReplacement)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    writeFile(base + QStringLiteral("blocker"), "a file where the versions folder should be");
    VersionSettings s;
    s.root = base + QStringLiteral("blocker/versions/");
    const VersionStore store(s, QStringLiteral("P001"), false);
    writeFile(base + QStringLiteral("dest.doc"), "keep me");
    writeFile(base + QStringLiteral("src.doc"), "replacement");
    const QString ini = base + QStringLiteral("mirsalex.ini");
    writeFile(ini, "[EXPORT]\nA=1\n");

    SilentPrompt prompt;
    VersioningChanges sink(store, prompt);
    const Error e = sink.copyFile(base + QStringLiteral("src.doc"), base + QStringLiteral("dest.doc"));
    EXPECT_TRUE(e);
    EXPECT_TRUE(sink.willChangeDatabase(base + QStringLiteral("dest.doc")));
    EXPECT_TRUE(sink.writeKey(ini, QStringLiteral("EXPORT"), QStringLiteral("A"), QStringLiteral("2")));
    EXPECT_EQ(readAll(base + QStringLiteral("dest.doc")), "keep me");
    EXPECT_EQ(readAll(ini), "[EXPORT]\nA=1\n");
    // Told once, naming the folder.
    ASSERT_EQ(prompt.shown.size(), 1);
    EXPECT_TRUE(prompt.shown[0].contains(s.root)) << prompt.shown[0].toStdString();
    EXPECT_TRUE(sink.changes().empty());
}

TEST(ProfileFileRemove, TakesOutOneLineAndKeepsEveryOtherByte)
{
    QTemporaryDir dir;
    const QString ini = dir.path() + QStringLiteral("/p.ini");
    const QByteArray bytes = "[EXPORT]\r\nA=1\r\nb = 2\r\nC=3\r\n[X]\r\nB=9\r\n";
    writeFile(ini, bytes);
    EXPECT_FALSE(ProfileFile::remove(ini, QStringLiteral("export"), QStringLiteral("B")));
    EXPECT_EQ(readAll(ini), QByteArray("[EXPORT]\r\nA=1\r\nC=3\r\n[X]\r\nB=9\r\n"));
    EXPECT_FALSE(ProfileFile::remove(ini, QStringLiteral("EXPORT"), QStringLiteral("MISSING")));
    EXPECT_EQ(readAll(ini), QByteArray("[EXPORT]\r\nA=1\r\nC=3\r\n[X]\r\nB=9\r\n"));
}

// --- databases and their journals ------------------------------------------

void sql(const QString& path, const char* text)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
        SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, text, nullptr, nullptr, &error);
    const std::string why = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << why;
}

// One text result of a query on a plain connection, as the next program to
// open the file sees it.
QString queryText(const QString& path, const char* text)
{
    sqlite3* db = nullptr;
    QString out = QStringLiteral("<cannot open>");
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, text, -1, &st, nullptr) != SQLITE_OK)
            out = QStringLiteral("<error> ") + QString::fromUtf8(sqlite3_errmsg(db));
        else if (sqlite3_step(st) == SQLITE_ROW)
            out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        else
            out = QStringLiteral("<error> ") + QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// What a process killed inside a write transaction leaves: another process
// writes more than its page cache holds, so that the engine makes the
// journal hot and writes pages into the file, and ends without committing.
void killInsideTransaction(const QString& path)
{
    const QByteArray name = path.toUtf8();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            ::_exit(2);
        const int rc =
            sqlite3_exec(db,
                         "PRAGMA cache_size = 2; BEGIN; UPDATE t SET v = randomblob(3000);"
                         "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 200)"
                         " INSERT INTO t(v) SELECT randomblob(3000) FROM c;",
                         nullptr, nullptr, nullptr);
        ::_exit(rc == SQLITE_OK ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_GT(QFileInfo(path + QStringLiteral("-journal")).size(), 0)
        << "no journal left: not a killed write";
}

constexpr const char* kRows = "SELECT group_concat(k || ':' || length(v) || ':' || hex(substr(v, 1, 8)), "
                              "',') FROM (SELECT k, v FROM t ORDER BY k)";

// A run killed inside a later transaction on a database (an earlier one of
// the same run had committed), over a file that an earlier killed run had
// left with its journal too: its version is the database as the engine sees
// it, and putting it back leaves the rows before the run, a sound file and
// no journal beside it that the next open could roll onto it.
TEST(VersionsDatabase, AKilledWriteIsNeitherKeptNorLeftBesideTheRestoredFile)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    VersionSettings s;
    s.root = base + QStringLiteral("versions/");
    const VersionStore store(s, QStringLiteral("P001"), false);
    const QString db = base + QStringLiteral("VisiteDV.mdb");
    sql(db, "CREATE TABLE t (k INTEGER PRIMARY KEY, v BLOB);"
            "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 20)"
            " INSERT INTO t(v) SELECT randomblob(500) FROM c;");
    const QString before = queryText(db, kRows);
    // An earlier run killed in the middle of a write.
    killInsideTransaction(db);

    SilentPrompt prompt;
    QString id;
    {
        VersioningChanges run(store, prompt);
        ASSERT_FALSE(run.willChangeDatabase(db));
        // The run's first transaction commits, the next one is killed.
        sql(db, "INSERT INTO t(v) VALUES (x'0102'), (x'0304');");
        killInsideTransaction(db);
        // A write across several files leaves a super-journal too.
        writeFile(db + QStringLiteral("-mj0A1B2C3D"), "super-journal");
        id = run.entryId();
        // Killed: the entry is never finished.
    }
    const std::optional<VersionEntry> entry = store.find(id);
    ASSERT_TRUE(entry);
    {
        VersioningChanges restore(store, prompt, id);
        EXPECT_EQ(restoreEntry(*entry, restore), QStringList());
        restore.finish(nullptr);
    }
    EXPECT_FALSE(QFileInfo::exists(db + QStringLiteral("-journal")));
    EXPECT_FALSE(QFileInfo::exists(db + QStringLiteral("-mj0A1B2C3D")));
    EXPECT_EQ(queryText(db, "PRAGMA integrity_check"), QStringLiteral("ok"));
    EXPECT_EQ(queryText(db, kRows), before);
    EXPECT_TRUE(prompt.shown.isEmpty()) << prompt.shown.join(QLatin1Char('\n')).toStdString();
}

// --- damaged versions --------------------------------------------------------

// The entry's manifest without the size and checksum of its files, as an
// older program wrote it.
void dropChecksums(const QString& manifest)
{
    QFile f(manifest);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    for (QByteArray& line : lines) {
        QList<QByteArray> fields = line.split('\t');
        if ((fields.value(0) == "file" || fields.value(0) == "database") && fields.size() > 3)
            line = fields.mid(0, 3).join('\t');
    }
    writeFile(manifest, lines.join('\n'));
}

// A version cut short or overwritten in the versions folder is found before
// anything is put back: the restore names the item and changes nothing.
// With an older manifest (no checksums) a database is still checked whole,
// another file is put back as it is.
TEST(VersionsDamage, ADamagedVersionIsRefusedWholeAndNothingChanges)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    VersionSettings s;
    s.root = base + QStringLiteral("versions/");
    const VersionStore store(s, QStringLiteral("P001"), false);
    const QString db = base + QStringLiteral("VisiteDV.mdb");
    sql(db, "CREATE TABLE t (k INTEGER PRIMARY KEY, v BLOB);"
            "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 40)"
            " INSERT INTO t(v) SELECT randomblob(900) FROM c;");
    const QString rowsBefore = queryText(db, kRows);
    const QString card = base + QStringLiteral("SK000001.DOC");
    writeFile(card, "the card before the run");
    writeFile(base + QStringLiteral("src.doc"), "the card the run brings");
    const QString ini = base + QStringLiteral("mirsalex.ini");
    writeFile(ini, "[EXPORT]\nA=1\n");

    SilentPrompt prompt;
    QString id;
    {
        VersioningChanges run(store, prompt);
        ASSERT_FALSE(run.willChangeDatabase(db));
        sql(db, "DELETE FROM t WHERE k > 30;");
        ASSERT_FALSE(run.copyFile(base + QStringLiteral("src.doc"), card));
        ASSERT_FALSE(run.writeKey(ini, QStringLiteral("EXPORT"), QStringLiteral("A"), QStringLiteral("2")));
        run.finish(nullptr);
        id = run.entryId();
    }
    std::optional<VersionEntry> entry = store.find(id);
    ASSERT_TRUE(entry);
    QString dbVersion, cardVersion;
    for (const VersionItem& i : entry->items) {
        if (i.path == db)
            dbVersion = entry->folder + i.version;
        if (i.path == card)
            cardVersion = entry->folder + i.version;
    }
    ASSERT_FALSE(dbVersion.isEmpty());
    ASSERT_FALSE(cardVersion.isEmpty());
    const QByteArray dbKept = readAll(dbVersion);
    const QByteArray cardKept = readAll(cardVersion);
    const QByteArray dbAfter = readAll(db);
    const QByteArray cardAfter = readAll(card);
    const QByteArray iniAfter = readAll(ini);

    struct Damage
    {
        QString version;
        QByteArray bytes;
        QString item;
        bool olderManifest;
    };
    const std::vector<Damage> damages = {
        {dbVersion, dbKept.left(dbKept.size() / 2), db, false},
        {cardVersion, "the card bEfore the run", card, false},
        {dbVersion, dbKept.left(dbKept.size() / 2), db, true},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.item.toStdString() + (d.olderManifest ? " (older manifest)" : ""));
        if (d.olderManifest)
            dropChecksums(entry->folder + QStringLiteral("manifest"));
        entry = store.find(id);
        ASSERT_TRUE(entry);
        writeFile(d.version, d.bytes);
        const size_t entries = store.list().size();
        QStringList failures;
        {
            VersioningChanges restore(store, prompt, id);
            failures = restoreEntry(*entry, restore);
        }
        ASSERT_EQ(failures.size(), 1) << failures.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(failures[0].startsWith(d.item + QLatin1Char(':'))) << failures[0].toStdString();
        EXPECT_EQ(readAll(db), dbAfter);
        EXPECT_EQ(readAll(card), cardAfter);
        EXPECT_EQ(readAll(ini), iniAfter);
        EXPECT_EQ(store.list().size(), entries) << "a refused restore keeps no entry";
        writeFile(dbVersion, dbKept);
        writeFile(cardVersion, cardKept);
    }

    // An older manifest: the card cannot be checked and is put back as it is.
    writeFile(cardVersion, "the card bEfore the run");
    entry = store.find(id);
    {
        VersioningChanges restore(store, prompt, id);
        EXPECT_EQ(restoreEntry(*entry, restore), QStringList());
        restore.finish(nullptr);
    }
    EXPECT_EQ(readAll(card), "the card bEfore the run");
    EXPECT_EQ(queryText(db, kRows), rowsBefore);
    EXPECT_EQ(readAll(ini), "[EXPORT]\nA=1\n");
}

// --- installations -----------------------------------------------------------

// One versions folder, one operator and side, two installations: each sees,
// counts and prunes its own entries; an entry of an older manifest is
// nobody's, removed by age only.
TEST(VersionsInstallations, EachInstallationListsAndPrunesItsOwn)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    VersionSettings s;
    s.root = base + QStringLiteral("versions/");
    s.keepRuns = 2;
    const VersionInstallation one = VersionInstallation::of(base + QStringLiteral("uno/mirsalex.ini"),
                                                            base + QStringLiteral("uno/dati/"));
    const VersionInstallation two = VersionInstallation::of(base + QStringLiteral("due/mirsalex.ini"),
                                                            base + QStringLiteral("due/dati/"));
    const VersionStore storeOne(s, QStringLiteral("P001"), true, one);
    const VersionStore storeTwo(s, QStringLiteral("P001"), true, two);
    ASSERT_EQ(storeOne.folder(), storeTwo.folder());
    const QDateTime now = QDateTime::currentDateTime();
    makeEntry(storeOne, QStringLiteral("older-recent"), now.addDays(-1));
    makeEntry(storeOne, QStringLiteral("older-old"), now.addDays(-40));
    const QString ini = base + QStringLiteral("k.ini");
    writeFile(ini, "[EXPORT]\n");

    SilentPrompt prompt;
    auto runOn = [&](const VersionStore& store, int n) {
        VersioningChanges run(store, prompt);
        EXPECT_FALSE(run.writeKey(ini, QStringLiteral("EXPORT"), QStringLiteral("N"), QString::number(n)));
        run.finish(nullptr);
        return run.entryId();
    };
    const QString twoFirst = runOn(storeTwo, 1);
    QStringList oneRuns;
    for (int n = 0; n < 3; ++n)
        oneRuns.prepend(runOn(storeOne, 10 + n));
    const QString twoLast = runOn(storeTwo, 2);

    auto ids = [](const std::vector<VersionEntry>& entries) {
        QStringList out;
        for (const VersionEntry& e : entries)
            out << e.id;
        return out;
    };
    // Installation one's third run pruned its first, and the older entry
    // past the days; installation two's entries were none of its business.
    EXPECT_EQ(ids(storeOne.list(VersionStore::Owner::This)), oneRuns.mid(0, 2));
    EXPECT_EQ(ids(storeTwo.list(VersionStore::Owner::This)), (QStringList{twoLast, twoFirst}));
    EXPECT_EQ(ids(storeOne.list(VersionStore::Owner::Unrecorded)),
              QStringList{QStringLiteral("older-recent")});
    const std::optional<VersionEntry> other = storeOne.find(twoFirst);
    ASSERT_TRUE(other);
    EXPECT_EQ(storeOne.owner(*other), VersionStore::Owner::Other);
    EXPECT_EQ(other->installation.configFile, base + QStringLiteral("due/mirsalex.ini"));
    EXPECT_EQ(other->installation.dataFolder, base + QStringLiteral("due/dati/"));
}

} // namespace
} // namespace mirsalex
