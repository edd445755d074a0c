#include "session/OperatorFormLoad.h"

#include "config/ConfigLoader.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

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
    OperatorForm w;
    QString dati;
};

TEST(loadForm, BlankLastOperatorShowsTheBaseOperatorInUpperCase)
{
    LoadFixture f(QStringLiteral("[EXPORT]\nOPERATORE=\n"));
    loadForm(f.ctx, f.w);
    EXPECT_EQ(f.ctx.config.PathDati, f.dati);
    EXPECT_EQ(f.ctx.CodOperatore, QStringLiteral("BASE01"));
    EXPECT_EQ(f.w.CodOper, QStringLiteral("BASE01"));
    EXPECT_EQ(f.w.NomiGruppi, (QStringList{QStringLiteral("INDICI"), QStringLiteral("SCHEDE CLIENTI"),
                                           QStringLiteral("FOGLI CLIENTI")}));
    // The transfer set is filled for that operator on the desktop side.
    EXPECT_EQ(f.w.lbFile[0].caption, f.dati + QStringLiteral("BASE01/DatiDV.mdb"));
    EXPECT_EQ(f.w.sideLetter(), QStringLiteral(" "));
    EXPECT_FALSE(f.w.lbAppuVisible);
    EXPECT_TRUE(f.w.cmdEseguiVisible);
}

TEST(loadForm, LastOperatorIsShownAsStored)
{
    LoadFixture f(QStringLiteral("[EXPORT]\nOPERATORE=op7\nDATAop7=01/01/24 08:00\n"));
    loadForm(f.ctx, f.w);
    EXPECT_EQ(f.ctx.CodOperatore, QStringLiteral("op7"));
    EXPECT_EQ(f.w.CodOper, QStringLiteral("op7"));
    EXPECT_EQ(f.w.chkDati.caption, QStringLiteral("DATI   ( 01/01/24 08:00)"));
}

TEST(loadForm, StoredOperatorThatCannotNameAFolderIsNotUsed)
{
    LoadFixture f(QStringLiteral("[EXPORT]\nOPERATORE=../fuori\n"));
    loadForm(f.ctx, f.w);
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
    loadForm(f.ctx, f.w);
    EXPECT_EQ(f.w.chkDebug.value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    loadForm, DebugValueTest,
    ::testing::Values(DebugCase{"missing", nullptr, 0}, DebugCase{"blank", "", 0}, DebugCase{"one", "1", 1},
                      DebugCase{"zero", "0", 0}, DebugCase{"text", "abc", 0}, DebugCase{"two", "2", 2},
                      DebugCase{"oneWithBlanks", " 1 ", 1}, DebugCase{"halfRoundsToEven", "2.5", 2},
                      DebugCase{"outsideACheckBox", "3", 0}, DebugCase{"negative", "-1", 0}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(operatorListItems, ListsOperatorFoldersWithTheirClientsDateForTheSide)
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

    f.w.optPC = 0;
    EXPECT_EQ(operatorListItems(f.ctx, f.w), (QStringList{QStringLiteral("NOMELUNGHISSIM05/05/24 05:05"),
                                                          QStringLiteral("OP1           01/02/24 10:15"),
                                                          QStringLiteral("TEMP          ")}));
    f.w.optPC = 1;
    EXPECT_EQ(operatorListItems(f.ctx, f.w),
              (QStringList{QStringLiteral("NOMELUNGHISSIM"), QStringLiteral("OP1           03/04/24 11:00"),
                           QStringLiteral("TEMP          ")}));

    // A data folder that cannot be read lists nothing, silently.
    f.ctx.config.PathDati = f.inst.path(QStringLiteral("manca/"));
    EXPECT_TRUE(operatorListItems(f.ctx, f.w).isEmpty());
}

} // namespace

// The result labels a run's report gives the window.
namespace {

RunReport reportWith(const Ticks& after)
{
    RunReport r;
    r.operatore = QStringLiteral("OP1");
    for (const StepInfo& step : kSteps) {
        StepReport s;
        s.step = &step;
        r.steps.push_back(s);
    }
    r.ticksAfter = after;
    return r;
}

QStringList labels(const OperatorForm& w)
{
    QStringList out;
    for (const LabelState& l : w.lbCount)
        out << l.caption;
    return out;
}

TEST(MostraRisultati, NothingTickedShowsNoLabelAndHidesTheRunButton)
{
    OperatorForm w;
    showResults(w, reportWith(Ticks{}));
    EXPECT_EQ(labels(w), QStringList(5));
    EXPECT_FALSE(w.cmdEseguiVisible);
    EXPECT_FALSE(w.lbAppuVisible);
}

TEST(MostraRisultati, AStoppedRunShowsTheCountersOfTheTickedGroups)
{
    Ticks t;
    t.gruppi = {0, 1, 0};
    t.dati = 1;
    t.visite = 1;
    RunReport r = reportWith(t);
    r.appuntamentiAggiuntiScambio = 4;
    OperatorForm w;
    showResults(w, r);
    EXPECT_EQ(w.Check1[1].value, 1);
    EXPECT_EQ(labels(w), (QStringList{QString(), QStringLiteral("Aggiornate: ->    0    0 <-"), QString(),
                                      QStringLiteral("Aggiornate: ->    0    0 <-"),
                                      QStringLiteral("Aggiornati: ->    4    0 <-")}));
    EXPECT_TRUE(w.lbAppuVisible);
    EXPECT_FALSE(w.cmdEseguiVisible);
}

TEST(MostraRisultati, GroupsDoneShowTheirCountersAlignedInFiveCharacters)
{
    Ticks t;
    t.gruppi = {2, 2, 2};
    t.visite = 2;
    RunReport r = reportWith(t);
    r.documenti = {{{0, 0}, {12, 3}, {32767, -1}}};
    r.visiteAggiunteScambio = 123;
    r.visiteAggiunteLocale = 4567;
    OperatorForm w;
    showResults(w, r);
    EXPECT_EQ(labels(w),
              (QStringList{QStringLiteral("NON aggiornati"), QStringLiteral("Aggiornate: ->   12    3 <-"),
                           QStringLiteral("Aggiornati: ->32767   -1 <-"),
                           QStringLiteral("Aggiornate: ->  123 4567 <-"),
                           QStringLiteral("Aggiornati: ->    0    0 <-")}));
    EXPECT_EQ(w.Check1[0].value, 2);
    EXPECT_EQ(w.chkVisite.value, 2);

    t.gruppi = {2, 2, 0};
    t.visite = 0;
    r = reportWith(t);
    r.documenti = {{{1, 0}, {2, 1}, {0, 0}}};
    OperatorForm after;
    showResults(after, r);
    EXPECT_EQ(labels(after),
              (QStringList{QStringLiteral("Aggiornati"), QStringLiteral("Aggiornate: ->    2    1 <-"),
                           QString(), QString(), QString()}));
    EXPECT_FALSE(after.lbAppuVisible);
}

// A dry run, a refused run and a run stopped by an unreadable configuration
// leave the window as it was.
TEST(MostraRisultati, ARunThatChangedNothingLeavesTheWindowAlone)
{
    Ticks t;
    t.gruppi = {2, 2, 2};
    t.dati = 2;
    t.visite = 2;
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        RunReport r = reportWith(t);
        r.dryRun = kind == 0;
        r.refused = kind == 1;
        if (kind == 2)
            r.configurationUnread = QStringLiteral("/x/Mirsal.ini\nerrore");
        OperatorForm w;
        w.Check1[0].value = 1;
        w.chkDati.value = 1;
        showResults(w, r);
        EXPECT_EQ(labels(w), QStringList(5));
        EXPECT_TRUE(w.cmdEseguiVisible);
        EXPECT_EQ(w.Check1[0].value, 1);
        EXPECT_EQ(w.chkDati.value, 1);
    }
}

} // namespace
