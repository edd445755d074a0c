#include "common/Helpers.h"
#include "transfer/Transfer.h"
#include "TransferTestSupport.h"

#include <cerrno>
#include <optional>

namespace mirsalex::test {
namespace {

using FileCopyTest = TransferFixture;

struct DecisionCase
{
    const char* name;
    std::optional<int> sourceOffset;      // seconds from baseTime(); empty: no source file
    std::optional<int> destinationOffset; // empty: no destination file
    int force;
    int promptValue;
    int answer;          // answer to the question box, when one is shown
    const char* message; // expected beginning of the box, "" for none
    bool copied;
    int counted;
    bool failed;
};

const DecisionCase kDecisions[] = {
    {"source newer", 60, 0, 0, 1, AnswerYes, "Copio: ", true, 1, false},
    {"source older", 0, 60, 0, 1, AnswerOk, "NON passo: ", false, 0, false},
    {"same second", 0, 0, 0, 1, AnswerOk, "NON passo: ", false, 0, false},
    {"destination missing", 0, std::nullopt, 0, 1, AnswerYes, "Copio: ", true, 1, false},
    {"force over newer destination", 0, 60, 1, 1, AnswerYes, "Copio: ", true, 1, false},
    {"no prompt copies silently", 60, 0, 0, 0, AnswerNone, "", true, 1, false},
    {"no prompt, not older: silent", 0, 60, 0, 0, AnswerNone, "", false, 0, false},
    {"answer No: counted, not copied", 60, 0, 0, 1, AnswerNo, "Copio: ", false, 1, false},
    {"missing source over old destination fails", std::nullopt, -86400 * 400, 0, 0, AnswerNone, "", false, 0,
     true},
};

TEST_F(FileCopyTest, DecisionTable)
{
    for (const DecisionCase& c : kDecisions) {
        SCOPED_TRACE(c.name);
        const QString folder = inst.makeDir(QStringLiteral("case/") + QString::fromLatin1(c.name));
        const QString src = folder + QStringLiteral("SK1.DOC");
        const QString dst = folder + QStringLiteral("OUT.DOC");
        if (c.sourceOffset)
            file(folder, QStringLiteral("SK1.DOC"), "new", baseTime().addSecs(*c.sourceOffset));
        if (c.destinationOffset)
            file(folder, QStringLiteral("OUT.DOC"), "old", baseTime().addSecs(*c.destinationOffset));
        if (*c.message)
            prompt.expect(QString::fromLatin1(c.message), c.answer,
                          c.message[0] == 'C' ? MsgStyle::Question : MsgStyle::Ok);
        w.filesOffered[1][0] = 0;

        const bool failed = copyIfNewer(w, src, dst, w.filesOffered[1][0], c.promptValue, c.force).failed;

        EXPECT_EQ(failed, c.failed);
        EXPECT_EQ(w.filesOffered[1][0], c.counted);
        const QByteArray expected =
            c.copied ? QByteArray("new") : (c.destinationOffset ? QByteArray("old") : QByteArray());
        EXPECT_EQ(TempInstall::readBytes(dst), expected);
        if (c.copied) {
            EXPECT_EQ(mtime(dst), mtime(src)) << "the copy keeps the source's time";
        }
        if (!c.failed && !c.copied && !c.destinationOffset) {
            EXPECT_FALSE(QFileInfo::exists(dst));
        }
        EXPECT_EQ(prompt.pending(), 0);
    }
    ASSERT_EQ(prompt.messages.size(), 6);
    for (const auto& m : prompt.messages) {
        if (m.style == MsgStyle::Question)
            EXPECT_EQ(m.title, QStringLiteral("AGGIORNAMENTO FILE"));
        else
            EXPECT_EQ(m.title, applicationTitle());
    }
}

TEST_F(FileCopyTest, AnswerComesBackWithTheResult)
{
    const QString src = file(testi, QStringLiteral("SK1.DOC"), "a", baseTime().addSecs(10));
    const QString dst = xSchede + QStringLiteral("SK1.DOC");
    prompt.expect(QStringLiteral("Copio: "), AnswerNo);
    EXPECT_EQ(copyIfNewer(w, src, dst, w.filesOffered[0][0], 1).answer, AnswerNo);
    EXPECT_EQ(copyIfNewer(w, src, dst, w.filesOffered[0][0], 0).answer, AnswerYes);
}

TEST_F(FileCopyTest, MessageTextsLineByLine)
{
    const QString src =
        file(testi, QStringLiteral("SK1.DOC"), "a", QDateTime(QDate(2024, 3, 5), QTime(10, 21, 59)));
    const QString dst = xSchede + QStringLiteral("SK1.DOC");
    prompt.expect(QString(), AnswerYes).expect(QString(), AnswerOk).expect(QString(), AnswerYes);

    copyIfNewer(w, src, dst, w.filesOffered[0][0], 1); // destination missing
    copyIfNewer(w, src, dst, w.filesOffered[0][0], 1); // now equal
    TempInstall::setModified(dst, QDateTime(QDate(2023, 12, 31), QTime(23, 5, 0)));
    copyIfNewer(w, src, dst, w.filesOffered[0][0], 1); // destination older

    ASSERT_EQ(prompt.messages.size(), 3);
    const QString lf(QChar(10));
    EXPECT_EQ(prompt.messages[0].text, QStringLiteral("Copio: ") + lf + src + lf + "del  05/03/2024 10:21" +
                                           lf + "su" + lf + dst + "  inesistente");
    EXPECT_EQ(prompt.messages[0].style, MsgStyle::Question);
    EXPECT_EQ(prompt.messages[1].text, QStringLiteral("NON passo: ") + lf + src + lf +
                                           "del  05/03/2024 10:21" + lf + "su" + lf + dst + lf +
                                           "del  05/03/2024 10:21");
    EXPECT_EQ(prompt.messages[1].style, MsgStyle::Ok);
    EXPECT_EQ(prompt.messages[2].text, QStringLiteral("Copio: ") + lf + src + lf + "del  05/03/2024 10:21" +
                                           lf + "su" + lf + dst + lf + "del  31/12/2023 23:05");
}

TEST_F(FileCopyTest, CopiedBackAndForthOnlyOnce)
{
    const QString local = file(testi, QStringLiteral("SK1.DOC"), "a", baseTime());
    const QString remote = xSchede + QStringLiteral("SK1.DOC");
    EXPECT_FALSE(copyIfNewer(w, local, remote, w.filesOffered[0][0], 0).failed);
    EXPECT_FALSE(copyIfNewer(w, remote, local, w.filesOffered[0][0], 0).failed);
    EXPECT_FALSE(copyIfNewer(w, local, remote, w.filesOffered[0][0], 0).failed);
    EXPECT_EQ(w.filesOffered[0][0], 1);
}

TEST_F(FileCopyTest, CounterLimitFailsAndKeepsCounter)
{
    const QString src = file(testi, QStringLiteral("SK1.DOC"), "a", baseTime());
    w.filesOffered[2][1] = 32767;
    EXPECT_TRUE(copyIfNewer(w, src, xFogli + QStringLiteral("SK1.DOC"), w.filesOffered[2][1], 0).failed);
    EXPECT_EQ(w.filesOffered[2][1], 32767);
    w.filesOffered[2][1] = 32766;
    EXPECT_FALSE(copyIfNewer(w, src, xFogli + QStringLiteral("SK2.DOC"), w.filesOffered[2][1], 0).failed);
    EXPECT_EQ(w.filesOffered[2][1], 32767);
}

// A copy that cannot complete leaves the destination as it was and no
// temporary file behind.
struct FailureCase
{
    const char* name;
    int failAfterBytes; // the disk takes this many bytes, then nothing (-1: the write fails)
};

TEST_F(FileCopyTest, FailedCopyLeavesDestinationIntact)
{
    const QByteArray big(3 * 1024 * 1024 + 17, 'x');
    const QString src = file(testi, QStringLiteral("SK1.DOC"), big, baseTime().addSecs(100));
    for (const FailureCase c : {FailureCase{"short write", 1000}, FailureCase{"full disk", 0},
                                FailureCase{"write error", -1}, FailureCase{"short mid-file", 1500000}}) {
        SCOPED_TRACE(c.name);
        const QString dst = file(xSchede, QStringLiteral("SK1.DOC"), "old content", baseTime());
        qint64 budget = c.failAfterBytes;
        SafeFileCopy::setWriteHook([&budget](int fd, const char* data, qint64 size) -> qint64 {
            if (budget < 0) {
                errno = EIO;
                return -1;
            }
            const qint64 n = std::min(size, budget);
            budget -= n;
            return n == 0 ? 0 : ::write(fd, data, static_cast<size_t>(n));
        });
        const qint16 before = w.filesOffered[0][0];
        const CopyResult copy = copyIfNewer(w, src, dst, w.filesOffered[0][0], 0);
        EXPECT_TRUE(copy.failed);
        SafeFileCopy::setWriteHook({});
        EXPECT_EQ(TempInstall::readBytes(dst), QByteArray("old content"));
        EXPECT_EQ(mtime(dst), baseTime());
        EXPECT_EQ(entries(xSchede), QStringList{QStringLiteral("SK1.DOC")});
        EXPECT_EQ(w.filesOffered[0][0], before) << "a failed copy is not counted as updated";
        EXPECT_NE(copy.number, 0);
    }
}

TEST_F(FileCopyTest, UnwritableDestinations)
{
    const QString src = file(testi, QStringLiteral("SK1.DOC"), "abc", baseTime());
    // Folder missing.
    EXPECT_TRUE(
        copyIfNewer(w, src, inst.path(QStringLiteral("nowhere/SK1.DOC")), w.filesOffered[0][0], 0).failed);
    EXPECT_FALSE(QFileInfo::exists(inst.path(QStringLiteral("nowhere"))));
    // A folder stands where the file should go.
    inst.makeDir(QStringLiteral("scambio/OP1/SCHEDE/SK1.DOC"));
    EXPECT_TRUE(copyIfNewer(w, src, xSchede + QStringLiteral("SK1.DOC"), w.filesOffered[0][0], 0, 1).failed);
    EXPECT_TRUE(QFileInfo(xSchede + QStringLiteral("SK1.DOC")).isDir());
    EXPECT_EQ(entries(xSchede), QStringList{QStringLiteral("SK1.DOC")});
    // The source is a folder.
    EXPECT_TRUE(copyIfNewer(w, testi, xFogli + QStringLiteral("X.DOC"), w.filesOffered[0][0], 0).failed);
    EXPECT_TRUE(entries(xFogli).isEmpty());
}

// FAT disks keep times to 2 seconds: right after a copy the disk shows the
// time rounded to an even second. Neither direction may copy again.
TEST_F(FileCopyTest, FatExchangeDiskDoesNotCopyAgain)
{
    const QString fat = xSchede;
    FileTimes::setTwoSecondHook([fat](const QString& p) { return p.startsWith(fat); });
    struct Rounding
    {
        const char* name;
        int secondsAdded; // to the odd-second time of the source
    };
    int n = 0;
    for (const Rounding r : {Rounding{"rounded up", 1}, Rounding{"rounded down", -1}}) {
        SCOPED_TRACE(r.name);
        const QString name = QStringLiteral("SK%1.DOC").arg(++n);
        const QString local = file(testi, name, "card", baseTime());
        const QString remote = fat + name;
        ASSERT_FALSE(copyIfNewer(w, local, remote, w.filesOffered[0][0], 0).failed);
        TempInstall::setModified(remote, baseTime().addSecs(r.secondsAdded));
        prompt.expect(QStringLiteral("NON passo: ")).expect(QStringLiteral("NON passo: "));
        EXPECT_FALSE(copyIfNewer(w, local, remote, w.filesOffered[0][0], 1).failed);
        EXPECT_FALSE(copyIfNewer(w, remote, local, w.filesOffered[0][0], 1).failed);
        EXPECT_EQ(mtime(local), baseTime());
    }
    EXPECT_EQ(w.filesOffered[0][0], 2);

    // A real change of a few seconds still wins on a FAT disk.
    const QString local = file(testi, QStringLiteral("SK9.DOC"), "v1", baseTime());
    const QString remote = file(fat, QStringLiteral("SK9.DOC"), "v2", baseTime().addSecs(5));
    EXPECT_FALSE(copyIfNewer(w, remote, local, w.filesOffered[0][0], 0).failed);
    EXPECT_EQ(TempInstall::readBytes(local), QByteArray("v2"));
}

TEST_F(FileCopyTest, ExactSecondsBetweenOrdinaryDisks)
{
    FileTimes::setTwoSecondHook([](const QString&) { return false; });
    const QString a = file(testi, QStringLiteral("SK1.DOC"), "newer", baseTime().addSecs(1));
    const QString b = file(xSchede, QStringLiteral("SK1.DOC"), "older", baseTime().addSecs(0));
    EXPECT_FALSE(copyIfNewer(w, a, b, w.filesOffered[0][0], 0).failed);
    EXPECT_EQ(TempInstall::readBytes(b), QByteArray("newer"));
    // And the same one-second step on a FAT disk with an odd time is a change too.
    FileTimes::setTwoSecondHook([](const QString&) { return true; });
    const QString c = file(testi, QStringLiteral("SK2.DOC"), "newer", baseTime().addSecs(1));
    const QString d = file(xSchede, QStringLiteral("SK2.DOC"), "older", baseTime());
    EXPECT_FALSE(copyIfNewer(w, c, d, w.filesOffered[0][0], 0).failed);
    EXPECT_EQ(TempInstall::readBytes(d), QByteArray("older")) << "within the FAT step of an even time";
    const QString e = file(testi, QStringLiteral("SK3.DOC"), "newer", baseTime().addSecs(3));
    const QString f = file(xSchede, QStringLiteral("SK3.DOC"), "older", baseTime());
    EXPECT_FALSE(copyIfNewer(w, e, f, w.filesOffered[0][0], 0).failed);
    EXPECT_EQ(TempInstall::readBytes(f), QByteArray("newer"));
}

TEST_F(FileCopyTest, NamesWithoutRegardToCase)
{
    // The card is listed in lower case; the upper-cased name reaches it.
    const QString lower = file(testi, QStringLiteral("sk12.doc"), "local", baseTime().addSecs(60));
    file(xSchede, QStringLiteral("Sk12.Doc"), "remote", baseTime());
    EXPECT_FALSE(copyIfNewer(w, testi + QStringLiteral("SK12.DOC"), xSchede + QStringLiteral("SK12.DOC"),
                             w.filesOffered[0][0], 0)
                     .failed);
    EXPECT_EQ(entries(xSchede), QStringList{QStringLiteral("Sk12.Doc")})
        << "replaced in place, no second copy";
    EXPECT_EQ(TempInstall::readBytes(xSchede + QStringLiteral("Sk12.Doc")), QByteArray("local"));
    // A file new to the destination takes the upper-cased name.
    EXPECT_FALSE(copyIfNewer(w, testi + QStringLiteral("SK12.DOC"), xFogli + QStringLiteral("SK12.DOC"),
                             w.filesOffered[0][0], 0)
                     .failed);
    EXPECT_EQ(entries(xFogli), QStringList{QStringLiteral("SK12.DOC")});
    EXPECT_EQ(TempInstall::readBytes(lower), QByteArray("local"));
}

} // namespace
} // namespace mirsalex::test

namespace mirsalex::test {
namespace {

// A source that cannot be dated counts as made today at midnight: a
// destination from later today is left alone, and the box says so.
TEST_F(FileCopyTest, UndatedSourceCountsAsTodayAtMidnight)
{
    const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
    const QString missing = testi + QStringLiteral("SK1.DOC");
    const QString dst = file(xSchede, QStringLiteral("SK1.DOC"), "kept", midnight.addSecs(60));
    prompt.expect(QStringLiteral("NON passo: "), AnswerOk, MsgStyle::Ok);
    EXPECT_FALSE(copyIfNewer(w, missing, dst, w.filesOffered[0][0], 1).failed);
    const QString lf(QChar(10));
    EXPECT_EQ(prompt.messages.last().text, QStringLiteral("NON passo: ") + lf + missing + lf + "del  " +
                                               MessageDate(midnight) + lf + "su" + lf + dst + lf + "del  " +
                                               MessageDate(midnight.addSecs(60)));
    EXPECT_EQ(TempInstall::readBytes(dst), QByteArray("kept"));
    // Exactly midnight is not older either.
    TempInstall::setModified(dst, midnight);
    EXPECT_FALSE(copyIfNewer(w, missing, dst, w.filesOffered[0][0], 0).failed);
    EXPECT_EQ(w.filesOffered[0][0], 0);
}

} // namespace
} // namespace mirsalex::test
