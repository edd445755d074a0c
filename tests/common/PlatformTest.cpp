#include "common/Platform.h"

#include "support/TempInstall.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>

using namespace mirsalex;
using mirsalex::test::TempInstall;

namespace {

// Removes the failure injector whatever the test does.
struct InjectorGuard
{
    ~InjectorGuard() { platform::setFailureInjector({}); }
};

QStringList names(const QList<platform::DirEntry>& entries)
{
    QStringList out;
    for (const auto& e : entries)
        out << e.name;
    out.sort();
    return out;
}

} // namespace

TEST(Platform, ResolveMatchesEachComponentIgnoringCase)
{
    TempInstall inst;
    inst.writeFile(QStringLiteral("Dati/A12/mirsalex.ini"), "x");
    const QString r = inst.root();
    struct Case
    {
        QString in;
        QString out;
    } cases[] = {
        {r + "Dati/A12/mirsalex.ini", r + "Dati/A12/mirsalex.ini"}, // exists as written
        {r + "DATI/a12/MIRSALEX.INI", r + "Dati/A12/mirsalex.ini"},
        {r + "dati/A12/", r + "Dati/A12/"},                       // trailing separator kept
        {r + "DATI/a12/nuovo/X.DOC", r + "Dati/A12/nuovo/X.DOC"}, // missing tail kept as written
        {r + "DATI//A12", r + "Dati//A12"},                       // empty component kept
        {QString(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::resolve(c.in), c.out) << c.in.toStdString();
    EXPECT_TRUE(platform::isFile(r + "DATI/A12/MirsalEx.Ini"));
    EXPECT_TRUE(platform::isDirectory(r + "dati/a12"));
    EXPECT_FALSE(platform::isFile(r + "dati/a12"));
    EXPECT_FALSE(platform::isDirectory(r + "dati/a12/mirsalex.ini"));
}

TEST(Platform, ResolvePicksOneSpellingWhenSeveralDifferOnlyByCase)
{
    TempInstall inst;
    inst.writeFile(QStringLiteral("d/abc"), "1");
    inst.writeFile(QStringLiteral("d/ABC"), "2");
    EXPECT_EQ(platform::resolve(inst.path("d/Abc")), inst.path("d/ABC"));
}

TEST(Platform, WindowsFolderFollowsXdgConfigHome)
{
    TempInstall inst;
    EXPECT_EQ(platform::windowsFolder(), inst.configFolder());
    qputenv("XDG_CONFIG_HOME", "relative/not/allowed");
    EXPECT_EQ(platform::windowsFolder(), QDir::homePath() + "/.config/");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(platform::windowsFolder(), QDir::homePath() + "/.config/");
}

TEST(Platform, ListDirectoryMatchesWildcardsIgnoringCase)
{
    TempInstall inst;
    for (const char* f : {"sk12.DOC", "SK13.doc", "sk.txt", "xk1.xls", "SK9.docx"})
        inst.writeFile(QStringLiteral("f/") + f, "x");
    inst.makeDir(QStringLiteral("f/SKDIR.doc"));
    struct Case
    {
        QString pattern;
        bool dirs;
        QStringList expected;
    } cases[] = {
        {"SK*.doc", false, {"SK13.doc", "sk12.DOC"}},
        {"SK*.doc", true, {"SK13.doc", "SKDIR.doc", "sk12.DOC"}},
        {"sk??.doc", false, {"SK13.doc", "sk12.DOC"}},
        {"sk?.doc", false, {}},
        {"XK*.XLS", false, {"xk1.xls"}},
        {"*.*", false, {"SK13.doc", "SK9.docx", "sk.txt", "sk12.DOC", "xk1.xls"}},
        {"", false, {"SK13.doc", "SK9.docx", "sk.txt", "sk12.DOC", "xk1.xls"}},
        {"nothing*", false, {}},
    };
    for (const auto& c : cases) {
        QList<platform::DirEntry> out;
        const auto err = platform::listDirectory(inst.path("F/"), c.pattern, c.dirs, out);
        EXPECT_FALSE(err) << c.pattern.toStdString();
        QStringList expected = c.expected;
        expected.sort();
        EXPECT_EQ(names(out), expected) << c.pattern.toStdString();
    }
}

// The dated listing gives each plain file matching the pattern with its
// time, and leaves out folders and links (these named as passed over). A
// name that matches only once folded beyond ASCII (a Kelvin sign for "K")
// matches as in every listing.
TEST(Platform, DatedListingGivesEachPlainFileItsTime)
{
    TempInstall inst;
    const QDateTime t(QDate(2021, 3, 4), QTime(5, 6, 7));
    inst.writeFile(QStringLiteral("f/SK1.doc"), "a", t);
    inst.writeFile(QStringLiteral("f/s\u212A2.DOC"), "b", t.addSecs(61));
    inst.writeFile(QStringLiteral("f/other.txt"), "c", t);
    inst.makeDir(QStringLiteral("f/SK3.doc"));
    ASSERT_TRUE(QFile::link(inst.path(QStringLiteral("f/SK1.doc")), inst.path(QStringLiteral("f/SK4.doc"))));
    QList<platform::DatedEntry> out;
    QStringList passed;
    ASSERT_FALSE(
        platform::listFilesDated(inst.path(QStringLiteral("f/")), QStringLiteral("SK*.doc"), out, passed));
    std::sort(out.begin(), out.end(),
              [](const platform::DatedEntry& a, const platform::DatedEntry& b) { return a.name < b.name; });
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].name, QStringLiteral("SK1.doc"));
    EXPECT_EQ(out[0].modified, t.toSecsSinceEpoch());
    EXPECT_EQ(out[1].name, QStringLiteral("s\u212A2.DOC"));
    EXPECT_EQ(out[1].modified, t.addSecs(61).toSecsSinceEpoch());
    EXPECT_EQ(passed, QStringList{inst.path(QStringLiteral("f/SK4.doc"))});
}

TEST(Platform, ListDirectoryOfMissingFolderIsPathNotFound)
{
    TempInstall inst;
    QList<platform::DirEntry> out;
    const auto err = platform::listDirectory(inst.path("missing/"), "*", false, out);
    EXPECT_EQ(err.number, 76);
    EXPECT_EQ(err.text, QStringLiteral("Impossibile trovare il percorso"));
    EXPECT_TRUE(out.isEmpty());
}

TEST(Platform, ErrnoMapping)
{
    const std::pair<int, int> cases[] = {
        {0, 0},       {ENOENT, 76}, {ENOTDIR, 76}, {ENOSPC, 61},       {EDQUOT, 61}, {EIO, 57},
        {ENXIO, 68},  {ENODEV, 68}, {EACCES, 70},  {EPERM, 70},        {EROFS, 75},  {EBUSY, 55},
        {EINVAL, 64}, {EEXIST, 58}, {EMFILE, 67},  {ENAMETOOLONG, 64}, {EXDEV, 74},  {ELOOP, 75},
    };
    for (const auto& [err, number] : cases) {
        EXPECT_EQ(platform::errorNumberFromErrno(err), number) << "errno " << err;
        if (number != 0) {
            EXPECT_FALSE(platform::errorDescription(number).isEmpty());
        }
    }
}

TEST(Platform, MissingFileIsFileNotFoundButMissingFolderIsPathNotFound)
{
    TempInstall inst;
    inst.makeDir("d");
    EXPECT_EQ(platform::fileErrorFromErrno(ENOENT, inst.path("d/x.doc")).number, 53);
    EXPECT_EQ(platform::fileErrorFromErrno(ENOENT, inst.path("nope/x.doc")).number, 76);
}

TEST(Platform, MakeDirectoryCreatesOneLevel)
{
    TempInstall inst;
    inst.makeDir("temp");
    inst.writeFile("afile", "x");
    EXPECT_FALSE(platform::makeDirectory(inst.path("new/")));
    EXPECT_TRUE(QFileInfo(inst.path("new")).isDir());
    // An existing folder, in any spelling, is no error and no second folder.
    EXPECT_FALSE(platform::makeDirectory(inst.path("TEMP/")));
    EXPECT_FALSE(QFileInfo::exists(inst.path("TEMP")));
    EXPECT_EQ(platform::makeDirectory(inst.path("a/b/")).number, 76);
    EXPECT_EQ(platform::makeDirectory(inst.path("afile/")).number, 75);
}

TEST(Platform, ModificationTimeRoundTripsToTheSecond)
{
    TempInstall inst;
    const QString f = inst.writeFile("f.doc", "x");
    const QDateTime when(QDate(2003, 4, 5), QTime(6, 7, 8));
    EXPECT_FALSE(platform::setModificationTime(inst.path("F.DOC"), when));
    const auto got = platform::modificationTime(f);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, when);
    EXPECT_FALSE(platform::modificationTime(inst.path("none.doc")).has_value());
    EXPECT_EQ(platform::setModificationTime(inst.path("none.doc"), when).number, 53);
}

TEST(Platform, FailureInjectorMakesCallsFail)
{
    TempInstall inst;
    InjectorGuard guard;
    inst.writeFile("d/x.doc", "x");
    platform::setFailureInjector([](const QString& op, const QString&) { return op == "list" ? EIO : 0; });
    QList<platform::DirEntry> out;
    EXPECT_EQ(platform::listDirectory(inst.path("d/"), "*", false, out).number, 57);
    platform::setFailureInjector(
        [](const QString& op, const QString&) { return op == "mkdir" ? ENOSPC : 0; });
    EXPECT_EQ(platform::makeDirectory(inst.path("e/")).number, 61);
    platform::setFailureInjector({});
    EXPECT_FALSE(platform::listDirectory(inst.path("d/"), "*", false, out));
    EXPECT_EQ(out.size(), 1);
}

TEST(Platform, SplitPath)
{
    struct Case
    {
        QString path, folder, name;
    } cases[] = {
        {"/a/b/SK*.doc", "/a/b/", "SK*.doc"},
        {"/a/b/", "/a/b/", ""},
        {"name.ini", "", "name.ini"},
        {"/x", "/", "x"},
    };
    for (const auto& c : cases) {
        QString folder, name;
        platform::splitPath(c.path, folder, name);
        EXPECT_EQ(folder, c.folder) << c.path.toStdString();
        EXPECT_EQ(name, c.name) << c.path.toStdString();
    }
}
