#include "CliSupport.h"

#include <QTemporaryDir>

namespace mirsalex::test {
namespace {

const QStringList kFixtureArgs = {
    QStringLiteral("--operators"), QStringLiteral("2"),  QStringLiteral("--documents"), QStringLiteral("20"),
    QStringLiteral("--clients"),   QStringLiteral("30"), QStringLiteral("--seed"),      QStringLiteral("7")};

ProcessResult makeFixture(const QString& out, const QString& home, const QStringList& args = kFixtureArgs)
{
    return runProgram(fixturePath(), QStringList{QStringLiteral("--out"), out} + args, home, home);
}

TEST(Fixture, CreatesTheThreePlaces)
{
    QTemporaryDir tmp;
    const QString out = tmp.path() + QStringLiteral("/inst/");
    const ProcessResult r = makeFixture(out, tmp.path());
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << testing::PrintToString(r);
    for (const char* place : {"desktop", "portable", "exchange"})
        EXPECT_TRUE(QFileInfo(out + QLatin1String(place)).isDir()) << place;
    for (const char* side : {"desktop", "portable"}) {
        const QString s = QLatin1String(side);
        EXPECT_TRUE(QFileInfo(out + s + QStringLiteral("/mirsalex.ini")).isFile()) << side;
        for (const char* op : {"P001", "P002"}) {
            const QString o = QLatin1String(op);
            EXPECT_EQ(clientCount(out + s + QStringLiteral("/dati/") + o + QStringLiteral("/DatiDV.mdb")), 30)
                << side << " " << op;
            EXPECT_TRUE(
                QFileInfo(out + s + QStringLiteral("/dati/") + o + QStringLiteral("/VisiteDV.mdb")).isFile());
        }
        EXPECT_TRUE(QFileInfo(out + s + QStringLiteral("/dati/IndiciDV.mdb")).isFile()) << side;
    }
    for (const char* op : {"P001", "P002"}) {
        const QString x = out + QStringLiteral("exchange/") + QLatin1String(op) + QLatin1Char('/');
        EXPECT_GT(clientCount(x + QStringLiteral("DatiDV.mdb")), 0) << op;
        EXPECT_FALSE(documentNames(x + QStringLiteral("SCHEDE"), QStringLiteral("SK"), QStringLiteral(".DOC"))
                         .isEmpty());
        EXPECT_FALSE(documentNames(x + QStringLiteral("FOGLI"), QStringLiteral("XK"), QStringLiteral(".XLS"))
                         .isEmpty());
    }
    // The configuration names the exchange settings of each operator for both sides.
    const QByteArray ini = fileState(out + QStringLiteral("portable/mirsalex.ini")).content;
    EXPECT_FALSE(exportValue(ini, QStringLiteral("XPATHP001")).isEmpty());
    EXPECT_FALSE(exportValue(ini, QStringLiteral("PATHP002")).isEmpty());
}

TEST(Fixture, SameSeedGivesTheSameInstallation)
{
    QTemporaryDir tmp;
    const QString a = tmp.path() + QStringLiteral("/a/");
    const QString b = tmp.path() + QStringLiteral("/b/");
    ASSERT_EQ(makeFixture(a, tmp.path()).exitCode, 0);
    ASSERT_EQ(makeFixture(b, tmp.path()).exitCode, 0);
    const Tree ta = snapshot(a);
    const Tree tb = snapshot(b);
    ASSERT_GT(ta.size(), 40u);
    std::vector<QString> na, nb;
    for (const auto& e : ta)
        na.push_back(e.first);
    for (const auto& e : tb)
        nb.push_back(e.first);
    ASSERT_EQ(na, nb);
    for (const auto& [name, state] : ta) {
        const FileState& other = tb.at(name);
        if (name.endsWith(QLatin1String(".ini"))) {
            // The configuration holds the installation's own folder.
            QByteArray ca = state.content, cb = other.content;
            ca.replace(QFile::encodeName(QDir(a).absolutePath()), "<ROOT>");
            cb.replace(QFile::encodeName(QDir(b).absolutePath()), "<ROOT>");
            EXPECT_EQ(ca, cb) << qPrintable(name);
            continue;
        }
        EXPECT_TRUE(state.content == other.content) << qPrintable(name) << " differs";
        EXPECT_EQ(state.modifiedMs, other.modifiedMs) << qPrintable(name) << " has another date";
    }
}

TEST(Fixture, OtherSeedGivesOtherData)
{
    QTemporaryDir tmp;
    const QString a = tmp.path() + QStringLiteral("/a/");
    const QString b = tmp.path() + QStringLiteral("/b/");
    ASSERT_EQ(makeFixture(a, tmp.path()).exitCode, 0);
    QStringList args = kFixtureArgs;
    args.last() = QStringLiteral("8");
    ASSERT_EQ(makeFixture(b, tmp.path(), args).exitCode, 0);
    const QString db = QStringLiteral("desktop/dati/P001/DatiDV.mdb");
    EXPECT_FALSE(fileState(a + db).content == fileState(b + db).content);
}

TEST(Fixture, RefusesANonEmptyFolder)
{
    QTemporaryDir tmp;
    const QString out = tmp.path() + QStringLiteral("/busy/");
    QDir().mkpath(out);
    {
        QFile f(out + QStringLiteral("keep.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("mine");
    }
    const Tree before = snapshot(out);
    const ProcessResult r = makeFixture(out, tmp.path());
    ASSERT_TRUE(r.finished);
    EXPECT_NE(r.exitCode, 0) << testing::PrintToString(r);
    EXPECT_TRUE(r.err.contains(QStringLiteral("not empty"))) << testing::PrintToString(r);
    EXPECT_TRUE(snapshot(out) == before);
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("keep.txt")});
}

TEST(Fixture, RefusesBadNumbers)
{
    QTemporaryDir tmp;
    for (const QStringList& args : {QStringList{QStringLiteral("--operators"), QStringLiteral("0")},
                                    QStringList{QStringLiteral("--clients"), QStringLiteral("-1")},
                                    QStringList{QStringLiteral("--seed"), QStringLiteral("x")}}) {
        const QString out = tmp.path() + QStringLiteral("/o");
        const ProcessResult r = makeFixture(out, tmp.path(), args);
        EXPECT_EQ(r.exitCode, 2) << qPrintable(args.join(QLatin1Char(' ')));
        EXPECT_FALSE(QFileInfo::exists(out)) << qPrintable(args.join(QLatin1Char(' ')));
    }
}

} // namespace
} // namespace mirsalex::test
