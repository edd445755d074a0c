#include "config/PasswordStore.h"

#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

using namespace mirsalex;
using mirsalex::test::TempInstall;

namespace {

// Small work factor: the tests check the store, not its cost.
constexpr int kFast = 64;

TEST(PasswordStore, DeriveMatchesThePublishedPbkdf2Sha256Vector)
{
    // RFC 7914, section 11: PBKDF2-HMAC-SHA256 ("passwd", "salt", 1 iteration).
    EXPECT_EQ(PasswordStore::derive("passwd", "salt", 1).toHex(),
              QByteArray("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"));
    // RFC 7914: ("Password", "NaCl", 80000 iterations), first 32 bytes.
    EXPECT_EQ(PasswordStore::derive("Password", "NaCl", 80000).toHex(),
              QByteArray("4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"));
}

TEST(PasswordStore, StoresBesideTheConfigurationReadableOnlyByItsOwner)
{
    TempInstall inst;
    const QString ini = inst.writeIni(QStringLiteral("[PATH]\n"));
    PasswordStore store(ini, kFast);
    EXPECT_EQ(store.path(), inst.programFolder() + QStringLiteral("mirsalex.pwd"));
    EXPECT_EQ(store.state(), PasswordStore::State::None);
    EXPECT_FALSE(store.verify(QStringLiteral("ABC1")));

    QString error;
    ASSERT_TRUE(store.set(QStringLiteral("abc1"), &error)) << error.toStdString();
    EXPECT_EQ(store.state(), PasswordStore::State::Set);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(store.path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The password itself is nowhere in the file.
    EXPECT_FALSE(TempInstall::readBytes(store.path()).contains("ABC1"));
    // Only the store and the configuration are left in the folder.
    EXPECT_EQ(QDir(inst.programFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // Stored upper-cased, compared exactly.
    EXPECT_TRUE(store.verify(QStringLiteral("ABC1")));
    EXPECT_FALSE(store.verify(QStringLiteral("abc1")));
    EXPECT_FALSE(store.verify(QStringLiteral("ABC1 ")));
    EXPECT_FALSE(store.verify(QStringLiteral("ABC")));
    EXPECT_FALSE(store.verify(QString()));

    // A second store on the same file, with another work factor, reads it.
    EXPECT_TRUE(PasswordStore(ini).verify(QStringLiteral("ABC1")));

    // Replacing and clearing.
    ASSERT_TRUE(store.set(QStringLiteral("Z9")));
    EXPECT_FALSE(store.verify(QStringLiteral("ABC1")));
    EXPECT_TRUE(store.verify(QStringLiteral("Z9")));
    ASSERT_TRUE(store.set(QString()));
    EXPECT_EQ(store.state(), PasswordStore::State::None);
    EXPECT_FALSE(QFileInfo::exists(store.path()));
    EXPECT_TRUE(store.set(QString())); // clearing twice is fine
}

TEST(PasswordStore, RefusesPasswordsThatCannotBeTyped)
{
    TempInstall inst;
    PasswordStore store(inst.writeIni(QStringLiteral("[PATH]\n")), kFast);
    ASSERT_TRUE(store.set(QStringLiteral("GOOD")));
    for (const QString& bad :
         {QStringLiteral("TWO WORDS"), QStringLiteral("A-B"), QStringLiteral("ABCDEFGHIJKLM"),
          QStringLiteral(" ABC"), QStringLiteral("stra\u00dfe"), QStringLiteral("citt\u00e0")}) {
        QString error;
        EXPECT_FALSE(store.set(bad, &error)) << bad.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    // The stored password is untouched by the refusals.
    EXPECT_TRUE(store.verify(QStringLiteral("GOOD")));
    EXPECT_TRUE(store.set(QStringLiteral("ABCDEFGHIJKL")));
    EXPECT_TRUE(store.verify(QStringLiteral("ABCDEFGHIJKL")));
}

TEST(PasswordStore, DamagedStoreIsReportedAndNeverMatches)
{
    TempInstall inst;
    const QString ini = inst.writeIni(QStringLiteral("[PATH]\n"));
    PasswordStore store(ini, kFast);
    ASSERT_TRUE(store.set(QStringLiteral("ABC1")));
    const QByteArray good = TempInstall::readBytes(store.path());
    const QList<QByteArray> fields = good.trimmed().split(' ');
    ASSERT_EQ(fields.size(), 5);

    const QList<QByteArray> damaged = {
        QByteArray(),
        QByteArray("ABC1\n"),
        good.left(good.size() / 2),
        fields[0] + ' ' + fields[1] + " 999999999 " + fields[3] + ' ' + fields[4] + '\n',
        fields[0] + ' ' + fields[1] + " 0 " + fields[3] + ' ' + fields[4] + '\n',
        fields[0] + " md5 " + fields[2] + ' ' + fields[3] + ' ' + fields[4] + '\n',
        fields[0] + ' ' + fields[1] + ' ' + fields[2] + ' ' + fields[3] + ' ' + fields[4].left(10) + '\n',
        good + good,
        QByteArray(4096, 'x'),
    };
    for (const QByteArray& bytes : damaged) {
        QFile f(store.path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        EXPECT_EQ(store.state(), PasswordStore::State::Damaged) << bytes.left(60).toStdString();
        EXPECT_FALSE(store.verify(QStringLiteral("ABC1")));
    }
    // A folder where the store should be is damage too.
    QFile::remove(store.path());
    ASSERT_TRUE(QDir().mkdir(store.path()));
    EXPECT_EQ(store.state(), PasswordStore::State::Damaged);
}

TEST(PasswordStore, FailedWriteLeavesNothingBehind)
{
    TempInstall inst;
    // The configuration "lies" in a folder that does not exist.
    PasswordStore store(inst.path(QStringLiteral("manca/Mirsal.ini")), kFast);
    QString error;
    EXPECT_FALSE(store.set(QStringLiteral("ABC1"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(store.state(), PasswordStore::State::None);
}

} // namespace
