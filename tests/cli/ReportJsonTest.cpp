#include "CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace mirsalex::test {
namespace {

// --report json: standard output holds one JSON document and nothing else
// (boxes and other lines go to standard error), with every field a script
// reads; the same run appends its entry to the --log file. An exchange
// folder that is not there makes the run incomplete, so a skip with its
// reason and path shows in the document.
TEST(Batch, JsonReportAndRunLog)
{
    FixtureInstall inst(1, 3, 3, 5);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const QString cards = inst.path(QStringLiteral("exchange/P001/SCHEDE/"));
    ASSERT_TRUE(QDir(cards).removeRecursively());
    const QString log = inst.path(QStringLiteral("logs/run.log"));
    const ProcessResult r =
        inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes"), QStringLiteral("--report"),
                                               QStringLiteral("json"), QStringLiteral("--log"), log});
    ASSERT_TRUE(r.finished) << testing::PrintToString(r);
    ASSERT_EQ(r.exitCode, 3) << testing::PrintToString(r);

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << qPrintable(error.errorString()) << "\n"
                                                     << qPrintable(r.out);
    const QJsonObject o = doc.object();
    EXPECT_EQ(o[QStringLiteral("operator")].toString(), QStringLiteral("P001"));
    EXPECT_EQ(o[QStringLiteral("side")].toString(), QStringLiteral("desktop"));
    EXPECT_TRUE(QDateTime::fromString(o[QStringLiteral("started")].toString(), Qt::ISODateWithMs).isValid())
        << qPrintable(o[QStringLiteral("started")].toString());
    EXPECT_GE(o[QStringLiteral("duration_ms")].toInteger(-1), 0);
    EXPECT_GE(o[QStringLiteral("divergences")][QStringLiteral("duration_ms")].toInteger(-1), 0);
    EXPECT_EQ(o[QStringLiteral("exit_status")].toInt(), r.exitCode);

    const QJsonArray steps = o[QStringLiteral("steps")].toArray();
    const QStringList names{
        "SincronizzaClienti",      "UnisciTabAzioni", "SincronizzaAzioni", "SincronizzaVisite",
        "SincronizzaAppuntamenti", "INDICI",          "SCHEDE CLIENTI",    "FOGLI CLIENTI"};
    ASSERT_EQ(steps.size(), names.size()) << qPrintable(r.out);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QJsonObject s = steps[i].toObject();
        SCOPED_TRACE(names[i].toStdString());
        EXPECT_EQ(s[QStringLiteral("name")].toString(), names[i]);
        EXPECT_TRUE(s[QStringLiteral("ticked")].toBool());
        const bool skipped = names[i] == QLatin1String("SCHEDE CLIENTI");
        EXPECT_EQ(s[QStringLiteral("status")].toString(),
                  skipped ? QStringLiteral("skipped") : QStringLiteral("done"));
        EXPECT_EQ(s[QStringLiteral("error")].toInt(-1), 0);
        EXPECT_EQ(s[QStringLiteral("reason")].toString(),
                  skipped ? QStringLiteral("cartella di scambio assente") : QString());
        EXPECT_EQ(s[QStringLiteral("path")].toString(), skipped ? cards : QString());
    }

    const QJsonObject counters = o[QStringLiteral("counters")].toObject();
    EXPECT_EQ(counters[QStringLiteral("clients_added")].toInteger(-1), 0);
    const QJsonObject visits = counters[QStringLiteral("visits")].toObject();
    EXPECT_GT(visits[QStringLiteral("to_exchange")].toInteger(-1) +
                  visits[QStringLiteral("to_local")].toInteger(-1),
              0);
    EXPECT_TRUE(counters[QStringLiteral("appointments")].toObject().contains(QStringLiteral("to_local")));
    const QJsonObject documents = counters[QStringLiteral("documents")].toObject();
    EXPECT_EQ(documents[QStringLiteral("indices")].toInt(-1), 1);
    EXPECT_EQ(documents[QStringLiteral("cards")].toObject()[QStringLiteral("sent")].toInt(-1), 0);
    EXPECT_TRUE(documents[QStringLiteral("sheets")].toObject().contains(QStringLiteral("received")));

    // Every box, in order, with its answer: the two copy questions, then the end.
    const QJsonArray messages = o[QStringLiteral("messages")].toArray();
    ASSERT_EQ(messages.size(), 3) << qPrintable(r.out);
    EXPECT_EQ(messages[0].toObject()[QStringLiteral("title")].toString(),
              QStringLiteral("AGGIORNAMENTO FILE"));
    EXPECT_EQ(messages[0].toObject()[QStringLiteral("style")].toInt(), 36);
    EXPECT_EQ(messages[0].toObject()[QStringLiteral("answer")].toString(), QStringLiteral("yes"));
    const QJsonObject last = messages[2].toObject();
    EXPECT_EQ(last[QStringLiteral("text")].toString(), QStringLiteral("FINE AGGIORNAMENTO"));
    EXPECT_EQ(last[QStringLiteral("title")].toString(), QStringLiteral("MirsalEX"));
    EXPECT_EQ(last[QStringLiteral("answer")].toString(), QStringLiteral("ok"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("FINE AGGIORNAMENTO"))) << "the boxes go to standard error";

    // The log entry of the same run, in its own folder.
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(log);
    const QString entry = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(entry.startsWith(QStringLiteral("=== INIZIO "))) << qPrintable(entry);
    EXPECT_TRUE(entry.contains(QStringLiteral("\nOperatore: P001\nLato: DeskTop\n"))) << qPrintable(entry);
    EXPECT_TRUE(entry.contains(
        QStringLiteral("  SCHEDE CLIENTI           saltato: cartella di scambio assente: ") + cards))
        << qPrintable(entry);
    EXPECT_TRUE(entry.contains(QStringLiteral("      FINE AGGIORNAMENTO\nEsito: INCOMPLETO")))
        << qPrintable(entry);
    EXPECT_EQ(entry.count(QStringLiteral("=== FINE ")), 1);
    EXPECT_FALSE(QFileInfo::exists(inst.configHome() + QStringLiteral("state/mirsalex/mirsalex.log")))
        << "--log replaces the default log";

    // A log that cannot be written is said once and changes nothing else.
    const ProcessResult bad =
        inst.batch(QStringLiteral("desktop"),
                   {QStringLiteral("--yes"), QStringLiteral("--log"), log + QStringLiteral("/x.log")});
    ASSERT_TRUE(bad.finished) << testing::PrintToString(bad);
    EXPECT_EQ(bad.exitCode, 3) << testing::PrintToString(bad);
    EXPECT_EQ(bad.err.count(QStringLiteral("could not be written")), 1) << qPrintable(bad.err);
    EXPECT_TRUE(bad.out.contains(QStringLiteral("Esito: INCOMPLETO"))) << qPrintable(bad.out);
}

} // namespace
} // namespace mirsalex::test
