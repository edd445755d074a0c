#include "session/RunSession.h"

#include "session/OperatorFormLoad.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// An operator whose run brings one card from the exchange area (only
// "SCHEDE CLIENTI" ticked), with its versions and run log in folders of
// the test.
struct SessionFixture
{
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    OperatorForm form;
    QString card;
    QString versions;
    QString log;

    SessionFixture()
    {
        const QString dati = inst.makeDir(QStringLiteral("dati/"));
        inst.makeDir(QStringLiteral("dati/A12"));
        inst.writeFile(QStringLiteral("dati/A12/DatiDV.mdb"));
        const QString testi = inst.makeDir(QStringLiteral("testi/"));
        const QString schede = inst.makeDir(QStringLiteral("scambio/SCHEDE/"));
        versions = inst.makeDir(QStringLiteral("versioni/"));
        log = inst.path(QStringLiteral("run.log"));
        inst.writeFile(QStringLiteral("scambio/SCHEDE/SK000001.DOC"), "card");
        card = testi + QStringLiteral("SK000001.DOC");
        ctx.config.FileIni =
            inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati + QStringLiteral("\nTESTI=") + testi +
                          QStringLiteral("\n[BASE]\nOPERATORE=A12\n[EXPORT]\nPARMA12=01000\nFLX1A12=") +
                          schede + QStringLiteral("\nVERSIONI=") + versions + QStringLiteral("\n"));
        loadForm(ctx, form);
    }

    RunSettings settings(RunMode mode) const
    {
        RunSettings s;
        s.mode = mode;
        s.versions = VersionSettings::fromConfiguration(ctx.config.FileIni);
        s.log = RunLog::forOption(log);
        return s;
    }

    // The entries kept under the versions folder, of any operator and side.
    qsizetype keptEntries() const
    {
        return QDir(versions + QStringLiteral("A12/desktop/"))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
            .size();
    }
};

// The session's mode decides the sink: a dry run writes nothing (no card,
// no version, no log entry) and leaves the form as it was; a run without
// versions makes the change and says versions were off; the ordinary run
// keeps a version first and names its entry in the report and the log.
TEST(RunSession, TheModeDecidesWhatARunWrites)
{
    {
        SessionFixture f;
        RunSession session(f.ctx);
        f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
        const SessionRun run = session.run(f.form, f.settings(RunMode::DryRun));
        EXPECT_TRUE(run.report.dryRun);
        EXPECT_FALSE(run.report.versions.asked);
        EXPECT_FALSE(QFileInfo::exists(f.card));
        EXPECT_FALSE(QFileInfo::exists(f.log)) << "a dry run keeps no log entry";
        EXPECT_EQ(f.keptEntries(), 0);
        EXPECT_TRUE(f.form.cmdEseguiVisible) << "a dry run changes nothing of the form";
        EXPECT_EQ(run.report.documenti[1][1], 1) << "it still foretells the card";
        EXPECT_EQ(f.prompt.pending(), 0);
    }
    {
        SessionFixture f;
        RunSession session(f.ctx);
        f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
        const SessionRun run = session.run(f.form, f.settings(RunMode::Apply));
        EXPECT_TRUE(QFileInfo::exists(f.card));
        EXPECT_TRUE(run.report.versions.asked && run.report.versions.off);
        EXPECT_EQ(f.keptEntries(), 0);
        EXPECT_FALSE(f.form.cmdEseguiVisible) << "the results are shown in the form";
        ASSERT_EQ(run.boxes.size(), 0u) << "no recorder was given";
        EXPECT_TRUE(QFileInfo::exists(f.log));
    }
    {
        SessionFixture f;
        RunSession session(f.ctx);
        f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
        const SessionRun run = session.run(f.form, f.settings(RunMode::Versions));
        EXPECT_TRUE(QFileInfo::exists(f.card));
        EXPECT_FALSE(run.report.versions.off);
        ASSERT_FALSE(run.report.versions.entry.isEmpty());
        EXPECT_EQ(f.keptEntries(), 1);
        QFile file(f.log);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(run.report.versions.entry));
        EXPECT_FALSE(run.logError);
    }
}

// The one restore: what stands in the way reaches the face's question, a No
// changes nothing, a Yes puts the run back under its own version and
// writes the restore's report to the log.
TEST(RunSession, ARestoreAsksThenPutsTheRunBack)
{
    SessionFixture f;
    RunSession session(f.ctx);
    f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    session.run(f.form, f.settings(RunMode::Versions));
    ASSERT_TRUE(QFileInfo::exists(f.card));
    // A later change of the card the run brought.
    {
        QFile later(f.card);
        ASSERT_TRUE(later.open(QIODevice::WriteOnly | QIODevice::Truncate));
        later.write("edited");
    }
    QFile::remove(f.log);

    const VersionStore store =
        versionStoreFor(f.ctx, f.form, VersionSettings::fromConfiguration(f.ctx.config.FileIni));
    const std::vector<VersionEntry> entries = store.list();
    ASSERT_EQ(entries.size(), 1u);
    int asked = 0;
    RestoreChecks seen;
    auto answer = [&](bool yes) {
        return [&, yes](const VersionEntry&, const RestoreChecks& checks) {
            ++asked;
            seen = checks;
            return yes;
        };
    };
    RestoreResult no =
        restoreVersion(f.ctx, f.form, store, entries[0], answer(false), RunLog::forOption(f.log));
    EXPECT_EQ(no.status, RestoreResult::Status::NotConfirmed);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(seen.owner, VersionStore::Owner::This);
    EXPECT_EQ(seen.later.size(), 1) << "the edited card";
    EXPECT_TRUE(QFileInfo::exists(f.card)) << "a No changes nothing";
    EXPECT_FALSE(QFileInfo::exists(f.log));

    RestoreResult yes =
        restoreVersion(f.ctx, f.form, store, entries[0], answer(true), RunLog::forOption(f.log));
    EXPECT_EQ(yes.status, RestoreResult::Status::Restored);
    EXPECT_FALSE(QFileInfo::exists(f.card)) << "the card the run created is removed again";
    EXPECT_FALSE(yes.entryMade.isEmpty()) << "the restore keeps a version of its own";
    EXPECT_TRUE(yes.text.endsWith(QStringLiteral("RIPRISTINO COMPLETATO\n"))) << qPrintable(yes.text);
    QFile file(f.log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll())
                    .contains(QStringLiteral("Ripristino della versione ") + entries[0].id));
    EXPECT_EQ(f.prompt.pending(), 0);
}

} // namespace
