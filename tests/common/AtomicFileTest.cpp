#include "common/AtomicFile.h"

#include "common/Platform.h"
#include "support/TempInstall.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace mirsalex;

namespace {

const QByteArray kOld = QByteArrayLiteral("old content\n");
const QByteArray kNew = QByteArrayLiteral("the new content, longer than one short write\n");

class AtomicFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.path() + QLatin1Char('/');
        m_path = m_folder + QStringLiteral("target.ini");
        QFile f(m_path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(kOld), kOld.size());
    }
    void TearDown() override { platform::setFailureInjector({}); }

    QByteArray content() const
    {
        QFile f(m_path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList entries() const
    {
        return QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    mode_t mode() const
    {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(m_path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    QTemporaryDir m_dir;
    QString m_folder;
    QString m_path;
};

// The low-level writes a disk may answer with, and what the writer makes of
// them: the whole content, or an error with the old file untouched.
struct WriteCase
{
    const char* name;
    // Answer to the n-th call (from 1): the count to write (capped to what
    // is asked), 0 for "nothing taken", or -errno.
    qint64 (*answer)(int call);
    int expectedError; // 0: the new content is in place
};

const WriteCase kWriteCases[] = {
    {"short writes are continued", [](int) -> qint64 { return 3; }, 0},
    {"an interrupted write is tried again", [](int call) -> qint64 { return call == 1 ? -EINTR : 1 << 20; },
     0},
    {"a write taking nothing is a full disk", [](int call) -> qint64 { return call == 1 ? 5 : 0; }, ENOSPC},
    {"a full disk after a short write", [](int call) -> qint64 { return call == 1 ? 7 : -ENOSPC; }, ENOSPC},
    {"a device error", [](int) -> qint64 { return -EIO; }, EIO},
};

TEST_F(AtomicFileTest, EveryWriteCountIsChecked)
{
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.name);
        int call = 0;
        AtomicFile::Options options;
        options.write = [&](int fd, const char* data, qint64 size) -> qint64 {
            const qint64 answer = c.answer(++call);
            if (answer < 0) {
                errno = int(-answer);
                return -1;
            }
            return ::write(fd, data, size_t(std::min(answer, size)));
        };
        AtomicFile::Step step = AtomicFile::Step::None;
        const Error e = saveToFile(m_path, kNew, options, &step);
        EXPECT_EQ(e.number, c.expectedError);
        if (c.expectedError == 0) {
            EXPECT_EQ(content(), kNew);
            // Put the old content back for the next case.
            ASSERT_FALSE(saveToFile(m_path, kOld));
        } else {
            EXPECT_EQ(step, AtomicFile::Step::Write);
            EXPECT_EQ(content(), kOld);
        }
        EXPECT_EQ(entries(), QStringList{QStringLiteral("target.ini")}) << "no temporary left behind";
    }
}

// A failure at any later step leaves the destination as it was and no
// temporary behind.
struct StepCase
{
    const char* operation; // the injector's name for the call
    int err;
    AtomicFile::Step step;
};

const StepCase kStepCases[] = {
    {"chmod", EIO, AtomicFile::Step::Permissions}, {"fsync", EIO, AtomicFile::Step::Sync},
    {"fsync", ENOSPC, AtomicFile::Step::Sync},     {"rename", EACCES, AtomicFile::Step::Rename},
    {"rename", EXDEV, AtomicFile::Step::Rename},
};

TEST_F(AtomicFileTest, AFailedStepLeavesTheDestinationUntouched)
{
    for (const StepCase& c : kStepCases) {
        SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.err));
        QStringList asked;
        platform::setFailureInjector([&](const QString& op, const QString& path) {
            asked << op;
            EXPECT_EQ(path, m_path);
            return op == QLatin1String(c.operation) ? c.err : 0;
        });
        AtomicFile::Options options;
        options.askInjector = true;
        AtomicFile::Step step = AtomicFile::Step::None;
        const Error e = saveToFile(m_path, kNew, options, &step);
        platform::setFailureInjector({});
        EXPECT_EQ(e.number, c.err);
        EXPECT_EQ(step, c.step);
        EXPECT_TRUE(asked.contains(QLatin1String(c.operation)));
        EXPECT_EQ(content(), kOld);
        EXPECT_EQ(entries(), QStringList{QStringLiteral("target.ini")});
    }
}

// The temporary itself is flushed to the disk, once, before it is renamed
// over the destination; a flush that fails is the write's error and leaves
// the destination as it was.
TEST_F(AtomicFileTest, TheTemporaryIsFlushedBeforeItsRename)
{
    for (const int err : {EIO, 0}) {
        SCOPED_TRACE(err);
        std::vector<ino_t> flushed; // the files flushed, by inode
        QByteArray destinationWhenFlushed;
        AtomicFile::Options options;
        options.sync = [&](int fd) {
            struct stat st
            {
            };
            EXPECT_EQ(::fstat(fd, &st), 0);
            flushed.push_back(st.st_ino);
            destinationWhenFlushed = content();
            return err != 0 ? err : AtomicFile::syncFile(fd);
        };
        AtomicFile::Step step = AtomicFile::Step::None;
        const Error e = saveToFile(m_path, kNew, options, &step);
        EXPECT_EQ(e.number, err);
        ASSERT_EQ(flushed.size(), 1u);
        EXPECT_EQ(destinationWhenFlushed, kOld) << "flushed before the rename";
        if (err != 0) {
            EXPECT_EQ(step, AtomicFile::Step::Sync);
            EXPECT_EQ(content(), kOld);
            EXPECT_EQ(entries(), QStringList{QStringLiteral("target.ini")});
        } else {
            EXPECT_EQ(content(), kNew);
            struct stat st
            {
            };
            ASSERT_EQ(::stat(QFile::encodeName(m_path).constData(), &st), 0);
            EXPECT_EQ(st.st_ino, flushed.front()) << "the file flushed is the one put in place";
        }
    }
}

TEST_F(AtomicFileTest, TheInjectorIsAskedOnlyWhenTheWriterSaysSo)
{
    bool asked = false;
    platform::setFailureInjector([&](const QString&, const QString&) {
        asked = true;
        return EIO;
    });
    EXPECT_FALSE(saveToFile(m_path, kNew));
    EXPECT_FALSE(asked);
    EXPECT_EQ(content(), kNew);
}

TEST_F(AtomicFileTest, RefusedPermissionsAreNoErrorWhereTheDiskKeepsNone)
{
    platform::setFailureInjector(
        [](const QString& op, const QString&) { return op == QLatin1String("chmod") ? EPERM : 0; });
    AtomicFile::Options options;
    options.askInjector = true;
    options.permissionsMayBeRefused = true;
    EXPECT_FALSE(saveToFile(m_path, kNew, options));
    EXPECT_EQ(content(), kNew);
}

TEST_F(AtomicFileTest, PermissionsAreKeptOrSetAsAsked)
{
    ASSERT_EQ(::chmod(QFile::encodeName(m_path).constData(), 0640), 0);
    ASSERT_FALSE(saveToFile(m_path, kNew));
    EXPECT_EQ(mode(), 0640u) << "the destination's mode is kept";

    AtomicFile::Options ownerOnly;
    ownerOnly.mode = 0600;
    ownerOnly.permissionsFirst = true;
    ASSERT_FALSE(saveToFile(m_path, kOld, ownerOnly));
    EXPECT_EQ(mode(), 0600u);
    EXPECT_EQ(content(), kOld);

    ASSERT_TRUE(QFile::remove(m_path));
    ASSERT_FALSE(saveToFile(m_path, kNew));
    EXPECT_EQ(mode(), AtomicFile::newFileMode()) << "a new file: 0666 less the umask";
}

TEST_F(AtomicFileTest, TheTemporaryLiesBesideTheDestinationUnderItsOwnName)
{
    struct NameCase
    {
        QString prefix;
        QString suffix;
        QString pattern;
    };
    const NameCase cases[] = {
        {QStringLiteral("."), QStringLiteral("."), QStringLiteral(R"(^\.target\.ini\.[A-Za-z0-9]{6}$)")},
        {QStringLiteral(".~mirsalex-"), QStringLiteral("."),
         QStringLiteral(R"(^\.~mirsalex-target\.ini\.[A-Za-z0-9]{6}$)")},
        {QString(), QStringLiteral(".tmp"), QStringLiteral(R"(^target\.ini\.tmp[A-Za-z0-9]{6}$)")},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.pattern.toStdString());
        AtomicFile::Options options;
        options.tempPrefix = c.prefix;
        options.tempSuffix = c.suffix;
        QStringList seen;
        options.write = [&](int fd, const char* data, qint64 size) -> qint64 {
            seen = entries();
            return ::write(fd, data, size_t(size));
        };
        ASSERT_FALSE(saveToFile(m_path, kNew, options));
        seen.removeAll(QStringLiteral("target.ini"));
        ASSERT_EQ(seen.size(), 1);
        EXPECT_TRUE(QRegularExpression(c.pattern).match(seen.constFirst()).hasMatch())
            << seen.constFirst().toStdString();
    }
}

TEST_F(AtomicFileTest, AHandedOverTemporaryIsPlacedByRename)
{
    const QString dest = m_folder + QStringLiteral("copy.doc");
    QByteArray temp;
    {
        AtomicFile file(dest);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write(kNew));
        temp = file.release();
        ASSERT_FALSE(temp.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(dest));
    EXPECT_TRUE(QFile::exists(QFile::decodeName(temp))) << "a released temporary outlives its writer";
    ASSERT_EQ(AtomicFile::syncFileSystem(m_folder), 0);
    ASSERT_EQ(AtomicFile::renameFile(temp, QFile::encodeName(dest)), 0);
    QFile f(dest);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), kNew);
}

TEST_F(AtomicFileTest, AWriterNotCommittedLeavesNothing)
{
    {
        AtomicFile file(m_path);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write(kNew));
    }
    EXPECT_EQ(content(), kOld);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("target.ini")});
}

TEST_F(AtomicFileTest, PlaceNewNeverReplacesAFile)
{
    const auto makeTemp = [&](const QString& name) {
        QFile f(m_folder + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kNew);
        return f.fileName();
    };
    EXPECT_EQ(AtomicFile::placeNew(makeTemp(QStringLiteral("a.tmp")), m_path), EEXIST);
    EXPECT_EQ(content(), kOld);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("target.ini")}) << "the temporary is removed";

    const QString fresh = m_folder + QStringLiteral("new.mdb");
    EXPECT_EQ(AtomicFile::placeNew(makeTemp(QStringLiteral("b.tmp")), fresh), 0);
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("new.mdb"), QStringLiteral("target.ini")}));
}

} // namespace
