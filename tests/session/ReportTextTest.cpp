#include "session/ReportText.h"

#include "changes/ApplyChanges.h"
#include "common/Helpers.h"
#include "common/SafeFileCopy.h"
#include "config/ConfigLoader.h"
#include "run/RunDriver.h"
#include "run/Steps.h"
#include "sync/SyncTestSupport.h"
#include "transfer/TransferTestSupport.h"

#include <cerrno>
#include <map>
#include <QFile>

namespace mirsalex::test {
namespace {

using State = StepReport::State;
using Status = StepOutcome::Status;

struct RunReportTest : TransferFixture
{
    void SetUp() override
    {
        TransferFixture::SetUp();
        w.request.ticks = Ticks{};
        w.request.ticks.dati = 1;
        w.request.ticks.visite = 1;
    }

    // Database steps that record their calls and end as `outcomes` says
    // (done when not named); the document groups are the program's own.
    SyncSteps steps(QStringList& calls, const std::map<QString, StepOutcome>& outcomes)
    {
        SyncSteps s = StandardSteps();
        for (const StepInfo& info : kSteps) {
            if (info.documentGroup >= 0)
                continue;
            const QString name = QLatin1String(info.name);
            const auto it = outcomes.find(name);
            const StepOutcome outcome = it == outcomes.end() ? StepOutcome::done() : it->second;
            s.*(info.sync) = [&calls, name, outcome](RunState&) {
                calls << name;
                return outcome;
            };
        }
        return s;
    }

    RunReport run(SyncSteps s)
    {
        RunDriver driver(std::move(s));
        prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
        ApplyChanges changes;
        return driver.run(w.request, changes);
    }
};

// The one table of steps gives the order of a run and of its report.
TEST_F(RunReportTest, StepsComeInTheOrderOfTheTable)
{
    QStringList names;
    for (const StepInfo& s : kSteps)
        names << QLatin1String(s.name);
    EXPECT_EQ(names,
              (QStringList{"SincronizzaClienti", "UnisciTabAzioni", "SincronizzaAzioni", "SincronizzaVisite",
                           "SincronizzaAppuntamenti", "INDICI", "SCHEDE CLIENTI", "FOGLI CLIENTI"}));
    QStringList calls;
    const RunReport r = run(steps(calls, {}));
    EXPECT_EQ(calls, names.mid(0, 5));
    ASSERT_EQ(r.steps.size(), kSteps.size());
    for (size_t i = 0; i < kSteps.size(); ++i)
        EXPECT_EQ(r.steps[i].step, &kSteps[i]);
    EXPECT_EQ(r.operatore, QStringLiteral("OP1"));
    EXPECT_FALSE(r.portable);
}

struct ChainCase
{
    const char* name;
    std::map<QString, StepOutcome> outcomes;
    QStringList calls;               // the steps carried out
    std::map<QString, State> states; // where not Ran
    int exitStatus;
};

TEST_F(RunReportTest, ChainAndExitStatus)
{
    const QString missing = QStringLiteral("/media/scambio/OP1/DatiDV.mdb");
    const QStringList all{"SincronizzaClienti", "UnisciTabAzioni", "SincronizzaAzioni", "SincronizzaVisite",
                          "SincronizzaAppuntamenti"};
    const ChainCase cases[] = {
        {"all done", {}, all, {}, exitstatus::kCompleted},
        {"clients skipped: the chain goes on",
         {{"SincronizzaClienti", StepOutcome::skipped(QStringLiteral("database non trovato"), missing)}},
         all,
         {},
         exitstatus::kIncomplete},
        {"clients stopped by an answer",
         {{"SincronizzaClienti", StepOutcome::stopped(QStringLiteral("copia del database non confermata"))}},
         all,
         {},
         exitstatus::kIncomplete},
        {"the database copy failed: the chain goes on",
         {{"SincronizzaClienti",
           StepOutcome::failureGoingOn(61, QStringLiteral("Errore nell'aggiornamento del DataBase"))}},
         all,
         {},
         exitstatus::kFailed},
        {"actions fail: the chain stops",
         {{"SincronizzaAzioni", StepOutcome::failure(3021, QStringLiteral("ERRORE AZIONI"))}},
         all.mid(0, 3),
         {{"SincronizzaVisite", State::NotReached},
          {"SincronizzaAppuntamenti", State::NotReached},
          {"SCHEDE CLIENTI", State::NotReached}},
         exitstatus::kFailed},
        {"a failure beats a skip",
         {{"SincronizzaClienti", StepOutcome::skipped(QStringLiteral("database non trovato"), missing)},
          {"SincronizzaAppuntamenti", StepOutcome::failure(5, QStringLiteral("ERRORE APPUNTAMENTI"))}},
         all,
         {{"SCHEDE CLIENTI", State::NotReached}},
         exitstatus::kFailed},
    };
    file(testi, QStringLiteral("SK1.DOC"), "card", baseTime());
    file(xSchede, QStringLiteral("SK1.DOC"), "card", baseTime());
    for (const ChainCase& c : cases) {
        SCOPED_TRACE(c.name);
        w.request.ticks.gruppi[1] = 1;
        w.request.ticks.dati = 1;
        w.request.ticks.visite = 1;
        QStringList calls;
        const RunReport r = run(steps(calls, c.outcomes));
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(r.exitStatus(), c.exitStatus);
        for (const StepReport& s : r.steps) {
            const QString name = QLatin1String(s.step->name);
            SCOPED_TRACE(name.toStdString());
            const auto st = c.states.find(name);
            const bool ticked = s.step->documentGroup < 0 || s.step->documentGroup == 1;
            const State expected = !ticked                ? State::NotTicked
                                   : st == c.states.end() ? State::Ran
                                                          : st->second;
            EXPECT_EQ(s.state, expected);
            const auto o = c.outcomes.find(name);
            if (s.state == State::Ran && o != c.outcomes.end()) {
                EXPECT_EQ(s.outcome.status, o->second.status);
                EXPECT_EQ(s.outcome.error, o->second.error);
                EXPECT_EQ(s.outcome.path, o->second.path);
                EXPECT_EQ(s.outcome.reason, o->second.reason);
            } else if (s.state == State::Ran) {
                EXPECT_EQ(s.outcome.status, Status::Done);
            }
        }
        if (const StepReport* f = r.firstFailure()) {
            EXPECT_TRUE(describeStep(*f).contains(QString::number(f->outcome.error)))
                << qPrintable(describeStep(*f));
        }
        if (r.exitStatus() == exitstatus::kIncomplete) {
            ASSERT_EQ(r.incompleteSteps().size(), 1u);
            const QString text = describeStep(*r.incompleteSteps().front());
            EXPECT_TRUE(text.contains(c.outcomes.begin()->second.reason)) << qPrintable(text);
        }
        if (r.of("SincronizzaClienti").outcome.status == Status::Skipped) {
            EXPECT_TRUE(describeStep(r.of("SincronizzaClienti")).endsWith(missing));
        }
    }
}

// A step the program leaves unbound never passes for done.
TEST_F(RunReportTest, UnboundStepIsAFailure)
{
    QStringList calls;
    SyncSteps s = steps(calls, {});
    s.visits = nullptr;
    const RunReport r = run(s);
    EXPECT_EQ(calls, (QStringList{"SincronizzaClienti", "UnisciTabAzioni", "SincronizzaAzioni"}));
    EXPECT_TRUE(r.of("SincronizzaVisite").failed());
    EXPECT_EQ(r.of("SincronizzaAppuntamenti").state, State::NotReached);
    EXPECT_EQ(r.exitStatus(), exitstatus::kFailed);
}

// Each ticked document group ends in the report: done, skipped with the
// folder it missed, or failed with the text it showed.
TEST_F(RunReportTest, DocumentGroups)
{
    w.request.ticks.dati = 0;
    w.request.ticks.visite = 0;
    w.request.ticks.gruppi = {1, 1, 1};
    // INDICI: an empty exchange folder; SCHEDE: cards to exchange; FOGLI:
    // the group folder is missing on the exchange disk.
    w.request.exchangeFolders[0] = inst.makeDir(QStringLiteral("vuota"));
    file(testi, QStringLiteral("SK1.doc"), "a", baseTime());
    file(xSchede, QStringLiteral("SK2.DOC"), "b", baseTime());
    ASSERT_TRUE(QDir(xFogli).removeRecursively());
    QStringList calls;
    RunReport r = run(steps(calls, {}));
    EXPECT_EQ(r.of("INDICI").outcome.status, Status::Skipped);
    EXPECT_EQ(r.of("INDICI").outcome.path, w.request.exchangeFolders[0]);
    EXPECT_EQ(r.of("INDICI").outcome.reason, QStringLiteral("cartella di scambio vuota"));
    EXPECT_EQ(r.of("SCHEDE CLIENTI").outcome.status, Status::Done);
    EXPECT_EQ(r.of("FOGLI CLIENTI").outcome.status, Status::Skipped);
    EXPECT_EQ(r.of("FOGLI CLIENTI").outcome.reason, QStringLiteral("cartella di scambio assente"));
    EXPECT_EQ(r.of("FOGLI CLIENTI").outcome.path, xFogli);
    EXPECT_EQ(r.documenti[1][0], 1);
    EXPECT_EQ(r.documenti[1][1], 1);
    EXPECT_EQ(r.exitStatus(), exitstatus::kIncomplete);

    // A failed copy of a card: the group fails with its text, the next one
    // is never reached.
    w.request.ticks.gruppi = {0, 1, 1};
    QDir().mkpath(xFogli);
    file(xFogli, QStringLiteral("XK1.XLS"), "s", baseTime());
    file(testi, QStringLiteral("SK3.doc"), "c", baseTime());
    SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 {
        errno = ENOSPC;
        return -1;
    });
    // The full disk is named first, with Retry; Cancel, then the group's message.
    prompt.expect(QStringLiteral("Non c'è più spazio sul disco"), AnswerCancel);
    prompt.expect(QStringLiteral("Errore nell'invio della Scheda "));
    r = run(steps(calls, {}));
    SafeFileCopy::setWriteHook({});
    EXPECT_TRUE(r.of("SCHEDE CLIENTI").failed());
    EXPECT_EQ(r.of("SCHEDE CLIENTI").outcome.reason, QStringLiteral("Errore nell'invio della Scheda"));
    EXPECT_EQ(r.of("FOGLI CLIENTI").state, State::NotReached);
    EXPECT_EQ(r.exitStatus(), exitstatus::kFailed);
}

// The real clients step: a copy of the merged database that fails on a full
// disk reaches the report as a failure, the run goes on with the documents,
// and the clients added are counted.
TEST_F(RunReportTest, FailedDatabaseCopyIsAFailureAfterWhichTheRunGoesOn)
{
    const QString local = w.request.localClients;
    const QString exchange = w.request.exchangeClients;
    QDir().mkpath(dati + QStringLiteral("OP1"));
    QString error;
    ASSERT_TRUE(schema::createDatabase(local, schema::Kind::Clients, &error)) << error.toStdString();
    ASSERT_TRUE(schema::createDatabase(exchange, schema::Kind::Clients, &error)) << error.toStdString();
    {
        RawDb ex(exchange);
        for (int code : {1, 2, 3})
            ex.insertClient(
                {{QStringLiteral("CliCodice"), code}, {QStringLiteral("CliRagsoc"), QStringLiteral("C")}});
    }
    const QDateTime now = QDateTime::currentDateTime();
    ASSERT_FALSE(platform::setModificationTime(exchange, now.addDays(-2)));
    const QByteArray exchangeBefore = fileBytes(exchange);
    // A card already the same on both sides: the group completes with no write.
    w.request.ticks.visite = 0;
    w.request.ticks.gruppi[1] = 1;
    file(testi, QStringLiteral("SK1.DOC"), "card", baseTime());
    file(xSchede, QStringLiteral("SK1.DOC"), "card", baseTime());
    SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 {
        errno = ENOSPC;
        return -1;
    });
    prompt.expect(QStringLiteral("Copio: "), AnswerYes)
        .expect(QStringLiteral("Errore nell'aggiornamento del DataBase"));
    const RunReport r = run(StandardSteps());
    SafeFileCopy::setWriteHook({});

    const StepReport& clients = r.of("SincronizzaClienti");
    EXPECT_EQ(clients.state, State::Ran);
    EXPECT_TRUE(clients.failed());
    EXPECT_TRUE(clients.outcome.chainGoesOn);
    // The full disk is named, not left as a generic copy error.
    EXPECT_EQ(clients.outcome.reason,
              QStringLiteral("Errore nell'aggiornamento del DataBase\n61-Disco pieno"));
    EXPECT_EQ(r.clientiAggiunti, 3);
    EXPECT_EQ(r.of("SCHEDE CLIENTI").outcome.status, Status::Done) << "the run went on";
    EXPECT_EQ(r.exitStatus(), exitstatus::kFailed);
    EXPECT_EQ(fileBytes(exchange), exchangeBefore);
}

} // namespace
} // namespace mirsalex::test
