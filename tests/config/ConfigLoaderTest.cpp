#include "config/ConfigLoader.h"

#include "common/Platform.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

using namespace mirsalex;
using mirsalex::test::ScriptedPrompt;
using mirsalex::test::TempInstall;

namespace {

// An installation whose data folder is "dati/" and whose configuration file
// holds `extra` after the [PATH] FILE line.
struct Loaded
{
    explicit Loaded(const QString& extra, const QString& op = QStringLiteral("A12")) : ctx(prompt)
    {
        dati = inst.makeDir("dati");
        ini = inst.writeIni("[PATH]\nFILE=" + dati + "\n" + extra);
        ctx.config.FileIni = ini;
        ctx.CodOperatore = op;
    }
    void load()
    {
        CaricaPercorsi(ctx);
        CaricaParametri(ctx);
    }
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx;
    QString dati;
    QString ini;
};

QStringList tree(const QString& root)
{
    QStringList out;
    const QDir dir(root);
    for (const QFileInfo& fi : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        out << fi.fileName();
        if (fi.isDir()) {
            for (const QString& sub : tree(fi.filePath()))
                out << fi.fileName() + "/" + sub;
        }
    }
    return out;
}

} // namespace

TEST(LeggiIni, CleansValues)
{
    TempInstall inst;
    const QString ini = inst.writeIni("[PATH]\n"
                                      "C1=C:\\DATI ; cartella dati\n"
                                      "C2=C:\\DATI;X\n"
                                      "C3=C:\\DATI\tnote ; x\n"
                                      "C4=  spaced  \n"
                                      "C5=a ;b ;c\n"
                                      "C6=\" quoted ; part \"\n"
                                      "C7= ;only a comment\n"
                                      "LONG=" +
                                      QString(150, 'x') +
                                      "\n"
                                      "LONGC=" +
                                      QString(98, 'y') + " ;z\n");
    struct Case
    {
        QString key, expected;
    } cases[] = {
        {"C1", "C:\\DATI"},
        {"C2", "C:\\DATI;X"},
        {"C3", "C:\\DATI"},
        {"C4", "spaced"},
        {"C5", "a"},
        {"C6", "quoted"},
        {"C7", ";only a comment"}, // the reader drops the blank before the semicolon
        {"LONG", QString(99, 'x')},
        {"LONGC", QString(98, 'y')},
        {"MISSING", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LeggiIni(ini, "PATH", c.key), c.expected) << c.key.toStdString();
    EXPECT_EQ(LeggiIni(inst.path("none.ini"), "PATH", "C1"), "");
}

TEST(ScriviIni, WritesAndReportsFailures)
{
    TempInstall inst;
    const QString ini = inst.writeIni("[PATH]\nFILE=x\n");
    EXPECT_FALSE(ScriviIni(ini, "EXPORT", "OPERATORE", "A12"));
    EXPECT_EQ(LeggiIni(ini, "EXPORT", "OPERATORE"), "A12");
    ASSERT_EQ(::chmod(QFile::encodeName(ini).constData(), 0444), 0);
    const Error e = ScriviIni(ini, "EXPORT", "OPERATORE", "B7");
    EXPECT_EQ(e.number, 70);
    EXPECT_EQ(MessaggioScritturaIni(e), QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE\n") + ini +
                                            QStringLiteral("\nnon si può scrivere: 70-") + e.text);
    EXPECT_EQ(LeggiIni(ini, "EXPORT", "OPERATORE"), "A12");
}

// A read that failed is kept by the context it was made for, from the load
// of the paths on: another context, or a later load, starts afresh.
TEST(LeggiIni, AFailedReadStaysWithItsContext)
{
    TempInstall inst;
    const QString ini = inst.writeIni("[PATH]\nFILE=x\n[EXPORT]\nOPERATORE=A12\n");
    ScriptedPrompt prompt;
    Context first(prompt), second(prompt);
    first.config.FileIni = second.config.FileIni = ini;
    CaricaPercorsi(first);
    CaricaPercorsi(second);
    platform::setFailureInjector([](const QString& op, const QString&) { return op == "read" ? EIO : 0; });
    EXPECT_EQ(LeggiIni(first, "EXPORT", "OPERATORE"), QString());
    QString failure;
    EXPECT_EQ(LeggiIni(ini, "EXPORT", "OPERATORE", &failure), QString());
    platform::setFailureInjector({});
    EXPECT_TRUE(first.LetturaIniFallita.startsWith(ini + QStringLiteral("\nnon si può leggere: 57-")));
    EXPECT_EQ(failure, first.LetturaIniFallita);
    EXPECT_EQ(LeggiIni(second, "EXPORT", "OPERATORE"), "A12");
    EXPECT_TRUE(second.LetturaIniFallita.isEmpty()) << "another load's reads all went through";
    CaricaPercorsi(first);
    EXPECT_TRUE(first.LetturaIniFallita.isEmpty()) << "a new load starts afresh";
}

TEST(LocateIni, CandidatesInOrder)
{
    struct Case
    {
        const char* name;
        QStringList programFiles; // in the program folder
        QStringList sharedFiles;  // in the shared configuration folder
        bool found;
        QString fileIni; // "P:" prefix = program folder, otherwise a bare name
    } cases[] = {
        {"program name wins", {"mirsalex.ini", "Mirsal.ini"}, {"mirsalex.ini"}, true, "P:mirsalex.ini"},
        {"product name next", {"Mirsal.ini"}, {"mirsalex.ini"}, true, "P:Mirsal.ini"},
        {"found without regard to case", {"MIRSALEX.INI"}, {}, true, "P:MIRSALEX.INI"},
        {"shared folder gives a bare name", {}, {"MIRSALEX.ini", "Mirsal.ini"}, true, "MIRSALEX.ini"},
        {"shared product name last", {}, {"mirsal.INI"}, true, "mirsal.INI"},
        {"none", {}, {}, false, "Mirsal.ini"},
    };
    for (const auto& c : cases) {
        TempInstall inst;
        for (const QString& f : c.programFiles)
            inst.writeIni("[PATH]\n", f);
        for (const QString& f : c.sharedFiles)
            inst.writeIni("[PATH]\n", f, inst.configFolder());
        const IniLocation loc = LocateIni(inst.programFolder(), "mirsalex");
        EXPECT_EQ(loc.found, c.found) << c.name;
        QString expected = c.fileIni;
        if (expected.startsWith("P:"))
            expected = inst.programFolder() + expected.mid(2);
        EXPECT_EQ(loc.fileIni, expected) << c.name;
        if (c.found)
            EXPECT_TRUE(QFileInfo(loc.fullPath).isFile()) << c.name;
        else
            EXPECT_TRUE(loc.fullPath.isEmpty()) << c.name;
    }
}

TEST(LocateIni, OnlyPlainFilesCount)
{
    TempInstall inst;
    inst.makeDir("prog/mirsalex.ini");
    inst.writeIni("[PATH]\n", "Mirsal.ini");
    const IniLocation loc =
        LocateIni(inst.programFolder().chopped(1), "mirsalex"); // folder without separator
    EXPECT_EQ(loc.fileIni, inst.programFolder() + "Mirsal.ini");
}

TEST(CaricaPercorsi, PathsAndDefaults)
{
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx(prompt);
    ctx.config.FileIni =
        inst.writeIni("[PATH]\nFILE=/srv/dati ; data folder\nWORK=/srv/w/\n[BASE]\nOPERATORE= a12 \n");
    CaricaPercorsi(ctx);
    EXPECT_EQ(ctx.config.PathDati, "/srv/dati/");
    EXPECT_EQ(ctx.config.PathWork, "/srv/w/");
    EXPECT_EQ(ctx.config.OperatoreBase, "a12");

    ctx.config.FileIni = inst.writeIni("[PATH]\nFILE=   \n", "empty.ini");
    CaricaPercorsi(ctx);
    EXPECT_EQ(ctx.config.PathDati, platform::driveRoot());
    EXPECT_EQ(ctx.config.PathWork, platform::driveRoot());
    EXPECT_EQ(ctx.config.OperatoreBase, "");
}

TEST(CaricaParametri, DefaultsWithAnEmptyFile)
{
    Loaded l("");
    l.load();
    const Configurazione& c = l.ctx.config;
    EXPECT_EQ(c.DbDati, l.dati + "A12/DatiDV.mdb");
    EXPECT_EQ(c.DbVisite, l.dati + "A12/VisiteDV.mdb");
    EXPECT_EQ(c.DbWork, "/A12/WorkDV.mdb");
    EXPECT_EQ(c.PathModuli, l.dati);
    EXPECT_EQ(c.PathModuliOperatore, l.dati + "A12/");
    EXPECT_EQ(c.PathSave, l.dati + "save/A12/");
    EXPECT_EQ(c.PathStampe, l.dati);
    EXPECT_EQ(c.PathTemp, l.dati + "temp/");
    EXPECT_EQ(c.PathTesti, l.dati);
    EXPECT_EQ(c.PathFogli, l.dati);
    EXPECT_EQ(c.PathImpExp, l.dati + "temp/");
    EXPECT_FALSE(c.FlagMovPos);
    EXPECT_EQ(c.TipoStampa, "V");
    EXPECT_EQ(c.CodLire, "LIT");
    EXPECT_EQ(c.CodEuro, "EUR");
    EXPECT_EQ(c.CodBase, "EUR");
    EXPECT_DOUBLE_EQ(c.CambioLire, 1936.27);
    EXPECT_EQ(c.ColoreEvidenza, 0x0080FFFFu);
    EXPECT_EQ(c.FormatoImporti, "#,###,###,##0.00");
    EXPECT_EQ(c.Mandato1, 9);
    EXPECT_EQ(c.Mandato2, 9);
    EXPECT_EQ(c.CauSaldoIniPiu, "SI+");
    EXPECT_EQ(c.CauSaldoIniMeno, "SI-");
    EXPECT_EQ(c.CauPiu, "PM+");
    EXPECT_EQ(c.CauMeno, "PM-");
    EXPECT_EQ(c.Periodo, 4);
    EXPECT_EQ(c.AnnoSolare, QDate::currentDate().year() - 1);
    EXPECT_EQ(c.VitaRiv, "");
    EXPECT_TRUE(QFileInfo(l.dati + "save/A12").isDir());
    EXPECT_TRUE(QFileInfo(l.dati + "temp").isDir());
}

TEST(CaricaParametri, EmptyOperatorGivesADoubleSeparator)
{
    Loaded l("", "");
    l.ctx.config.PathModuliOperatore = "previous";
    l.load();
    EXPECT_EQ(l.ctx.config.DbDati, l.dati + "/DatiDV.mdb");
    EXPECT_EQ(l.ctx.config.PathModuliOperatore, "previous"); // not recomputed
    EXPECT_EQ(l.ctx.config.PathSave, l.dati + "save//");
}

TEST(CaricaParametri, PercentMarksAPerOperatorFolder)
{
    Loaded l("");
    const QString tmp = l.inst.path("tmp/");
    QFile::remove(l.ini);
    l.ini =
        l.inst.writeIni("[PATH]\nFILE=" + l.dati + "\nTEMP=" + tmp + "%\nTESTI=" + l.dati + "testi%rest\n");
    l.ctx.config.FileIni = l.ini;
    l.load();
    EXPECT_EQ(l.ctx.config.PathTemp, tmp + "A12/");
    EXPECT_TRUE(QFileInfo(tmp + "A12").isDir());
    EXPECT_EQ(l.ctx.config.PathTesti, l.dati + "testi/A12/");
    EXPECT_EQ(l.ctx.config.PathFogli, l.dati + "testi/A12/");
    EXPECT_EQ(l.ctx.config.PathImpExp, tmp + "A12/");
}

TEST(CaricaParametri, FolderFailuresAreReportedAndLoadingGoesOn)
{
    Loaded l("");
    const QString missing = l.inst.path("no/such/");
    QFile::remove(l.ini);
    l.ini = l.inst.writeIni("[PATH]\nFILE=" + l.dati + "\nSAVE=" + missing + "save\nTEMP=" + missing +
                            "temp\n[STAMPA]\nTIPO=P\n");
    l.ctx.config.FileIni = l.ini;
    l.ctx.config.PathTemp = "previous";
    l.prompt.expect("ERRORE SAVE\n" + missing + "save/\n76-Impossibile trovare il percorso", AnswerOk, 0)
        .expect("ERRORE SAVE\n" + missing + "save/A12/\n76-", AnswerOk, 0)
        .expect("ERRORE TEMP\n" + missing + "temp/\n76-Impossibile trovare il percorso", AnswerOk, 0);
    l.load();
    EXPECT_EQ(l.prompt.messages.size(), 3);
    EXPECT_EQ(l.prompt.messages.value(0).title, applicationTitle());
    EXPECT_EQ(l.ctx.config.PathSave, missing + "save/A12/");
    EXPECT_EQ(l.ctx.config.PathTemp, "");
    EXPECT_EQ(l.ctx.config.PathImpExp, "");  // its default, the TEMP folder, is empty: never the root
    EXPECT_EQ(l.ctx.config.TipoStampa, "P"); // later steps still ran
}

TEST(CaricaParametri, SheetsFolderOfAFailedCardsFolderStaysEmpty)
{
    Loaded l("");
    const QString missing = l.inst.path("no/such/");
    QFile::remove(l.ini);
    l.ini = l.inst.writeIni("[PATH]\nFILE=" + l.dati + "\nTESTI=" + missing + "testi\n");
    l.ctx.config.FileIni = l.ini;
    l.prompt.expect("ERRORE TESTI\n" + missing + "testi/\n76-", AnswerOk, 0);
    l.load();
    EXPECT_EQ(l.prompt.messages.size(), 1); // one failure, one message
    EXPECT_EQ(l.ctx.config.PathTesti, "");
    EXPECT_EQ(l.ctx.config.PathFogli, ""); // not the root folder
    EXPECT_EQ(l.ctx.config.PathImpExp, l.dati + "temp/");
}

TEST(PreparaCartella, MarkerTooFarAndDeviceErrors)
{
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx(prompt);
    ctx.CodOperatore = "A12";
    const QString longPath = inst.path(QString(300, 'x') + "%");
    prompt.expect("ERRORE TEMP\n" + longPath + "\n64-", AnswerOk, 0);
    EXPECT_EQ(PreparaCartella(ctx, "TEMP", longPath), "");

    platform::setFailureInjector(
        [](const QString& op, const QString&) { return op == "mkdir" ? ENOSPC : 0; });
    prompt.expect("ERRORE FOGLI\n" + inst.path("f/") + "\n61-Disco pieno", AnswerOk, 0);
    EXPECT_EQ(PreparaCartella(ctx, "FOGLI", inst.path("f")), "");
    platform::setFailureInjector({});
    EXPECT_EQ(PreparaCartella(ctx, "FOGLI", inst.path("f")), inst.path("f/"));
}

TEST(CaricaParametri, NumericAndTextParameters)
{
    auto mandato = [](int first, int second) {
        return [=](const Configurazione& c) {
            EXPECT_EQ(c.Mandato1, first);
            EXPECT_EQ(c.Mandato2, second);
        };
    };
    struct Case
    {
        QString ini;
        std::function<void(const Configurazione&)> check;
    } cases[] = {
        {"DECIMALI=0", [](const Configurazione& c) { EXPECT_EQ(c.FormatoImporti, "###,###,##0"); }},
        {"DECIMALI=3", [](const Configurazione& c) { EXPECT_EQ(c.FormatoImporti, "#,###,###,##0.000"); }},
        {"DECIMALI=2.5", [](const Configurazione& c) { EXPECT_EQ(c.FormatoImporti, "#,###,###,##0.00"); }},
        {"DECIMALI=3.5", [](const Configurazione& c) { EXPECT_EQ(c.FormatoImporti, "#,###,###,##0.0000"); }},
        {"DECIMALI=abc", [](const Configurazione& c) { EXPECT_EQ(c.FormatoImporti, "#,###,###,##0.00"); }},
        {"DECIMALI=-1", [](const Configurazione& c) { EXPECT_EQ(c.FormatoImporti, "###,###,##0"); }},
        {"DECIMALI=1e9", [](const Configurazione& c) { EXPECT_EQ(c.FormatoImporti, "#,###,###,##0.00"); }},
        {"MANDATO=3-5", mandato(3, 5)},
        {"MANDATO=0-5", mandato(9, 5)},
        {"MANDATO=35", mandato(9, 9)},
        {"MANDATO=300-1", mandato(9, 1)},
        {"MANDATO=12abc-x7", mandato(12, 9)},
        {"MANDATO=2.5-3.5", mandato(2, 4)},
        {"MANDATO=1 2-4-6", mandato(12, 4)},
        {"MANDATO=-", mandato(9, 9)},
        {"Periodo=12", [](const Configurazione& c) { EXPECT_EQ(c.Periodo, 12); }},
        {"Periodo=256", [](const Configurazione& c) { EXPECT_EQ(c.Periodo, 4); }},
        {"Periodo=x", [](const Configurazione& c) { EXPECT_EQ(c.Periodo, 4); }},
        {"AnnoSolare=1999", [](const Configurazione& c) { EXPECT_EQ(c.AnnoSolare, 1999); }},
        {"AnnoSolare=99999",
         [](const Configurazione& c) { EXPECT_EQ(c.AnnoSolare, QDate::currentDate().year() - 1); }},
        {"cmmovpos= s ", [](const Configurazione& c) { EXPECT_TRUE(c.FlagMovPos); }},
        {"cmmovpos=SI", [](const Configurazione& c) { EXPECT_FALSE(c.FlagMovPos); }},
        {"SaldoIni+=X+\nCauMinus=M-\nvitariv= raw ",
         [](const Configurazione& c) {
             EXPECT_EQ(c.CauSaldoIniPiu, "X+");
             EXPECT_EQ(c.CauMeno, "M-");
             EXPECT_EQ(c.VitaRiv, "raw");
         }},
        {"[STAMPA]\nTIPO=d", [](const Configurazione& c) { EXPECT_EQ(c.TipoStampa, "V"); }},
        {"[STAMPA]\nTIPO=Dettaglio", [](const Configurazione& c) { EXPECT_EQ(c.TipoStampa, "D"); }},
        {"[STAMPA]\nTIPO=P", [](const Configurazione& c) { EXPECT_EQ(c.TipoStampa, "P"); }},
        {"[EURO]\nLIRE=abc", [](const Configurazione& c) { EXPECT_DOUBLE_EQ(c.CambioLire, 1936.27); }},
        {"[EURO]\nLIRE=2000.5", [](const Configurazione& c) { EXPECT_DOUBLE_EQ(c.CambioLire, 2000.5); }},
        {"[EURO]\nCODEUR=EU\nCODLIT=L",
         [](const Configurazione& c) {
             EXPECT_EQ(c.CodEuro, "EU");
             EXPECT_EQ(c.CodBase, "EU");
             EXPECT_EQ(c.CodLire, "L");
         }},
        {"[EURO]\nCODBASE=LIT", [](const Configurazione& c) { EXPECT_EQ(c.CodBase, "LIT"); }},
        {"[REPORT]\nMODULI=/srv/mod",
         [](const Configurazione& c) {
             EXPECT_EQ(c.PathModuli, "/srv/mod");
             EXPECT_EQ(c.PathModuliOperatore, "/srv/modA12/");
         }},
    };
    for (const auto& c : cases) {
        const QString extra = c.ini.startsWith('[') ? c.ini + "\n" : "[PARAMETRI]\n" + c.ini + "\n";
        Loaded l(extra);
        l.load();
        SCOPED_TRACE(c.ini.toStdString());
        c.check(l.ctx.config);
    }
}

TEST(CaricaParametri, UnsafeOperatorCodesCreateNoFolder)
{
    for (const QString& op : {QStringLiteral("../../evil"), QStringLiteral(".."), QStringLiteral("A/B"),
                              QStringLiteral("A\\B"), QStringLiteral("A:B"), QStringLiteral("A*"),
                              QString("A") + QChar(0) + "B", QStringLiteral("A\tB")}) {
        TempInstall inst;
        const QString dati = inst.makeDir("base/dati");
        ScriptedPrompt prompt;
        Context ctx(prompt);
        ctx.config.FileIni = inst.writeIni("[PATH]\nFILE=" + dati + "\nTEMP=" + dati + "tmp/%\n");
        ctx.CodOperatore = op;
        // The per-operator TEMP folder is refused with a message, not silently.
        prompt.expect("ERRORE TEMP\n" + dati + "tmp/" + op + "\n64-Nome di file non valido", AnswerOk,
                      MsgStyle::Ok);
        CaricaPercorsi(ctx);
        CaricaParametri(ctx);
        SCOPED_TRACE(op.toStdString());
        EXPECT_EQ(prompt.pending(), 0);
        EXPECT_EQ(ctx.config.DbDati, "");
        EXPECT_EQ(ctx.config.DbVisite, "");
        EXPECT_EQ(ctx.config.DbWork, "");
        EXPECT_EQ(ctx.config.PathModuliOperatore, "");
        EXPECT_EQ(ctx.config.PathSave, "");
        EXPECT_EQ(ctx.config.PathTemp, "");
        EXPECT_EQ(ctx.config.PathImpExp, "");
        // Only the shared folders exist; nothing named after the code anywhere.
        QStringList all = tree(inst.path("base"));
        all.sort();
        EXPECT_EQ(all, QStringList({"dati", "dati/save", "dati/tmp"}));
        EXPECT_FALSE(QFileInfo::exists(inst.root() + "evil"));
    }
}

TEST(CodiceOperatoreValido, Table)
{
    const std::pair<QString, bool> cases[] = {
        {"A12", true},   {"001", true},  {"00", true},    {"0", false},
        {"", false},     {"/", false},   {"-1", false},   {"A/B", false},
        {"A\\B", false}, {"..", false},  {"A..B", false}, {"A:B", false},
        {"A?", false},   {"A|B", false}, {"A<B", false},  {"A\"", false},
        {"A.", false},   {"A ", false},  {"CON", false},  {"com1", false},
        {"CONTO", true}, {"Z99", true},  {"a12", true},   {QString("A\x01"), false},
    };
    for (const auto& [code, valid] : cases)
        EXPECT_EQ(CodiceOperatoreValido(code), valid) << code.toStdString();
}

// A configuration file that cannot serve says what is wrong with it, once,
// instead of every value silently taking its default; an operator code longer
// than the limit is not taken from the file.
TEST(CaricaPercorsi, TellsWhatIsWrongWithTheFile)
{
    const QString longCode = QString(40, QLatin1Char('A'));
    struct Case
    {
        const char* name;
        QByteArray content;
        int readError;   // injected on reading the file
        QString problem; // beginning of the reason, empty for none
    } cases[] = {
        {"sound", "[BASE]\nOPERATORE=A12\n", 0, {}},
        {"empty", "", 0, {}},
        {"comments only", "; nothing yet\n\n", 0, {}},
        {"unreadable", "[BASE]\nOPERATORE=A12\n", EACCES, "Il file non si può leggere: 70-"},
        {"binary junk",
         QByteArray("\x7f"
                    "ELF\0\0\x01garbage",
                    14),
         0, "Il file non è un file di testo"},
        {"no section", "this is not\na configuration file\n", 0, "Il file non contiene nessuna sezione"},
        {"code too long", "[BASE]\nOPERATORE=" + longCode.toLatin1() + "\n", 0,
         "[BASE] OPERATORE: codice operatore troppo lungo"},
        {"stored code too long", "[EXPORT]\nOPERATORE=ABCDEFGHIJKLMN\n", 0, "[EXPORT] OPERATORE: codice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempInstall inst;
        ScriptedPrompt prompt;
        Context ctx(prompt);
        ctx.config.FileIni = inst.writeFile(QStringLiteral("prog/Mirsal.ini"), c.content);
        platform::setFailureInjector(
            [&](const QString& op, const QString&) { return op == QLatin1String("read") ? c.readError : 0; });
        if (!c.problem.isEmpty())
            prompt.expect(QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE\n") + ctx.config.FileIni +
                              QLatin1Char('\n') + c.problem,
                          AnswerOk, MsgStyle::ExclamationOk);
        CaricaPercorsi(ctx);
        platform::setFailureInjector({});
        EXPECT_EQ(ctx.ProblemaIni.isEmpty(), c.problem.isEmpty()) << ctx.ProblemaIni.toStdString();
        EXPECT_EQ(prompt.messages.size(), c.problem.isEmpty() ? 0 : 1);
    }
    EXPECT_FALSE(CodiceOperatoreValido(QStringLiteral("ABCDEFGHIJKLMN"))) << "14 characters";
    EXPECT_TRUE(CodiceOperatoreValido(QStringLiteral("ABCDEFGHIJKLM"))) << "13 characters";
}

TEST(ProductName, IsMirsal)
{
    EXPECT_EQ(productName(), "Mirsal");
}
