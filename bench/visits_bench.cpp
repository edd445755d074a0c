// The visits group against a set-based baseline.
//
// Builds two VisiteDV.mdb with, on each side, 100,000 visits, 50,000
// appointments (one in twenty marked "S") and 20,000 actions (as many
// marked), half of each table on that side only, and action codes partly
// shared. Then, on fresh identical copies, in the same run:
//   ours:     UnisciTabAzioni, SincronizzaAzioni, SincronizzaVisite and
//             SincronizzaAppuntamenti, as a run chains them;
//   baseline: the sqlite3 command-line tool doing the same union and purge
//             set-based, one transaction per database; and the same
//             statements committed pass by pass, as a run commits them.
// Each contender runs five times on fresh copies; the median is reported,
// with the ratio ours/baseline and the peak memory of this process. The two
// results are compared table by table.

#include "BenchSupport.h"
#include "changes/ApplyChanges.h"
#include "common/Prompt.h"
#include "fixture/VisitsData.h"
#include "runtypes/RunState.h"
#include "sync/Schema.h"
#include "sync/VisitsSync.h"

#include <algorithm>
#include <cstdio>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <vector>

using namespace mirsalex;

namespace {

using mirsalex::bench::cpuMs;
using mirsalex::bench::median;
using mirsalex::bench::peakKb;

class BenchPrompt : public Prompt
{
public:
    int messages = 0;

protected:
    int ask(const QString& text, int, const QString&) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return AnswerOk;
    }
};

// Row counts and sums over every table of a visits database, to compare two
// results.
QString summary(const QString& sqliteTool, const QString& path)
{
    QProcess p;
    p.start(sqliteTool,
            {path, QStringLiteral(
                       "SELECT (SELECT count(*) || '/' || group_concat(TbaCodice, '') FROM TabAzioni), "
                       "(SELECT count(*) || '/' || total(AzCliente) FROM Azioni), "
                       "(SELECT count(*) || '/' || total(VsCliente * VsData) || '/' || total(VsVersato) || "
                       "'/' || count(VsPrelevato) FROM VisiteN), "
                       "(SELECT count(*) || '/' || total(ApCliente * ApData) || '/' || count(ApNote) || "
                       "'/' || sum(ApDelete = ' ') FROM Appuntamenti);")});
    p.waitForFinished(-1);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The union of one table: what `to` lacks of `from`, marked rows left out
// and added rows unmarked when the table has a mark.
QString unionOf(const QString& table, const QString& fields, const QString& keyMatch, const QString& mark,
                const QString& from, const QString& to)
{
    QString select = fields;
    if (!mark.isEmpty())
        select += QStringLiteral(", ' '");
    QString names = fields;
    names.replace(QStringLiteral("s."), QString());
    if (!mark.isEmpty())
        names += QStringLiteral(", ") + mark;
    return QStringLiteral("INSERT INTO %1.%2 (%3) SELECT %4 FROM %5.%2 AS s WHERE %6 NOT EXISTS "
                          "(SELECT 1 FROM %1.%2 AS t WHERE %7);\n")
        .arg(to, table, names, select, from,
             mark.isEmpty() ? QString() : QStringLiteral("s.%1 IS NOT 'S' AND").arg(mark), keyMatch);
}

// `stepwise`: the same statements committed as a run must commit them, so
// that the rows stored before a failure stay: each table in turn, first
// what the local database receives, then what the exchange one receives
// with the purge of both.
QString baselineScript(const QString& exchange, bool stepwise = false)
{
    const QString codes =
        QStringLiteral("INSERT INTO %1.TabAzioni SELECT * FROM %2.TabAzioni WHERE TbaCodice "
                       "NOT IN (SELECT TbaCodice FROM %1.TabAzioni);\n");
    struct Table
    {
        QString name, fields, match, mark;
    };
    const Table tables[] = {
        {QStringLiteral("Azioni"), QStringLiteral("s.AzCliente, s.AzCodice"),
         QStringLiteral("t.AzCliente = s.AzCliente AND t.AzCodice = s.AzCodice"), QStringLiteral("AzDelete")},
        {QStringLiteral("VisiteN"),
         QStringLiteral(
             "s.VsCliente, s.VsData, s.VsVersato, s.VsPrelevato, s.VsTrasferitoP, s.VsTrasferitoN, "
             "s.VsSaldo, s.VsDataSaldo, s.VsPercAss, s.VsPercTir, s.VsTipoElenco"),
         QStringLiteral("t.VsCliente = s.VsCliente AND t.VsData = s.VsData"), QString()},
        {QStringLiteral("Appuntamenti"),
         QStringLiteral("s.ApCliente, s.ApData, s.ApAzione, s.ApNote, s.ApStato, s.ApCausa"),
         QStringLiteral("t.ApCliente = s.ApCliente AND t.ApData = s.ApData AND t.ApAzione = s.ApAzione"),
         QStringLiteral("ApDelete")},
    };
    QString script = QStringLiteral("ATTACH DATABASE '%1' AS ex;\n").arg(exchange);
    if (stepwise) {
        const QString main = QStringLiteral("main"), ex = QStringLiteral("ex");
        script += QStringLiteral("BEGIN;\n") + codes.arg(main, ex) + QStringLiteral("COMMIT;\n");
        script += QStringLiteral("BEGIN;\n") + codes.arg(ex, main) + QStringLiteral("COMMIT;\n");
        for (const Table& t : tables) {
            script += QStringLiteral("BEGIN;\n") + unionOf(t.name, t.fields, t.match, t.mark, ex, main) +
                      QStringLiteral("COMMIT;\nBEGIN;\n") +
                      unionOf(t.name, t.fields, t.match, t.mark, main, ex);
            if (!t.mark.isEmpty()) {
                for (const QString& db : {main, ex})
                    script += QStringLiteral("DELETE FROM %1.%2 WHERE %3 = 'S';\n").arg(db, t.name, t.mark);
            }
            script += QStringLiteral("COMMIT;\n");
        }
        return script;
    }
    // One transaction per database: first what the local one receives, and
    // its purge; then what the exchange one receives, and its purge.
    for (const auto& [from, to] : {std::pair{QStringLiteral("ex"), QStringLiteral("main")},
                                   std::pair{QStringLiteral("main"), QStringLiteral("ex")}}) {
        script += QStringLiteral("BEGIN;\n") + codes.arg(to, from);
        for (const Table& t : tables)
            script += unionOf(t.name, t.fields, t.match, t.mark, from, to);
        for (const Table& t : tables) {
            if (!t.mark.isEmpty())
                script += QStringLiteral("DELETE FROM %1.%2 WHERE %3 = 'S';\n").arg(to, t.name, t.mark);
        }
        script += QStringLiteral("COMMIT;\n");
    }
    return script;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // An optional scale (1 = the sizes above), for profiling on fewer rows.
    const double scale = argc > 1 ? qMax(0.001, QByteArray(argv[1]).toDouble()) : 1.0;
    const int visits = int(100000 * scale), appointments = int(50000 * scale), actions = int(20000 * scale);
    const int rounds = 5;
    const quint32 seed = 20240601;
    const QString sqliteTool = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqliteTool.isEmpty()) {
        std::fprintf(stderr, "sqlite3 command-line tool not found\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("local.mdb"));
    const QString exchange = dir.filePath(QStringLiteral("exchange.mdb"));
    // Half of each table on one side only: the local side holds rows
    // [0, n), the exchange side [n/2, 3n/2).
    fixture::VisitsContent mine, theirs;
    mine.clients = theirs.clients = qMax(1, int(50000 * scale));
    mine.codes = {0, 10};
    theirs.codes = {2, 10};
    mine.visits = {0, visits};
    theirs.visits = {visits / 2, visits};
    mine.appointments = {0, appointments};
    theirs.appointments = {appointments / 2, appointments};
    mine.actions = {0, actions};
    theirs.actions = {actions / 2, actions};
    QString error;
    if (!schema::createDatabase(local, schema::Kind::Visits, &error) ||
        !schema::createDatabase(exchange, schema::Kind::Visits, &error) ||
        !fixture::insertVisitsData(local, mine, seed, &error) ||
        !fixture::insertVisitsData(exchange, theirs, seed, &error)) {
        std::fprintf(stderr, "setup failed: %s\n", qPrintable(error));
        return 2;
    }
    const long setupPeak = peakKb();

    std::vector<double> ours, base, stepwiseMs, oursCpu, baseCpu, merge;
    QString oursSummary, baseSummary, stepSummary;
    int result = 0;
    int addedVisits = 0, addedAppointments = 0;
    for (int round = 0; round < rounds; ++round) {
        // Ours: the layout a run sees (operator folder and exchange folder,
        // each with its clients database beside the visits one).
        const QString root = dir.filePath(QStringLiteral("ours%1").arg(round));
        QDir().mkpath(root + QStringLiteral("/dati/001"));
        QDir().mkpath(root + QStringLiteral("/scambio"));
        const QString oursLocal = root + QStringLiteral("/dati/001/VisiteDV.mdb");
        const QString oursExchange = root + QStringLiteral("/scambio/VisiteDV.mdb");
        QFile::copy(local, oursLocal);
        QFile::copy(exchange, oursExchange);
        schema::createDatabase(root + QStringLiteral("/dati/001/DatiDV.mdb"), schema::Kind::Clients);
        schema::createDatabase(root + QStringLiteral("/scambio/DatiDV.mdb"), schema::Kind::Clients);
        BenchPrompt prompt;
        RunRequest request;
        request.configFile = root + QStringLiteral("/bench.ini");
        request.dataFolder = root + QStringLiteral("/dati/");
        request.operatorCode = QStringLiteral("001");
        request.prompt = &prompt;
        request.localClients = root + QStringLiteral("/dati/001/DatiDV.mdb");
        request.exchangeClients = root + QStringLiteral("/scambio/DatiDV.mdb");
        ApplyChanges sink;
        RunState w(request, sink);
        w.ticks.visite = 1;
        QElapsedTimer timer;
        const double cpuBefore = cpuMs(RUSAGE_SELF);
        timer.start();
        for (StepOutcome (*step)(RunState&) :
             {&mergeActionCodes, &syncActions, &syncVisits, &syncAppointments}) {
            const StepOutcome out = step(w);
            if (out.status != StepOutcome::Status::Done) {
                std::fprintf(stderr, "step not done: %s %s\n", qPrintable(out.reason), qPrintable(out.path));
                result = 1;
                break;
            }
        }
        const double stepsMs = double(timer.nsecsElapsed()) / 1e6;
        // The rows left different are compared on the run's side thread
        // once the group is done: the whole is the steps and that end.
        while (!w.sideThread.waitFor(50)) {
        }
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);
        oursCpu.push_back(cpuMs(RUSAGE_SELF) - cpuBefore);
        // The steps without the report of the rows left different.
        merge.push_back(stepsMs - double(w.divergenceNs) / 1e6);
        addedVisits = int(w.tables[kVisiteN].toLocal + w.tables[kVisiteN].toExchange);
        addedAppointments = int(w.tables[kAppuntamenti].toLocal + w.tables[kAppuntamenti].toExchange);
        oursSummary =
            summary(sqliteTool, oursLocal) + QStringLiteral(" | ") + summary(sqliteTool, oursExchange);

        // Baseline, in one transaction per database; then the same
        // statements committed as a run commits them.
        for (const bool stepwise : {false, true}) {
            const QString name = stepwise ? QStringLiteral("step%1_") : QStringLiteral("base%1_");
            const QString baseLocal = dir.filePath(name.arg(round) + QStringLiteral("local.mdb"));
            const QString baseExchange = dir.filePath(name.arg(round) + QStringLiteral("exchange.mdb"));
            QFile::copy(local, baseLocal);
            QFile::copy(exchange, baseExchange);
            QProcess p;
            const double childBefore = cpuMs(RUSAGE_CHILDREN);
            timer.restart();
            p.start(sqliteTool, {baseLocal});
            p.write(baselineScript(baseExchange, stepwise).toUtf8());
            p.closeWriteChannel();
            p.waitForFinished(-1);
            (stepwise ? stepwiseMs : base).push_back(double(timer.nsecsElapsed()) / 1e6);
            if (!stepwise)
                baseCpu.push_back(cpuMs(RUSAGE_CHILDREN) - childBefore);
            if (p.exitCode() != 0) {
                std::fprintf(stderr, "baseline failed: %s\n", p.readAllStandardError().constData());
                return 2;
            }
            (stepwise ? stepSummary : baseSummary) =
                summary(sqliteTool, baseLocal) + QStringLiteral(" | ") + summary(sqliteTool, baseExchange);
        }
    }
    const long runPeak = peakKb();

    std::printf("visits group: per side %d visits, %d appointments, %d actions (half on one side only)\n",
                visits, appointments, actions);
    std::printf("ours (UnisciTabAzioni, SincronizzaAzioni, SincronizzaVisite, SincronizzaAppuntamenti): "
                "%.1f ms (median of %d), visits added %d, appointments added %d\n",
                median(ours), rounds, addedVisits, addedAppointments);
    std::printf("baseline (sqlite3, set-based, one transaction per database): %.1f ms (median of %d)\n",
                median(base), rounds);
    std::printf("ratio ours/baseline: %.2f\n", median(ours) / median(base));
    // The merges alone: the time spent finding the rows left different
    // after them is taken out.
    std::printf("ours without the divergence report: %.1f ms (median of %d)\n", median(merge), rounds);
    std::printf("ratio ours without the divergence report/baseline: %.2f\n", median(merge) / median(base));
    // What the commits cost: a run stores each pass before the next begins
    // (the rows stored before a failure stay), the baseline stores each
    // database once.
    std::printf("baseline committed as a run commits (each pass on its own): %.1f ms (median of %d)\n",
                median(stepwiseMs), rounds);
    std::printf("ratio ours without the divergence report/baseline committed as a run commits: %.2f\n",
                median(merge) / median(stepwiseMs));
    // Less sensitive to other work on the machine than the elapsed times.
    std::printf("processor time: ours %.1f ms, baseline %.1f ms, ratio %.2f\n", median(oursCpu),
                median(baseCpu), median(oursCpu) / median(baseCpu));
    std::printf("peak memory: %ld KB after setup, %ld KB after the runs\n", setupPeak, runPeak);
    std::printf("ours:     %s\n", qPrintable(oursSummary));
    std::printf("baseline: %s\n", qPrintable(baseSummary));
    const bool same = oursSummary == baseSummary && stepSummary == baseSummary;
    std::printf("results agree: %s\n", same ? "yes" : "NO");
    return result == 0 && same ? 0 : 1;
}
