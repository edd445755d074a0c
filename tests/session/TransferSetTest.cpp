#include "config/ConfigLoader.h"
#include "session/OperatorFormLoad.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>

using namespace mirsalex;
using mirsalex::test::ScriptedPrompt;
using mirsalex::test::TempInstall;

namespace {

// A window state and context on a temporary installation with operator OP1.
struct TransferSetFixture
{
    explicit TransferSetFixture(const QString& exportLines, const QString& pathLines = QString())
    {
        dati = inst.makeDir(QStringLiteral("dati/"));
        ini = inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati + QLatin1Char('\n') + pathLines +
                            QStringLiteral("\n[EXPORT]\n") + exportLines);
        ctx.config.FileIni = ini;
        ctx.config.PathDati = dati;
        ctx.CodOperatore = QStringLiteral("OP1");
        w.NomiGruppi = {QStringLiteral("INDICI"), QStringLiteral("SCHEDE CLIENTI"),
                        QStringLiteral("FOGLI CLIENTI")};
    }

    QList<int> ticks() const
    {
        return {w.Check1[0].value, w.Check1[1].value, w.Check1[2].value, w.chkDati.value, w.chkVisite.value};
    }

    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    OperatorForm w;
    QString dati;
    QString ini;
};

struct TickCase
{
    const char* name;
    const char* exportLines;
    QList<int> expected;
};

class TicksTest : public ::testing::TestWithParam<TickCase>
{
};

TEST_P(TicksTest, ParmValueGivesTheFiveBoxes)
{
    TransferSetFixture f(QString::fromUtf8(GetParam().exportLines));
    loadTransferSet(f.ctx, f.w);
    EXPECT_EQ(f.ticks(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    loadTransferSet, TicksTest,
    ::testing::Values(TickCase{"missing", "", {1, 1, 1, 1, 1}},
                      TickCase{"zeroAlone", "PARMOP1=0\n", {0, 1, 1, 1, 1}},
                      TickCase{"sevenDigits", "PARMOP1=0120102\n", {0, 1, 2, 0, 1}},
                      TickCase{"allOff", "PARMOP1=00000\n", {0, 0, 0, 0, 0}},
                      // A character the boxes cannot show counts as a missing digit.
                      TickCase{"nonDigits", "PARMOP1=1X0a2\n", {1, 1, 0, 1, 2}},
                      TickCase{"outOfRangeDigits", "PARMOP1=39000\n", {1, 1, 0, 0, 0}},
                      TickCase{"otherOperatorIgnored", "PARMOP2=00000\n", {1, 1, 1, 1, 1}},
                      TickCase{"portableKeyIgnoredOnDesktop", "XPARMOP1=00000\n", {1, 1, 1, 1, 1}}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

struct ExchangeCase
{
    const char* name;
    const char* exchangeDb; // relative to the installation root unless absolute
    const char* expected;   // same
};

class ExchangeFolderTest : public ::testing::TestWithParam<ExchangeCase>
{
};

TEST_P(ExchangeFolderTest, DefaultFolderIsTheParentOfTheDatabaseFolder)
{
    const auto expand = [](const QString& root, const char* text) {
        const QString t = QString::fromUtf8(text);
        return t.startsWith(QLatin1Char('/')) || t.isEmpty() || !t.contains(QLatin1Char('/')) ? t : root + t;
    };
    TransferSetFixture f(QStringLiteral("PATHOP1=") + expand(QString(), GetParam().exchangeDb) +
                         QLatin1Char('\n'));
    const QString root = f.inst.root();
    // Rewrite the key with the real root now that the installation exists.
    ASSERT_FALSE(ScriviIni(f.ini, QStringLiteral("EXPORT"), QStringLiteral("PATHOP1"),
                           expand(root, GetParam().exchangeDb)));
    loadTransferSet(f.ctx, f.w);
    EXPECT_EQ(f.w.CartellaScambio, expand(root, GetParam().expected));
    // A group without a folder of its own shows the default exchange folder.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(f.w.lbFileX[i].caption, f.w.CartellaScambio) << i;
}

INSTANTIATE_TEST_SUITE_P(loadTransferSet, ExchangeFolderTest,
                         ::testing::Values(ExchangeCase{"nested", "SCAMBIO/OP1/DatiDV.mdb", "SCAMBIO/"},
                                           ExchangeCase{"atRoot", "/DatiDV.mdb", "/"},
                                           ExchangeCase{"oneLevel", "/E/DatiDV.mdb", "/"},
                                           ExchangeCase{"none", "", ""},
                                           ExchangeCase{"bareName", "DatiDV.mdb", ""}),
                         [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(loadTransferSet, FillsPathsCaptionsAndFoldersForTheOperatorAndSide)
{
    TransferSetFixture f(QStringLiteral("PARMOP1=10201\n"
                                        "PATHOP1=/mnt/SCAMBIO/OP1/DatiDV.mdb\n"
                                        "DATAOP1=01/02/24 10:15\n"
                                        "DATVOP1=02/02/24 11:00\n"
                                        "FLX0OP1=/mnt/INDICI/\n"
                                        "DTLX0OP1=03/02/24 09:00\n"
                                        "DTLX2OP1=04/02/24 09:30\n"
                                        "XPATHOP1=/media/chiavetta/OP1/DatiDV.mdb\n"
                                        "XDATAOP1=05/02/24 08:00\n"
                                        "XPARMOP1=00011\n"));
    f.w.cmdEseguiVisible = false;
    for (auto& c : f.w.lbCount)
        c.caption = QStringLiteral("Conta");
    const QByteArray before = TempInstall::readBytes(f.ini);

    loadTransferSet(f.ctx, f.w);

    EXPECT_TRUE(f.w.cmdEseguiVisible);
    for (const auto& c : f.w.lbCount)
        EXPECT_TRUE(c.caption.isEmpty());
    EXPECT_EQ(f.w.sideLetter(), QStringLiteral(" "));
    EXPECT_EQ(f.ctx.config.DbDati, f.dati + QStringLiteral("OP1/DatiDV.mdb"));
    EXPECT_EQ(f.w.lbFile[0].caption, f.ctx.config.DbDati);
    EXPECT_EQ(f.w.lbFile[1].caption, QStringLiteral("/mnt/SCAMBIO/OP1/DatiDV.mdb"));
    EXPECT_EQ(f.w.chkDati.caption, QStringLiteral("DATI   ( 01/02/24 10:15)"));
    EXPECT_EQ(f.w.chkVisite.caption, QStringLiteral("VISITE (02/02/24 11:00)"));
    EXPECT_EQ(f.w.CartellaScambio, QStringLiteral("/mnt/SCAMBIO/"));
    EXPECT_EQ(f.w.lbFileX[0].caption, QStringLiteral("/mnt/INDICI/"));
    EXPECT_EQ(f.w.lbFileX[1].caption, QStringLiteral("/mnt/SCAMBIO/"));
    EXPECT_EQ(f.w.Check1[0].caption, QStringLiteral("INDICI (03/02/24 09:00)"));
    EXPECT_EQ(f.w.Check1[1].caption, QStringLiteral("SCHEDE ()"));
    EXPECT_EQ(f.w.Check1[2].caption, QStringLiteral("FOGLI  (04/02/24 09:30)"));
    EXPECT_EQ(f.ticks(), (QList<int>{1, 0, 2, 0, 1}));
    // Folders default to the data folder and exist.
    EXPECT_EQ(f.ctx.config.PathTesti, f.dati);
    EXPECT_EQ(f.ctx.config.PathFogli, f.dati);
    EXPECT_EQ(f.ctx.config.PathTemp, f.dati + QStringLiteral("temp/"));
    EXPECT_FALSE(QFileInfo::exists(f.ctx.config.PathTemp)) << "only the configuration loading makes it";
    // Nothing is written.
    EXPECT_EQ(TempInstall::readBytes(f.ini), before);

    // The other side reads the keys that begin with "X" for the same operator.
    f.w.optPC = 1;
    loadTransferSet(f.ctx, f.w);
    EXPECT_EQ(f.w.sideLetter(), QStringLiteral("X"));
    EXPECT_EQ(f.w.lbFile[1].caption, QStringLiteral("/media/chiavetta/OP1/DatiDV.mdb"));
    EXPECT_EQ(f.w.chkDati.caption, QStringLiteral("DATI   ( 05/02/24 08:00)"));
    EXPECT_EQ(f.w.chkVisite.caption, QStringLiteral("VISITE ()"));
    EXPECT_EQ(f.w.lbFileX[0].caption, QStringLiteral("/media/chiavetta/"));
    EXPECT_EQ(f.w.Check1[0].caption, QStringLiteral("INDICI ()"));
    EXPECT_EQ(f.ticks(), (QList<int>{0, 0, 0, 1, 1}));
}

TEST(loadTransferSet, ConfiguredFoldersArePreparedWithTheOperatorMarker)
{
    TransferSetFixture f{QString()};
    const QString root = f.inst.root();
    ASSERT_FALSE(
        ScriviIni(f.ini, QStringLiteral("PATH"), QStringLiteral("TEMP"), root + QStringLiteral("tmp/%")));
    ASSERT_FALSE(
        ScriviIni(f.ini, QStringLiteral("PATH"), QStringLiteral("TESTI"), root + QStringLiteral("schede")));
    ASSERT_FALSE(
        ScriviIni(f.ini, QStringLiteral("PATH"), QStringLiteral("FOGLI"), root + QStringLiteral("fogli/%")));

    loadTransferSet(f.ctx, f.w);

    EXPECT_EQ(f.ctx.config.PathTemp, root + QStringLiteral("tmp/OP1/"));
    EXPECT_EQ(f.ctx.config.PathTesti, root + QStringLiteral("schede/"));
    EXPECT_EQ(f.ctx.config.PathFogli, root + QStringLiteral("fogli/OP1/"));
    for (const QString& dir : {f.ctx.config.PathTesti, f.ctx.config.PathFogli})
        EXPECT_TRUE(QFileInfo(dir).isDir()) << dir.toStdString();
}

// A temporary folder that cannot be made is reported by the configuration
// loading, once; the refreshes that follow (another operator, the other
// side) name it without a message.
TEST(loadTransferSet, TemporaryFolderErrorIsShownOncePerRefreshAtMost)
{
    TransferSetFixture f{QString()};
    const QString blocker = f.inst.writeFile(QStringLiteral("occupato"), "x");
    ASSERT_FALSE(
        ScriviIni(f.ini, QStringLiteral("PATH"), QStringLiteral("TEMP"), blocker + QStringLiteral("/tmp/%")));
    f.prompt.expect(QStringLiteral("ERRORE TEMP\n") + blocker + QStringLiteral("/tmp/\n"));

    CaricaParametri(f.ctx);
    EXPECT_TRUE(f.ctx.config.PathTemp.isEmpty());
    loadTransferSet(f.ctx, f.w);
    f.w.optPC = 1;
    loadTransferSet(f.ctx, f.w);

    EXPECT_EQ(f.prompt.messages.size(), 1);
    EXPECT_EQ(f.ctx.config.PathTemp, blocker + QStringLiteral("/tmp/OP1/"));
}

TEST(loadTransferSet, FolderThatCannotBeMadeIsReportedAndLeftEmpty)
{
    TransferSetFixture f{QString()};
    const QString blocker = f.inst.writeFile(QStringLiteral("occupato"), "x");
    ASSERT_FALSE(ScriviIni(f.ini, QStringLiteral("PATH"), QStringLiteral("TESTI"),
                           blocker + QStringLiteral("/schede")));
    f.prompt.expect(QStringLiteral("ERRORE TESTI"));

    loadTransferSet(f.ctx, f.w);

    EXPECT_TRUE(f.ctx.config.PathTesti.isEmpty());
    // The sheets fall back to the cards folder, which is gone: they get no
    // folder either (never the root folder), without a second message.
    EXPECT_TRUE(f.ctx.config.PathFogli.isEmpty());
    EXPECT_EQ(f.prompt.messages.size(), 1);
    EXPECT_EQ(f.w.lbFile[0].caption, f.dati + QStringLiteral("OP1/DatiDV.mdb"));
}

} // namespace
