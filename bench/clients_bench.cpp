// Clients synchronisation against a set-based baseline.
//
// Builds an exchange DatiDV.mdb with 50,000 clients, 25,000 of which are not
// in the local one (and a fifth of the shared ones carry a different visits
// text), then on identical copies:
//   ours:     SincronizzaClienti (every question answered Yes, except the
//             "DATABASE ORIGINARIO MENO RECENTE!" one: the exchange copy is
//             made newer so that question comes up and is declined, which
//             leaves the file copy out of the measure). What is timed is the
//             merge: open, attach, walk, additions, visits updates, close.
//   baseline: the sqlite3 command-line tool doing the same additions (with
//             the same normalised fields) and visits updates set-based in
//             one transaction. Both must end with the same rows (the two
//             summary lines printed last).
// Five rounds on fresh copies; prints the median times (elapsed and
// processor), their ratios (ours/baseline) and the peak memory.

#include "BenchSupport.h"
#include "changes/ApplyChanges.h"
#include "common/Prompt.h"
#include "db/Database.h"
#include "fixture/ClientData.h"
#include "runtypes/RunState.h"
#include "sync/ClientsSync.h"
#include "sync/ClientTransfer.h"
#include "sync/Schema.h"

#include <cstdio>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <unistd.h>

using namespace mirsalex;

namespace {

using mirsalex::bench::cpuMs;
using mirsalex::bench::median;
using mirsalex::bench::peakKb;

class BenchPrompt : public Prompt
{
public:
    int questions = 0;
    int messages = 0;

protected:
    int ask(const QString& text, int style, const QString&) override
    {
        ++messages;
        if (MsgStyle::buttons(style) == MsgStyle::YesNo) {
            ++questions;
            return text.startsWith(QLatin1String("DATABASE ORIGINARIO MENO RECENTE!")) ? AnswerNo : AnswerYes;
        }
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return AnswerOk;
    }
};

bool runSql(const QString& path, const QString& sql)
{
    Database db;
    return !db.open(path) && !db.execute(sql);
}

QString summary(const QString& sqliteTool, const QString& path)
{
    QProcess p;
    p.start(sqliteTool,
            {path, QStringLiteral("SELECT count(*), sum(length(CliVisite)), "
                                  "sum(CliVisite = rpad) FROM (SELECT CliVisite, "
                                  "substr(CliVisite || '             ', 1, 13) AS rpad FROM Clienti);")});
    p.waitForFinished(-1);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // An optional count of exchange clients (for profiling on fewer rows).
    const int total = argc > 1 ? qMax(10, QByteArray(argv[1]).toInt()) : 50000;
    const int shared = total / 2;
    const quint32 seed = 20240601;
    const QString sqliteTool = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqliteTool.isEmpty()) {
        std::fprintf(stderr, "sqlite3 command-line tool not found\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("local.mdb"));
    const QString exchange = dir.filePath(QStringLiteral("exchange.mdb"));
    QString error;
    if (!schema::createDatabase(local, schema::Kind::Clients, &error) ||
        !schema::createDatabase(exchange, schema::Kind::Clients, &error) ||
        !fixture::insertClients(exchange, 1, total, seed, &error) ||
        !fixture::insertClients(local, 1, shared, seed, &error)) {
        std::fprintf(stderr, "setup failed: %s\n", qPrintable(error));
        return 2;
    }
    // A fifth of the shared clients have new visits marks on the other side.
    if (!runSql(exchange, QStringLiteral("UPDATE Clienti SET CliVisite = 'SNSNSNSNSNSNS' "
                                         "WHERE CliCodice <= %1 AND CliCodice % 5 = 0")
                              .arg(shared))) {
        std::fprintf(stderr, "setup update failed\n");
        return 2;
    }
    const long setupPeak = peakKb();
    // MX_BENCH_KEEP=<folder> keeps a copy of both files there, to try
    // statements on by hand.
    if (const QByteArray keep = qgetenv("MX_BENCH_KEEP"); !keep.isEmpty()) {
        QFile::copy(local, QString::fromLocal8Bit(keep) + QStringLiteral("/local.mdb"));
        QFile::copy(exchange, QString::fromLocal8Bit(keep) + QStringLiteral("/exchange.mdb"));
    }

    auto copy = [&](const QString& from, const QString& name) {
        const QString to = dir.filePath(name);
        QFile::remove(to);
        QFile::copy(from, to);
        return to;
    };

    // Baseline: the same work in plain SQL. New clients get their fields
    // normalised as the program stores them (a blank for an empty text, 0
    // for a missing number), so that both end with the same rows.
    QString names, values;
    for (const ClientField& f : kClientFields) {
        const QString name = QLatin1String(f.name);
        names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + name;
        values +=
            (values.isEmpty() ? QString() : QStringLiteral(", ")) +
            (f.numeric
                 ? QStringLiteral("coalesce(%1, 0)").arg(name)
                 : QStringLiteral("CASE WHEN %1 IS NULL OR trim(%1) = '' THEN ' ' ELSE %1 END").arg(name));
    }
    const QString baseExchange = dir.filePath(QStringLiteral("base_ex_DatiDV.mdb"));
    const QString script =
        QStringLiteral(
            "ATTACH DATABASE '%1' AS ex;\n"
            "BEGIN;\n"
            "UPDATE main.Clienti SET CliVisite = substr(coalesce(nullif(trim(e.CliVisite), ''), ' ') || "
            "'             ', 1, 13) FROM ex.Clienti AS e WHERE e.CliCodice = Clienti.CliCodice AND "
            "substr(coalesce(nullif(trim(e.CliVisite), ''), ' ') || '             ', 1, 13) <> "
            "substr(coalesce(nullif(trim(Clienti.CliVisite), ''), ' ') || '             ', 1, 13);\n"
            "INSERT INTO main.Clienti (%2) SELECT %3 FROM ex.Clienti WHERE CliCodice NOT IN "
            "(SELECT CliCodice FROM main.Clienti);\n"
            "COMMIT;\n")
            .arg(baseExchange, names, values);

    // Five rounds, each on fresh copies, ours then the baseline: the medians
    // are compared.
    constexpr int kRounds = 5;
    std::vector<double> oursMs, oursCpuMs, baseMs, baseCpuMs, mergeMs;
    QString oursLocal, baseLocal;
    qint16 result = 0;
    int questions = 0;
    long syncPeak = 0;
    for (int round = 0; round < kRounds; ++round) {
        oursLocal = copy(local, QStringLiteral("ours_DatiDV.mdb"));
        const QString oursExchange = copy(exchange, QStringLiteral("ours_ex_DatiDV.mdb"));
        baseLocal = copy(local, QStringLiteral("base_DatiDV.mdb"));
        copy(exchange, QStringLiteral("base_ex_DatiDV.mdb"));
        const QDateTime now = QDateTime::currentDateTime();
        {
            QFile f(oursLocal);
            f.open(QIODevice::ReadWrite);
            f.setFileTime(now.addDays(-2), QFileDevice::FileModificationTime);
            QFile g(oursExchange);
            g.open(QIODevice::ReadWrite);
            g.setFileTime(now.addDays(-1), QFileDevice::FileModificationTime);
        }
        // The copies reach the disk before anything is timed: their writing
        // back would otherwise slow whichever contender runs first.
        ::sync();

        // Ours.
        BenchPrompt prompt;
        RunRequest request;
        request.configFile = dir.filePath(QStringLiteral("bench.ini"));
        request.operatorCode = QStringLiteral("001");
        request.prompt = &prompt;
        request.localClients = oursLocal;
        request.exchangeClients = oursExchange;
        ApplyChanges sink;
        RunState w(request, sink);
        QElapsedTimer timer;
        const double cpuBefore = cpuMs(RUSAGE_SELF);
        timer.start();
        result = syncClients(w).result();
        const double stepMs = double(timer.nsecsElapsed()) / 1e6;
        // The rows left different are compared on the run's side thread:
        // the whole is the step and that comparison's end.
        while (!w.sideThread.waitFor(50)) {
        }
        oursMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        oursCpuMs.push_back(cpuMs(RUSAGE_SELF) - cpuBefore);
        // The step without the report of the rows left different.
        mergeMs.push_back(stepMs - double(w.divergenceNs) / 1e6);
        questions = prompt.questions;
        syncPeak = peakKb();

        // Baseline.
        QProcess p;
        const double childBefore = cpuMs(RUSAGE_CHILDREN);
        timer.restart();
        p.start(sqliteTool, {baseLocal});
        p.write(script.toUtf8());
        p.closeWriteChannel();
        p.waitForFinished(-1);
        baseMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        baseCpuMs.push_back(cpuMs(RUSAGE_CHILDREN) - childBefore);
        if (qEnvironmentVariableIsSet("MX_BENCH_ROUNDS"))
            std::fprintf(stderr,
                         "round %d: ours %.1f ms (processor %.1f, merge alone %.1f), baseline %.1f ms "
                         "(processor %.1f)\n",
                         round + 1, oursMs.back(), oursCpuMs.back(), mergeMs.back(), baseMs.back(),
                         baseCpuMs.back());
        if (p.exitCode() != 0) {
            std::fprintf(stderr, "baseline failed: %s\n", p.readAllStandardError().constData());
            return 2;
        }
    }

    std::printf("clients: exchange %d, local %d, new %d, visits changed %d\n", total, shared, total - shared,
                shared / 5);
    std::printf(
        "ours (SincronizzaClienti, merge only): %.1f ms (processor %.1f ms, median of %d), result %d, "
        "questions %d\n",
        median(oursMs), median(oursCpuMs), kRounds, result, questions);
    std::printf("baseline (sqlite3, set-based, one transaction): %.1f ms (processor %.1f ms, median of %d)\n",
                median(baseMs), median(baseCpuMs), kRounds);
    std::printf("ratio ours/baseline: %.2f\n", median(oursMs) / median(baseMs));
    // The merge alone: the time spent finding the rows left different after
    // it is taken out.
    std::printf("ours without the divergence report: %.1f ms (median of %d)\n", median(mergeMs), kRounds);
    std::printf("ratio ours without the divergence report/baseline: %.2f\n",
                median(mergeMs) / median(baseMs));
    // Less sensitive to other work on the machine than the elapsed times.
    std::printf("processor ratio ours/baseline: %.2f\n",
                median(baseCpuMs) > 0 ? median(oursCpuMs) / median(baseCpuMs) : 0.0);
    std::printf("peak memory: %ld KB after setup, %ld KB after the synchronisation\n", setupPeak, syncPeak);
    std::printf("ours:     %s\n", qPrintable(summary(sqliteTool, oursLocal)));
    std::printf("baseline: %s\n", qPrintable(summary(sqliteTool, baseLocal)));
    return result == 0 ? 0 : 1;
}
