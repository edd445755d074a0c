#include "run/RunDriver.h"

#include "changes/ApplyChanges.h"
#include "changes/VersioningChanges.h"
#include "changes/WithheldChanges.h"
#include "common/AtomicFile.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "common/RunLock.h"
#include "common/SafeFileCopy.h"
#include "config/ConfigLoader.h"
#include "run/Steps.h"
#include "session/ReportText.h"
#include "transfer/TransferTestSupport.h"

#include <array>
#include <cerrno>
#include <optional>
#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace mirsalex::test {
namespace {

struct RunDriverTest : TransferFixture
{
    void SetUp() override
    {
        TransferFixture::SetUp();
        // Nothing ticked unless a test says so.
        request = w.request;
        request.ticks = Ticks{};
    }

    QString exportKey(const QString& key) const { return LeggiIni(ini, QStringLiteral("EXPORT"), key); }

    // Steps that record their calls and return the results given; the
    // document groups are the program's own.
    SyncSteps steps(QStringList& calls, qint16 clienti = 0, qint16 tab = 0, qint16 azioni = 0,
                    qint16 visite = 0, qint16 appuntamenti = 0)
    {
        auto step = [&calls](const char* name, qint16 result) {
            return [&calls, name, result](RunState&) {
                calls << QString::fromLatin1(name);
                return result > 0 ? StepOutcome::failure(result) : StepOutcome::done();
            };
        };
        SyncSteps s = StandardSteps();
        s.clients = step("clienti", clienti);
        s.actionCodes = step("tabazioni", tab);
        s.actions = step("azioni", azioni);
        s.visits = step("visite", visite);
        s.appointments = step("appuntamenti", appuntamenti);
        return s;
    }

    // Runs `request` through `changes`, as the faces make it at the time of the
    // run, and keeps its report in `last`.
    RunDriver::Outcome runWith(RunDriver& driver, ChangeSink& changes, RunObserver* observer = nullptr)
    {
        request.configurationUnread = ctx.LetturaIniFallita;
        last = driver.run(request, changes, observer);
        return RunDriver::outcome(last);
    }

    // Runs `request` with a sink of its own.
    RunDriver::Outcome run(RunDriver& driver, RunObserver* observer = nullptr)
    {
        ApplyChanges changes;
        return runWith(driver, changes, observer);
    }

    RunReport last;
    RunRequest request;
};

// What a run works with, as it starts.
struct StartSeen : RunObserver
{
    void runStarted(const RunState& state) override
    {
        dbLocale = state.request.localClients;
        dbScambio = state.request.exchangeClients;
        prefisso = state.request.sideLetter();
    }
    QString dbLocale, dbScambio, prefisso;
};

// A code at or below "000" names no operator: the window and batch mode end
// the program instead of running.
TEST_F(RunDriverTest, OnlyARealOperatorCodeRuns)
{
    for (const char* code : {"", "000", "00", "-5"})
        EXPECT_FALSE(RunDriver::runnableOperator(QString::fromLatin1(code))) << code;
    for (const char* code : {"OP1", "001", "1"})
        EXPECT_TRUE(RunDriver::runnableOperator(QString::fromLatin1(code))) << code;
}

TEST_F(RunDriverTest, NothingTickedWritesSettingsAndEnds)
{
    request.typedOperator = QStringLiteral("OP1 ");
    request.exchangeClients = QStringLiteral("  ") + xIndici + QStringLiteral("DatiDV.mdb ");
    request.exchangeFolders[2] = xFogli + QStringLiteral(" ");
    QStringList calls;
    RunDriver driver(steps(calls));
    StartSeen seen;
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);

    EXPECT_EQ(run(driver, &seen), RunDriver::Outcome::Completed);

    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(prompt.messages.last().text, QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(prompt.messages.last().title, applicationTitle());
    EXPECT_GE(prompt.processEventsCalls, 1);
    for (const StepReport& r : last.steps)
        EXPECT_EQ(r.outcome.error, 0);
    EXPECT_EQ(seen.dbScambio, xIndici + QStringLiteral("DatiDV.mdb"));
    EXPECT_EQ(seen.dbLocale, dati + QStringLiteral("OP1/DatiDV.mdb"));
    EXPECT_EQ(exportKey("OPERATORE"), QStringLiteral("OP1"));
    EXPECT_EQ(exportKey("PATHOP1"), seen.dbScambio);
    EXPECT_EQ(exportKey("FLX0OP1"), xIndici);
    EXPECT_EQ(exportKey("FLX1OP1"), xSchede);
    EXPECT_EQ(exportKey("FLX2OP1"), xFogli);
    EXPECT_EQ(exportKey("PARMOP1"), QStringLiteral("00000"));
    const RunReport& report = last;
    for (const StepReport& r : report.steps)
        EXPECT_EQ(r.state, StepReport::State::NotTicked) << r.step->name;
    EXPECT_EQ(report.exitStatus(), exitstatus::kCompleted);
    EXPECT_FALSE(report.dryRun);
    EXPECT_EQ(report.clientiAggiunti, -1);
    EXPECT_EQ(report.databasiCopiati, 0);
    // The settings' keys, and nothing else.
    ASSERT_EQ(report.changes.size(), 6u);
    for (const ChangeSink::Change& c : report.changes)
        EXPECT_EQ(c.kind, ChangeSink::Change::Kind::Key);
}

TEST_F(RunDriverTest, ParmDigitsAndPortableKeys)
{
    struct Case
    {
        bool portable;
        std::array<int, 5> ticks;
        const char* parmKey;
        const char* otherKey;
        const char* parm;
    };
    for (const Case c : {Case{true, {2, 1, 0, 0, 0}, "XPARMOP1", "PARMOP1", "21000"},
                         Case{false, {0, 0, 2, 0, 0}, "PARMOP1", "XPARMOP1", "00200"}}) {
        SCOPED_TRACE(c.parm);
        ini = inst.writeIni(QStringLiteral("[EXPORT]\n"));
        request.portable = c.portable;
        for (size_t i = 0; i < 3; ++i)
            request.ticks.gruppi[i] = c.ticks[i];
        request.ticks.dati = c.ticks[3];
        request.ticks.visite = c.ticks[4];
        QStringList calls;
        RunDriver driver(steps(calls));
        StartSeen seen;
        prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
        run(driver, &seen);
        EXPECT_EQ(seen.prefisso, c.portable ? QStringLiteral("X") : QStringLiteral(" "));
        EXPECT_EQ(last.portable, c.portable);
        EXPECT_EQ(exportKey(QString::fromLatin1(c.parmKey)), QString::fromLatin1(c.parm));
        EXPECT_TRUE(exportKey(QString::fromLatin1(c.otherKey)).isEmpty());
        const QString side = c.portable ? QStringLiteral("X") : QString();
        EXPECT_EQ(exportKey(side + "PATHOP1"), seen.dbScambio);
        EXPECT_EQ(exportKey(side + "FLX1OP1"), xSchede);
    }
}

TEST_F(RunDriverTest, FailingStepStopsTheChainAndTheDocuments)
{
    struct Case
    {
        const char* name;
        std::array<qint16, 5> results;
        QStringList expectedCalls;
        const char* failed;
    };
    const Case cases[] = {
        {"clients fail", {3, 0, 0, 0, 0}, {"clienti"}, "SincronizzaClienti"},
        {"actions fail", {0, 0, 7, 0, 0}, {"clienti", "tabazioni", "azioni"}, "SincronizzaAzioni"},
        {"appointments fail",
         {0, 0, 0, 0, 1},
         {"clienti", "tabazioni", "azioni", "visite", "appuntamenti"},
         "SincronizzaAppuntamenti"},
    };
    file(testi, QStringLiteral("SK1.doc"), "card", baseTime());
    file(xSchede, QStringLiteral("SK2.DOC"), "card", baseTime());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        request.ticks.gruppi[1] = 1;
        request.ticks.dati = 1;
        request.ticks.visite = 1;
        QStringList calls;
        RunDriver driver(steps(calls, c.results[0], c.results[1], c.results[2], c.results[3], c.results[4]));
        prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
        EXPECT_EQ(run(driver), RunDriver::Outcome::Failed);
        EXPECT_EQ(calls, c.expectedCalls);
        EXPECT_FALSE(QFileInfo::exists(xSchede + "SK1.DOC")) << "no document group runs";
        const RunReport& report = last;
        EXPECT_EQ(report.ticksAfter.gruppi[1], 1);
        EXPECT_EQ(report.of("SCHEDE CLIENTI").state, StepReport::State::NotReached);
        EXPECT_EQ(report.documenti[1], (std::array<qint16, 2>{0, 0}));
        EXPECT_EQ(report.visiteAggiunteScambio, 0);
        EXPECT_EQ(report.visiteAggiunteLocale, 0);
        EXPECT_EQ(report.exitStatus(), exitstatus::kFailed);
        ASSERT_NE(report.firstFailure(), nullptr);
        EXPECT_STREQ(report.firstFailure()->step->name, c.failed);
    }
}

// Groups completed earlier (tick 2) are not done again: no step runs, and
// the ticks are written back as they were.
TEST_F(RunDriverTest, GroupsDoneEarlierAreNotDoneAgain)
{
    request.ticks.gruppi = {2, 2, 2};
    request.ticks.visite = 2;
    file(testi, QStringLiteral("SK1.doc"), "card", baseTime());
    QStringList calls;
    RunDriver driver(steps(calls));
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Completed);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(xSchede + "SK1.DOC"));
    EXPECT_EQ(exportKey("PARMOP1"), QStringLiteral("22202"));
    const RunReport& report = last;
    EXPECT_EQ(report.ticksAfter.gruppi, (std::array<int, 3>{2, 2, 2}));
    EXPECT_EQ(report.ticksAfter.visite, 2);
    for (const StepReport& r : report.steps)
        EXPECT_EQ(r.state, StepReport::State::NotTicked) << r.step->name;
}

TEST_F(RunDriverTest, FullRunOfTheDocuments)
{
    request.ticks.gruppi = {1, 1, 0};
    file(dati, QStringLiteral("IndiciDV.mdb"), "idx", baseTime().addSecs(5));
    file(xIndici, QStringLiteral("DatiDV.mdb"), "db", baseTime());
    file(testi, QStringLiteral("SK1.doc"), "a", baseTime());
    file(testi, QStringLiteral("SK2.doc"), "b", baseTime());
    file(xSchede, QStringLiteral("SK3.DOC"), "c", baseTime());
    prompt.expect(QStringLiteral("Copio: "), AnswerYes).expect(QStringLiteral("FINE AGGIORNAMENTO"));
    QStringList calls;
    RunDriver driver(steps(calls));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Completed);
    const RunReport& report = last;
    EXPECT_EQ(report.documenti[0], (std::array<qint16, 2>{1, 0}));
    EXPECT_EQ(report.documenti[1], (std::array<qint16, 2>{2, 1}));
    EXPECT_EQ(report.documenti[2], (std::array<qint16, 2>{0, 0}));
    EXPECT_EQ(report.ticksAfter.gruppi, (std::array<int, 3>{2, 2, 0}));
    EXPECT_EQ(report.databasiCopiati, 1) << "the indices database";
    EXPECT_EQ(report.of("INDICI").outcome.status, StepOutcome::Status::Done);
    EXPECT_EQ(report.of("FOGLI CLIENTI").state, StepReport::State::NotTicked);
    EXPECT_EQ(TempInstall::readBytes(xIndici + "IndiciDV.mdb"), QByteArray("idx"));
}

// The files the document stage left alone are told once, when the stage
// ends: after the group that fails, or after the last group ticked.
TEST_F(RunDriverTest, FilesLeftAloneAreToldOnceWhenTheDocumentsEnd)
{
    TempInstall outside;
    const QString secret = outside.writeFile("secret.doc", "not for the exchange area", baseTime());
    ASSERT_TRUE(QFile::link(secret, xSchede + QStringLiteral("SK1.DOC")));
    file(testi, QStringLiteral("SK2.doc"), "card", baseTime());
    for (const bool failing : {true, false}) {
        SCOPED_TRACE(failing ? "the cards fail" : "the cards are the last group");
        prompt.messages.clear();
        request.ticks.gruppi = {0, 1, failing ? 1 : 0};
        if (failing) {
            SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 {
                errno = ENOSPC;
                return -1;
            });
            prompt.expect(QStringLiteral("Non c'è più spazio sul disco"), AnswerCancel)
                .expect(QStringLiteral("Errore nell'invio della Scheda SK2.DOC"));
        }
        prompt.expect(QStringLiteral("FILE NON TRASFERITI"), AnswerOk, MsgStyle::ExclamationOk)
            .expect(QStringLiteral("FINE AGGIORNAMENTO"));
        QStringList calls;
        RunDriver driver(steps(calls));
        EXPECT_EQ(run(driver), failing ? RunDriver::Outcome::Failed : RunDriver::Outcome::Completed);
        SafeFileCopy::setWriteHook({});
        EXPECT_EQ(prompt.pending(), 0);
        ASSERT_EQ(prompt.messages.size(), failing ? 4 : 2);
        EXPECT_TRUE(
            prompt.messages[prompt.messages.size() - 2].text.contains(xSchede + QStringLiteral("SK1.DOC")));
        EXPECT_EQ(last.of("FOGLI CLIENTI").state,
                  failing ? StepReport::State::NotReached : StepReport::State::NotTicked);
    }
}

TEST_F(RunDriverTest, SecondRunDuringARunIsRefused)
{
    request.ticks.dati = 1;
    RunDriver* self = nullptr;
    std::optional<RunDriver::Outcome> inner;
    bool runningInside = false;
    SyncSteps s;
    s.clients = [&](RunState&) {
        runningInside = self->running();
        ApplyChanges other;
        inner =
            RunDriver::outcome(self->run(request, other)); // the user clicks "&ESEGUI" again while events run
        return StepOutcome::done();
    };
    RunDriver driver(s);
    self = &driver;
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Completed);
    EXPECT_TRUE(runningInside);
    ASSERT_TRUE(inner.has_value());
    EXPECT_EQ(*inner, RunDriver::Outcome::Refused);
    EXPECT_EQ(prompt.messages.size(), 1) << "one run, one FINE AGGIORNAMENTO";
    EXPECT_FALSE(driver.running());
    EXPECT_EQ(last.of("SincronizzaClienti").outcome.status, StepOutcome::Status::Done);
}

// A dry run goes through the same steps and writes nothing: the keys it would
// write are in its report, and it takes no lock.
TEST_F(RunDriverTest, ADryRunWritesNoKey)
{
    request.ticks.dati = 1;
    const QByteArray before = TempInstall::readBytes(ini);
    const QStringList exchangeBefore = entries(xIndici), datiBefore = entries(dati);
    QStringList calls;
    RunDriver driver(steps(calls));
    WithheldChanges withheld;
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(runWith(driver, withheld), RunDriver::Outcome::Completed);
    EXPECT_EQ(calls, QStringList{QStringLiteral("clienti")});
    EXPECT_EQ(TempInstall::readBytes(ini), before);
    const RunReport& report = last;
    EXPECT_TRUE(report.dryRun);
    ASSERT_FALSE(report.changes.empty());
    EXPECT_EQ(report.changes.front().kind, ChangeSink::Change::Kind::Key);
    EXPECT_EQ(report.changes.front().detail, QStringLiteral("[EXPORT] OPERATORE=OP1"));
    EXPECT_EQ(entries(xIndici), exchangeBefore) << "no lock file";
    EXPECT_EQ(entries(dati), datiBefore);
}

// The temporary a killed run left is a change of the run like any other: a
// dry run lists it without removing it (and without the lock), a real run
// removes it, then records it.
TEST_F(RunDriverTest, LeftoversOfAKilledRunAreChangesOfTheRun)
{
    const QString leftover = AtomicFile::temporaryPrefix() + QStringLiteral("DatiDV.mdb.q1w2e3");
    file(xIndici, leftover, "half a database", baseTime());
    SafeFileCopy::setStaleAge(-60); // everything written before now counts as old
    const struct StaleAgeReset
    {
        ~StaleAgeReset() { SafeFileCopy::setStaleAge(3600); }
    } reset;
    auto removals = [](const RunReport& report) {
        QStringList paths;
        for (const ChangeSink::Change& c : report.changes) {
            if (c.kind == ChangeSink::Change::Kind::Removal)
                paths << c.path;
        }
        return paths;
    };
    QStringList calls;
    {
        RunDriver driver(steps(calls));
        WithheldChanges withheld;
        prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
        EXPECT_EQ(runWith(driver, withheld), RunDriver::Outcome::Completed);
        EXPECT_EQ(removals(last), QStringList{xIndici + leftover});
        EXPECT_TRUE(previewText(last, {}).endsWith(QStringLiteral("  file temporanei rimossi: 1\n    ") +
                                                   xIndici + leftover + QLatin1Char('\n')));
        EXPECT_EQ(entries(xIndici),
                  (QStringList{leftover, QStringLiteral("FOGLI"), QStringLiteral("SCHEDE")}))
            << "nothing removed, no lock file";
    }
    RunDriver driver(steps(calls));
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Completed);
    EXPECT_EQ(removals(last), QStringList{xIndici + leftover});
    EXPECT_FALSE(QFileInfo::exists(xIndici + leftover));
}

// A read of the configuration file that failed (a passing I/O error) is not
// a file without the key: the run stops before it writes anything, and a
// load that reads the file whole makes the next run work as before.
TEST_F(RunDriverTest, AFailedConfigurationReadStopsTheRunBeforeItWritesAnything)
{
    request.ticks.dati = 1;
    platform::setFailureInjector([](const QString& op, const QString&) { return op == "read" ? EIO : 0; });
    EXPECT_EQ(LeggiIni(ctx, QStringLiteral("EXPORT"), QStringLiteral("XPATHOP1")), QString());
    platform::setFailureInjector({});
    const QByteArray before = TempInstall::readBytes(ini);
    QStringList calls;
    prompt.expect(QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE\n") + ini +
                      QStringLiteral("\nnon si può leggere: 57-"),
                  AnswerOk, MsgStyle::ExclamationOk);
    {
        RunDriver driver(steps(calls));
        EXPECT_EQ(run(driver), RunDriver::Outcome::Failed);
        EXPECT_EQ(last.exitStatus(), exitstatus::kFailed);
        EXPECT_GE(last.durationMs, 0);
    }
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(TempInstall::readBytes(ini), before);

    CaricaPercorsi(ctx);
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    RunDriver driver(steps(calls));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Completed);
    EXPECT_EQ(calls, QStringList{QStringLiteral("clienti")});
}

// A run refused by the lock reports the time it took, like any other, and
// changes nothing: no key (not even OPERATORE), no version entry. A dry run
// made meanwhile takes no lock either, but tells the same refusal.
TEST_F(RunDriverTest, ARunRefusedByTheLockChangesNothing)
{
    request.ticks.dati = 1;
    const QString local = inst.makeDir(QStringLiteral("dati/OP1"));
    RunLock other;
    ASSERT_TRUE(other.acquire({local}, QStringLiteral("Portatile")));
    const QByteArray before = TempInstall::readBytes(ini);
    const QStringList exchangeBefore = entries(xIndici);
    VersionSettings settings;
    settings.root = inst.path(QStringLiteral("versions/"));
    const VersionStore store(settings, QStringLiteral("OP1"), false);
    QStringList calls;
    QString refusal;
    {
        prompt.expect(QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO\n") + local, AnswerOk,
                      MsgStyle::ExclamationOk);
        RunDriver driver(steps(calls));
        VersioningChanges versioning(store, prompt);
        EXPECT_EQ(runWith(driver, versioning), RunDriver::Outcome::Refused);
        versioning.finish(&last);
        EXPECT_TRUE(last.refused);
        EXPECT_GE(last.durationMs, 0);
        EXPECT_TRUE(last.changes.empty());
        EXPECT_TRUE(versioning.entryId().isEmpty());
        refusal = prompt.messages.last().text;
    }
    EXPECT_TRUE(store.list().empty());
    EXPECT_EQ(TempInstall::readBytes(ini), before);

    prompt.expect(QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO\n") + local, AnswerOk, MsgStyle::ExclamationOk);
    RunDriver dry(steps(calls));
    WithheldChanges withheld;
    EXPECT_EQ(runWith(dry, withheld), RunDriver::Outcome::Refused);
    EXPECT_EQ(prompt.messages.last().text, refusal);
    EXPECT_TRUE(last.refused);
    EXPECT_TRUE(last.dryRun);
    EXPECT_EQ(last.exitStatus(), exitstatus::kLocked);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(TempInstall::readBytes(ini), before);
    EXPECT_EQ(entries(xIndici), exchangeBefore) << "no lock file";
    EXPECT_EQ(prompt.pending(), 0);
}

// A database still in the Access format of the main application stops the
// run before it writes anything, on either side of the exchange: the box
// names the file, what it is and the command that converts it; the dry run
// says the same.
TEST_F(RunDriverTest, AnAccessDatabaseStopsTheRunBeforeAnyChange)
{
    request.ticks.dati = 1;
    request.ticks.visite = 1;
    QByteArray jet(4096 * 3, '\0');
    jet[1] = 1;
    jet.replace(4, 15, "Standard Jet DB");
    jet[0x14] = 1;
    const QString visits = CartellaDi(request.exchangeClients) + QStringLiteral("/visitedv.MDB");
    ASSERT_TRUE(QDir().mkpath(CartellaDi(visits)));
    {
        QFile f(visits);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(jet) == jet.size());
    }
    const QByteArray before = TempInstall::readBytes(ini);
    const QString box =
        QStringLiteral("DATABASE DI ACCESS\n") + visits +
        QStringLiteral(" (Jet 4, Access 2000-2003)\nè un database di Access: va convertito una "
                       "volta sola nel formato di questo programma, con il comando:\n"
                       "mirsalex --import-access --ini ") +
        ini + QStringLiteral(" --operator OP1 --side ");
    QStringList calls;
    for (bool dry : {false, true}) {
        prompt.expect(box, AnswerOk, MsgStyle::ExclamationOk);
        RunDriver driver(steps(calls));
        ApplyChanges apply;
        WithheldChanges withheld;
        EXPECT_EQ(runWith(driver, dry ? static_cast<ChangeSink&>(withheld) : apply),
                  RunDriver::Outcome::Failed);
        EXPECT_EQ(last.exitStatus(), exitstatus::kFailed);
        ASSERT_EQ(last.accessDatabases.size(), 1u);
        EXPECT_EQ(last.accessDatabases[0].path, visits);
        EXPECT_TRUE(last.changes.empty());
        EXPECT_TRUE(prompt.messages.last().text.endsWith(
            QStringLiteral("\nL'aggiornamento non è stato eseguito: nessun dato è stato trasferito.")));
    }
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(TempInstall::readBytes(ini), before);
    EXPECT_EQ(TempInstall::readBytes(visits), jet);
    EXPECT_EQ(prompt.pending(), 0);
}

// Settings that hold their values already are not written again: a second
// run with the same choices leaves the file as it was (the same file) and
// reports no change of a key; its dry run predicts the same.
TEST_F(RunDriverTest, UnchangedSettingsAreNotWrittenAgain)
{
    auto inode = [&] {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(ini).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    QStringList calls;
    RunDriver driver(steps(calls));
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Completed);
    EXPECT_EQ(last.changes.size(), 6u);
    const QByteArray written = TempInstall::readBytes(ini);
    const ino_t file = inode();
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Completed);
    EXPECT_TRUE(last.changes.empty());
    EXPECT_EQ(inode(), file);
    EXPECT_EQ(TempInstall::readBytes(ini), written);
    WithheldChanges withheld;
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(runWith(driver, withheld), RunDriver::Outcome::Completed);
    EXPECT_TRUE(last.changes.empty());
}

// A setting of the run that cannot be written stops the run before its
// first step, naming the file and the cause; the keys written before it are
// the only changes reported.
TEST_F(RunDriverTest, ASettingThatCannotBeWrittenStopsTheRunBeforeAnyStep)
{
    request.ticks.dati = 1;
    request.ticks.gruppi = {1, 1, 1};
    int writes = 0;
    platform::setFailureInjector([&](const QString& op, const QString& path) {
        return op == "write" && path == ini && ++writes > 2 ? ENOSPC : 0;
    });
    const QString text = QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE\n") + ini +
                         QStringLiteral("\nnon si può scrivere: 61-");
    prompt.expect(text, AnswerOk, MsgStyle::ExclamationOk);
    QStringList calls;
    RunDriver driver(steps(calls));
    EXPECT_EQ(run(driver), RunDriver::Outcome::Failed);
    platform::setFailureInjector({});
    EXPECT_EQ(prompt.pending(), 0);
    EXPECT_EQ(prompt.messages.size(), 1) << "no FINE AGGIORNAMENTO";
    EXPECT_TRUE(prompt.messages.last().text.endsWith(
        QStringLiteral("\nL'aggiornamento non è stato eseguito: nessun dato è stato trasferito.")));
    EXPECT_TRUE(calls.isEmpty());
    const RunReport& report = last;
    EXPECT_EQ(report.exitStatus(), exitstatus::kFailed);
    EXPECT_TRUE(report.configurationUnwritten.startsWith(ini + QStringLiteral("\nnon si può scrivere: 61-")));
    ASSERT_EQ(report.changes.size(), 2u);
    EXPECT_EQ(report.changes[0].detail, QStringLiteral("[EXPORT] OPERATORE=OP1"));
    EXPECT_TRUE(report.changes[1].detail.startsWith(QStringLiteral("[EXPORT] PATHOP1=")));
    EXPECT_EQ(exportKey("PATHOP1"), report.changes[1].detail.section(QLatin1Char('='), 1));
    EXPECT_TRUE(exportKey("FLX0OP1").isEmpty());
    for (const StepReport& r : report.steps)
        EXPECT_NE(r.state, StepReport::State::Ran) << r.step->name;
}

} // namespace
} // namespace mirsalex::test
