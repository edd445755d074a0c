#include "CliSupport.h"

#include <QRegularExpression>

namespace mirsalex::test {
namespace {

// Every folder under `root`, relative to it.
QStringList folders(const QString& root)
{
    QStringList out;
    const QDir base(root);
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << base.relativeFilePath(it.next());
    out.sort();
    return out;
}

// The numbers the first match of `pattern` captures in `text`, empty when
// it does not match.
QList<int> numbers(const QString& text, const QString& pattern)
{
    QList<int> out;
    const QRegularExpressionMatch m = QRegularExpression(pattern).match(text);
    for (int i = 1; m.hasMatch() && i <= m.lastCapturedIndex(); ++i)
        out << m.captured(i).toInt();
    return out;
}

struct PreviewCase
{
    const char* side;
    bool debug; // every document copy confirmed: one question per file
};

class Preview : public testing::TestWithParam<PreviewCase>
{
};

// A dry run changes nothing on disk (bytes, times, folders: also the save
// folders the load would create), and it lists exactly what the real run
// that follows then does: clients added, visits and appointments each way,
// cards and sheets each way, and as many questions as the run asks.
TEST_P(Preview, ChangesNothingAndForetellsTheRun)
{
    const PreviewCase c = GetParam();
    FixtureInstall inst(2, 6, 8, 29);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const QString side = QLatin1String(c.side);
    QStringList more{QStringLiteral("--operator"), QStringLiteral("P001")};
    if (c.debug)
        more << QStringLiteral("--debug");

    const Tree before = snapshot(inst.root());
    const QStringList foldersBefore = folders(inst.root());
    const ProcessResult dry = inst.batch(side, more + QStringList{QStringLiteral("--dry-run")});
    ASSERT_TRUE(dry.finished) << testing::PrintToString(dry);
    EXPECT_TRUE(snapshot(inst.root()) == before) << qPrintable(dry.out);
    EXPECT_EQ(folders(inst.root()), foldersBefore);
    EXPECT_TRUE(dry.out.contains(QStringLiteral("cartella da creare: "))) << qPrintable(dry.out);
    EXPECT_FALSE(dry.out.contains(QStringLiteral("ERRORE"))) << qPrintable(dry.out);

    const ProcessResult real = inst.batch(side, more + QStringList{QStringLiteral("--yes")});
    ASSERT_TRUE(real.finished) << testing::PrintToString(real);
    EXPECT_EQ(dry.exitCode, real.exitCode) << qPrintable(dry.out) << qPrintable(real.out);

    struct Count
    {
        const char* what;
        QString preview;
        QString run;
    };
    const Count counts[] = {
        {"clients", QStringLiteral("clienti da aggiungere all'archivio locale: (\\d+)"),
         QStringLiteral("clienti aggiunti: (\\d+)")},
        {"visits", QStringLiteral("\\n  VisiteN +-> (\\d+) all'area di scambio, <- (\\d+)"),
         QStringLiteral("\\n  VISITE +Aggiornate: -> *(\\d+) +(\\d+) <-")},
        {"appointments", QStringLiteral("\\n  Appuntamenti +-> (\\d+) all'area di scambio, <- (\\d+)"),
         QStringLiteral("\\n  APPUNTAMENTI +Aggiornati: -> *(\\d+) +(\\d+) <-")},
        {"cards", QStringLiteral("\\nSCHEDE CLIENTI: -> (\\d+)  <- (\\d+)"),
         QStringLiteral("\\n  SCHEDE [^\\n]*Aggiornate: -> *(\\d+) +(\\d+) <-")},
        {"sheets", QStringLiteral("\\nFOGLI CLIENTI: -> (\\d+)  <- (\\d+)"),
         QStringLiteral("\\n  FOGLI [^\\n]*Aggiornati: -> *(\\d+) +(\\d+) <-")},
    };
    int moved = 0;
    for (const Count& k : counts) {
        const QList<int> foretold = numbers(dry.out, k.preview);
        ASSERT_FALSE(foretold.isEmpty()) << k.what << "\n" << qPrintable(dry.out);
        EXPECT_EQ(foretold, numbers(real.out, k.run)) << k.what << "\n"
                                                      << qPrintable(dry.out) << qPrintable(real.out);
        for (int n : foretold)
            moved += n;
    }
    EXPECT_GT(moved, 0) << qPrintable(dry.out);
    const QList<int> questions =
        numbers(dry.out, QStringLiteral("Domande che l'aggiornamento farebbe: (\\d+)"));
    ASSERT_EQ(questions.size(), 1) << qPrintable(dry.out);
    EXPECT_EQ(questions.constFirst(), real.out.count(QStringLiteral("(style 36)"))) << qPrintable(real.out);
    EXPECT_FALSE(dry.out.contains(QStringLiteral("(style 36)"))) << "a dry run asks nothing";
}

INSTANTIATE_TEST_SUITE_P(Cli, Preview,
                         testing::Values(PreviewCase{"desktop", false}, PreviewCase{"portable", true}),
                         [](const testing::TestParamInfo<PreviewCase>& i) {
                             return std::string(i.param.side) + (i.param.debug ? "Debug" : "");
                         });

// Every operator in one batch: the folders that hold no operator database
// are not operators, an operator without its exchange area is reported and
// skipped while the others run, the summary names each, and the status is
// the worst (a failure beats a skip), in a dry run too, which writes nothing.
TEST(Batch, AllOperatorsRunInTurnWithTheWorstStatus)
{
    FixtureInstall inst(3, 2, 3, 5);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    ASSERT_TRUE(QDir().rename(inst.path(QStringLiteral("exchange/P003")), inst.path(QStringLiteral("gone"))));
    QFile damaged(inst.path(QStringLiteral("exchange/P002/VisiteDV.mdb")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write(QByteArray(4096, 'x'));
    damaged.close();

    auto summary = [](const QString& out) {
        const qsizetype at = out.indexOf(QStringLiteral("=== Riepilogo"));
        return at < 0 ? QString() : out.mid(at);
    };
    auto status = [](const QString& table, const QString& code) {
        const QList<int> n = numbers(table, QStringLiteral("\\n  %1 [^\\n]* (\\d+)\\n").arg(code));
        return n.isEmpty() ? -1 : n.constFirst();
    };

    const Tree before = snapshot(inst.root());
    const ProcessResult dry = inst.batch(QStringLiteral("desktop"),
                                         {QStringLiteral("--all-operators"), QStringLiteral("--dry-run")});
    ASSERT_TRUE(dry.finished) << testing::PrintToString(dry);
    EXPECT_TRUE(snapshot(inst.root()) == before);
    EXPECT_EQ(dry.exitCode, 1) << qPrintable(dry.out);
    EXPECT_EQ(status(summary(dry.out), QStringLiteral("P001")), 0) << qPrintable(dry.out);

    const ProcessResult r =
        inst.batch(QStringLiteral("desktop"), {QStringLiteral("--all-operators"), QStringLiteral("--yes")});
    ASSERT_TRUE(r.finished) << testing::PrintToString(r);
    const QString table = summary(r.out);
    ASSERT_FALSE(table.isEmpty()) << qPrintable(r.out);
    EXPECT_TRUE(table.contains(QStringLiteral("(3 operatori)"))) << qPrintable(table);
    EXPECT_EQ(status(table, QStringLiteral("P001")), 0) << qPrintable(table);
    EXPECT_EQ(status(table, QStringLiteral("P002")), 1) << qPrintable(table);
    EXPECT_EQ(status(table, QStringLiteral("P003")), 3) << qPrintable(table);
    EXPECT_TRUE(table.contains(QStringLiteral("area di scambio assente"))) << qPrintable(table);
    for (const char* notOperator : {"TESTI", "FOGLI"})
        EXPECT_FALSE(table.contains(QLatin1String(notOperator))) << qPrintable(table);
    EXPECT_EQ(r.exitCode, 1) << qPrintable(r.out);
    // The operators before and after the failing one ran: P001's visits
    // date and P003's untouched settings.
    QFile ini(inst.ini(QStringLiteral("desktop")));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray bytes = ini.readAll();
    EXPECT_FALSE(exportValue(bytes, QStringLiteral("DATVP001")).isEmpty());
    EXPECT_TRUE(exportValue(bytes, QStringLiteral("DATVP002")).isNull());
}

} // namespace
} // namespace mirsalex::test
