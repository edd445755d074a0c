// Whole run benchmark: the real `mirsalex --batch` on one operator with
// 50,000 clients and 10,000 documents (cards and sheets), first on the
// portable side and then on the desktop side, as the promoter and the branch
// would run it, against a baseline of standard tools doing the same work in
// the same run on an identical copy of the installation:
//   clients:   sqlite3 adding the clients only the exchange copy has and
//              taking over the visits texts, set-based in one transaction;
//              then the newer DatiDV.mdb copied to the exchange area;
//   indices:   the newer IndiciDV.mdb copied to the exchange area;
//   documents: rsync -rtu both ways for the cards and for the sheets.
// Prints for each round (3 by default, on fresh copies, the order of the two
// contenders alternating) and side the elapsed time and the peak memory of
// ours and of the baseline, the ratios ours/baseline and their median, and
// checks that both leave the same clients counts and document trees. Ours
// runs twice on fresh copies, with versions (as installed) and without them
// (--no-versions): the two times and their ratio are printed side by side.
// The run with versions reports in JSON the time it spent finding the rows
// both sides hold differently: printed with its share of the run, beside the
// time its side thread spent comparing them while the steps went on.
//
//   whole_run_bench [--clients N] [--documents N] [--rounds R] [--program-folder DIR]
//                   [--exchange-on DIR] [--keep]
//
// --exchange-on puts the exchange area of every copy in DIR, on another file
// system (say /dev/shm) than the data and the versions folder, as it is for
// an exchange area on a removable disk: there a version cannot be a link to
// the file it keeps, and ours pays for the copies.
//
// --keep leaves the installations and the programs' output in the temporary
// folder it names at the end.
//
// The installation comes from mirsalex-fixture; each timed run is a child
// process whose own resource usage (wait4) gives its peak memory, so the
// generator and the copies made between runs never count.

#include "BenchSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using mirsalex::bench::cpuMs;
using mirsalex::bench::median;
using mirsalex::bench::peakKb;

const char* const kOperator = "P001";

struct Measure
{
    double seconds = 0;
    long peakKb = 0;
    int status = -1; // exit status, -1 when it did not exit normally
};

// Runs a program with standard input from /dev/null and its output into
// `outputFile` (its standard output alone into `reportFile` when given), and
// measures it: elapsed time, and its peak resident memory (with that of its
// own children) from wait4.
Measure timed(const QString& program, const QStringList& args, const QString& outputFile,
              const QString& reportFile = QString())
{
    std::vector<QByteArray> argBytes{QFile::encodeName(program)};
    for (const QString& a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const QByteArray out = QFile::encodeName(outputFile);
    const QByteArray report = QFile::encodeName(reportFile);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, out.constData(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    if (report.isEmpty())
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, report.constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);

    Measure m;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return m;
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    m.seconds = double(timer.nsecsElapsed()) / 1e9;
    m.peakKb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return m;
}

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Copies the generated installation and points its configuration files at
// the copy (the generator writes absolute paths).
// With `exchangeOn`, the exchange area moves there and `to`/exchange becomes
// a link to it (for the comparisons; the program is given the real path).
bool copyInstallation(const QString& master, const QString& to, const QString& exchangeOn = QString())
{
    if (!run(QStringLiteral("cp"), {QStringLiteral("-a"), master, to}))
        return false;
    const QString exchange = to + QStringLiteral("exchange");
    QString moved;
    if (!exchangeOn.isEmpty()) {
        moved = exchangeOn + QDir(to).dirName() + QStringLiteral("-exchange");
        QDir(moved).removeRecursively();
        if (!run(QStringLiteral("mv"), {exchange, moved}) || !QFile::link(moved, exchange))
            return false;
    }
    for (const char* side : {"desktop", "portable"}) {
        const QString ini = to + QLatin1String(side) + QStringLiteral("/mirsalex.ini");
        QByteArray text = readFile(ini);
        text.replace(QFile::encodeName(master), QFile::encodeName(to));
        if (!moved.isEmpty())
            text.replace(QFile::encodeName(exchange + QLatin1Char('/')),
                         QFile::encodeName(moved + QLatin1Char('/')));
        QFile f(ini);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
            return false;
    }
    return true;
}

// name -> (content hash, modification time) of every file under root.
QMap<QString, QPair<QByteArray, qint64>> snapshot(const QString& root)
{
    QMap<QString, QPair<QByteArray, qint64>> out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out.insert(path.mid(root.size()), {QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1),
                                           QFileInfo(path).lastModified().toSecsSinceEpoch()});
    }
    return out;
}

// The document folders of the installation, for the comparison.
QStringList documentFolders(const QString& root)
{
    const QString op = QLatin1String(kOperator);
    QStringList out;
    for (const char* side : {"desktop", "portable"}) {
        out << root + QLatin1String(side) + QStringLiteral("/dati/testi/") + op + QLatin1Char('/');
        out << root + QLatin1String(side) + QStringLiteral("/dati/fogli/") + op + QLatin1Char('/');
    }
    out << root + QStringLiteral("exchange/") + op + QStringLiteral("/SCHEDE/");
    out << root + QStringLiteral("exchange/") + op + QStringLiteral("/FOGLI/");
    return out;
}

// From a run's JSON report: the milliseconds of the whole run, those the
// run spent finding the rows both sides hold differently, and those its side
// thread spent comparing them beside the steps (-1 when unknown).
struct ReportTimes
{
    double run = -1;
    double divergences = -1;
    double side = -1;
};
ReportTimes reportTimes(const QString& reportFile)
{
    const QJsonObject o = QJsonDocument::fromJson(readFile(reportFile)).object();
    const QJsonObject d = o.value(QStringLiteral("divergences")).toObject();
    return {o.value(QStringLiteral("duration_ms")).toDouble(-1),
            d.value(QStringLiteral("duration_ms")).toDouble(-1),
            d.value(QStringLiteral("side_ms")).toDouble(-1)};
}

QString count(const QString& sqlite3, const QString& database, const QString& table)
{
    QProcess p;
    p.start(sqlite3,
            {QStringLiteral("-readonly"), database, QStringLiteral("SELECT count(*) FROM %1;").arg(table)});
    p.waitForFinished(-1);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Rows of every database of the installation, one text for the comparison.
QString databaseCounts(const QString& sqlite3, const QString& root)
{
    const QString op = QLatin1String(kOperator);
    QStringList out;
    const QString places[] = {QStringLiteral("portable/dati/") + op, QStringLiteral("exchange/") + op,
                              QStringLiteral("desktop/dati/") + op};
    for (const QString& place : places) {
        QString counts =
            place + QStringLiteral(": clients ") + count(sqlite3, root + place + "/DatiDV.mdb", "Clienti");
        const QString visits = root + place + "/VisiteDV.mdb";
        counts += QStringLiteral(", visits ") + count(sqlite3, visits, "VisiteN") +
                  QStringLiteral(", appointments ") + count(sqlite3, visits, "Appuntamenti") +
                  QStringLiteral(", actions ") + count(sqlite3, visits, "Azioni") +
                  QStringLiteral(", action codes ") + count(sqlite3, visits, "TabAzioni");
        out << counts;
    }
    return out.join(QStringLiteral("; "));
}

// The baseline's work for one side, as a shell script of standard tools.
QString baselineScript(const QString& root, const QString& side)
{
    const QString op = QLatin1String(kOperator);
    const QString local = root + side + QStringLiteral("/dati/");
    const QString exchange = root + QStringLiteral("exchange/") + op + QLatin1Char('/');
    const QString visits =
        QStringLiteral("substr(coalesce(nullif(trim(%1), ''), ' ') || '             ', 1, 13)");
    return QStringLiteral(
               "set -e\n"
               // Clients: additions and visits texts in one transaction, then
               // the newer whole file to the exchange area.
               "sqlite3 '%1%3/DatiDV.mdb' <<'EOF'\n"
               "ATTACH DATABASE '%2DatiDV.mdb' AS ex;\n"
               "BEGIN;\n"
               "UPDATE main.Clienti SET CliVisite = %4 FROM ex.Clienti AS e "
               "WHERE e.CliCodice = Clienti.CliCodice AND %4 <> %5;\n"
               "INSERT INTO main.Clienti SELECT * FROM ex.Clienti WHERE CliCodice NOT IN "
               "(SELECT CliCodice FROM main.Clienti);\n"
               "COMMIT;\n"
               "EOF\n"
               "rsync -tu '%1%3/DatiDV.mdb' '%2DatiDV.mdb'\n"
               // Visits group: action codes, then actions, visits and
               // appointments both ways (unmarked rows only, added with
               // the mark " "), then the purge of the marks, in one
               // transaction.
               "sqlite3 '%1%3/VisiteDV.mdb' <<'EOF'\n"
               "ATTACH DATABASE '%2VisiteDV.mdb' AS ex;\n"
               "BEGIN;\n"
               "INSERT INTO main.TabAzioni SELECT * FROM ex.TabAzioni WHERE TbaCodice NOT IN "
               "(SELECT TbaCodice FROM main.TabAzioni);\n"
               "INSERT INTO ex.TabAzioni SELECT * FROM main.TabAzioni WHERE TbaCodice NOT IN "
               "(SELECT TbaCodice FROM ex.TabAzioni);\n"
               "INSERT INTO main.Azioni SELECT AzCliente, AzCodice, ' ' FROM ex.Azioni AS s "
               "WHERE s.AzDelete IS NOT 'S' AND NOT EXISTS (SELECT 1 FROM main.Azioni AS t "
               "WHERE t.AzCliente = s.AzCliente AND t.AzCodice = s.AzCodice);\n"
               "INSERT INTO ex.Azioni SELECT AzCliente, AzCodice, ' ' FROM main.Azioni AS s "
               "WHERE s.AzDelete IS NOT 'S' AND NOT EXISTS (SELECT 1 FROM ex.Azioni AS t "
               "WHERE t.AzCliente = s.AzCliente AND t.AzCodice = s.AzCodice);\n"
               "INSERT INTO main.VisiteN SELECT * FROM ex.VisiteN AS s WHERE NOT EXISTS "
               "(SELECT 1 FROM main.VisiteN AS t WHERE t.VsCliente = s.VsCliente AND t.VsData = s.VsData);\n"
               "INSERT INTO ex.VisiteN SELECT * FROM main.VisiteN AS s WHERE NOT EXISTS "
               "(SELECT 1 FROM ex.VisiteN AS t WHERE t.VsCliente = s.VsCliente AND t.VsData = s.VsData);\n"
               "INSERT INTO main.Appuntamenti SELECT ApCliente, ApData, ApAzione, ApNote, ApStato, "
               "ApCausa, ' ' FROM ex.Appuntamenti AS s WHERE s.ApDelete IS NOT 'S' AND NOT EXISTS "
               "(SELECT 1 FROM main.Appuntamenti AS t WHERE t.ApCliente = s.ApCliente AND "
               "t.ApData = s.ApData AND t.ApAzione = s.ApAzione);\n"
               "INSERT INTO ex.Appuntamenti SELECT ApCliente, ApData, ApAzione, ApNote, ApStato, "
               "ApCausa, ' ' FROM main.Appuntamenti AS s WHERE s.ApDelete IS NOT 'S' AND NOT EXISTS "
               "(SELECT 1 FROM ex.Appuntamenti AS t WHERE t.ApCliente = s.ApCliente AND "
               "t.ApData = s.ApData AND t.ApAzione = s.ApAzione);\n"
               "DELETE FROM main.Azioni WHERE AzDelete = 'S';\n"
               "DELETE FROM ex.Azioni WHERE AzDelete = 'S';\n"
               "DELETE FROM main.Appuntamenti WHERE ApDelete = 'S';\n"
               "DELETE FROM ex.Appuntamenti WHERE ApDelete = 'S';\n"
               "COMMIT;\n"
               "EOF\n"
               // Indices and documents.
               "rsync -tu '%1IndiciDV.mdb' '%2IndiciDV.mdb'\n"
               "rsync -rtu '%1testi/%3/' '%2SCHEDE/'\n"
               "rsync -rtu '%2SCHEDE/' '%1testi/%3/'\n"
               "rsync -rtu '%1fogli/%3/' '%2FOGLI/'\n"
               "rsync -rtu '%2FOGLI/' '%1fogli/%3/'\n")
        .arg(local, exchange, op, visits.arg(QStringLiteral("e.CliVisite")),
             visits.arg(QStringLiteral("Clienti.CliVisite")));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int clients = 50000;
    int documents = 10000; // cards and sheets together
    int rounds = 3;
    QString programs = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/");
    bool keep = false;
    QString exchangeOn;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const bool more = i + 1 < args.size();
        if (args[i] == QLatin1String("--keep"))
            keep = true;
        else if (more && args[i] == QLatin1String("--clients"))
            clients = args[++i].toInt();
        else if (more && args[i] == QLatin1String("--documents"))
            documents = args[++i].toInt();
        else if (more && args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[++i].toInt());
        else if (more && args[i] == QLatin1String("--program-folder"))
            programs = args[++i] + QLatin1Char('/');
        else if (more && args[i] == QLatin1String("--exchange-on"))
            exchangeOn = QDir(args[++i]).absolutePath() + QLatin1Char('/');
        else {
            std::fprintf(stderr, "usage: whole_run_bench [--clients N] [--documents N] [--rounds R] "
                                 "[--program-folder DIR] [--exchange-on DIR] [--keep]\n");
            return 2;
        }
    }
    const QString mirsalex = QDir::cleanPath(programs + QStringLiteral("mirsalex"));
    const QString fixture = QDir::cleanPath(programs + QStringLiteral("mirsalex-fixture"));
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    const QString rsync = QStandardPaths::findExecutable(QStringLiteral("rsync"));
    if (!QFileInfo(mirsalex).isExecutable() || !QFileInfo(fixture).isExecutable() || sqlite3.isEmpty() ||
        rsync.isEmpty()) {
        std::fprintf(stderr, "whole_run_bench: needs %s, %s, sqlite3 and rsync\n", qPrintable(mirsalex),
                     qPrintable(fixture));
        return 2;
    }

    QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/mirsalex-whole-run-XXXXXX"));
    tmp.setAutoRemove(!keep);
    const QString root = tmp.path() + QLatin1Char('/');
    const QString master = root + QStringLiteral("master/");
    // Whatever the program records of its runs stays in the benchmark's folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + QStringLiteral("state")));

    // The exchange areas on the other file system go into a folder of their own.
    std::optional<QTemporaryDir> elsewhere;
    if (!exchangeOn.isEmpty()) {
        elsewhere.emplace(exchangeOn + QStringLiteral("mirsalex-whole-run-XXXXXX"));
        elsewhere->setAutoRemove(!keep);
        if (!elsewhere->isValid()) {
            std::fprintf(stderr, "whole_run_bench: cannot write in %s\n", qPrintable(exchangeOn));
            return 2;
        }
        exchangeOn = elsewhere->path() + QLatin1Char('/');
        std::printf("Exchange area in %s; data and versions in %s\n", qPrintable(exchangeOn),
                    qPrintable(root));
    }
    std::printf("Generating one operator with %d clients per side and %d documents...\n", clients, documents);
    std::fflush(stdout);
    if (!run(fixture, {QStringLiteral("--out"), master, QStringLiteral("--operators"), QStringLiteral("1"),
                       QStringLiteral("--clients"), QString::number(clients), QStringLiteral("--documents"),
                       QString::number(documents / 2)})) {
        std::fprintf(stderr, "whole_run_bench: the fixture generator failed\n");
        return 2;
    }
    // The generator fills VisiteDV.mdb on each side with 3 visits, 2
    // appointments (some marked "S") and 1 action per client, partly shared.
    struct Side
    {
        const char* name;
        QStringList extra;
    };
    const Side sides[] = {{"portable", {QStringLiteral("--side"), QStringLiteral("portable")}},
                          {"desktop", {}}};
    std::vector<double> oursTimes, baseTimes, ratios, plainTimes, versionRatios, divergenceShares;
    long oursPeak = 0, basePeak = 0;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        const QString ours = root + QStringLiteral("ours%1/").arg(r);
        const QString base = root + QStringLiteral("baseline%1/").arg(r);
        // The same run without versions (--no-versions), for their cost.
        const QString plain = root + QStringLiteral("plain%1/").arg(r);
        if (!copyInstallation(master, ours, exchangeOn) || !copyInstallation(master, base, exchangeOn) ||
            !copyInstallation(master, plain, exchangeOn)) {
            std::fprintf(stderr, "whole_run_bench: cannot copy the installation\n");
            return 2;
        }
        if (r == 0)
            std::printf("Before: %s\n", qPrintable(databaseCounts(sqlite3, ours)));

        double oursRound = 0, baseRound = 0, plainRound = 0, divergenceRound = 0, reportedRound = 0;
        for (const Side& side : sides) {
            const QString name = QLatin1String(side.name);
            Measure o, b, p;
            double flushSeconds = 0;
            const QString oursReport = root + QStringLiteral("ours%1-%2.json").arg(r).arg(name);
            auto runOurs = [&] {
                o = timed(mirsalex,
                          QStringList{QStringLiteral("--batch"), QStringLiteral("--ini"),
                                      ours + name + QStringLiteral("/mirsalex.ini"), QStringLiteral("--yes"),
                                      QStringLiteral("--report"), QStringLiteral("json")} +
                              side.extra,
                          root + QStringLiteral("ours%1-%2.out").arg(r).arg(name), oursReport);
                ::sync();
                p = timed(mirsalex,
                          QStringList{QStringLiteral("--batch"), QStringLiteral("--ini"),
                                      plain + name + QStringLiteral("/mirsalex.ini"), QStringLiteral("--yes"),
                                      QStringLiteral("--no-versions")} +
                              side.extra,
                          root + QStringLiteral("plain%1-%2.out").arg(r).arg(name));
                ::sync();
            };
            auto runBaseline = [&] {
                b = timed(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), baselineScript(base, name)},
                          root + QStringLiteral("baseline%1-%2.out").arg(r).arg(name));
                // What the baseline's tools leave in the page cache, ours has
                // already put on the disk: that flush is measured apart.
                QElapsedTimer flush;
                flush.start();
                ::sync();
                flushSeconds = double(flush.nsecsElapsed()) / 1e9;
            };
            // The copies just made are put on the disk first, so that neither
            // contender pays for the benchmark's own writes; on a shared
            // machine the first of two runs meets other conditions than the
            // second, so the order alternates between rounds.
            ::sync();
            if (r % 2 == 0) {
                runOurs();
                runBaseline();
            } else {
                runBaseline();
                runOurs();
            }
            if (o.status != 0 || b.status != 0 || p.status != 0) {
                std::fprintf(stderr,
                             "whole_run_bench: %s side: ours ended with %d, baseline with %d (see %s)\n",
                             side.name, o.status, b.status, qPrintable(root));
                tmp.setAutoRemove(false);
                return 1;
            }
            std::printf(
                "Round %d, %-8s side: ours %.2f s, peak %ld KB; baseline %.2f s (+ %.2f s to put it on "
                "the disk), peak %ld KB; ratio %.2f\n",
                r + 1, side.name, o.seconds, o.peakKb, b.seconds, flushSeconds, b.peakKb,
                o.seconds / (b.seconds + flushSeconds));
            std::printf("Round %d, %-8s side: with versions %.2f s, without versions %.2f s, ratio %.2f\n",
                        r + 1, side.name, o.seconds, p.seconds, o.seconds / p.seconds);
            const ReportTimes times = reportTimes(oursReport);
            std::printf("Round %d, %-8s side: rows left different found in %.0f ms of the run's %.0f ms "
                        "(%.1f%%); compared in %.0f ms beside the steps\n",
                        r + 1, side.name, times.divergences, times.run, 100.0 * times.divergences / times.run,
                        times.side);
            divergenceRound += times.divergences;
            reportedRound += times.run;
            plainRound += p.seconds;
            oursRound += o.seconds;
            baseRound += b.seconds + flushSeconds;
            oursPeak = std::max(oursPeak, o.peakKb);
            basePeak = std::max(basePeak, b.peakKb);
        }
        oursTimes.push_back(oursRound);
        baseTimes.push_back(baseRound);
        ratios.push_back(oursRound / baseRound);
        plainTimes.push_back(plainRound);
        versionRatios.push_back(oursRound / plainRound);
        divergenceShares.push_back(divergenceRound / reportedRound);
        std::printf("Round %d, both sides: ours %.2f s, baseline with its flushes %.2f s, ratio %.2f\n",
                    r + 1, oursRound, baseRound, ratios.back());

        const QString oursCounts = databaseCounts(sqlite3, ours);
        const QString baseCounts = databaseCounts(sqlite3, base);
        if (databaseCounts(sqlite3, plain) != oursCounts) {
            std::printf("Without versions: DIFFERENT counts: %s\n",
                        qPrintable(databaseCounts(sqlite3, plain)));
            ok = false;
        }
        const QStringList oursFolders = documentFolders(ours);
        const QStringList baseFolders = documentFolders(base);
        for (qsizetype i = 0; i < oursFolders.size(); ++i) {
            if (snapshot(oursFolders[i]) != snapshot(baseFolders[i])) {
                std::printf("documents DIFFER: %s\n", qPrintable(oursFolders[i].mid(ours.size())));
                ok = false;
            }
        }
        if (oursCounts != baseCounts) {
            std::printf("After, ours:     %s\nAfter, baseline: %s\n", qPrintable(oursCounts),
                        qPrintable(baseCounts));
            ok = false;
        } else if (r == 0) {
            std::printf("After: %s (both)\n", qPrintable(oursCounts));
        }
        if (!keep) {
            for (const QString& copy : {ours, base, plain}) {
                if (!exchangeOn.isEmpty())
                    QDir(exchangeOn + QDir(copy).dirName() + QStringLiteral("-exchange")).removeRecursively();
            }
            QDir(ours).removeRecursively();
            QDir(base).removeRecursively();
            QDir(plain).removeRecursively();
        }
    }
    if (ok) {
        std::printf(
            "Median of %d round(s): ours %.2f s, baseline %.2f s, ratio %.2f; peak memory ours %ld KB, "
            "baseline %ld KB (ratio %.2f)\n",
            int(ratios.size()), median(oursTimes), median(baseTimes), median(ratios), oursPeak, basePeak,
            double(oursPeak) / double(basePeak));
        std::printf(
            "Median of %d round(s), both sides: with versions %.2f s, without versions %.2f s, ratio %.2f\n",
            int(versionRatios.size()), median(oursTimes), median(plainTimes), median(versionRatios));
        std::printf("Median of %d round(s), both sides: rows left different found in %.1f%% of the run "
                    "(from %.1f%% to %.1f%%)\n",
                    int(divergenceShares.size()), 100.0 * median(divergenceShares),
                    100.0 * *std::min_element(divergenceShares.begin(), divergenceShares.end()),
                    100.0 * *std::max_element(divergenceShares.begin(), divergenceShares.end()));
    }
    std::printf("Results: %s\n", ok ? "the same" : "DIFFERENT");
    if (keep)
        std::printf("Kept in %s\n", qPrintable(root));
    return ok ? 0 : 1;
}
