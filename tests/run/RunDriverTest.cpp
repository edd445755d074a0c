#include "run/RunDriver.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "common/RunLock.h"
#include "config/ConfigLoader.h"
#include "transfer/TransferTestSupport.h"

#include <array>
#include <cerrno>
#include <optional>
#include <QFile>

namespace mirsalex::test {
namespace {

struct RunDriverTest : TransferFixture
{
    void SetUp() override
    {
        TransferFixture::SetUp();
        // Nothing ticked unless a test says so.
        for (auto& c : w.Check1)
            c.value = 0;
        w.chkDati.value = 0;
        w.chkVisite.value = 0;
    }

    QString exportKey(const QString& key) const { return LeggiIni(ini, QStringLiteral("EXPORT"), key); }

    // Steps that record their calls and return the results given.
    SyncSteps steps(QStringList& calls, qint16 clienti = 0, qint16 tab = 0, qint16 azioni = 0,
                    qint16 visite = 0, qint16 appuntamenti = 0)
    {
        auto step = [&calls](const char* name, qint16 result) {
            return [&calls, name, result]() {
                calls << QString::fromLatin1(name);
                return result > 0 ? StepOutcome::failure(result) : StepOutcome::done();
            };
        };
        return SyncSteps{step("clienti", clienti), step("tabazioni", tab), step("azioni", azioni),
                         step("visite", visite), step("appuntamenti", appuntamenti)};
    }
};

TEST_F(RunDriverTest, ExitWritesNothing)
{
    const QByteArray before = TempInstall::readBytes(ini);
    struct Case
    {
        const char* code;
        int button;
    };
    for (const Case c : {Case{"", 0}, Case{"000", 0}, Case{"00", 0}, Case{"-5", 0}, Case{"OP1", 1}}) {
        SCOPED_TRACE(c.code);
        ctx.CodOperatore = QString::fromLatin1(c.code);
        QStringList calls;
        w.chkDati.value = 1;
        RunDriver driver(ctx, w, steps(calls));
        EXPECT_EQ(driver.click(c.button), RunDriver::Outcome::Exit);
        EXPECT_TRUE(calls.isEmpty());
    }
    EXPECT_EQ(TempInstall::readBytes(ini), before);
    EXPECT_TRUE(prompt.messages.isEmpty());
    EXPECT_TRUE(w.cmdEseguiVisible);
}

TEST_F(RunDriverTest, NothingTickedWritesSettingsAndEnds)
{
    w.CodOper = QStringLiteral("OP1 ");
    w.lbFile[1].caption = QStringLiteral("  ") + xIndici + QStringLiteral("DatiDV.mdb ");
    w.lbFileX[2].caption = xFogli + QStringLiteral(" ");
    ctx.CodErrore = 55;
    QStringList calls;
    RunDriver driver(ctx, w, steps(calls));
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);

    EXPECT_EQ(driver.click(0), RunDriver::Outcome::Completed);

    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(prompt.messages.last().text, QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(prompt.messages.last().title, applicationTitle());
    EXPECT_GE(prompt.processEventsCalls, 1);
    EXPECT_EQ(ctx.CodErrore, 0);
    EXPECT_EQ(w.DbScambio, xIndici + QStringLiteral("DatiDV.mdb"));
    EXPECT_EQ(w.DbLocale, dati + QStringLiteral("OP1/DatiDV.mdb"));
    EXPECT_EQ(exportKey("OPERATORE"), QStringLiteral("OP1"));
    EXPECT_EQ(exportKey("PATHOP1"), w.DbScambio);
    EXPECT_EQ(exportKey("FLX0OP1"), xIndici);
    EXPECT_EQ(exportKey("FLX1OP1"), xSchede);
    EXPECT_EQ(exportKey("FLX2OP1"), xFogli);
    EXPECT_EQ(exportKey("PARMOP1"), QStringLiteral("00000"));
    for (const auto& l : w.lbCount)
        EXPECT_TRUE(l.caption.isEmpty());
    EXPECT_FALSE(w.cmdEseguiVisible);
    EXPECT_FALSE(w.lbAppuVisible);
}

TEST_F(RunDriverTest, ParmDigitsAndPortableKeys)
{
    struct Case
    {
        int optPC;
        std::array<int, 5> ticks;
        const char* parmKey;
        const char* otherKey;
        const char* parm;
    };
    for (const Case c : {Case{1, {2, 1, 0, 0, 0}, "XPARMOP1", "PARMOP1", "21000"},
                         Case{0, {0, 0, 2, 0, 0}, "PARMOP1", "XPARMOP1", "00200"}}) {
        SCOPED_TRACE(c.parm);
        ini = inst.writeIni(QStringLiteral("[EXPORT]\n"));
        w.optPC = c.optPC;
        for (size_t i = 0; i < 3; ++i)
            w.Check1[i].value = c.ticks[i];
        w.chkDati.value = c.ticks[3];
        w.chkVisite.value = c.ticks[4];
        QStringList calls;
        RunDriver driver(ctx, w, steps(calls));
        prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
        driver.click(0);
        EXPECT_EQ(w.PrefissoLato, c.optPC ? QStringLiteral("X") : QStringLiteral(" "));
        EXPECT_EQ(exportKey(QString::fromLatin1(c.parmKey)), QString::fromLatin1(c.parm));
        EXPECT_TRUE(exportKey(QString::fromLatin1(c.otherKey)).isEmpty());
        const QString side = c.optPC ? QStringLiteral("X") : QString();
        EXPECT_EQ(exportKey(side + "PATHOP1"), w.DbScambio);
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
    };
    const Case cases[] = {
        {"clients fail", {3, 0, 0, 0, 0}, {"clienti"}},
        {"actions fail", {0, 0, 7, 0, 0}, {"clienti", "tabazioni", "azioni"}},
        {"appointments fail", {0, 0, 0, 0, 1}, {"clienti", "tabazioni", "azioni", "visite", "appuntamenti"}},
    };
    file(testi, QStringLiteral("SK1.doc"), "card", baseTime());
    file(xSchede, QStringLiteral("SK2.DOC"), "card", baseTime());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.Check1[1].value = 1;
        w.chkDati.value = 1;
        w.chkVisite.value = 1;
        w.VisiteAggiunteScambio = 0;
        w.VisiteAggiunteLocale = 0;
        w.AppuntamentiAggiuntiScambio = 4;
        w.AppuntamentiAggiuntiLocale = 0;
        QStringList calls;
        RunDriver driver(ctx, w,
                         steps(calls, c.results[0], c.results[1], c.results[2], c.results[3], c.results[4]));
        prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
        EXPECT_EQ(driver.click(0), RunDriver::Outcome::Failed);
        EXPECT_EQ(calls, c.expectedCalls);
        EXPECT_FALSE(QFileInfo::exists(xSchede + "SK1.DOC")) << "no document group runs";
        EXPECT_EQ(w.Check1[1].value, 1);
        EXPECT_EQ(w.lbCount[1].caption, QStringLiteral("Aggiornate: ->    0    0 <-"));
        EXPECT_EQ(w.lbCount[3].caption, QStringLiteral("Aggiornate: ->    0    0 <-"));
        EXPECT_EQ(w.lbCount[4].caption, QStringLiteral("Aggiornati: ->    4    0 <-"));
        EXPECT_TRUE(w.lbAppuVisible);
        EXPECT_FALSE(w.cmdEseguiVisible);
    }
}

TEST_F(RunDriverTest, ResultLabels)
{
    // Groups completed earlier in this window (value 2) do not run but show
    // their counters.
    w.Check1 = {CheckState{2, {}}, CheckState{2, {}}, CheckState{2, {}}};
    w.Contatori[0][0] = 0;
    w.Contatori[1][0] = 12;
    w.Contatori[1][1] = 3;
    w.Contatori[2][0] = 32767;
    w.Contatori[2][1] = -1;
    w.chkVisite.value = 2;
    w.VisiteAggiunteScambio = 123;
    w.VisiteAggiunteLocale = 4567;
    QStringList calls;
    RunDriver driver(ctx, w, steps(calls));
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(driver.click(0), RunDriver::Outcome::Completed);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(w.lbCount[0].caption, QStringLiteral("NON aggiornati"));
    EXPECT_EQ(w.lbCount[1].caption, QStringLiteral("Aggiornate: ->   12    3 <-"));
    EXPECT_EQ(w.lbCount[2].caption, QStringLiteral("Aggiornati: ->32767   -1 <-"));
    EXPECT_EQ(w.lbCount[3].caption, QStringLiteral("Aggiornate: ->  123 4567 <-"));
    EXPECT_EQ(w.lbCount[4].caption, QStringLiteral("Aggiornati: ->    0    0 <-"));
    EXPECT_EQ(exportKey("PARMOP1"), QStringLiteral("22202"));
}

TEST_F(RunDriverTest, FullRunOfTheDocuments)
{
    w.Check1 = {CheckState{1, {}}, CheckState{1, {}}, CheckState{0, {}}};
    file(dati, QStringLiteral("IndiciDV.mdb"), "idx", baseTime().addSecs(5));
    file(xIndici, QStringLiteral("DatiDV.mdb"), "db", baseTime());
    file(testi, QStringLiteral("SK1.doc"), "a", baseTime());
    file(testi, QStringLiteral("SK2.doc"), "b", baseTime());
    file(xSchede, QStringLiteral("SK3.DOC"), "c", baseTime());
    prompt.expect(QStringLiteral("Copio: "), AnswerYes).expect(QStringLiteral("FINE AGGIORNAMENTO"));
    QStringList calls;
    RunDriver driver(ctx, w, steps(calls));
    EXPECT_EQ(driver.click(0), RunDriver::Outcome::Completed);
    EXPECT_EQ(w.lbCount[0].caption, QStringLiteral("Aggiornati"));
    EXPECT_EQ(w.lbCount[1].caption, QStringLiteral("Aggiornate: ->    2    1 <-"));
    EXPECT_TRUE(w.lbCount[2].caption.isEmpty());
    EXPECT_EQ(w.Check1[0].value, 2);
    EXPECT_EQ(w.Check1[1].value, 2);
}

TEST_F(RunDriverTest, SecondClickDuringARunIsRefused)
{
    w.chkDati.value = 1;
    RunDriver* self = nullptr;
    std::optional<RunDriver::Outcome> inner;
    bool runningInside = false;
    SyncSteps s;
    s.SincronizzaClienti = [&]() {
        runningInside = self->running();
        inner = self->click(0); // the user clicks "&ESEGUI" again while events run
        return StepOutcome::done();
    };
    RunDriver driver(ctx, w, s);
    self = &driver;
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(driver.click(0), RunDriver::Outcome::Completed);
    EXPECT_TRUE(runningInside);
    ASSERT_TRUE(inner.has_value());
    EXPECT_EQ(*inner, RunDriver::Outcome::Refused);
    EXPECT_EQ(prompt.messages.size(), 1) << "one run, one FINE AGGIORNAMENTO";
    EXPECT_FALSE(driver.running());
    // The exit button still works during a run.
    s.SincronizzaClienti = [&]() {
        inner = self->click(1);
        return StepOutcome::done();
    };
    RunDriver second(ctx, w, s);
    self = &second;
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    second.click(0);
    EXPECT_EQ(*inner, RunDriver::Outcome::Exit);
}

// A read of the configuration file that failed (a passing I/O error) is not
// a file without the key: the run stops before it writes anything, and a
// load that reads the file whole makes the next run work as before.
TEST_F(RunDriverTest, AFailedConfigurationReadStopsTheRunBeforeItWritesAnything)
{
    w.chkDati.value = 1;
    platform::setFailureInjector([](const QString& op, const QString&) { return op == "read" ? EIO : 0; });
    EXPECT_EQ(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("XPATHOP1")), QString());
    platform::setFailureInjector({});
    const QByteArray before = TempInstall::readBytes(ini);
    QStringList calls;
    prompt.expect(QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE\n") + ini + QStringLiteral("\nnon si può leggere: 57-"),
                  AnswerOk, MsgStyle::ExclamationOk);
    {
        RunDriver driver(ctx, w, steps(calls));
        EXPECT_EQ(driver.click(0), RunDriver::Outcome::Failed);
        EXPECT_EQ(driver.report().exitStatus(), exitstatus::kFailed);
        EXPECT_GE(driver.report().durationMs, 0);
    }
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(TempInstall::readBytes(ini), before);

    CaricaPercorsi(ctx);
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    RunDriver driver(ctx, w, steps(calls));
    EXPECT_EQ(driver.click(0), RunDriver::Outcome::Completed);
    EXPECT_EQ(calls, QStringList{QStringLiteral("clienti")});
}

// A run refused by the lock reports the time it took, like any other.
TEST_F(RunDriverTest, ARunRefusedByTheLockReportsItsDuration)
{
    w.chkDati.value = 1;
    RunLock other;
    ASSERT_TRUE(other.acquire({inst.makeDir(QStringLiteral("dati/OP1"))}, QStringLiteral("Portatile")));
    prompt.expect(QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO"), AnswerOk, MsgStyle::ExclamationOk);
    QStringList calls;
    RunDriver driver(ctx, w, steps(calls));
    EXPECT_EQ(driver.click(0), RunDriver::Outcome::Refused);
    EXPECT_TRUE(driver.report().refused);
    EXPECT_GE(driver.report().durationMs, 0);
}

} // namespace
} // namespace mirsalex::test
