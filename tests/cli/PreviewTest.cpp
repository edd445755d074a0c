#include "CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QJsonObject jsonReport(const ProcessResult& r)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << qPrintable(error.errorString()) << "\n"
                                                     << qPrintable(r.out);
    return doc.object();
}

// The questions of a run (the boxes that ask Yes or No).
int questions(const QJsonObject& report)
{
    int n = 0;
    for (const QJsonValue& m : report[QStringLiteral("messages")].toArray())
        n += m.toObject()[QStringLiteral("style")].toInt() == 36;
    return n;
}

// A dry run changes nothing on disk (bytes, times, folders: also the save
// folders the load would create), and it foretells exactly what the real run
// that follows then does: its exit status, clients added, visits texts, rows
// each way and purged per table, cards and sheets each way, databases
// copied, and as many questions as the run asks.
TEST_P(Preview, ChangesNothingAndForetellsTheRun)
{
    const PreviewCase c = GetParam();
    FixtureInstall inst(2, 6, 8, 29);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const QString side = QLatin1String(c.side);
    QStringList more{QStringLiteral("--operator"), QStringLiteral("P001"), QStringLiteral("--yes")};
    if (c.debug)
        more << QStringLiteral("--debug");
    const QStringList json{QStringLiteral("--report"), QStringLiteral("json")};

    const Tree before = snapshot(inst.root());
    const QStringList foldersBefore = folders(inst.root());
    // The report as the user reads it.
    const ProcessResult text = inst.batch(side, more + QStringList{QStringLiteral("--dry-run")});
    ASSERT_TRUE(text.finished) << testing::PrintToString(text);
    EXPECT_TRUE(snapshot(inst.root()) == before) << qPrintable(text.out);
    EXPECT_EQ(folders(inst.root()), foldersBefore);
    const QString sideName =
        side == QLatin1String("portable") ? QStringLiteral("Portatile") : QStringLiteral("DeskTop");
    EXPECT_TRUE(text.out.contains(QStringLiteral("=== Anteprima per l'operatore P001 (") + sideName +
                                  QStringLiteral("): nulla viene scritto")))
        << qPrintable(text.out);
    EXPECT_TRUE(text.out.contains(QStringLiteral("Contatori (anteprima: "))) << qPrintable(text.out);
    EXPECT_TRUE(text.out.contains(QStringLiteral("Modifiche che l'aggiornamento farebbe:")))
        << qPrintable(text.out);
    EXPECT_FALSE(text.out.contains(QStringLiteral("ERRORE"))) << qPrintable(text.out);

    // The same as JSON, then the real run.
    const ProcessResult dry = inst.batch(side, more + json + QStringList{QStringLiteral("--dry-run")});
    ASSERT_TRUE(dry.finished) << testing::PrintToString(dry);
    EXPECT_TRUE(snapshot(inst.root()) == before) << qPrintable(dry.err);
    EXPECT_EQ(folders(inst.root()), foldersBefore);
    EXPECT_EQ(dry.exitCode, text.exitCode);
    const ProcessResult real = inst.batch(side, more + json);
    ASSERT_TRUE(real.finished) << testing::PrintToString(real);
    EXPECT_EQ(dry.exitCode, real.exitCode) << qPrintable(dry.out) << qPrintable(real.out);

    const QJsonObject foretold = jsonReport(dry);
    const QJsonObject done = jsonReport(real);
    EXPECT_TRUE(foretold[QStringLiteral("dry_run")].toBool());
    EXPECT_FALSE(done[QStringLiteral("dry_run")].toBool(true));
    EXPECT_EQ(foretold[QStringLiteral("exit_status")].toInt(-1), real.exitCode);
    const QJsonObject counters = foretold[QStringLiteral("counters")].toObject();
    EXPECT_EQ(counters, done[QStringLiteral("counters")].toObject())
        << qPrintable(dry.out) << qPrintable(real.out);
    // Something moves.
    auto both = [](const QJsonObject& o, const char* a, const char* b) {
        return o[QLatin1String(a)].toInteger() + o[QLatin1String(b)].toInteger();
    };
    const QJsonObject documents = counters[QStringLiteral("documents")].toObject();
    const qint64 moved =
        counters[QStringLiteral("clients_added")].toInteger() +
        both(counters[QStringLiteral("visits")].toObject(), "to_exchange", "to_local") +
        both(counters[QStringLiteral("appointments")].toObject(), "to_exchange", "to_local") +
        both(documents[QStringLiteral("cards")].toObject(), "sent", "received") +
        both(documents[QStringLiteral("sheets")].toObject(), "sent", "received");
    EXPECT_GT(moved, 0) << qPrintable(dry.out);
    EXPECT_GT(documents[QStringLiteral("databases_copied")].toInt(), 0) << qPrintable(dry.out);
    // The same steps, each ending the same way.
    EXPECT_EQ(foretold[QStringLiteral("steps")], done[QStringLiteral("steps")]);
    // The same changes, in the same order (the keys' values are dates and
    // times, which may differ between the two runs).
    const QJsonArray wouldChange = foretold[QStringLiteral("changes")].toArray();
    const QJsonArray changed = done[QStringLiteral("changes")].toArray();
    ASSERT_EQ(wouldChange.size(), changed.size()) << qPrintable(dry.out) << qPrintable(real.out);
    for (qsizetype i = 0; i < changed.size(); ++i) {
        const QJsonObject a = wouldChange[i].toObject(), b = changed[i].toObject();
        EXPECT_EQ(a[QStringLiteral("kind")], b[QStringLiteral("kind")]) << i;
        EXPECT_EQ(a[QStringLiteral("path")], b[QStringLiteral("path")]) << i;
    }
    // As many questions, each answered as the run answered it.
    EXPECT_GT(questions(done), 0);
    EXPECT_EQ(questions(foretold), questions(done));
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
