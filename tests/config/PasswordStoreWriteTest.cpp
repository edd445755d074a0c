#include "config/PasswordStore.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

using namespace mirsalex;
using mirsalex::test::TempInstall;

namespace {

constexpr int kFast = 64;

mode_t modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Sets the umask for the lifetime of the object.
class UmaskGuard
{
public:
    explicit UmaskGuard(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskGuard() { ::umask(m_old); }

private:
    mode_t m_old;
};

TEST(PasswordStoreWrite, AReplacedStoreIsReadableOnlyByItsOwnerWhateverTheUmask)
{
    TempInstall inst;
    PasswordStore store(inst.writeIni(QStringLiteral("[PATH]\n")), kFast);
    ASSERT_TRUE(store.set(QStringLiteral("ABC1")));
    ASSERT_EQ(::chmod(QFile::encodeName(store.path()).constData(), 0644), 0);
    const UmaskGuard open(0);
    QString error;
    ASSERT_TRUE(store.set(QStringLiteral("XYZ2"), &error)) << error.toStdString();
    EXPECT_EQ(modeOf(store.path()), 0600u);
    EXPECT_TRUE(store.verify(QStringLiteral("XYZ2")));
}

// A store that cannot be replaced keeps the old password, leaves no
// temporary behind, and says which step failed.
TEST(PasswordStoreWrite, AFailedReplaceKeepsTheOldStoreAndNamesTheStep)
{
    struct Case
    {
        const char* name;
        bool (*prepare)(const QString& folder, const QString& store);
        const char* errorStart;
        bool needsOrdinaryUser;
    };
    const Case cases[] = {
        {"the folder refuses new files",
         [](const QString& folder, const QString&) {
             return ::chmod(QFile::encodeName(folder).constData(), 0555) == 0;
         },
         "impossibile creare ", true},
        {"the store's name is taken by a folder that is not empty",
         [](const QString&, const QString& store) {
             return QFile::remove(store) && QDir().mkpath(store + QStringLiteral("/x"));
         },
         "impossibile sostituire ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsOrdinaryUser && ::geteuid() == 0)
            continue; // permissions do not stop the superuser
        TempInstall inst;
        PasswordStore store(inst.writeIni(QStringLiteral("[PATH]\n")), kFast);
        ASSERT_TRUE(store.set(QStringLiteral("ABC1")));
        const QString folder = inst.programFolder();
        const QStringList before =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        ASSERT_TRUE(c.prepare(folder, store.path()));
        const bool storeIsFile = QFileInfo(store.path()).isFile();

        QString error;
        EXPECT_FALSE(store.set(QStringLiteral("XYZ2"), &error));
        EXPECT_TRUE(error.startsWith(QLatin1String(c.errorStart))) << error.toStdString();
        if (storeIsFile) {
            EXPECT_TRUE(store.verify(QStringLiteral("ABC1")));
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before)
            << "no temporary left behind";
        ::chmod(QFile::encodeName(folder).constData(), 0755);
    }
}

} // namespace
