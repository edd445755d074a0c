#include "CliSupport.h"

#include <QTemporaryDir>

namespace mirsalex::test {
namespace {

// The Name=value lines of --show-config output.
std::map<QString, QString> fields(const QString& out)
{
    std::map<QString, QString> m;
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && !line.startsWith(QLatin1Char('[')))
            m[line.left(eq)] = line.mid(eq + 1);
    }
    return m;
}

void writeText(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    const QByteArray bytes = text.toLatin1();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

struct IniCase
{
    const char* name;
    QString ini;                         // {ROOT} stands for the temporary root (with trailing separator)
    QStringList args;                    // further options
    std::map<QString, QString> expected; // {ROOT} and {INI} expanded
    QStringList folders;                 // folders (under {ROOT}) a start would create
    QStringList make = {QStringLiteral("dati"), QStringLiteral("da;ti"),
                        QStringLiteral("d")}; // made beforehand
    QStringList mention = {};                 // texts the output must hold
    int status = 0;                           // exit status: 2 when the load reported an error
};

void PrintTo(const IniCase& c, std::ostream* os)
{
    *os << c.name;
}

class ShowConfigIniTest : public ::testing::TestWithParam<IniCase>
{
};

const QString kBaseIni = QStringLiteral("; configurazione di prova\r\n"
                                        "[PATH]\r\n"
                                        "FILE={ROOT}dati ; cartella dei dati\r\n"
                                        "WORK = {ROOT}work\r\n"
                                        "TEMP={ROOT}tmp/%\r\n"
                                        "[BASE]\r\n"
                                        "OPERATORE=abc1\r\n"
                                        "[PARAMETRI]\r\n"
                                        "DECIMALI=3\r\n"
                                        "MANDATO=3-5\r\n");

TEST_P(ShowConfigIniTest, PrintsLoadedValues)
{
    const IniCase& c = GetParam();
    QTemporaryDir tmp;
    const QString root = tmp.path() + QStringLiteral("/");
    const QString iniPath = root + QStringLiteral("conf/prova.ini");
    writeText(iniPath, QString(c.ini).replace(QStringLiteral("{ROOT}"), root));
    for (const QString& folder : c.make)
        QDir().mkpath(root + folder);
    QStringList args = {QStringLiteral("--show-config"), QStringLiteral("--ini"), iniPath};
    args << c.args;
    const ProcessResult r = runProgram(mirsalexPath(), args, root + QStringLiteral("xdg"), root);
    ASSERT_TRUE(r.finished) << testing::PrintToString(r);
    ASSERT_EQ(r.exitCode, c.status) << testing::PrintToString(r);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Configuration file: ") + iniPath)) << qPrintable(r.out);
    // Each folder a start would create is listed once.
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("Would create: "))) {
            EXPECT_EQ(lines.count(line), 1) << qPrintable(r.out);
        }
    }
    const auto got = fields(r.out);
    for (const auto& [key, value] : c.expected) {
        const QString want =
            QString(value).replace(QStringLiteral("{ROOT}"), root).replace(QStringLiteral("{INI}"), iniPath);
        const auto it = got.find(key);
        ASSERT_NE(it, got.end()) << "no line " << qPrintable(key) << "=\n" << qPrintable(r.out);
        EXPECT_EQ(it->second, want) << qPrintable(key);
    }
    // A diagnostic writes nothing: the folders a start would create are listed.
    for (const QString& folder : c.folders) {
        EXPECT_FALSE(QFileInfo::exists(root + folder)) << qPrintable(folder) << " was created";
        EXPECT_TRUE(r.out.contains(QStringLiteral("Would create: ") + root + folder)) << qPrintable(r.out);
    }
    for (const QString& text : c.mention)
        EXPECT_TRUE(r.out.contains(QString(text).replace(QStringLiteral("{ROOT}"), root)))
            << qPrintable(text) << "\n"
            << qPrintable(r.out);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ShowConfigIniTest,
    ::testing::Values(
        IniCase{"exportOperator",
                kBaseIni + QStringLiteral("[EXPORT]\r\nOPERATORE=Z99\r\n"),
                {},
                {{QStringLiteral("FileIni"), QStringLiteral("{INI}")},
                 {QStringLiteral("PathDati"), QStringLiteral("{ROOT}dati/")},
                 {QStringLiteral("PathWork"), QStringLiteral("{ROOT}work/")},
                 {QStringLiteral("OperatoreBase"), QStringLiteral("abc1")},
                 {QStringLiteral("CodOperatore"), QStringLiteral("Z99")},
                 {QStringLiteral("DbDati"), QStringLiteral("{ROOT}dati/Z99/DatiDV.mdb")},
                 {QStringLiteral("DbVisite"), QStringLiteral("{ROOT}dati/Z99/VisiteDV.mdb")},
                 {QStringLiteral("PathTemp"), QStringLiteral("{ROOT}tmp/Z99/")},
                 {QStringLiteral("PathTesti"), QStringLiteral("{ROOT}dati/")},
                 {QStringLiteral("PathFogli"), QStringLiteral("{ROOT}dati/")},
                 {QStringLiteral("PathImpExp"), QStringLiteral("{ROOT}tmp/Z99/")},
                 {QStringLiteral("PathSave"), QStringLiteral("{ROOT}dati/save/Z99/")},
                 {QStringLiteral("FormatoImporti"), QStringLiteral("#,###,###,##0.000")},
                 {QStringLiteral("Mandato1"), QStringLiteral("3")},
                 {QStringLiteral("Mandato2"), QStringLiteral("5")},
                 {QStringLiteral("TipoStampa"), QStringLiteral("V")},
                 {QStringLiteral("CodEuro"), QStringLiteral("EUR")},
                 {QStringLiteral("CodLire"), QStringLiteral("LIT")},
                 {QStringLiteral("Periodo"), QStringLiteral("4")}},
                {QStringLiteral("tmp/Z99"), QStringLiteral("dati/save/Z99")}},
        IniCase{"baseOperatorUpperCased",
                kBaseIni,
                {},
                {{QStringLiteral("OperatoreBase"), QStringLiteral("abc1")},
                 {QStringLiteral("CodOperatore"), QStringLiteral("ABC1")},
                 {QStringLiteral("PathTemp"), QStringLiteral("{ROOT}tmp/ABC1/")}},
                {QStringLiteral("tmp/ABC1")}},
        IniCase{"operatorOptionOverrides",
                kBaseIni + QStringLiteral("[EXPORT]\r\nOPERATORE=Z99\r\n"),
                {QStringLiteral("--operator"), QStringLiteral("Q77")},
                {{QStringLiteral("CodOperatore"), QStringLiteral("Q77")},
                 {QStringLiteral("DbDati"), QStringLiteral("{ROOT}dati/Q77/DatiDV.mdb")},
                 {QStringLiteral("PathTemp"), QStringLiteral("{ROOT}tmp/Q77/")}},
                {QStringLiteral("tmp/Q77")}},
        IniCase{"otherParameters",
                QStringLiteral("[PATH]\nFILE={ROOT}da;ti\t; tab\n[BASE]\nOPERATORE=K1\n"
                               "[PARAMETRI]\nDECIMALI=0\nMANDATO=0-5\n[STAMPA]\nTIPO=Dettaglio\n"
                               "[EURO]\nLIRE=abc\nCODEUR= EURO \n"),
                {},
                {{QStringLiteral("PathDati"), QStringLiteral("{ROOT}da;ti/")},
                 {QStringLiteral("FormatoImporti"), QStringLiteral("###,###,##0")},
                 {QStringLiteral("Mandato1"), QStringLiteral("9")},
                 {QStringLiteral("Mandato2"), QStringLiteral("5")},
                 {QStringLiteral("TipoStampa"), QStringLiteral("D")},
                 {QStringLiteral("CambioLire"), QStringLiteral("1936.27")},
                 {QStringLiteral("CodEuro"), QStringLiteral("EURO")},
                 {QStringLiteral("CodBase"), QStringLiteral("EURO")},
                 {QStringLiteral("PathTemp"), QStringLiteral("{ROOT}da;ti/temp/")}},
                {QStringLiteral("da;ti/temp")}},
        IniCase{"defaults",
                QStringLiteral("[PATH]\nFILE={ROOT}d\n[PARAMETRI]\nDECIMALI=x\n[EXPORT]\nOPERATORE=A12\n"),
                {},
                {{QStringLiteral("FormatoImporti"), QStringLiteral("#,###,###,##0.00")},
                 {QStringLiteral("Mandato1"), QStringLiteral("9")},
                 {QStringLiteral("Mandato2"), QStringLiteral("9")},
                 {QStringLiteral("OperatoreBase"), QString()},
                 {QStringLiteral("CodOperatore"), QStringLiteral("A12")},
                 {QStringLiteral("PathModuli"), QStringLiteral("{ROOT}d/")},
                 {QStringLiteral("PathModuliOperatore"), QStringLiteral("{ROOT}d/A12/")}},
                {QStringLiteral("d/temp")}},
        // Folders are made one level at a time: a missing data folder is
        // reported and its subfolders stay unset.
        IniCase{"missingDataFolder",
                QStringLiteral("[PATH]\nFILE={ROOT}nodata\n[EXPORT]\nOPERATORE=A12\n"),
                {},
                {{QStringLiteral("PathDati"), QStringLiteral("{ROOT}nodata/")},
                 {QStringLiteral("PathTemp"), QString()},
                 {QStringLiteral("CodOperatore"), QStringLiteral("A12")}},
                {},
                {},
                {QStringLiteral("ERRORE SAVE\n{ROOT}nodata/save/\n76-"),
                 QStringLiteral("ERRORE TEMP\n{ROOT}nodata/temp/\n76-")},
                2}),
    [](const ::testing::TestParamInfo<IniCase>& p) { return std::string(p.param.name); });

TEST(ShowConfig, MissingIniIsReported)
{
    QTemporaryDir tmp;
    const QString missing = tmp.path() + QStringLiteral("/nessuno.ini");
    const ProcessResult r =
        runProgram(mirsalexPath(), {QStringLiteral("--show-config"), QStringLiteral("--ini"), missing},
                   tmp.path(), tmp.path());
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(r);
    EXPECT_TRUE(r.all().contains(QStringLiteral("File di configurazione inesistente")))
        << testing::PrintToString(r);
    EXPECT_FALSE(QFileInfo::exists(missing)) << "the configuration file must never be created";
}

// Operator codes that would name a folder outside the data folder are
// refused before any folder is made.
class ShowConfigBadOperator : public ::testing::TestWithParam<const char*>
{
};

TEST_P(ShowConfigBadOperator, RefusedWithoutCreatingFolders)
{
    QTemporaryDir tmp;
    const QString root = tmp.path() + QStringLiteral("/");
    const QString iniPath = root + QStringLiteral("inst/prova.ini");
    writeText(iniPath,
              QStringLiteral("[PATH]\nFILE=%1inst/dati/\nTEMP=%1inst/dati/tmp/%\nTESTI=%1inst/dati/testi/%\n")
                  .arg(root));
    QDir().mkpath(root + QStringLiteral("inst/dati"));
    const Tree before = snapshot(root);
    const QStringList dirsBefore =
        QDir(root + QStringLiteral("inst")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const ProcessResult r = runProgram(mirsalexPath(),
                                       {QStringLiteral("--show-config"), QStringLiteral("--ini"), iniPath,
                                        QStringLiteral("--operator"), QString::fromUtf8(GetParam())},
                                       root + QStringLiteral("xdg"), root);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(r);
    // Nothing beside or above the data folder, and nothing inside it either.
    EXPECT_EQ(QDir(root + QStringLiteral("inst")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              dirsBefore);
    EXPECT_EQ(QDir(root + QStringLiteral("inst/dati")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("x")));
    EXPECT_TRUE(snapshot(root) == before);
}

INSTANTIATE_TEST_SUITE_P(Cli, ShowConfigBadOperator, ::testing::Values("../x", "../../x", "a/b", "/x", ".."));

// The search without --ini: beside the program (program name, then product
// name), then in the shared configuration folder (XDG_CONFIG_HOME).
struct SearchCase
{
    const char* name;
    QStringList files;  // "prog/NAME" or "xdg/NAME"; a trailing "/" makes a folder of that name
    QString expectedAt; // the file found ("prog/..." or "xdg/..."), empty: none
    QString fileIni;    // expected FileIni: "{FULL}" for the full path, else a bare name
};

void PrintTo(const SearchCase& c, std::ostream* os)
{
    *os << c.name;
}

class ShowConfigSearch : public ::testing::TestWithParam<SearchCase>
{
public:
    static void SetUpTestSuite()
    {
        s_tmp = new QTemporaryDir;
        s_copy = s_tmp->path() + QStringLiteral("/bin/mirsalex");
        QDir().mkpath(s_tmp->path() + QStringLiteral("/bin"));
        if (QFile::copy(mirsalexPath(), s_copy))
            QFile::setPermissions(s_copy, QFile::permissions(mirsalexPath()));
        else
            s_copy.clear();
    }
    static void TearDownTestSuite()
    {
        delete s_tmp;
        s_tmp = nullptr;
    }
    static QTemporaryDir* s_tmp;
    static QString s_copy;
};

QTemporaryDir* ShowConfigSearch::s_tmp = nullptr;
QString ShowConfigSearch::s_copy;

TEST_P(ShowConfigSearch, FindsTheFirstCandidate)
{
    const SearchCase& c = GetParam();
    ASSERT_FALSE(s_copy.isEmpty()) << "cannot copy the program";
    const QString progDir = QFileInfo(s_copy).absolutePath() + QStringLiteral("/");
    QTemporaryDir tmp;
    const QString root = tmp.path() + QStringLiteral("/");
    const QString xdg = root + QStringLiteral("xdg/");
    QDir().mkpath(xdg);
    auto place = [&](const QString& where) {
        return where.startsWith(QLatin1String("prog/")) ? progDir + where.mid(5) : xdg + where.mid(4);
    };
    for (const QString& f : c.files) {
        const QString full = place(f);
        if (f.endsWith(QLatin1Char('/'))) {
            QDir().mkpath(full);
        } else {
            // Each file names its own base operator, so the output shows which one was read.
            writeText(full, QStringLiteral("[PATH]\nFILE=%1dati/\n[BASE]\nOPERATORE=%2\n")
                                .arg(root, QFileInfo(full).fileName().section(QLatin1Char('.'), 0, 0) +
                                               f.section(QLatin1Char('/'), 0, 0)));
        }
    }
    // The data folder the files name is there: the load reports no error.
    QDir().mkpath(root + QStringLiteral("dati"));
    const ProcessResult r = runProgram(s_copy, {QStringLiteral("--show-config")}, xdg, root);
    // The program folder is shared by the cases: clean it whatever happened.
    for (const QString& f : c.files) {
        if (f.startsWith(QLatin1String("prog/"))) {
            const QString full = place(f);
            if (f.endsWith(QLatin1Char('/')))
                QDir(full).removeRecursively();
            else
                QFile::remove(full);
        }
    }
    ASSERT_TRUE(r.finished) << testing::PrintToString(r);
    if (c.expectedAt.isEmpty()) {
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(r);
        EXPECT_TRUE(r.err.contains(QStringLiteral("File di configurazione inesistente")))
            << testing::PrintToString(r);
        return;
    }
    ASSERT_EQ(r.exitCode, 0) << testing::PrintToString(r);
    const QString full = place(c.expectedAt);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Configuration file: ") + full)) << qPrintable(r.out);
    const auto got = fields(r.out);
    EXPECT_EQ(got.at(QStringLiteral("FileIni")), c.fileIni == QLatin1String("{FULL}") ? full : c.fileIni);
    const QString tag = QFileInfo(full).fileName().section(QLatin1Char('.'), 0, 0) +
                        c.expectedAt.section(QLatin1Char('/'), 0, 0);
    EXPECT_EQ(got.at(QStringLiteral("OperatoreBase")), tag)
        << "values were not read from " << qPrintable(full);
    EXPECT_EQ(got.at(QStringLiteral("PathDati")), root + QStringLiteral("dati/"));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ShowConfigSearch,
    ::testing::Values(SearchCase{"programNameBesideProgram",
                                 {QStringLiteral("prog/mirsalex.ini"), QStringLiteral("prog/Mirsal.ini"),
                                  QStringLiteral("xdg/mirsalex.ini")},
                                 QStringLiteral("prog/mirsalex.ini"),
                                 QStringLiteral("{FULL}")},
                      SearchCase{"productNameBesideProgram",
                                 {QStringLiteral("prog/Mirsal.ini"), QStringLiteral("xdg/mirsalex.ini")},
                                 QStringLiteral("prog/Mirsal.ini"),
                                 QStringLiteral("{FULL}")},
                      SearchCase{"sharedFolderProgramName",
                                 {QStringLiteral("xdg/mirsalex.ini"), QStringLiteral("xdg/Mirsal.ini")},
                                 QStringLiteral("xdg/mirsalex.ini"),
                                 QStringLiteral("mirsalex.ini")},
                      SearchCase{"sharedFolderProductName",
                                 {QStringLiteral("xdg/Mirsal.ini")},
                                 QStringLiteral("xdg/Mirsal.ini"),
                                 QStringLiteral("Mirsal.ini")},
                      SearchCase{"folderIsNoConfigurationFile",
                                 {QStringLiteral("prog/mirsalex.ini/"), QStringLiteral("xdg/Mirsal.ini")},
                                 QStringLiteral("xdg/Mirsal.ini"),
                                 QStringLiteral("Mirsal.ini")},
                      SearchCase{"noneFound", {}, QString(), QString()},
                      SearchCase{"onlyFolders",
                                 {QStringLiteral("prog/Mirsal.ini/"), QStringLiteral("xdg/mirsalex.ini/")},
                                 QString(),
                                 QString()}),
    [](const ::testing::TestParamInfo<SearchCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace mirsalex::test
