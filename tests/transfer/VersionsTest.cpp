// The versions store and sink on their own: pruning keeps exactly what the
// settings say, a replaced file is kept (link or copy) with its bytes and
// time and put back, a created file is removed again, a key that did not
// exist is removed again keeping every other byte of the file.

#include "transfer/Versions.h"

#include "common/ProfileFile.h"
#include "common/Prompt.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

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

} // namespace
} // namespace mirsalex
