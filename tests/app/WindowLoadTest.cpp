#include "config/ConfigLoader.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"
#include "transfer/Transfer.h"

#include <gtest/gtest.h>

using namespace mirsalex;
using mirsalex::test::ScriptedPrompt;
using mirsalex::test::TempInstall;

namespace {

struct LoadFixture
{
    explicit LoadFixture(const QString& extra)
    {
        dati = inst.makeDir(QStringLiteral("dati/"));
        ctx.config.FileIni = inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati +
                                           QStringLiteral("\n[BASE]\nOPERATORE=base01\n") + extra);
    }
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    WindowState w;
    QString dati;
};

TEST(CaricaFinestra, BlankLastOperatorShowsTheBaseOperatorInUpperCase)
{
    LoadFixture f(QStringLiteral("[EXPORT]\nOPERATORE=\n"));
    CaricaFinestra(f.ctx, f.w);
    EXPECT_EQ(f.ctx.config.PathDati, f.dati);
    EXPECT_EQ(f.ctx.CodOperatore, QStringLiteral("BASE01"));
    EXPECT_EQ(f.w.CodOper, QStringLiteral("BASE01"));
    EXPECT_EQ(f.w.NomiGruppi, (QStringList{QStringLiteral("INDICI"), QStringLiteral("SCHEDE CLIENTI"),
                                           QStringLiteral("FOGLI CLIENTI")}));
    // The transfer set is filled for that operator on the desktop side.
    EXPECT_EQ(f.w.lbFile[0].caption, f.dati + QStringLiteral("BASE01/DatiDV.mdb"));
    EXPECT_EQ(f.w.PrefissoLato, QStringLiteral(" "));
    EXPECT_FALSE(f.w.lbAppuVisible);
    EXPECT_TRUE(f.w.cmdEseguiVisible);
}

TEST(CaricaFinestra, LastOperatorIsShownAsStored)
{
    LoadFixture f(QStringLiteral("[EXPORT]\nOPERATORE=op7\nDATAop7=01/01/24 08:00\n"));
    CaricaFinestra(f.ctx, f.w);
    EXPECT_EQ(f.ctx.CodOperatore, QStringLiteral("op7"));
    EXPECT_EQ(f.w.CodOper, QStringLiteral("op7"));
    EXPECT_EQ(f.w.chkDati.caption, QStringLiteral("DATI   ( 01/01/24 08:00)"));
}

TEST(CaricaFinestra, StoredOperatorThatCannotNameAFolderIsNotUsed)
{
    LoadFixture f(QStringLiteral("[EXPORT]\nOPERATORE=../fuori\n"));
    CaricaFinestra(f.ctx, f.w);
    EXPECT_EQ(f.ctx.CodOperatore, QStringLiteral("BASE01"));
    EXPECT_EQ(f.w.lbFile[0].caption, f.dati + QStringLiteral("BASE01/DatiDV.mdb"));
}

struct DebugCase
{
    const char* name;
    const char* stored;
    int expected;
};

class DebugValueTest : public ::testing::TestWithParam<DebugCase>
{
};

TEST_P(DebugValueTest, ConfirmationModeIsReadBack)
{
    const QString line =
        GetParam().stored ? QStringLiteral("DEBUG=") + QString::fromUtf8(GetParam().stored) : QString();
    LoadFixture f(QStringLiteral("[EXPORT]\n") + line + QLatin1Char('\n'));
    CaricaFinestra(f.ctx, f.w);
    EXPECT_EQ(f.w.chkDebug.value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CaricaFinestra, DebugValueTest,
    ::testing::Values(DebugCase{"missing", nullptr, 0}, DebugCase{"blank", "", 0}, DebugCase{"one", "1", 1},
                      DebugCase{"zero", "0", 0}, DebugCase{"text", "abc", 0}, DebugCase{"two", "2", 2},
                      DebugCase{"oneWithBlanks", " 1 ", 1}, DebugCase{"halfRoundsToEven", "2.5", 2},
                      DebugCase{"outsideACheckBox", "3", 0}, DebugCase{"negative", "-1", 0}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(ElencoOperatori, ListsOperatorFoldersWithTheirClientsDateForTheSide)
{
    LoadFixture f(QStringLiteral("[EXPORT]\nDATAop1=01/02/24 10:15\nXDATAop1=03/04/24 11:00\n"
                                 "DATAnomeLunghissimo1=05/05/24 05:05\n"));
    f.inst.makeDir(QStringLiteral("dati/op1"));
    f.inst.makeDir(QStringLiteral("dati/TEMP"));
    f.inst.makeDir(QStringLiteral("dati/nomeLunghissimo1"));
    f.inst.writeFile(QStringLiteral("dati/plain.txt"), "x");
    // Hidden folders are no operators.
    f.inst.makeDir(QStringLiteral("dati/.cache"));
    f.inst.makeDir(QStringLiteral("dati/.A12"));
    f.ctx.config.PathDati = f.dati;

    f.w.PrefissoLato = QStringLiteral(" ");
    EXPECT_EQ(ElencoOperatori(f.ctx, f.w), (QStringList{QStringLiteral("NOMELUNGHISSIM05/05/24 05:05"),
                                                        QStringLiteral("OP1           01/02/24 10:15"),
                                                        QStringLiteral("TEMP          ")}));
    f.w.PrefissoLato = QStringLiteral("X");
    EXPECT_EQ(ElencoOperatori(f.ctx, f.w),
              (QStringList{QStringLiteral("NOMELUNGHISSIM"), QStringLiteral("OP1           03/04/24 11:00"),
                           QStringLiteral("TEMP          ")}));

    // A data folder that cannot be read lists nothing, silently.
    f.ctx.config.PathDati = f.inst.path(QStringLiteral("manca/"));
    EXPECT_TRUE(ElencoOperatori(f.ctx, f.w).isEmpty());
}

} // namespace
