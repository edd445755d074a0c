#include "CliSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace mirsalex::test {
namespace {

struct UsageCase
{
    const char* name;
    QStringList args;
    int exitCode;
    QStringList mustMention; // in stdout + stderr
    bool noDisplay = false;  // run without any display nor Qt platform
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsageTest : public ::testing::TestWithParam<UsageCase>
{
};

TEST_P(UsageTest, ExitCodeAndText)
{
    ASSERT_FALSE(binDir().isEmpty()) << "MIRSALEX_BIN_DIR is not set and no mirsalex in the build tree";
    QTemporaryDir home;
    const UsageCase& c = GetParam();
    const ProcessResult r = runProgram(mirsalexPath(), c.args, home.path(), home.path(), 30000, c.noDisplay);
    ASSERT_TRUE(r.started) << qPrintable(mirsalexPath());
    ASSERT_TRUE(r.finished) << testing::PrintToString(r);
    EXPECT_EQ(r.exitCode, c.exitCode) << testing::PrintToString(r);
    for (const QString& text : c.mustMention)
        EXPECT_TRUE(r.all().contains(text)) << "missing '" << qPrintable(text) << "'\n"
                                            << testing::PrintToString(r);
    // Bad usage never opens a window nor runs a mode: nothing on stdout but help.
    if (c.exitCode == 2) {
        EXPECT_FALSE(r.out.contains(QStringLiteral("FINE AGGIORNAMENTO")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, UsageTest,
    ::testing::Values(
        UsageCase{"help",
                  {QStringLiteral("--help")},
                  0,
                  {QStringLiteral("--show-config"), QStringLiteral("--batch"),
                   QStringLiteral("--set-password"), QStringLiteral("--ini"), QStringLiteral("--side"),
                   QStringLiteral("--answers"), QStringLiteral("Exit statuses"), QStringLiteral("  3  "),
                   QStringLiteral("  4  ")}},
        UsageCase{"version", {QStringLiteral("--version")}, 0, {QStringLiteral("mirsalex")}},
        UsageCase{"unknownOption", {QStringLiteral("--frobnicate")}, 2, {QStringLiteral("frobnicate")}},
        // Without a display the command line is still read and judged first.
        UsageCase{"unknownOptionWithoutDisplay",
                  {QStringLiteral("--bogus")},
                  2,
                  {QStringLiteral("unknown option '--bogus'")},
                  true},
        UsageCase{"windowWithoutDisplay", {}, 2, {QStringLiteral("no display")}, true},
        UsageCase{"helpWithoutDisplay", {QStringLiteral("--help")}, 0, {QStringLiteral("--batch")}, true},
        UsageCase{"sideSideways",
                  {QStringLiteral("--show-config"), QStringLiteral("--side"), QStringLiteral("sideways")},
                  2,
                  {QStringLiteral("--side")}},
        UsageCase{"twoModes", {QStringLiteral("--batch"), QStringLiteral("--show-config")}, 2, {}},
        UsageCase{
            "threeModes",
            {QStringLiteral("--batch"), QStringLiteral("--set-password"), QStringLiteral("--show-config")},
            2,
            {}},
        UsageCase{"strayArgument",
                  {QStringLiteral("--batch"), QStringLiteral("extra")},
                  2,
                  {QStringLiteral("extra")}},
        UsageCase{"optionWithoutValue", {QStringLiteral("--show-config"), QStringLiteral("--ini")}, 2, {}},
        UsageCase{"badAnswer",
                  {QStringLiteral("--batch"), QStringLiteral("--ini"), QStringLiteral("/nonexistent/x.ini"),
                   QStringLiteral("--answers"), QStringLiteral("yes,maybe")},
                  2,
                  {QStringLiteral("maybe")}}),
    [](const ::testing::TestParamInfo<UsageCase>& p) { return std::string(p.param.name); });

TEST(CliVersion, PrintsTheVersionOnOneLine)
{
    QTemporaryDir home;
    const ProcessResult r = runProgram(mirsalexPath(), {QStringLiteral("--version")}, home.path());
    ASSERT_EQ(r.exitCode, 0) << testing::PrintToString(r);
    const QString line = r.out.trimmed();
    EXPECT_FALSE(line.contains(QLatin1Char('\n'))) << qPrintable(r.out);
    EXPECT_TRUE(line.startsWith(QStringLiteral("mirsalex "))) << qPrintable(r.out);
    EXPECT_GT(line.size(), int(sizeof("mirsalex ") - 1)) << "no version number";
}

// The manual page and --help document the same options and every exit
// status.
TEST(CliManual, CoversEveryOptionAndExitStatus)
{
    QFile page(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../docs/mirsalex.1"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << qPrintable(page.fileName());
    const QString man = QString::fromUtf8(page.readAll()).remove(QStringLiteral("\\"));
    QTemporaryDir home;
    const ProcessResult help = runProgram(mirsalexPath(), {QStringLiteral("--help")}, home.path());
    ASSERT_EQ(help.exitCode, 0) << testing::PrintToString(help);
    const QRegularExpression option(QStringLiteral("^\\s+(?:-\\w, )?--([a-z-]+)"),
                                    QRegularExpression::MultilineOption);
    int options = 0;
    for (auto it = option.globalMatch(help.out); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (name == QLatin1String("help-all"))
            continue;
        ++options;
        EXPECT_TRUE(man.contains(QStringLiteral("-") + name)) << "manual page lacks --" << qPrintable(name);
    }
    EXPECT_GE(options, 10);
    const QRegularExpression status(QStringLiteral("^\\.TP\n\\.B (\\d)$"),
                                    QRegularExpression::MultilineOption);
    QStringList statuses;
    for (auto it = status.globalMatch(man); it.hasNext();)
        statuses << it.next().captured(1);
    EXPECT_EQ(statuses, (QStringList{"0", "1", "2", "3", "4"}));
    for (const QString& s : statuses)
        EXPECT_TRUE(help.out.contains(QStringLiteral("\n  ") + s + QStringLiteral("  ")))
            << "--help lacks status " << qPrintable(s);
}

} // namespace
} // namespace mirsalex::test

namespace mirsalex::test {
// A DISPLAY that names no display server (a stale one, left from a closed
// session) is told in one line, with the start-up failure's status, never
// with Qt's abort.
TEST(Usage, StaleDisplayIsToldInOneLine)
{
    QTemporaryDir home;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XAUTHORITY"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":87"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    p.setProcessEnvironment(env);
    p.start(mirsalexPath(), {});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 2) << qPrintable(err);
    EXPECT_EQ(err, QStringLiteral("mirsalex: cannot open the display \":87\"; use --batch, or "
                                  "QT_QPA_PLATFORM=offscreen\n"));
}
} // namespace mirsalex::test
