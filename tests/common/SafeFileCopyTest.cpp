// The safe copy on its own: a copy that cannot complete leaves its
// destination as it was, alone or in a batch; a batch holds no more than its
// count; the leftovers of killed copies go only under the run lock.

#include "common/SafeFileCopy.h"

#include "common/AtomicFile.h"
#include "common/Platform.h"
#include "common/RunLock.h"
#include "support/TempInstall.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <optional>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirsalex::test {

namespace {

// A fixed local time with an odd second, far from any DST change.
QDateTime baseTime()
{
    return QDateTime(QDate(2024, 3, 5), QTime(10, 20, 31));
}

QDateTime mtime(const QString& path)
{
    const auto t = platform::modificationTime(path);
    return t ? *t : QDateTime();
}

// Every entry of a folder, hidden ones included (a leftover temporary file
// must show up).
QStringList entries(const QString& folder)
{
    QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// A source folder and a destination folder; the real write is restored
// whatever a test did.
struct SafeFileCopyTest : ::testing::Test
{
    TempInstall inst;
    QString testi, xSchede;

    void SetUp() override
    {
        testi = inst.makeDir(QStringLiteral("dati/testi"));
        xSchede = inst.makeDir(QStringLiteral("scambio/OP1/SCHEDE"));
    }
    void TearDown() override { SafeFileCopy::setWriteHook({}); }

    QString file(const QString& folder, const QString& name, const QByteArray& content, const QDateTime& when)
    {
        return inst.writeFile(folder.mid(inst.root().size()) + name, content, when);
    }
};

} // namespace

// Removes the failure injector whatever a test did.
struct InjectorReset
{
    ~InjectorReset() { platform::setFailureInjector({}); }
};

// A disk that refuses permission changes (FAT, many network drivers) still
// takes the copy: content and time are what count. Other faults still fail.
TEST_F(SafeFileCopyTest, PermissionsRefusedByTheDiskDoNotFailTheCopy)
{
    InjectorReset reset;
    const QString src = file(testi, QStringLiteral("SK1.DOC"), "new", baseTime().addSecs(60));
    for (const auto& [err, fails] :
         {std::pair{EPERM, false}, std::pair{ENOTSUP, false}, std::pair{EIO, true}}) {
        SCOPED_TRACE(err);
        const QString dst = file(xSchede, QStringLiteral("SK1.DOC"), "old", baseTime());
        platform::setFailureInjector(
            [err](const QString& op, const QString&) { return op == QLatin1String("chmod") ? err : 0; });
        EXPECT_EQ(bool(SafeFileCopy::copy(src, dst)), fails);
        EXPECT_EQ(TempInstall::readBytes(dst), fails ? QByteArray("old") : QByteArray("new"));
        EXPECT_EQ(mtime(dst), fails ? baseTime() : baseTime().addSecs(60));
    }
}

// A failed rename reports its real cause, never "error 0".
TEST_F(SafeFileCopyTest, FailedRenameReportsItsError)
{
    InjectorReset reset;
    const QString src = file(testi, QStringLiteral("SK1.DOC"), "new", baseTime().addSecs(60));
    const QString dst = file(xSchede, QStringLiteral("SK1.DOC"), "old", baseTime());
    platform::setFailureInjector(
        [](const QString& op, const QString&) { return op == QLatin1String("rename") ? EACCES : 0; });
    for (const bool batched : {false, true}) {
        SCOPED_TRACE(batched);
        std::optional<SafeFileCopy::Batch> batch;
        if (batched)
            batch.emplace();
        Error error = SafeFileCopy::copy(src, dst, batch ? &*batch : nullptr);
        if (batched) {
            EXPECT_FALSE(error);
            int placed = -1;
            error = batch->commit(&placed);
            EXPECT_EQ(placed, 0);
            EXPECT_EQ(batch->failure().number, 70);
            EXPECT_EQ(batch->dropped(), 1);
        }
        EXPECT_EQ(error.number, 70) << "permission denied";
        EXPECT_EQ(TempInstall::readBytes(dst), QByteArray("old"));
        EXPECT_EQ(entries(xSchede), QStringList{QStringLiteral("SK1.DOC")});
    }
}

// The steps of a copy after its bytes, alone and in a batch: a failure at
// any of them reports its cause and leaves the destination as it was, with
// no temporary behind; a disk taking the bytes a few at a time still gets
// them all.
struct StepCase
{
    const char* operation; // the injector's name; "" for a disk taking short writes
    int err;
};

TEST_F(SafeFileCopyTest, EveryStepOfTheCopyFailsCleanly)
{
    InjectorReset reset;
    const QByteArray content(200 * 1024 + 3, 'n');
    const QString src = file(testi, QStringLiteral("SK1.DOC"), content, baseTime().addSecs(60));
    for (const StepCase c : {StepCase{"", 0}, StepCase{"chmod", EIO}, StepCase{"utime", EIO},
                             StepCase{"fsync", EIO}, StepCase{"fsync", ENOSPC}, StepCase{"rename", EXDEV}}) {
        for (const bool batched : {false, true}) {
            SCOPED_TRACE(std::string(c.operation) + (batched ? " in a batch" : " alone"));
            const QString dst = file(xSchede, QStringLiteral("SK1.DOC"), "old", baseTime());
            const QString op = QString::fromLatin1(c.operation);
            if (op.isEmpty())
                SafeFileCopy::setWriteHook([](int fd, const char* data, qint64 size) -> qint64 {
                    return ::write(fd, data, static_cast<size_t>(std::min<qint64>(size, 4093)));
                });
            platform::setFailureInjector(
                [&](const QString& o, const QString&) { return o == op ? c.err : 0; });
            Error error;
            {
                std::optional<SafeFileCopy::Batch> batch;
                if (batched)
                    batch.emplace();
                error = SafeFileCopy::copy(src, dst, batch ? &*batch : nullptr);
                if (batched && !error)
                    error = batch->commit();
            }
            platform::setFailureInjector({});
            SafeFileCopy::setWriteHook({});
            EXPECT_EQ(error.number, c.err == 0 ? 0 : platform::errorNumberFromErrno(c.err));
            EXPECT_EQ(TempInstall::readBytes(dst), c.err == 0 ? content : QByteArray("old"));
            EXPECT_EQ(mtime(dst), c.err == 0 ? baseTime().addSecs(60) : baseTime());
            EXPECT_EQ(entries(xSchede), QStringList{QStringLiteral("SK1.DOC")});
        }
    }
}

// A batch holds at most its count of copies, waiting out of sight of their
// destinations' names: the next copy puts them in place first, in the order
// made, and the owner hears of each once it is there.
TEST_F(SafeFileCopyTest, ABatchHoldsNoMoreCopiesThanItsCount)
{
    constexpr int kMax = 3;
    constexpr int kCopies = 8;
    QStringList placed, expected;
    int most = 0;
    {
        SafeFileCopy::Batch batch(kMax, qint64(1) << 30,
                                  [&](const QString&, const QString& destination, bool inPlace) {
                                      EXPECT_TRUE(inPlace);
                                      EXPECT_EQ(TempInstall::readBytes(destination), QByteArray("card"));
                                      placed << destination;
                                  });
        for (int i = 0; i < kCopies; ++i) {
            const QString name = QStringLiteral("SK%1.DOC").arg(i);
            const QString src = file(testi, name, "card", baseTime());
            ASSERT_FALSE(SafeFileCopy::copy(src, xSchede + name, &batch));
            expected << xSchede + name;
            most = std::max(most, batch.pending());
            // Nothing shows under its name before it is put in place; a
            // waiting copy is a temporary, or has no name at all.
            const QStringList names = entries(xSchede);
            const qsizetype waiting = names.filter(AtomicFile::temporaryPrefix()).size();
            EXPECT_EQ(names.size() - waiting, placed.size());
            EXPECT_LE(waiting, batch.pending());
        }
        EXPECT_EQ(most, kMax);
        EXPECT_FALSE(batch.commit());
    }
    EXPECT_EQ(placed, expected);
    EXPECT_EQ(entries(xSchede).size(), kCopies);
}

// Temporary files are judged by when they were written, and only by a run
// holding the lock: a copy in progress carries its source's old time.
TEST_F(SafeFileCopyTest, StaleTemporariesGoOnlyUnderTheLockAndByWhenWritten)
{
    struct Case
    {
        const char* name;
        bool locked;
        qint64 olderThan; // seconds
        bool removed;
    } cases[] = {
        {"no lock: nothing is removed", false, -60, false},
        {"written just now, dated a year ago: kept", true, 3600, false},
        {"written before the limit: removed", true, -60, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString temp = AtomicFile::temporaryPrefix() + QStringLiteral("SK1.DOC.abcdef");
        file(xSchede, temp, "half a card", baseTime().addDays(-365));
        file(xSchede, QStringLiteral(".~Mirsalex-other"), "not ours", baseTime().addDays(-365));
        RunLock lock;
        if (c.locked) {
            ASSERT_TRUE(lock.acquire({xSchede}, QStringLiteral("DeskTop")));
        }
        EXPECT_EQ(SafeFileCopy::removeStale(xSchede, c.olderThan).size(), c.removed ? 1 : 0);
        EXPECT_EQ(QFileInfo::exists(xSchede + temp), !c.removed);
        EXPECT_TRUE(QFileInfo::exists(xSchede + QStringLiteral(".~Mirsalex-other")));
    }
}

// A copy that may share its source's blocks is still a whole copy where the
// file system makes no such copy, and a simulated disk always takes its
// bytes: content, time and no temporary behind, as for any copy.
TEST_F(SafeFileCopyTest, ASharedCopyWhereNoneCanBeMadeIsWritten)
{
    const QByteArray content(300 * 1024 + 5, 's');
    const QString src = file(testi, QStringLiteral("DatiDV.mdb"), content, baseTime());
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "over an old file" : "a new file");
        const QString dst = xSchede + QStringLiteral("DatiDV.mdb");
        if (replacing)
            file(xSchede, QStringLiteral("DatiDV.mdb"), "old", baseTime().addDays(-1));
        else
            QFile::remove(dst);
        qint64 written = 0;
        SafeFileCopy::setWriteHook([&written](int fd, const char* data, qint64 size) -> qint64 {
            const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
            written += n > 0 ? n : 0;
            return n;
        });
        EXPECT_FALSE(SafeFileCopy::copy(src, dst, nullptr, SafeFileCopy::Blocks::SharedWherePossible));
        SafeFileCopy::setWriteHook({});
        EXPECT_EQ(written, content.size());
        EXPECT_EQ(TempInstall::readBytes(dst), content);
        EXPECT_EQ(mtime(dst), baseTime());
        EXPECT_EQ(entries(xSchede), QStringList{QStringLiteral("DatiDV.mdb")});
    }
}

// A batch copy takes its source's permissions whether or not the umask
// lets it be created with them; and a folder flushed with the batch (the
// versions of what it replaces) is on the disk before any copy is put in
// place: when it cannot be flushed, no destination is replaced.
TEST_F(SafeFileCopyTest, ABatchKeepsModesAndFlushesItsOtherFoldersFirst)
{
    InjectorReset reset;
    const mode_t oldMask = ::umask(022);
    for (const mode_t mode : {mode_t(0640), mode_t(0751), mode_t(0666)}) {
        SCOPED_TRACE(mode);
        const QString src = file(testi, QStringLiteral("SK1.DOC"), "new", baseTime().addSecs(60));
        ASSERT_EQ(::chmod(QFile::encodeName(src).constData(), mode), 0);
        const QString dst = xSchede + QStringLiteral("SK1.DOC");
        QFile::remove(dst);
        SafeFileCopy::Batch batch;
        ASSERT_FALSE(SafeFileCopy::copy(src, dst, &batch));
        ASSERT_FALSE(batch.commit());
        struct stat st
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(dst).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
    ::umask(oldMask);

    const QString versions = inst.makeDir(QStringLiteral("versioni"));
    const QString src = file(testi, QStringLiteral("SK2.DOC"), "new", baseTime().addSecs(60));
    const QString dst = file(xSchede, QStringLiteral("SK2.DOC"), "old", baseTime());
    platform::setFailureInjector([versions](const QString& op, const QString& path) {
        return op == QLatin1String("fsync") && path == versions ? EIO : 0;
    });
    SafeFileCopy::Batch batch;
    batch.flushWith(versions);
    ASSERT_FALSE(SafeFileCopy::copy(src, dst, &batch));
    EXPECT_TRUE(batch.commit());
    EXPECT_EQ(TempInstall::readBytes(dst), QByteArray("old"));
    EXPECT_EQ(entries(xSchede), (QStringList{QStringLiteral("SK1.DOC"), QStringLiteral("SK2.DOC")}));
}

// A copy to a name still free waits without a name; should a file take the
// name before the commit, the copy still replaces it as it would any
// destination, and nothing is left beside it.
TEST_F(SafeFileCopyTest, ANameTakenBeforeTheCommitIsReplacedAsAnyOther)
{
    const QString src = file(testi, QStringLiteral("SK1.DOC"), "new", baseTime().addSecs(60));
    const QString dst = xSchede + QStringLiteral("SK1.DOC");
    QStringList placed;
    SafeFileCopy::Batch batch(200, qint64(1) << 30,
                              [&](const QString&, const QString& destination, bool inPlace) {
                                  if (inPlace)
                                      placed << destination;
                              });
    ASSERT_FALSE(SafeFileCopy::copy(src, dst, &batch));
    file(xSchede, QStringLiteral("SK1.DOC"), "appeared", baseTime());
    // A caller's listing that missed a file already there.
    const QString src2 = file(testi, QStringLiteral("SK2.DOC"), "new2", baseTime().addSecs(60));
    const QString dst2 = xSchede + QStringLiteral("SK2.DOC");
    file(xSchede, QStringLiteral("SK2.DOC"), "unlisted", baseTime());
    ASSERT_FALSE(SafeFileCopy::copy(src2, dst2, &batch, SafeFileCopy::Blocks::Written,
                                    SafeFileCopy::Flush::Now, DestinationName::NotListed));
    // And one that listed a file gone since.
    const QString src3 = file(testi, QStringLiteral("SK3.DOC"), "new3", baseTime().addSecs(60));
    const QString dst3 = xSchede + QStringLiteral("SK3.DOC");
    ASSERT_FALSE(SafeFileCopy::copy(src3, dst3, &batch, SafeFileCopy::Blocks::Written,
                                    SafeFileCopy::Flush::Now, DestinationName::Listed));
    EXPECT_FALSE(batch.commit());
    EXPECT_EQ(placed, (QStringList{dst, dst2, dst3}));
    EXPECT_EQ(TempInstall::readBytes(dst), QByteArray("new"));
    EXPECT_EQ(TempInstall::readBytes(dst2), QByteArray("new2"));
    EXPECT_EQ(TempInstall::readBytes(dst3), QByteArray("new3"));
    EXPECT_EQ(mtime(dst), baseTime().addSecs(60));
    EXPECT_EQ(entries(xSchede),
              (QStringList{QStringLiteral("SK1.DOC"), QStringLiteral("SK2.DOC"), QStringLiteral("SK3.DOC")}));
}

// The copies of a batch waiting without a name hold a descriptor each: a
// process allowed few descriptors still completes a full batch.
TEST_F(SafeFileCopyTest, ABatchFitsInTheDescriptorsOfTheProcess)
{
    struct rlimit was
    {
    };
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
    struct rlimit few = was;
    few.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    constexpr int kCopies = 150;
    Error error;
    {
        SafeFileCopy::Batch batch(kCopies);
        for (int i = 0; i < kCopies && !error; ++i) {
            const QString name = QStringLiteral("SK%1.DOC").arg(i);
            error = SafeFileCopy::copy(file(testi, name, "card", baseTime()), xSchede + name, &batch);
        }
        if (!error)
            error = batch.commit();
    }
    ::setrlimit(RLIMIT_NOFILE, &was);
    EXPECT_FALSE(error) << error.number;
    EXPECT_EQ(entries(xSchede).size(), kCopies);
}

} // namespace mirsalex::test
