#include "CliSupport.h"

#include <QRegularExpression>

namespace mirsalex::test {
namespace {

// The document groups of operator P001: local folder under each side, exchange folder, name pattern.
struct DocGroup
{
    const char* label;
    QString local;
    QString exchange;
    QString prefix;
    QString suffix;
};

const DocGroup kGroups[] = {
    {"SCHEDE", QStringLiteral("dati/testi/P001/"), QStringLiteral("exchange/P001/SCHEDE/"),
     QStringLiteral("SK"), QStringLiteral(".DOC")},
    {"FOGLI", QStringLiteral("dati/fogli/P001/"), QStringLiteral("exchange/P001/FOGLI/"),
     QStringLiteral("XK"), QStringLiteral(".XLS")},
};

QStringList places(const FixtureInstall& inst, const DocGroup& g)
{
    return {inst.path(QStringLiteral("desktop/") + g.local), inst.path(QStringLiteral("portable/") + g.local),
            inst.path(g.exchange)};
}

// Every document of a group at one place, by upper-cased name.
std::map<QString, FileState> documents(const QString& folder, const DocGroup& g)
{
    std::map<QString, FileState> m;
    for (const QString& n : documentNames(folder, g.prefix, g.suffix))
        m[n.toUpper()] = fileState(folder + n);
    return m;
}

// The counters "-> send receive <-" printed for a group.
bool counters(const QString& out, const char* label, int& send, int& receive)
{
    const QRegularExpression re(
        QStringLiteral("^\\s*%1\\b.*->\\s*(\\d+)\\s+(\\d+) <-").arg(QLatin1String(label)),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = re.match(out);
    if (!m.hasMatch())
        return false;
    send = m.captured(1).toInt();
    receive = m.captured(2).toInt();
    return true;
}

// The printed message boxes: each one's style and the answer taken.
struct Box
{
    int style = -1;
    QString text;
    QString answer;
};

QList<Box> boxes(const QString& out)
{
    QList<Box> list;
    const QRegularExpression head(QStringLiteral("\\] \\(style (\\d+)\\)$"));
    Box* current = nullptr;
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("--- ["))) {
            list.append(Box{});
            current = &list.last();
        }
        if (!current)
            continue;
        const QRegularExpressionMatch m = head.match(line);
        if (m.hasMatch() && current->style < 0) {
            current->style = m.captured(1).toInt();
        } else if (line.startsWith(QLatin1String("  -> "))) {
            current->answer = line.mid(5).trimmed();
            current = nullptr;
        } else if (current->style >= 0) {
            current->text += line.trimmed() + QLatin1Char('\n');
        }
    }
    return list;
}

bool runSql(const QString& database, const QString& sql)
{
    QString tool = qEnvironmentVariable("SQLITE3");
    if (tool.isEmpty())
        tool = QStringLiteral("sqlite3");
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(tool, {database, sql});
    return p.waitForFinished(15000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The ticks of these runs: every group but the visits group, which has tests
// of its own.
const QByteArray kWithoutVisits = "11110";

const QRegularExpression kStamp(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d$"));

// Checks that a configuration file changed only inside [EXPORT], kept every
// line it had there, and kept its line ends.
void expectOnlyExportGrew(const QByteArray& before, const QByteArray& after, const char* side)
{
    const IniParts b = splitIni(before);
    const IniParts a = splitIni(after);
    EXPECT_EQ(a.outside, b.outside) << side << ": lines outside [EXPORT] changed";
    for (const QByteArray& line : b.exportLines)
        EXPECT_TRUE(a.exportLines.contains(line)) << side << ": lost " << line.trimmed().constData();
    for (const QByteArray& line : a.exportLines)
        EXPECT_TRUE(line.endsWith("\r\n")) << side << ": line end changed on " << line.trimmed().constData();
}

void expectCompleted(const ProcessResult& r, const char* what)
{
    ASSERT_TRUE(r.finished) << what << "\n" << testing::PrintToString(r);
    EXPECT_EQ(r.exitCode, 0) << what << "\n" << testing::PrintToString(r);
    EXPECT_TRUE(r.out.contains(QStringLiteral("FINE AGGIORNAMENTO"))) << what;
    EXPECT_TRUE(r.out.contains(QStringLiteral("Esito: completato"))) << what << "\n"
                                                                     << testing::PrintToString(r);
}

TEST(Batch, BothSidesConvergeThroughTheExchangeArea)
{
    FixtureInstall inst(2, 20, 30, 7);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    inst.setTicks(kWithoutVisits);
    const Tree start = snapshot(inst.root());
    const QByteArray iniDesk0 = fileState(inst.ini(QStringLiteral("desktop"))).content;
    const QByteArray iniPort0 = fileState(inst.ini(QStringLiteral("portable"))).content;
    const QString dbDesk = inst.path(QStringLiteral("desktop/dati/P001/DatiDV.mdb"));
    const QString dbPort = inst.path(QStringLiteral("portable/dati/P001/DatiDV.mdb"));
    const QString dbExch = inst.path(QStringLiteral("exchange/P001/DatiDV.mdb"));
    const QSet<qint64> desk0 = clientCodes(dbDesk), port0 = clientCodes(dbPort), exch0 = clientCodes(dbExch);
    ASSERT_FALSE(desk0.isEmpty());
    ASSERT_FALSE((desk0 - port0).isEmpty()) << "the fixture should give each side clients of its own";
    ASSERT_FALSE((port0 - desk0).isEmpty());

    // The newest copy of each document before any run.
    std::vector<std::map<QString, FileState>> newest;
    std::vector<QSet<QString>> ambiguous;
    for (const DocGroup& g : kGroups) {
        std::map<QString, FileState> best;
        QSet<QString> ties;
        for (const QString& folder : places(inst, g)) {
            for (const auto& [name, state] : documents(folder, g)) {
                auto it = best.find(name);
                if (it == best.end() || state.modifiedMs > it->second.modifiedMs) {
                    best[name] = state;
                    ties.remove(name);
                } else if (state.modifiedMs == it->second.modifiedMs &&
                           !(state.content == it->second.content)) {
                    ties.insert(name);
                }
            }
        }
        newest.push_back(best);
        ambiguous.push_back(ties);
    }

    // 1. The portable computer.
    const ProcessResult r1 = inst.batch(QStringLiteral("portable"), {QStringLiteral("--yes")});
    expectCompleted(r1, "first portable run");
    EXPECT_TRUE(r1.out.contains(QStringLiteral("(Portatile)")));
    EXPECT_EQ(clientCodes(dbPort), port0 + exch0) << "portable clients after the first run";
    const QByteArray iniPort1 = fileState(inst.ini(QStringLiteral("portable"))).content;
    expectOnlyExportGrew(iniPort0, iniPort1, "portable");
    EXPECT_EQ(exportValue(iniPort1, QStringLiteral("XPARMP001")), QLatin1String(kWithoutVisits));
    EXPECT_EQ(exportValue(iniPort1, QStringLiteral("OPERATORE")), QStringLiteral("P001"));
    for (const char* key : {"XDTLX0P001", "XDTLX1P001", "XDTLX2P001", "XDATAP001"})
        EXPECT_TRUE(kStamp.match(exportValue(iniPort1, QLatin1String(key))).hasMatch())
            << key << "='" << qPrintable(exportValue(iniPort1, QLatin1String(key))) << "'";
    for (const char* key : {"DTLX1P001", "DATAP001", "XDTLX1P002"})
        EXPECT_TRUE(exportValue(iniPort1, QLatin1String(key)).isNull())
            << key << " written on the portable side";
    EXPECT_EQ(fileState(inst.ini(QStringLiteral("desktop"))).content, iniDesk0)
        << "the other side's file changed";

    // 2. The desktop.
    const ProcessResult r2 = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    expectCompleted(r2, "desktop run");
    EXPECT_TRUE(r2.out.contains(QStringLiteral("(DeskTop)")));
    EXPECT_EQ(clientCodes(dbDesk), desk0 + port0 + exch0) << "desktop clients after the desktop run";
    const QByteArray iniDesk2 = fileState(inst.ini(QStringLiteral("desktop"))).content;
    expectOnlyExportGrew(iniDesk0, iniDesk2, "desktop");
    for (const char* key : {"DTLX0P001", "DTLX1P001", "DTLX2P001", "DATAP001"})
        EXPECT_TRUE(kStamp.match(exportValue(iniDesk2, QLatin1String(key))).hasMatch()) << key;
    EXPECT_TRUE(exportValue(iniDesk2, QStringLiteral("XDTLX1P001")).isNull());

    // 3. The portable computer again: it has nothing left to send.
    const ProcessResult r3 = inst.batch(QStringLiteral("portable"), {QStringLiteral("--yes")});
    expectCompleted(r3, "second portable run");
    for (const DocGroup& g : kGroups) {
        int send = -1, receive = -1;
        ASSERT_TRUE(counters(r3.out, g.label, send, receive)) << g.label << "\n" << qPrintable(r3.out);
        EXPECT_EQ(send, 0) << g.label;
    }

    // Every card and sheet is everywhere, the newest copy of each.
    for (size_t gi = 0; gi < std::size(kGroups); ++gi) {
        const DocGroup& g = kGroups[gi];
        const QStringList folders = places(inst, g);
        const auto reference = documents(folders[2], g);
        EXPECT_EQ(reference.size(), newest[gi].size())
            << g.label << ": documents missing in the exchange folder";
        for (const QString& folder : folders) {
            const auto here = documents(folder, g);
            std::vector<QString> namesHere, namesRef;
            for (const auto& e : here)
                namesHere.push_back(e.first);
            for (const auto& e : newest[gi])
                namesRef.push_back(e.first);
            EXPECT_EQ(namesHere, namesRef) << qPrintable(folder);
            for (const auto& [name, state] : here) {
                const auto ref = reference.find(name);
                ASSERT_NE(ref, reference.end()) << qPrintable(folder + name);
                EXPECT_TRUE(state == ref->second)
                    << qPrintable(folder + name) << " differs from the exchange copy";
                const auto best = newest[gi].find(name);
                if (best != newest[gi].end() && !ambiguous[gi].contains(name)) {
                    EXPECT_TRUE(state.content == best->second.content)
                        << qPrintable(folder + name) << " is not the newest";
                    EXPECT_EQ(state.modifiedMs, best->second.modifiedMs) << qPrintable(folder + name);
                }
            }
        }
    }
    // Clients: both sides and the exchange copy hold every client.
    const QSet<qint64> all = desk0 + port0 + exch0;
    EXPECT_EQ(clientCodes(dbPort), all) << "portable clients after the second portable run";
    EXPECT_EQ(clientCodes(dbDesk), all);
    EXPECT_EQ(clientCodes(dbExch), all);

    // 4. Once more on the desktop: nothing to copy either way.
    const ProcessResult r4 = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    expectCompleted(r4, "second desktop run");
    for (const DocGroup& g : kGroups) {
        int send = -1, receive = -1;
        ASSERT_TRUE(counters(r4.out, g.label, send, receive)) << g.label;
        EXPECT_EQ(send, 0) << g.label;
        EXPECT_EQ(receive, 0) << g.label;
    }

    // The other operator was not touched.
    const Tree end = snapshot(inst.root());
    for (const auto& [name, state] : start) {
        if (!name.contains(QLatin1String("P002")))
            continue;
        const auto it = end.find(name);
        ASSERT_NE(it, end.end()) << qPrintable(name);
        EXPECT_TRUE(it->second == state) << qPrintable(name) << " changed";
    }
    for (const auto& e : end)
        EXPECT_TRUE(!e.first.contains(QLatin1String("P002")) || start.count(e.first))
            << qPrintable(e.first) << " appeared";
}

TEST(Batch, UnattendedQuestionsTakeNo)
{
    FixtureInstall inst(1, 6, 8, 11);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    inst.setTicks(kWithoutVisits);
    const FileState db0 = fileState(inst.path(QStringLiteral("exchange/P001/DatiDV.mdb")));
    const FileState ix0 = fileState(inst.path(QStringLiteral("exchange/P001/IndiciDV.mdb")));
    const ProcessResult r = inst.batch(QStringLiteral("desktop"));
    expectCompleted(r, "desktop run without --yes");
    int questions = 0;
    for (const Box& b : boxes(r.out)) {
        if (b.style == 36) {
            ++questions;
            EXPECT_EQ(b.answer, QStringLiteral("No")) << qPrintable(b.text);
        }
    }
    EXPECT_GT(questions, 0) << qPrintable(r.out);
    EXPECT_TRUE(fileState(inst.path(QStringLiteral("exchange/P001/DatiDV.mdb"))) == db0);
    EXPECT_TRUE(fileState(inst.path(QStringLiteral("exchange/P001/IndiciDV.mdb"))) == ix0);
}

TEST(Batch, AnswerNoToTheDatabaseQuestionKeepsTheExchangeCopy)
{
    FixtureInstall inst(1, 6, 8, 12);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    inst.setTicks(kWithoutVisits);
    const QString dbDesk = inst.path(QStringLiteral("desktop/dati/P001/DatiDV.mdb"));
    const QString dbExch = inst.path(QStringLiteral("exchange/P001/DatiDV.mdb"));
    const QSet<qint64> desk0 = clientCodes(dbDesk);
    // The portable run leaves a newer exchange copy than the desktop's database.
    expectCompleted(inst.batch(QStringLiteral("portable"), {QStringLiteral("--yes")}), "portable run");
    const FileState exch1 = fileState(dbExch);
    const QSet<qint64> exchCodes = clientCodes(dbExch);

    const ProcessResult r =
        inst.batch(QStringLiteral("desktop"),
                   {QStringLiteral("--answers"), QStringLiteral("no"), QStringLiteral("--yes")});
    ASSERT_TRUE(r.finished);
    // Stopped by the answer: not a completed run.
    EXPECT_EQ(r.exitCode, 3) << testing::PrintToString(r);
    EXPECT_TRUE(r.out.contains(QRegularExpression(
        QStringLiteral("^  SincronizzaClienti +interrotto: copia del database non confermata"),
        QRegularExpression::MultilineOption)))
        << qPrintable(r.out);
    EXPECT_TRUE(
        r.out.contains(QStringLiteral("Esito: INCOMPLETO, passi saltati o interrotti: SincronizzaClienti")));
    EXPECT_FALSE(r.out.contains(QStringLiteral("Esito: completato")));
    const QList<Box> list = boxes(r.out);
    ASSERT_FALSE(list.isEmpty()) << qPrintable(r.out);
    EXPECT_EQ(list.first().style, 36);
    EXPECT_TRUE(list.first().text.contains(QStringLiteral("DATABASE ORIGINARIO MENO RECENTE!")))
        << qPrintable(r.out);
    EXPECT_EQ(list.first().answer, QStringLiteral("No"));
    // The later questions take Yes from --yes.
    for (qsizetype i = 1; i < list.size(); ++i) {
        if (list[i].style == 36) {
            EXPECT_EQ(list[i].answer, QStringLiteral("Yes")) << qPrintable(list[i].text);
        }
    }
    EXPECT_TRUE(fileState(dbExch) == exch1) << "the exchange database was replaced after No";
    EXPECT_EQ(clientCodes(dbDesk), desk0 + exchCodes) << "clients are merged before the question";
    const QByteArray ini = fileState(inst.ini(QStringLiteral("desktop"))).content;
    EXPECT_TRUE(exportValue(ini, QStringLiteral("DATAP001")).isNull())
        << "date written though nothing was copied";
    EXPECT_TRUE(exportValue(ini, QStringLiteral("DTLX1P001")).size() > 0) << "the documents still run";
    EXPECT_TRUE(r.out.contains(QStringLiteral("DATI"))) << qPrintable(r.out);
    EXPECT_TRUE(r.err.isEmpty() || !r.err.contains(QStringLiteral("unused"))) << qPrintable(r.err);
    // The desktop's newer indices database still goes out.
    EXPECT_EQ(fileState(inst.path(QStringLiteral("exchange/P001/IndiciDV.mdb"))).content,
              fileState(inst.path(QStringLiteral("desktop/dati/IndiciDV.mdb"))).content);
}

// A Retry/Cancel box takes the scripted answers, then Cancel: it never loops.
struct RetryCase
{
    const char* name;
    QString answers;
    int expectedBoxes;
};

void PrintTo(const RetryCase& c, std::ostream* os)
{
    *os << c.name;
}

class BatchRetry : public ::testing::TestWithParam<RetryCase>
{
};

TEST_P(BatchRetry, EndsWithCancel)
{
    FixtureInstall inst(1, 4, 6, 13);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    inst.setTicks(kWithoutVisits);
    // A local clients database without its table cannot be opened.
    ASSERT_TRUE(runSql(inst.path(QStringLiteral("desktop/dati/P001/DatiDV.mdb")),
                       QStringLiteral("alter table Clienti rename to Vecchi")));
    QStringList args;
    if (!GetParam().answers.isEmpty())
        args << QStringLiteral("--answers") << GetParam().answers;
    const ProcessResult r = inst.batch(QStringLiteral("desktop"), args);
    ASSERT_TRUE(r.finished) << "the program looped\n" << testing::PrintToString(r);
    int retryBoxes = 0;
    QString last;
    for (const Box& b : boxes(r.out)) {
        if (b.style == 53) {
            ++retryBoxes;
            last = b.answer;
            EXPECT_TRUE(b.text.contains(QStringLiteral("ERRORE IN APERTURA ARCHIVIO 'CLIENTI'")))
                << qPrintable(b.text);
        }
    }
    EXPECT_EQ(retryBoxes, GetParam().expectedBoxes) << qPrintable(r.out);
    EXPECT_EQ(last, QStringLiteral("Cancel"));
    EXPECT_TRUE(r.out.contains(QStringLiteral("FINE AGGIORNAMENTO")));
    // The local clients table could not be opened: the clients were not
    // merged, the database was not copied, and the run failed.
    EXPECT_EQ(r.exitCode, 1) << testing::PrintToString(r);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Esito: ERRORE in SincronizzaClienti"))) << qPrintable(r.out);
}

INSTANTIATE_TEST_SUITE_P(Cli, BatchRetry,
                         ::testing::Values(RetryCase{"unattended", QString(), 1},
                                           RetryCase{"twoRetries", QStringLiteral("retry,retry"), 3},
                                           RetryCase{"cancelAtOnce", QStringLiteral("cancel"), 1}),
                         [](const ::testing::TestParamInfo<RetryCase>& p) {
                             return std::string(p.param.name);
                         });

// A local database whose clients could not be read must not replace the
// exchange copy, even when every question is answered Yes.
TEST(Batch, UnreadableLocalDatabaseNeverReplacesTheExchangeCopy)
{
    FixtureInstall inst(1, 4, 6, 14);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const QString dbExch = inst.path(QStringLiteral("exchange/P001/DatiDV.mdb"));
    const QSet<qint64> exch0 = clientCodes(dbExch);
    ASSERT_FALSE(exch0.isEmpty());
    ASSERT_TRUE(runSql(inst.path(QStringLiteral("desktop/dati/P001/DatiDV.mdb")),
                       QStringLiteral("alter table Clienti rename to Vecchi")));
    const ProcessResult r = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    ASSERT_TRUE(r.finished);
    QString error;
    EXPECT_EQ(clientCodes(dbExch, &error), exch0) << "exchange clients lost: " << qPrintable(error) << "\n"
                                                  << qPrintable(r.out);
}

TEST(Batch, FailingStepExitsWithOneAndStopsTheRun)
{
    FixtureInstall inst(1, 6, 8, 15);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const QString dbExch = inst.path(QStringLiteral("exchange/P001/DatiDV.mdb"));
    {
        QFile f(dbExch);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("not a database at all\n");
    }
    const Tree before = snapshot(inst.root());
    const QByteArray ini0 = fileState(inst.ini(QStringLiteral("desktop"))).content;
    const ProcessResult r = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1) << testing::PrintToString(r);
    EXPECT_TRUE(r.out.contains(QStringLiteral("ERRORE IN CONNESSIONE TABELLA CLIENTI"))) << qPrintable(r.out);
    EXPECT_TRUE(r.out.contains(QStringLiteral("FINE AGGIORNAMENTO")));
    EXPECT_FALSE(r.out.contains(QStringLiteral("Esito: completato")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Esito: ERRORE in SincronizzaClienti"))) << qPrintable(r.out);
    EXPECT_TRUE(r.out.contains(QRegularExpression(QStringLiteral("^  SCHEDE CLIENTI +non eseguito"),
                                                  QRegularExpression::MultilineOption)))
        << qPrintable(r.out);
    // No document moved, the exchange file is left as it was, no date written.
    const Tree after = snapshot(inst.root());
    for (const auto& [name, state] : before) {
        if (name.endsWith(QLatin1String(".ini")) ||
            name.endsWith(QLatin1String("desktop/dati/P001/DatiDV.mdb")))
            continue;
        const auto it = after.find(name);
        ASSERT_NE(it, after.end()) << qPrintable(name);
        EXPECT_TRUE(it->second == state) << qPrintable(name) << " changed";
    }
    EXPECT_EQ(after.size(), before.size());
    const QByteArray ini = fileState(inst.ini(QStringLiteral("desktop"))).content;
    expectOnlyExportGrew(ini0, ini, "desktop");
    for (const char* key : {"DATAP001", "DTLX0P001", "DTLX1P001", "DTLX2P001"})
        EXPECT_TRUE(exportValue(ini, QLatin1String(key)).isNull()) << key;
}

// An Access file among the databases stops the run before it changes a byte
// anywhere (the configuration file included), names the command that
// converts it, and exits with 1; that command refuses a file it cannot read
// whole, with status 1, and leaves it as it was.
TEST(Batch, AnAccessFileStopsTheRunAndOneThatCannotBeReadIsNotConverted)
{
    FixtureInstall inst(1, 4, 6, 14);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const QString visits = inst.path(QStringLiteral("exchange/P001/VisiteDV.mdb"));
    QByteArray jet(4096 * 4, '\0');
    jet[1] = 1;
    jet.replace(4, 15, "Standard Jet DB");
    jet[0x14] = 1;
    {
        QFile f(visits);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(jet), jet.size());
    }
    const Tree before = snapshot(inst.root());
    const ProcessResult r = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1) << testing::PrintToString(r);
    EXPECT_TRUE(r.out.contains(QStringLiteral("DATABASE DI ACCESS\n  ") + visits)) << qPrintable(r.out);
    EXPECT_TRUE(r.out.contains(QStringLiteral("mirsalex --import-access --ini ") +
                               inst.ini(QStringLiteral("desktop")) +
                               QStringLiteral(" --operator P001 --side desktop")))
        << qPrintable(r.out);
    EXPECT_TRUE(snapshot(inst.root()) == before) << "the run changed something";

    const ProcessResult import = runProgram(
        mirsalexPath(),
        {QStringLiteral("--import-access"), QStringLiteral("--ini"), inst.ini(QStringLiteral("desktop"))},
        inst.configHome(), inst.root());
    ASSERT_TRUE(import.finished);
    EXPECT_EQ(import.exitCode, 1) << testing::PrintToString(import);
    EXPECT_TRUE(import.out.contains(visits + QStringLiteral(" (Jet 4, Access 2000-2003): NON convertito")))
        << qPrintable(import.out);
    EXPECT_TRUE(snapshot(inst.root()) == before) << "the conversion changed something";
}

// A ticked step that could not run because a file or folder is missing (an
// exchange disk that is not mounted, a group folder removed) is never a
// completed run: the report names the step and the path, and the exit status
// is 3.
struct MissingCase
{
    const char* name;
    QString remove; // below the installation
    const char* step;
    QString reason;
};

void PrintTo(const MissingCase& c, std::ostream* os)
{
    *os << c.name;
}

class BatchMissing : public ::testing::TestWithParam<MissingCase>
{
};

TEST_P(BatchMissing, ExitsWithThreeAndNamesThePath)
{
    const MissingCase& c = GetParam();
    FixtureInstall inst(1, 4, 6, 17);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    inst.setTicks(kWithoutVisits);
    const QString path = inst.path(c.remove);
    ASSERT_TRUE(QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path));
    const ProcessResult r = inst.batch(QStringLiteral("desktop"), {QStringLiteral("--yes")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3) << testing::PrintToString(r);
    const QRegularExpression line(
        QStringLiteral("^  %1 +saltato: %2: (.*)$").arg(QLatin1String(c.step), c.reason),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(r.out);
    ASSERT_TRUE(m.hasMatch()) << qPrintable(r.out);
    EXPECT_EQ(QDir::cleanPath(m.captured(1)), QDir::cleanPath(path));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Esito: INCOMPLETO, passi saltati o interrotti: ") +
                               QLatin1String(c.step)))
        << qPrintable(r.out);
    EXPECT_FALSE(r.out.contains(QStringLiteral("Esito: completato")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("FINE AGGIORNAMENTO")));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BatchMissing,
    ::testing::Values(MissingCase{"exchangeDatabase", QStringLiteral("exchange/P001/DatiDV.mdb"),
                                  "SincronizzaClienti", QStringLiteral("database non trovato")},
                      MissingCase{"groupFolder", QStringLiteral("exchange/P001/SCHEDE"), "SCHEDE CLIENTI",
                                  QStringLiteral("cartella di scambio assente")}),
    [](const ::testing::TestParamInfo<MissingCase>& p) { return std::string(p.param.name); });

struct RefusedCase
{
    const char* name;
    QStringList args;
    QString mention;
};

void PrintTo(const RefusedCase& c, std::ostream* os)
{
    *os << c.name;
}

class BatchRefused : public ::testing::TestWithParam<RefusedCase>
{
};

TEST_P(BatchRefused, ExitsWithTwoAndChangesNothing)
{
    FixtureInstall inst(1, 2, 4, 16);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const Tree before = snapshot(inst.root());
    QStringList args = GetParam().args;
    args.replaceInStrings(QStringLiteral("{ROOT}"), inst.root());
    const ProcessResult r = runProgram(mirsalexPath(), args, inst.configHome(), inst.root());
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(r);
    EXPECT_TRUE(r.all().contains(GetParam().mention)) << testing::PrintToString(r);
    EXPECT_TRUE(snapshot(inst.root()) == before);
    EXPECT_EQ(
        QDir(inst.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList{QStringLiteral("desktop"), QStringLiteral("exchange"), QStringLiteral("portable")}));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BatchRefused,
    ::testing::Values(RefusedCase{"operatorOutsideDataFolder",
                                  {QStringLiteral("--batch"), QStringLiteral("--ini"),
                                   QStringLiteral("{ROOT}desktop/mirsalex.ini"), QStringLiteral("--operator"),
                                   QStringLiteral("../x"), QStringLiteral("--yes")},
                                  QStringLiteral("../x")},
                      RefusedCase{"missingIni",
                                  {QStringLiteral("--batch"), QStringLiteral("--ini"),
                                   QStringLiteral("{ROOT}desktop/nessuno.ini")},
                                  QStringLiteral("File di configurazione inesistente")},
                      RefusedCase{"noOperator",
                                  {QStringLiteral("--batch"), QStringLiteral("--ini"),
                                   QStringLiteral("{ROOT}desktop/mirsalex.ini"), QStringLiteral("--operator"),
                                   QStringLiteral("000")},
                                  QStringLiteral("operat")}),
    [](const ::testing::TestParamInfo<RefusedCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace mirsalex::test
