#include "changes/ApplyChanges.h"
#include "changes/WithheldChanges.h"
#include "run/RecordingPrompt.h"
#include "run/RunDriver.h"
#include "session/ReportText.h"
#include "transfer/TransferTestSupport.h"

#include <QRegularExpression>

namespace mirsalex::test {
namespace {

// The log entry of a run that fails in the visits chain: every step with
// its outcome, the counters as the run left them, every box the run showed
// (through the recorder over the face's prompt) with its answer, the
// outcome, and the duration.
TEST_F(TransferFixture, RunLogEntryOfAFailedRun)
{
    RunRequest request = w.request;
    request.ticks = Ticks{};
    request.ticks.dati = 1;
    request.ticks.visite = 1;
    request.ticks.gruppi[1] = 1;

    RecordingPrompt recorder(prompt);
    request.prompt = &recorder;
    SyncSteps steps;
    steps.clients = [](RunState& state) {
        // Counters as a step leaves them.
        state.tables[kVisiteN].toExchange = 5;
        state.tables[kAppuntamenti].purgedLocal = 2;
        state.filesOffered[1] = {12, 3};
        state.prompt().show(QStringLiteral("Vuoi copiare il DataBase?"), MsgStyle::Question);
        return StepOutcome::done();
    };
    steps.actionCodes = [](RunState& state) {
        state.prompt().show(QStringLiteral("ERRORE NELL'AGGIORNAMENTO\nTABELLA AZIONI"), MsgStyle::Ok);
        return StepOutcome::failure(3044, QStringLiteral("ERRORE NELL'AGGIORNAMENTO TABELLA AZIONI"));
    };
    prompt.expect(QStringLiteral("Vuoi copiare"), AnswerNo, MsgStyle::Question);
    prompt.expect(QStringLiteral("ERRORE NELL'AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    RunDriver driver(steps);
    ApplyChanges changes;
    const RunReport report = driver.run(request, changes);

    const QString notReached =
        QStringLiteral("non eseguito: la sessione si e' fermata a un errore precedente");
    const QString expected =
        QStringLiteral("Operatore: OP1\n"
                       "Lato: DeskTop\n"
                       "Passi:\n"
                       "  SincronizzaClienti       completato\n"
                       "  UnisciTabAzioni          NON riuscito (errore 3044): "
                       "ERRORE NELL'AGGIORNAMENTO TABELLA AZIONI\n"
                       "  SincronizzaAzioni        %1\n"
                       "  SincronizzaVisite        %1\n"
                       "  SincronizzaAppuntamenti  %1\n"
                       "  INDICI                   non richiesto\n"
                       "  SCHEDE CLIENTI           %1\n"
                       "  FOGLI CLIENTI            non richiesto\n"
                       "Contatori:\n"
                       "  CLIENTI aggiunti non contati\n"
                       "  VISITE           ->    5    0 <-\n"
                       "  APPUNTAMENTI     ->    0    0 <-\n"
                       "  TabAzioni        ->    0    0 <-, eliminati 0 locali, 0 nell'area di scambio\n"
                       "  Azioni           ->    0    0 <-, eliminati 0 locali, 0 nell'area di scambio\n"
                       "  VisiteN          ->    5    0 <-, eliminati 0 locali, 0 nell'area di scambio\n"
                       "  Appuntamenti     ->    0    0 <-, eliminati 2 locali, 0 nell'area di scambio\n"
                       "  DATABASE copiati 0\n"
                       "  INDICI           ->    0\n"
                       "  SCHEDE CLIENTI   ->   12    3 <-\n"
                       "  FOGLI CLIENTI    ->    0    0 <-\n"
                       "  RIGHE DIVERSE    nessuna tabella confrontata\n"
                       "Messaggi: 3\n"
                       "  [1] MirsalEX (stile 36), risposta: No\n"
                       "      Vuoi copiare il DataBase?\n"
                       "  [2] MirsalEX (stile 0), risposta: OK\n"
                       "      ERRORE NELL'AGGIORNAMENTO\n"
                       "      TABELLA AZIONI\n"
                       "  [3] MirsalEX (stile 0), risposta: OK\n"
                       "      FINE AGGIORNAMENTO\n"
                       "Esito: ERRORE in UnisciTabAzioni (errore 3044)\n")
            .arg(notReached);
    const QString text = runLogText(report, recorder.boxes());
    ASSERT_TRUE(text.startsWith(expected)) << qPrintable(text);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Durata: \\d+\\.\\d{3} s\n$"))
                    .match(text.mid(expected.size()))
                    .hasMatch())
        << qPrintable(text);
    EXPECT_TRUE(report.started.isValid());
}

} // namespace
} // namespace mirsalex::test
