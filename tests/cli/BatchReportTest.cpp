#include "CliSupport.h"

#include <QRegularExpression>

namespace mirsalex::test {
namespace {

// The batch report lists every step of the run, in the order of the run,
// each with how it fared; every step is provided, so none is ever said to be
// missing from this version, and the final line matches the exit status.
TEST(Batch, ReportNamesEveryStepInOrder)
{
    FixtureInstall inst(1, 3, 3, 11);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const ProcessResult r = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    ASSERT_TRUE(r.finished) << testing::PrintToString(r);

    const qsizetype passi = r.out.indexOf(QStringLiteral("\nPassi:\n"));
    ASSERT_GE(passi, 0) << qPrintable(r.out);
    const QStringList names{
        "SincronizzaClienti",      "UnisciTabAzioni", "SincronizzaAzioni", "SincronizzaVisite",
        "SincronizzaAppuntamenti", "INDICI",          "SCHEDE CLIENTI",    "FOGLI CLIENTI"};
    qsizetype at = passi;
    for (const QString& name : names) {
        const QRegularExpression line(
            QStringLiteral("\n  %1 +(\\S.*)\n").arg(QRegularExpression::escape(name)));
        const QRegularExpressionMatch m = line.match(r.out, at);
        ASSERT_TRUE(m.hasMatch()) << qPrintable(name) << "\n" << qPrintable(r.out);
        at = m.capturedStart() + 1;
    }
    EXPECT_FALSE(r.out.contains(QStringLiteral("disponibil"))) << qPrintable(r.out);
    EXPECT_FALSE(r.out.contains(QStringLiteral("this version"))) << qPrintable(r.out);

    const QString last = r.out.trimmed().section(QLatin1Char('\n'), -1);
    const QMap<int, QString> finals{{0, QStringLiteral("Esito: completato")},
                                    {1, QStringLiteral("Esito: ERRORE in ")},
                                    {3, QStringLiteral("Esito: INCOMPLETO, passi saltati o interrotti: ")}};
    ASSERT_TRUE(finals.contains(r.exitCode)) << testing::PrintToString(r);
    EXPECT_TRUE(last.startsWith(finals[r.exitCode])) << qPrintable(last);
}

} // namespace
} // namespace mirsalex::test
