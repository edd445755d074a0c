#include "CliSupport.h"

#include <QRegularExpression>

namespace mirsalex::test {
namespace {

// A ticked visits group is either carried out, and its counters are printed,
// or said plainly not to be available in this version: never counters of a
// run that did not happen, never a silent "completed".
TEST(Batch, VisitsGroupIsReportedForWhatItDid)
{
    FixtureInstall inst(1, 3, 3, 11);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const ProcessResult r = inst.batch(QStringLiteral("desktop"));
    ASSERT_TRUE(r.finished) << testing::PrintToString(r);
    EXPECT_EQ(r.exitCode, 0) << testing::PrintToString(r);

    const QRegularExpression visitsBox(QStringLiteral("^  VISITE \\(.*\\[(.*)\\]$"),
                                       QRegularExpression::MultilineOption);
    const QRegularExpressionMatch box = visitsBox.match(r.out);
    ASSERT_TRUE(box.hasMatch()) << qPrintable(r.out);
    const bool counters = r.out.contains(QRegularExpression(QStringLiteral("^  VISITE +Aggiornate: ->"),
                                                            QRegularExpression::MultilineOption)) &&
                          r.out.contains(QRegularExpression(QStringLiteral("^  APPUNTAMENTI +Aggiornati: ->"),
                                                            QRegularExpression::MultilineOption));
    const bool notProvided =
        r.out.contains(QStringLiteral("Non eseguiti, non disponibili in questa versione: VISITE"));
    EXPECT_NE(counters, notProvided) << qPrintable(r.out);
    if (notProvided) {
        EXPECT_EQ(box.captured(1), QStringLiteral("NON eseguito: non disponibile in questa versione"));
        EXPECT_TRUE(r.out.contains(
            QStringLiteral("Esito: completato, esclusi i gruppi non disponibili in questa versione")));
    } else {
        EXPECT_FALSE(box.captured(1).startsWith(QStringLiteral("NON eseguito")));
    }
}

} // namespace
} // namespace mirsalex::test
