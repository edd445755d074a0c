#include "transfer/RunLockStep.h"

#include "common/RunLock.h"
#include "TransferTestSupport.h"

#include <cerrno>

namespace mirsalex::test {
namespace {

using RunLockStepTest = TransferFixture;

// The start of a run: refused at once, naming the holder, while another run
// holds the local or the exchange folder. A dry run, which takes no lock,
// is told the same by looking, and leaves no lock file.
TEST_F(RunLockStepTest, RefusalWhileAnotherRunHoldsAFolder)
{
    const QString local = inst.makeDir(QStringLiteral("dati/OP1"));
    struct Case
    {
        const char* name;
        QString heldFolder; // held by "another run", empty for none
    } cases[] = {
        {"free", {}},
        {"exchange folder held", xIndici},
        {"local folder held", local},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunLock other;
        if (!c.heldFolder.isEmpty()) {
            ASSERT_TRUE(other.acquire({c.heldFolder}, QStringLiteral("Portatile")));
        }
        const bool held = !c.heldFolder.isEmpty();
        const QString refusal = QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO\n") + c.heldFolder;
        if (held)
            prompt.expect(refusal, AnswerOk, MsgStyle::ExclamationOk);
        EXPECT_EQ(ExclusiveRun::wouldBeRefused(w.request), held);
        EXPECT_FALSE(QFileInfo::exists(local + RunLock::fileName()) && c.heldFolder != local)
            << "looking makes no lock file";
        QString dryText;
        if (held) {
            ASSERT_FALSE(prompt.messages.isEmpty());
            dryText = prompt.messages.last().text;
            prompt.expect(refusal, AnswerOk, MsgStyle::ExclamationOk);
        }
        {
            const ExclusiveRun run(w.request, sink);
            EXPECT_EQ(run.refused(), held);
            EXPECT_EQ(RunLock::heldByThisProcess(local), !run.refused() || c.heldFolder == local);
        }
        EXPECT_EQ(prompt.pending(), 0);
        other.release();
        EXPECT_FALSE(RunLock::heldByThisProcess(xIndici)) << "given back at the end of the run";
        if (held) {
            EXPECT_TRUE(prompt.messages.last().text.contains(QStringLiteral("(Portatile)")));
            EXPECT_EQ(dryText, prompt.messages.last().text) << "the same box, naming the same holder";
        }
        EXPECT_FALSE(ExclusiveRun::wouldBeRefused(w.request)) << "free again";
    }
}

// Leftover temporary copies of the databases (each as big as the database)
// are removed from the exchange and the local folder when a run starts, and
// the profile file's from its folder.
TEST_F(RunLockStepTest, LeftoverDatabaseCopiesAreRemovedUnderTheLock)
{
    const QString local = inst.makeDir(QStringLiteral("dati/OP1"));
    const QString name = AtomicFile::temporaryPrefix() + QStringLiteral("DatiDV.mdb.q1w2e3");
    for (const QString& folder : {xIndici, local})
        file(folder, name, "half a database", baseTime());
    const QString iniFolder = QFileInfo(ini).absolutePath() + QLatin1Char('/');
    const QString iniTemp =
        AtomicFile::temporaryPrefix() + QFileInfo(ini).fileName() + QStringLiteral(".a1b2c3");
    file(iniFolder, iniTemp, "[PATH]\nFI", baseTime());
    SafeFileCopy::setStaleAge(-60); // everything written before now counts as old
    {
        RunLock other;
        ASSERT_TRUE(other.acquire({xIndici}, QStringLiteral("Portatile")));
        prompt.expect(QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO"), AnswerOk);
        const ExclusiveRun refused(w.request, sink);
        EXPECT_TRUE(refused.refused());
    }
    EXPECT_TRUE(QFileInfo::exists(xIndici + name)) << "a refused run removes nothing";
    EXPECT_TRUE(sink.changes().empty());
    {
        const ExclusiveRun run(w.request, sink);
        EXPECT_FALSE(run.refused());
    }
    SafeFileCopy::setStaleAge(3600);
    EXPECT_FALSE(QFileInfo::exists(xIndici + name));
    EXPECT_FALSE(QFileInfo::exists(local + name));
    EXPECT_FALSE(QFileInfo::exists(iniFolder + iniTemp));
    // One removal recorded per file, in the order of the folders.
    QStringList removed;
    for (const ChangeSink::Change& c : sink.changes()) {
        EXPECT_EQ(c.kind, ChangeSink::Change::Kind::Removal);
        removed << c.path;
    }
    EXPECT_EQ(removed, (QStringList{local + name, xIndici + name, iniFolder + iniTemp}));
}

} // namespace
} // namespace mirsalex::test
