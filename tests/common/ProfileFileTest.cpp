#include "common/ProfileFile.h"

#include "common/Platform.h"
#include "support/TempInstall.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mirsalex;
using mirsalex::test::TempInstall;

namespace {

QString readValue(const QString& file, const QString& section, const QString& key, int size = 100,
                  int* count = nullptr)
{
    QString out;
    const int n = ProfileFile::read(file, section, key, QStringLiteral("<def>"), out, size);
    if (count)
        *count = n;
    return out;
}

QString writeBytes(const TempInstall& inst, const QByteArray& bytes, const QString& name = "t.ini")
{
    return inst.writeFile(name, bytes);
}

bool written(const Error& e)
{
    return !e;
}

QStringList leftovers(const TempInstall& inst)
{
    return QDir(inst.root()).entryList(QStringList() << ".*.ini.*", QDir::Files | QDir::Hidden);
}

} // namespace

TEST(ProfileFile, ReadMatchesTheWindowsRules)
{
    TempInstall inst;
    const QString f = writeBytes(inst, "; comment line\n"
                                       "[PATH]\n"
                                       "FILE=C:\\DATI\n"
                                       "  Work  =   D:\\W   \n"
                                       ";TEMP=commented\n"
                                       "Q1=\"quoted value\"\n"
                                       "Q2='single'\n"
                                       "Q3=\"mixed'\n"
                                       "Q4=\"\n"
                                       "Q5=\"\"\n"
                                       "DUP=first\n"
                                       "DUP=second\n"
                                       "EMPTY=\n"
                                       "NOEQUALS\n"
                                       "[ path ]\n"
                                       "FILE=from the duplicate section\n"
                                       "ONLYHERE=x\n"
                                       "[Other]\n"
                                       "FILE=other\n"
                                       "Accent=citt\xE0\n");
    struct Case
    {
        QString section, key, expected;
    } cases[] = {
        {"PATH", "FILE", "C:\\DATI"},
        {"path", "file", "C:\\DATI"},
        {"  Path ", " FILE  ", "C:\\DATI"},
        {"PATH", "WORK", "D:\\W"},
        {"PATH", "TEMP", "<def>"},
        {"PATH", ";TEMP", "<def>"},
        {"PATH", "Q1", "quoted value"},
        {"PATH", "Q2", "single"},
        {"PATH", "Q3", "\"mixed'"},
        {"PATH", "Q4", "\""},
        {"PATH", "Q5", ""},
        {"PATH", "DUP", "first"},
        {"PATH", "EMPTY", ""},
        {"PATH", "NOEQUALS", "<def>"},
        {"PATH", "ONLYHERE", "<def>"}, // the first of duplicate sections wins
        {"OTHER", "FILE", "other"},
        {"Other", "ACCENT", QString::fromUtf8("città")},
        {"MISSING", "FILE", "<def>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readValue(f, c.section, c.key), c.expected)
            << c.section.toStdString() << "/" << c.key.toStdString();
}

TEST(ProfileFile, LinesEndAtCrLfAtLfAndAtALoneCrWhenTheFileHasNoLf)
{
    struct Case
    {
        const char* name;
        QByteArray bytes;
        const char* key;
        QString expected;
    } cases[] = {
        {"CR LF", "[S]\r\nA=1\r\nB=2\r\n", "B", "2"},
        {"LF", "[S]\nA=1\nB=2\n", "B", "2"},
        {"CR only", "[S]\rA=1\rB=2\r", "B", "2"},
        {"CR only, first key", "[S]\rA=1\rB=2", "A", "1"},
        {"CR only, section after", "[T]\rB=x\r[S]\rB=2\r", "B", "2"},
        {"a lone CR inside an LF file ends no line", "[S]\nA=1\rB=2\n", "B", "<def>"},
    };
    for (const auto& c : cases) {
        TempInstall inst;
        const QString f = writeBytes(inst, c.bytes);
        EXPECT_EQ(readValue(f, "S", c.key), c.expected) << c.name;
    }
}

TEST(ProfileFile, ReadCopiesAtMostBufferSizeMinusOne)
{
    TempInstall inst;
    const QString f = writeBytes(inst, "[S]\nK=" + QByteArray(150, 'a') + "\n");
    int count = 0;
    EXPECT_EQ(readValue(f, "S", "K", 100, &count), QString(99, 'a'));
    EXPECT_EQ(count, 99);
    EXPECT_EQ(readValue(f, "S", "K", 1, &count), QString());
    EXPECT_EQ(count, 0);
    EXPECT_EQ(readValue(f, "S", "MISSING", 3, &count), "<d");
    EXPECT_EQ(count, 2);
}

TEST(ProfileFile, UnreadableFilesGiveTheDefault)
{
    TempInstall inst;
    const QString binary = inst.writeFile("bin.ini", QByteArray("[S]\nK=v\n\0\x01", 10));
    const QString longLine = inst.writeFile("long.ini", "[S]\nX=" + QByteArray(1 << 20, 'x') + "\nK=v\n");
    inst.makeDir("folder.ini");
    EXPECT_EQ(readValue(binary, "S", "K"), "<def>");
    EXPECT_EQ(readValue(inst.path("folder.ini"), "S", "K"), "<def>");
    EXPECT_EQ(readValue(inst.path("missing.ini"), "S", "K"), "<def>");
    EXPECT_EQ(readValue(longLine, "S", "K"), "v");
    EXPECT_EQ(readValue(longLine, "S", "X").size(), 99);
}

TEST(ProfileFile, BareNameMeansTheSharedConfigurationFolderAndCaseIsIgnored)
{
    TempInstall inst;
    inst.writeIni("[BASE]\nOPERATORE=A12\n", "mirsal.ini", inst.configFolder());
    EXPECT_EQ(ProfileFile::locate("MIRSAL.INI"), inst.configFolder() + "mirsal.ini");
    EXPECT_EQ(readValue("MIRSAL.INI", "BASE", "OPERATORE"), "A12");
    EXPECT_EQ(readValue(inst.configFolder() + "Mirsal.Ini", "BASE", "OPERATORE"), "A12");
}

TEST(ProfileFile, WriteReplacesOneValueAndKeepsEveryOtherByte)
{
    TempInstall inst;
    const QByteArray before = "; Configurazione \xE8 condivisa\r\n"
                              "[PATH]\r\n"
                              "FILE=C:\\DATI ; cartella dati\r\n"
                              "\r\n"
                              "[EXPORT]\r\n"
                              "; ultimo operatore\r\n"
                              "Operatore =  A12\r\n"
                              "XDATAA12=01/02/03 10:00\r\n"
                              "Note=perch\xE9\r\n";
    const QString f = writeBytes(inst, before);
    ASSERT_TRUE(written(ProfileFile::write(f, "export", "OPERATORE", "B7")));
    const QByteArray expected = "; Configurazione \xE8 condivisa\r\n"
                                "[PATH]\r\n"
                                "FILE=C:\\DATI ; cartella dati\r\n"
                                "\r\n"
                                "[EXPORT]\r\n"
                                "; ultimo operatore\r\n"
                                "Operatore =  B7\r\n"
                                "XDATAA12=01/02/03 10:00\r\n"
                                "Note=perch\xE9\r\n";
    EXPECT_EQ(TempInstall::readBytes(f), expected);
    // A Latin-1 value is written back as Latin-1.
    ASSERT_TRUE(written(ProfileFile::write(f, "EXPORT", "Note", QString::fromUtf8("però"))));
    EXPECT_TRUE(TempInstall::readBytes(f).endsWith("Note=per\xF2\r\n"));
    EXPECT_EQ(readValue(f, "EXPORT", "NOTE"), QString::fromUtf8("però"));
    EXPECT_TRUE(leftovers(inst).isEmpty());
}

TEST(ProfileFile, WriteAddsMissingKeysAndSections)
{
    struct Case
    {
        const char* name;
        QByteArray before;
        QString section, key, value;
        QByteArray after;
    } cases[] = {
        {"key after the section's last key, before its trailing comment",
         "[EXPORT]\nA=1\nB=2\n\n; next\n[PATH]\nFILE=x\n", "EXPORT", "DATAA12", "v",
         "[EXPORT]\nA=1\nB=2\nDATAA12=v\n\n; next\n[PATH]\nFILE=x\n"},
        {"key into an empty section, CRLF kept", "[EXPORT]\r\n[PATH]\r\n", "EXPORT", "K", "v",
         "[EXPORT]\r\nK=v\r\n[PATH]\r\n"},
        {"key at the end of a file without final line end", "[EXPORT]\nA=1", "EXPORT", "K", "v",
         "[EXPORT]\nA=1\nK=v"},
        {"new section at the end", "[PATH]\nFILE=x\n", "EXPORT", "OPERATORE", "A12",
         "[PATH]\nFILE=x\n\n[EXPORT]\nOPERATORE=A12\n"},
        {"new section after a file without final line end", "[PATH]\r\nFILE=x", "EXPORT", "K", "v",
         "[PATH]\r\nFILE=x\r\n\r\n[EXPORT]\r\nK=v\r\n"},
        {"leading blank of a desktop key dropped", "[EXPORT]\n", "EXPORT", " DATAA12", "v",
         "[EXPORT]\nDATAA12=v\n"},
        {"value with a line break is cut there", "[EXPORT]\nK=old\n", "EXPORT", "K", "a\r\nINJECTED=1",
         "[EXPORT]\nK=a\n"},
        {"first of duplicate keys replaced", "[S]\nK=1\nK=2\n", "S", "k", "9", "[S]\nK=9\nK=2\n"},
        {"empty file", "", "S", "K", "v", "[S]\r\nK=v\r\n"},
        {"CR-only file: value replaced", "[S]\rK=1\rL=2\r", "S", "K", "9", "[S]\rK=9\rL=2\r"},
        {"CR-only file: key added with CR", "[S]\rK=1\r[T]\r", "S", "L", "2", "[S]\rK=1\rL=2\r[T]\r"},
        {"CR-only file: section added with CR", "[S]\rK=1\r", "T", "L", "2", "[S]\rK=1\r\r[T]\rL=2\r"},
    };
    for (const auto& c : cases) {
        TempInstall inst;
        const QString f = writeBytes(inst, c.before);
        EXPECT_TRUE(written(ProfileFile::write(f, c.section, c.key, c.value))) << c.name;
        EXPECT_EQ(TempInstall::readBytes(f), c.after) << c.name;
    }
}

TEST(ProfileFile, WriteCreatesAMissingFileButNotAMissingFolder)
{
    TempInstall inst;
    EXPECT_TRUE(written(ProfileFile::write(inst.path("new.ini"), "EXPORT", "K", "v")));
    EXPECT_EQ(readValue(inst.path("new.ini"), "EXPORT", "K"), "v");
    EXPECT_FALSE(written(ProfileFile::write(inst.path("nofolder/new.ini"), "EXPORT", "K", "v")));
}

TEST(ProfileFile, FilesThatCannotBeWrittenAreLeftUntouched)
{
    TempInstall inst;
    const QByteArray before = "[EXPORT]\nK=old\n";
    const QString readOnly = writeBytes(inst, before, "ro.ini");
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    EXPECT_FALSE(written(ProfileFile::write(readOnly, "EXPORT", "K", "new")));
    EXPECT_EQ(TempInstall::readBytes(readOnly), before);

    const QByteArray binary("[EXPORT]\nK=old\n\0\0", 17);
    const QString bin = writeBytes(inst, binary, "bin.ini");
    EXPECT_FALSE(written(ProfileFile::write(bin, "EXPORT", "K", "new")));
    EXPECT_EQ(TempInstall::readBytes(bin), binary);

    // A failing write (a full disk) leaves the old file and no temporary one.
    const QString f = writeBytes(inst, before, "full.ini");
    platform::setFailureInjector(
        [](const QString& op, const QString&) { return op == "write" ? ENOSPC : 0; });
    EXPECT_FALSE(written(ProfileFile::write(f, "EXPORT", "K", "new")));
    platform::setFailureInjector({});
    EXPECT_EQ(TempInstall::readBytes(f), before);
    EXPECT_TRUE(leftovers(inst).isEmpty());
}

TEST(ProfileFile, NamesThatWouldBreakTheFileAreRefused)
{
    TempInstall inst;
    const QByteArray before = "[S]\nK=v\n";
    const QString f = writeBytes(inst, before);
    for (const auto& [section, key] : std::initializer_list<std::pair<QString, QString>>{
             {"S", ""}, {"", "K"}, {"S", "A=B"}, {"S", "A\nB"}, {"S\n[X", "K"}, {"S", ";K"}}) {
        EXPECT_FALSE(written(ProfileFile::write(f, section, key, "x")));
    }
    EXPECT_EQ(TempInstall::readBytes(f), before);
}

TEST(ProfileFile, WriteKeepsPermissionsAndFollowsLinks)
{
    TempInstall inst;
    const QString f = writeBytes(inst, "[S]\nK=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(f).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(f, inst.path("link.ini")));
    ASSERT_TRUE(written(ProfileFile::write(inst.path("link.ini"), "S", "K", "2")));
    EXPECT_EQ(QFileInfo(inst.path("link.ini")).isSymLink(), true);
    EXPECT_EQ(readValue(f, "S", "K"), "2");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ProfileFile, Utf8FileWithByteOrderMark)
{
    TempInstall inst;
    const QString f = writeBytes(inst, "\xEF\xBB\xBF[S]\nK=citt\xC3\xA0\n");
    EXPECT_EQ(readValue(f, "S", "K"), QString::fromUtf8("città"));
    ASSERT_TRUE(written(ProfileFile::write(f, "S", "K", QString::fromUtf8("però"))));
    EXPECT_EQ(TempInstall::readBytes(f), QByteArray("\xEF\xBB\xBF[S]\nK=per\xC3\xB2\n"));
}

TEST(ProfileFile, EncodingIsKeptAndNeverLosesCharacters)
{
    const QString euroPath = QString::fromUtf8("/media/Документы/€");
    struct Case
    {
        const char* name;
        QByteArray before;
        QString value;
        bool written;
        QByteArray after; // the whole file afterwards
    } cases[] = {
        {"UTF-8 without byte-order mark stays UTF-8", "[S]\nA=citt\xC3\xA0\nK=x\n", QString::fromUtf8("però"),
         true, "[S]\nA=citt\xC3\xA0\nK=per\xC3\xB2\n"},
        {"plain ASCII file takes UTF-8 for a non-Latin-1 value", "[S]\nK=x\n", euroPath, true,
         "[S]\nK=" + euroPath.toUtf8() + "\n"},
        {"plain ASCII file keeps Latin-1 for a Latin-1 value", "[S]\nK=x\n", QString::fromUtf8("però"), true,
         "[S]\nK=per\xF2\n"},
        {"Latin-1 file refuses what it cannot hold", "[S]\nA=citt\xE0\nK=x\n", euroPath, false,
         "[S]\nA=citt\xE0\nK=x\n"},
    };
    for (const auto& c : cases) {
        TempInstall inst;
        const QString f = writeBytes(inst, c.before);
        EXPECT_EQ(written(ProfileFile::write(f, "S", "K", c.value)), c.written) << c.name;
        EXPECT_EQ(TempInstall::readBytes(f), c.after) << c.name;
        if (c.written) {
            EXPECT_EQ(readValue(f, "S", "K"), c.value) << c.name;
        }
    }
    // A value written by an editor of this platform reads back as typed.
    TempInstall inst;
    const QString f = writeBytes(inst, "[PATH]\nFILE=/home/jos\xC3\xA9/dati\n");
    EXPECT_EQ(readValue(f, "PATH", "FILE"), QString::fromUtf8("/home/josé/dati"));
}

// Two processes changing one file at once: each change reads the file again
// under the file's lock and changes only its own key, so no change of the
// other is lost. The lock file goes with the last change.
TEST(ProfileFile, ChangesOfTwoProcessesAtOnceAreAllKept)
{
    TempInstall inst;
    const QString f = writeBytes(inst, "[PATH]\nFILE=x\n[EXPORT]\nOPERATORE=P001\n");
    constexpr int kKeys = 200;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            ::close(start[1]);
            char go;
            if (::read(start[0], &go, 1) != 0) // both start when the pipe closes
                ::_exit(3);
            int failures = 0;
            for (int i = 0; i < kKeys; ++i) {
                const QString key = QStringLiteral("K%1-%2").arg(c).arg(i);
                const QString section = i % 2 ? QStringLiteral("EXPORT") : QStringLiteral("S%1").arg(c);
                failures += ProfileFile::write(f, section, key, QString::number(i)) ? 1 : 0;
                if (c == 1 && i % 50 == 0)
                    failures +=
                        ProfileFile::remove(f, QStringLiteral("EXPORT"), QStringLiteral("NONE")) ? 1 : 0;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    ::close(start[0]);
    ::close(start[1]);
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int missing = 0;
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < kKeys; ++i) {
            const QString section = i % 2 ? QStringLiteral("EXPORT") : QStringLiteral("S%1").arg(c);
            missing += readValue(f, section, QStringLiteral("K%1-%2").arg(c).arg(i)) != QString::number(i);
        }
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(readValue(f, "EXPORT", "OPERATORE"), "P001");
    EXPECT_FALSE(QFileInfo::exists(f + QStringLiteral(".lock")));
    EXPECT_TRUE(leftovers(inst).isEmpty());
}

// A key that holds its value already is not written again: the file stays
// the same file (no rename), even where it could not be written, and the
// caller learns that nothing changed. A failure tells the file and why.
TEST(ProfileFile, AnUnchangedValueIsNotWrittenAgain)
{
    TempInstall inst;
    const QString f = writeBytes(inst, "[EXPORT]\nK= C:\\x  \nQ=\"v\"\n", "same.ini");
    auto inode = [&] {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(f).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const ino_t before = inode();
    bool changed = true;
    EXPECT_TRUE(written(ProfileFile::write(f, "export", "k", "C:\\x  ", &changed)));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(ProfileFile::holds(f, "EXPORT", "K", "C:\\x  "));
    changed = true;
    EXPECT_TRUE(written(ProfileFile::remove(f, "EXPORT", "MISSING", &changed)));
    EXPECT_FALSE(changed);
    EXPECT_EQ(inode(), before);
    // As the file stores it: a value read back the same but stored otherwise
    // is written.
    EXPECT_FALSE(ProfileFile::holds(f, "EXPORT", "Q", "v"));
    EXPECT_TRUE(written(ProfileFile::write(f, "EXPORT", "Q", "v", &changed)));
    EXPECT_TRUE(changed);
    EXPECT_NE(inode(), before);

    ASSERT_EQ(::chmod(QFile::encodeName(f).constData(), 0444), 0);
    EXPECT_TRUE(written(ProfileFile::write(f, "EXPORT", "Q", "v")));
    const Error e = ProfileFile::write(f, "EXPORT", "Q", "w");
    EXPECT_EQ(e.number, 70);
    EXPECT_EQ(e.path, f);
    EXPECT_FALSE(QFileInfo::exists(f + QStringLiteral(".lock")));
}
