#include "support/ScriptedPrompt.h"
#include "sync/Schema.h"
#include "sync/SyncTestSupport.h"
#include "sync/VisitsSync.h"
#include "transfer/Transfer.h"
#include "transfer/TransferTestSupport.h"

#include <QDir>

namespace mirsalex::test {
namespace {

// A scripted prompt that also keeps every progress call ("step done/total")
// and every end of a progress display ("end").
class ProgressPrompt : public ScriptedPrompt
{
public:
    QStringList events;
    void progress(const QString& step, qint64 done, qint64 total) override
    {
        events << QStringLiteral("%1 %2/%3").arg(step).arg(done).arg(total);
    }
    void progressEnd() override { events << QStringLiteral("end"); }
};

// The visits merge shows each pass and closes it: the one statement as a
// start and an end; the walk that takes over after a refused row with every
// row against the source's total, closed also when the walk fails.
TEST(Progress, VisitsMergeShowsEachPassAndTheWalkRowByRow)
{
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "a row refused" : "one statement");
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("dati/001"));
        QDir(dir.path()).mkpath(QStringLiteral("scambio"));
        const QString local = dir.filePath(QStringLiteral("dati/001/VisiteDV.mdb"));
        const QString exchange = dir.filePath(QStringLiteral("scambio/VisiteDV.mdb"));
        for (const QString& p : {dir.filePath(QStringLiteral("dati/001/DatiDV.mdb")),
                                 dir.filePath(QStringLiteral("scambio/DatiDV.mdb"))})
            ASSERT_TRUE(schema::createDatabase(p, schema::Kind::Clients));
        for (const QString& p : {local, exchange})
            ASSERT_TRUE(schema::createDatabase(p, schema::Kind::Visits));
        {
            RawDb ex(exchange);
            ex.exec(QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData) WITH RECURSIVE s(n) AS (SELECT 1 "
                                   "UNION ALL SELECT n + 1 FROM s WHERE n < 10) SELECT n, 45000 FROM s"));
            if (refuse) {
                RawDb loc(local);
                loc.exec(
                    QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON VisiteN WHEN NEW.VsCliente = 5 "
                                   "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
            }
        }
        const QString ini = dir.filePath(QStringLiteral("Mirsal.ini"));
        writeBytes(ini, "[EXPORT]\n");
        ProgressPrompt prompt;
        RunRequest request;
        request.configFile = ini;
        request.dataFolder = dir.filePath(QStringLiteral("dati")) + QLatin1Char('/');
        request.operatorCode = QStringLiteral("001");
        request.prompt = &prompt;
        request.localClients = dir.filePath(QStringLiteral("dati/001/DatiDV.mdb"));
        request.exchangeClients = dir.filePath(QStringLiteral("scambio/DatiDV.mdb"));
        ApplyChanges sink;
        RunState w{request, sink};
        w.ticks.visite = 1;
        if (refuse)
            prompt.expect(QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'VISITE'"));
        syncVisits(w);

        const QString in = QStringLiteral("VisiteN: scambio -> locale ");
        QStringList expected{in + QStringLiteral("0/0")};
        if (refuse) {
            for (int i = 0; i < 5; ++i)
                expected << in + QStringLiteral("%1/10").arg(i);
            expected << QStringLiteral("end");
        } else {
            expected << QStringLiteral("end") << QStringLiteral("VisiteN: locale -> scambio 0/0")
                     << QStringLiteral("end");
        }
        EXPECT_EQ(prompt.events, expected);
        EXPECT_EQ(prompt.pending(), 0);
    }
}

// Each direction of a document group counts the names it listed, one item
// per file, and closes its display.
TEST_F(TransferFixture, DocumentGroupShowsEachDirectionFileByFile)
{
    ProgressPrompt progress;
    w.request.prompt = &progress;
    w.ticks.gruppi = {0, 1, 0};
    const QDateTime when = QDateTime::currentDateTime().addDays(-1);
    for (const char* name : {"SK1.DOC", "SK2.DOC", "SK3.DOC"})
        file(testi, QLatin1String(name), "local", when);
    for (const char* name : {"SK4.DOC", "SK5.DOC"})
        file(xSchede, QLatin1String(name), "exchange", when);
    ASSERT_TRUE(runDocuments(w).completed);

    QStringList expected;
    for (int i = 0; i < 3; ++i)
        expected << QStringLiteral("SCHEDE CLIENTI: invio %1/3").arg(i);
    expected << QStringLiteral("end");
    for (int i = 0; i < 5; ++i)
        expected << QStringLiteral("SCHEDE CLIENTI: ricezione %1/5").arg(i);
    expected << QStringLiteral("end");
    EXPECT_EQ(progress.events, expected);
    EXPECT_EQ(w.filesOffered[1][0], 3);
    EXPECT_EQ(w.filesOffered[1][1], 2);
}

} // namespace
} // namespace mirsalex::test
