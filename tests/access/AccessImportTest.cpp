#include "session/AccessImport.h"

#include "changes/VersionStore.h"
#include "db/Database.h"
#include "session/OperatorFormLoad.h"
#include "session/RunSession.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QFile>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An operator whose visits database is still the sample Access file.
struct ImportFixture
{
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    OperatorForm form;
    QString visits;
    QByteArray jet;

    ImportFixture()
    {
        const QString dati = inst.makeDir(QStringLiteral("dati/"));
        inst.makeDir(QStringLiteral("dati/A12"));
        jet = bytesOf(qEnvironmentVariable("MIRSALEX_JET_SAMPLE"));
        visits = inst.writeFile(QStringLiteral("dati/A12/VisiteDV.mdb"), jet);
        const QString versions = inst.makeDir(QStringLiteral("versioni/"));
        ctx.config.FileIni = inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati +
                                           QStringLiteral("\n[BASE]\nOPERATORE=A12\n[EXPORT]\nPARMA12=01000\n"
                                                          "VERSIONI=") +
                                           versions + QStringLiteral("\n"));
        loadForm(ctx, form);
    }
};

// The window's offer: a No changes nothing; a Yes converts the file, checked,
// with the original kept; putting that version back gives the Access file
// byte for byte. The dry run before converts nothing in place.
TEST(AccessImport, TheOfferConvertsWithAVersionThatPutsTheAccessFileBack)
{
    ImportFixture f;
    ASSERT_FALSE(f.jet.isEmpty()) << "the sample Access file (MIRSALEX_JET_SAMPLE)";
    const VersionSettings settings = VersionSettings::fromConfiguration(f.ctx.config.FileIni);

    const ImportResult dry = importAccessDatabases(f.ctx, f.form, RunMode::DryRun, settings, std::nullopt);
    EXPECT_EQ(dry.status, ImportResult::Status::Converted);
    ASSERT_EQ(dry.files.size(), 1u);
    EXPECT_EQ(dry.files[0].source, f.visits);
    EXPECT_TRUE(dry.entry.isEmpty());
    EXPECT_EQ(bytesOf(f.visits), f.jet);

    RunReport stopped;
    stopped.accessDatabases.push_back({f.visits, QStringLiteral("Jet 4, Access 2000-2003")});
    const QString question = QStringLiteral("CONVERSIONE DEI DATABASE DI ACCESS\n");
    f.prompt.expect(question, AnswerNo, MsgStyle::Question | MsgStyle::DefaultButton2);
    EXPECT_FALSE(offerAccessImport(f.ctx, f.form, stopped, settings, std::nullopt));
    EXPECT_EQ(bytesOf(f.visits), f.jet);

    f.prompt.expect(question, AnswerYes, MsgStyle::Question | MsgStyle::DefaultButton2);
    f.prompt.expect(QStringLiteral("CONVERSIONE COMPLETATA\n"), AnswerOk, MsgStyle::IconInformation);
    const auto done = offerAccessImport(f.ctx, f.form, stopped, settings, std::nullopt);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->exitStatus(), 0) << qPrintable(done->text);
    EXPECT_FALSE(Database::checkFile(f.visits)) << "a database of the program now";
    EXPECT_TRUE(f.form.lbEsito.startsWith(QStringLiteral("DATABASE DI ACCESS CONVERTITI.")))
        << qPrintable(f.form.lbEsito);
    EXPECT_EQ(f.prompt.pending(), 0);

    const VersionStore store = versionStoreFor(f.ctx, f.form, settings);
    const std::vector<VersionEntry> entries = store.list();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].id, done->entry);
    EXPECT_TRUE(entries[0].summaryLine().contains(QStringLiteral("conversione da Access")))
        << qPrintable(entries[0].summaryLine());
    const RestoreResult back = restoreVersion(f.ctx, f.form, store, entries[0],
                                              [](const VersionEntry&, const RestoreChecks&) { return true; });
    EXPECT_EQ(back.status, RestoreResult::Status::Restored)
        << back.failures.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(bytesOf(f.visits), f.jet);
}

} // namespace
