// Versions end to end: runs on both sides of generated installations are put
// back one by one, newest first, and every file and database row must then be
// as it was; a restore is put back in turn; a later change asks for --yes; a
// versions folder that cannot be written stops every replacement.

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

} // namespace
} // namespace mirsalex::test
