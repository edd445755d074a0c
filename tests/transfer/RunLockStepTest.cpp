#include "transfer/RunLockStep.h"

#include "common/RunLock.h"
#include "config/ConfigLoader.h"
#include "TransferTestSupport.h"

#include <cerrno>

namespace mirsalex::test {
namespace {

using RunLockStepTest = TransferFixture;

// The start of a run: refused at once, naming the holder, while another run
// holds the local or the exchange folder; a configuration file that cannot be
// written is told once however many writes failed.
TEST_F(RunLockStepTest, RefusalAndUnwritableConfiguration)
{
    const QString local = inst.makeDir(QStringLiteral("dati/OP1"));
    struct Case
    {
        const char* name;
        QString heldFolder; // held by "another run", empty for none
        bool iniWritable;
        QStringList messages;
    } cases[] = {
        {"free", {}, true, {}},
        {"exchange folder held", xIndici, true, {QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO\n") + xIndici}},
        {"local folder held", local, true, {QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO\n") + local}},
        {"configuration read-only",
         {},
         false,
         {QStringLiteral("ATTENZIONE: il file di configurazione non si può scrivere\n") + ini}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AzzeraScritturaIniFallita();
        RunLock other;
        if (!c.heldFolder.isEmpty()) {
            ASSERT_TRUE(other.acquire({c.heldFolder}, QStringLiteral("Portatile")));
        }
        platform::setFailureInjector([&](const QString& op, const QString&) {
            return !c.iniWritable && op == QLatin1String("write") ? EROFS : 0;
        });
        for (const QString& m : c.messages)
            prompt.expect(m, AnswerOk, MsgStyle::ExclamationOk);
        {
            for (int i = 0; i < 3; ++i)
                ScriviIni(ini, QStringLiteral("EXPORT"), QStringLiteral("PARM") + QString::number(i), "1");
            const CorsaEsclusiva run(ctx, w.request, sink);
            EXPECT_EQ(run.refused(), !c.heldFolder.isEmpty());
            EXPECT_EQ(RunLock::heldByThisProcess(local), !run.refused() || c.heldFolder == local);
            ScriviIni(ini, QStringLiteral("EXPORT"), QStringLiteral("DTLX0OP1"),
                      "x"); // fails again, not told again
        }
        platform::setFailureInjector({});
        EXPECT_EQ(prompt.pending(), 0);
        other.release();
        EXPECT_FALSE(RunLock::heldByThisProcess(xIndici)) << "given back at the end of the run";
        if (!c.heldFolder.isEmpty()) {
            EXPECT_TRUE(prompt.messages.last().text.contains(QStringLiteral("(Portatile)")));
        }
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
        const CorsaEsclusiva refused(ctx, w.request, sink);
        EXPECT_TRUE(refused.refused());
    }
    EXPECT_TRUE(QFileInfo::exists(xIndici + name)) << "a refused run removes nothing";
    EXPECT_TRUE(sink.changes().empty());
    {
        const CorsaEsclusiva run(ctx, w.request, sink);
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
