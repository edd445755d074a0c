// Versions end to end: runs on both sides of generated installations are put
// back one by one, newest first, and every file and database row must then be
// as it was; a restore is put back in turn; a later change asks for --yes; a
// versions folder that cannot be written stops every replacement; another
// installation's versions are neither listed nor put back; a damaged version
// or a missing exchange area is said, and nothing changes.

#include "cli/CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace mirsalex::test {
namespace {

// Every table of a database as SQL text, read with the sqlite3 tool.
QString rowDump(const QString& database)
{
    QString tool = qEnvironmentVariable("SQLITE3");
    if (tool.isEmpty())
        tool = QStringLiteral("sqlite3");
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(tool, {QStringLiteral("-readonly"), database, QStringLiteral(".dump")});
    if (!p.waitForFinished(15000) || p.exitCode() != 0)
        return QStringLiteral("<unreadable>");
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The state of an installation: every file's bytes and time (the
// configuration files by their bytes alone: writing a key dates them), and
// the rows of every database.
struct InstallState
{
    Tree files;
    std::map<QString, QString> rows;
    bool operator==(const InstallState& o) const = default;
};

InstallState stateOf(const FixtureInstall& inst)
{
    InstallState s;
    s.files = snapshot(inst.root());
    for (auto& [path, state] : s.files) {
        if (path.endsWith(QLatin1String(".ini")))
            state.modifiedMs = 0;
        if (path.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive))
            s.rows[path] = rowDump(inst.path(path));
    }
    return s;
}

// What differs between two states, for the failure message.
QString difference(const InstallState& a, const InstallState& b)
{
    QStringList out;
    for (const auto& [path, state] : a.files) {
        const auto it = b.files.find(path);
        if (it == b.files.end())
            out << QStringLiteral("missing: ") + path;
        else if (!(it->second == state))
            out << QStringLiteral("changed: ") + path;
    }
    for (const auto& [path, state] : b.files) {
        if (!a.files.count(path))
            out << QStringLiteral("added: ") + path;
    }
    for (const auto& [path, dump] : a.rows) {
        const auto it = b.rows.find(path);
        if (it != b.rows.end() && it->second != dump)
            out << QStringLiteral("rows differ: ") + path;
    }
    return out.join(QLatin1Char('\n'));
}

// The ids of the kept runs of one side, newest first (--versions --report json).
QStringList versionIds(const FixtureInstall& inst, const QString& side)
{
    QStringList args = {QStringLiteral("--versions"), QStringLiteral("--ini"), inst.ini(side),
                        QStringLiteral("--report"), QStringLiteral("json")};
    if (side == QLatin1String("portable"))
        args << QStringLiteral("--side") << QStringLiteral("portable");
    const ProcessResult r = runProgram(mirsalexPath(), args, inst.configHome(), inst.root());
    EXPECT_EQ(r.exitCode, 0) << r.all().toStdString();
    QStringList ids;
    const QJsonArray list =
        QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("versions")).toArray();
    for (const QJsonValue& v : list)
        ids << v.toObject().value(QStringLiteral("id")).toString();
    return ids;
}

ProcessResult restore(const FixtureInstall& inst, const QString& side, const QString& id,
                      const QStringList& more = {})
{
    return inst.batch(side, QStringList{QStringLiteral("--restore"), id} + more);
}

struct Installation
{
    int documents;
    int clients;
    int seed;
};

class VersionsRoundTrip : public ::testing::TestWithParam<Installation>
{
};

TEST_P(VersionsRoundTrip, EveryRunPutBackNewestFirstThenARestorePutBack)
{
    const Installation p = GetParam();
    FixtureInstall inst(1, p.documents, p.clients, p.seed);
    ASSERT_TRUE(inst.ok()) << inst.result().all().toStdString();
    const InstallState before = stateOf(inst);

    ProcessResult r = inst.batch(QStringLiteral("portable"), {QStringLiteral("--yes")});
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Versioni: voce "))) << r.out.toStdString();
    const InstallState afterPortable = stateOf(inst);
    ASSERT_NE(before, afterPortable);
    r = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    ASSERT_NE(afterPortable, stateOf(inst));

    const QStringList desktop = versionIds(inst, QStringLiteral("desktop"));
    const QStringList portable = versionIds(inst, QStringLiteral("portable"));
    ASSERT_EQ(desktop.size(), 1);
    ASSERT_EQ(portable.size(), 1);

    // Newest first: the desktop's run, then the portable's.
    r = restore(inst, QStringLiteral("desktop"), desktop[0]);
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("RIPRISTINO COMPLETATO")));
    InstallState now = stateOf(inst);
    EXPECT_EQ(now, afterPortable) << difference(afterPortable, now).toStdString();
    r = restore(inst, QStringLiteral("portable"), portable[0]);
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    now = stateOf(inst);
    EXPECT_EQ(now, before) << difference(before, now).toStdString();

    // The restore is a kept run too: putting it back gives the portable's
    // run again.
    const QStringList again = versionIds(inst, QStringLiteral("portable"));
    ASSERT_EQ(again.size(), 2);
    EXPECT_EQ(again[1], portable[0]);
    r = restore(inst, QStringLiteral("portable"), again[0]);
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    now = stateOf(inst);
    EXPECT_EQ(now, afterPortable) << difference(afterPortable, now).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Installations, VersionsRoundTrip,
                         ::testing::Values(Installation{12, 30, 1}, Installation{25, 60, 7},
                                           Installation{5, 15, 42}));

TEST(VersionsCli, ALaterRunOnTheSameFilesNeedsYes)
{
    FixtureInstall inst(1, 10, 30, 11);
    ASSERT_TRUE(inst.ok()) << inst.result().all().toStdString();
    ASSERT_EQ(inst.batch(QStringLiteral("portable"), {QStringLiteral("--yes")}).exitCode, 0);
    ASSERT_EQ(inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")}).exitCode, 0);
    const InstallState afterBoth = stateOf(inst);
    const QString id = versionIds(inst, QStringLiteral("portable")).value(0);

    ProcessResult r = restore(inst, QStringLiteral("portable"), id);
    EXPECT_EQ(r.exitCode, 3) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("un aggiornamento successivo ha modificato")))
        << r.out.toStdString();
    EXPECT_EQ(stateOf(inst), afterBoth) << "nothing may change without --yes";

    r = restore(inst, QStringLiteral("portable"), id, {QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 0) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("RIPRISTINO COMPLETATO")));
}

TEST(VersionsCli, AVersionsFolderThatCannotBeWrittenStopsEveryReplacement)
{
    FixtureInstall inst(1, 10, 30, 5);
    ASSERT_TRUE(inst.ok()) << inst.result().all().toStdString();
    // A folder that cannot be made: its parent is a file.
    const QString blocker = inst.configHome() + QStringLiteral("blocker");
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const InstallState before = stateOf(inst);

    const ProcessResult r =
        inst.batch(QStringLiteral("portable"), {QStringLiteral("--yes"), QStringLiteral("--versions-dir"),
                                                blocker + QStringLiteral("/versions")});
    EXPECT_EQ(r.exitCode, 1) << r.all().toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("IMPOSSIBILE CONSERVARE LA VERSIONE")), 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(blocker)) << r.out.toStdString();
    const InstallState after = stateOf(inst);
    EXPECT_EQ(after, before) << difference(before, after).toStdString();
}

TEST(VersionsCli, NoVersionsIsSaidAndKeepsNothing)
{
    FixtureInstall inst(1, 5, 20, 9);
    ASSERT_TRUE(inst.ok()) << inst.result().all().toStdString();
    const ProcessResult r =
        inst.batch(QStringLiteral("portable"), {QStringLiteral("--yes"), QStringLiteral("--no-versions"),
                                                QStringLiteral("--report"), QStringLiteral("json")});
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    const QJsonObject v =
        QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("versions")).toObject();
    EXPECT_TRUE(v.value(QStringLiteral("off")).toBool()) << r.out.toStdString();
    EXPECT_TRUE(versionIds(inst, QStringLiteral("portable")).isEmpty());
}

TEST(VersionsCli, PruningAfterARunKeepsTheNumberAsked)
{
    FixtureInstall inst(1, 5, 20, 21);
    ASSERT_TRUE(inst.ok()) << inst.result().all().toStdString();
    QStringList seen;
    for (int i = 0; i < 4; ++i) {
        const ProcessResult r =
            inst.batch(QStringLiteral("portable"),
                       {QStringLiteral("--yes"), QStringLiteral("--keep-versions"), QStringLiteral("2"),
                        QStringLiteral("--report"), QStringLiteral("json")});
        ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
        const QJsonObject v =
            QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("versions")).toObject();
        seen << v.value(QStringLiteral("entry")).toString();
        // From the third run on, the oldest entry kept is removed, and said.
        if (i >= 2) {
            EXPECT_EQ(v.value(QStringLiteral("pruned")).toArray().size(), 1) << r.out.toStdString();
        }
    }
    const QStringList kept = versionIds(inst, QStringLiteral("portable"));
    EXPECT_EQ(kept, (QStringList{seen[3], seen[2]}));
}

// `mirsalex --versions --report json` of one side, with further options.
QJsonObject versionList(const FixtureInstall& inst, const QString& side, const QStringList& more)
{
    QStringList args = QStringList{QStringLiteral("--versions"), QStringLiteral("--ini"), inst.ini(side),
                                   QStringLiteral("--report"), QStringLiteral("json")} +
                       more;
    if (side == QLatin1String("portable"))
        args << QStringLiteral("--side") << QStringLiteral("portable");
    const ProcessResult r = runProgram(mirsalexPath(), args, inst.configHome(), inst.root());
    EXPECT_EQ(r.exitCode, 0) << r.all().toStdString();
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

QStringList idsOf(const QJsonValue& list)
{
    QStringList ids;
    for (const QJsonValue& v : list.toArray())
        ids << v.toObject().value(QStringLiteral("id")).toString();
    return ids;
}

// Two installations of the same operator on one computer, keeping their
// versions in one folder: each lists and puts back its own runs only. An
// entry kept by an older program (no installation recorded) is listed apart
// and put back only after a Yes.
TEST(VersionsCli, AnotherInstallationsRunsAreNeitherListedNorPutBack)
{
    const QTemporaryDir shared;
    const QStringList dir = {QStringLiteral("--versions-dir"), shared.path()};
    const QString side = QStringLiteral("portable");
    FixtureInstall one(1, 5, 20, 31);
    FixtureInstall two(1, 5, 20, 31);
    ASSERT_TRUE(one.ok() && two.ok()) << one.result().all().toStdString();
    ASSERT_EQ(one.batch(side, QStringList{QStringLiteral("--yes")} + dir).exitCode, 0);
    ASSERT_EQ(two.batch(side, QStringList{QStringLiteral("--yes")} + dir).exitCode, 0);
    const QStringList ofOne = idsOf(versionList(one, side, dir).value(QStringLiteral("versions")));
    const QStringList ofTwo = idsOf(versionList(two, side, dir).value(QStringLiteral("versions")));
    ASSERT_EQ(ofOne.size(), 1);
    ASSERT_EQ(ofTwo.size(), 1);
    ASSERT_NE(ofOne[0], ofTwo[0]);

    const InstallState oneBefore = stateOf(one);
    const InstallState twoBefore = stateOf(two);
    ProcessResult r = restore(one, side, ofTwo[0], QStringList{QStringLiteral("--yes")} + dir);
    EXPECT_EQ(r.exitCode, 3) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("è di un'altra installazione"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(two.ini(side))) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("RIPRISTINO COMPLETATO")));
    EXPECT_EQ(stateOf(one), oneBefore);
    EXPECT_EQ(stateOf(two), twoBefore);

    // Installation one's entry as an older program wrote it.
    const QString manifest =
        shared.path() + QStringLiteral("/P001/portable/") + ofOne[0] + QStringLiteral("/manifest");
    QFile f(manifest);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    ASSERT_TRUE(lines[0].startsWith("entry\t"));
    lines[0] = lines[0].split('\t').mid(0, 6).join('\t');
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(lines.join('\n'));
    f.close();
    const QJsonObject list = versionList(one, side, dir);
    EXPECT_TRUE(idsOf(list.value(QStringLiteral("versions"))).isEmpty());
    EXPECT_EQ(idsOf(list.value(QStringLiteral("unrecorded_versions"))), QStringList{ofOne[0]});
    const ProcessResult text = runProgram(mirsalexPath(),
                                          QStringList{QStringLiteral("--versions"), QStringLiteral("--ini"),
                                                      one.ini(side), QStringLiteral("--side"), side} +
                                              dir,
                                          one.configHome(), one.root());
    EXPECT_TRUE(text.out.contains(QStringLiteral("Versioni senza installazione registrata")))
        << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(ofOne[0]));
    EXPECT_FALSE(text.out.contains(ofTwo[0])) << text.out.toStdString();

    // Answered No (an unattended run without --yes): nothing changes.
    r = restore(one, side, ofOne[0], dir);
    EXPECT_EQ(r.exitCode, 3) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("non dice di quale installazione"))) << r.out.toStdString();
    EXPECT_EQ(stateOf(one), oneBefore);
    r = restore(one, side, ofOne[0], QStringList{QStringLiteral("--answers"), QStringLiteral("yes")} + dir);
    EXPECT_EQ(r.exitCode, 0) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("RIPRISTINO COMPLETATO")));
    EXPECT_NE(stateOf(one), oneBefore);
    EXPECT_EQ(stateOf(two), twoBefore);
}

// A version of VisiteDV.mdb cut short in the versions folder is not put back
// over the sound database: the restore names it, fails and changes nothing.
// An exchange area that is not there is named as such, not as a later run.
TEST(VersionsCli, ADamagedVersionOrAMissingExchangeAreaIsSaidAndNothingChanges)
{
    FixtureInstall inst(1, 5, 20, 17);
    ASSERT_TRUE(inst.ok()) << inst.result().all().toStdString();
    const QString side = QStringLiteral("portable");
    ASSERT_EQ(inst.batch(side, {QStringLiteral("--yes")}).exitCode, 0);
    const QJsonArray versions = versionList(inst, side, {}).value(QStringLiteral("versions")).toArray();
    ASSERT_EQ(versions.size(), 1);
    const QString id = versions[0].toObject().value(QStringLiteral("id")).toString();
    const QString folder = versions[0].toObject().value(QStringLiteral("folder")).toString();
    const QStringList kept =
        QDir(folder + QStringLiteral("files")).entryList({QStringLiteral("*-VisiteDV.mdb")}, QDir::Files);
    ASSERT_FALSE(kept.isEmpty());
    const QString version = folder + QStringLiteral("files/") + kept[0];
    QFile f(version);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QByteArray whole = f.readAll();
    ASSERT_TRUE(f.resize(whole.size() / 2));
    f.close();

    const InstallState before = stateOf(inst);
    ProcessResult r = restore(inst, side, id, {QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 1) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("VERSIONE DANNEGGIATA"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("VisiteDV.mdb: versione danneggiata"))) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("RIPRISTINO COMPLETATO")));
    InstallState now = stateOf(inst);
    EXPECT_EQ(now, before) << difference(before, now).toStdString();
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(whole);
    f.close();

    // The exchange area unplugged.
    ASSERT_TRUE(QDir().rename(inst.path(QStringLiteral("exchange")), inst.path(QStringLiteral("away"))));
    const InstallState unplugged = stateOf(inst);
    r = restore(inst, side, id);
    EXPECT_EQ(r.exitCode, 3) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("area di scambio assente"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(inst.path(QStringLiteral("exchange/")))) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("un aggiornamento successivo"))) << r.out.toStdString();
    now = stateOf(inst);
    EXPECT_EQ(now, unplugged) << difference(unplugged, now).toStdString();
}

} // namespace
} // namespace mirsalex::test
