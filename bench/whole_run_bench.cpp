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
// Prints for each side and for both the elapsed time and the peak memory of
// ours and of the baseline, the ratios ours/baseline, and checks that both
// leave the same clients counts and the same document trees.
//
//   whole_run_bench [--clients N] [--documents N] [--program-folder DIR] [--keep]
//
// --keep leaves the installations and the programs' output in the temporary
// folder it names at the end.
//
// The installation comes from mirsalex-fixture; each timed run is a child
// process whose own resource usage (wait4) gives its peak memory, so the
// generator and the copies made between runs never count.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

const char* const kOperator = "P001";

struct Measure
{
    double seconds = 0;
    long peakKb = 0;
    int status = -1; // exit status, -1 when it did not exit normally
};

// Runs a program with standard input from /dev/null and its output into
// `outputFile`, and measures it: elapsed time, and its peak resident memory
// (with that of its own children) from wait4.
Measure timed(const QString& program, const QStringList& args, const QString& outputFile)
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
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.constData(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

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
bool copyInstallation(const QString& master, const QString& to)
{
    if (!run(QStringLiteral("cp"), {QStringLiteral("-a"), master, to}))
        return false;
    for (const char* side : {"desktop", "portable"}) {
        const QString ini = to + QLatin1String(side) + QStringLiteral("/mirsalex.ini");
        QByteArray text = readFile(ini);
        text.replace(QFile::encodeName(master), QFile::encodeName(to));
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
    QString out;
    const QString places[] = {QStringLiteral("portable/dati/") + op, QStringLiteral("exchange/") + op,
                              QStringLiteral("desktop/dati/") + op};
    for (const QString& place : places) {
        out += place + QStringLiteral(": clients ") + count(sqlite3, root + place + "/DatiDV.mdb", "Clienti");
        // Visits group: once the visits, appointments and actions are merged
        // by the program, their rows are counted here too (VisiteDV.mdb:
        // VisiteN, Appuntamenti, Azioni, TabAzioni).
        out += QStringLiteral("; ");
    }
    return out;
}

// The baseline's work for one side, as a shell script of standard tools.
QString baselineScript(const QString& root, const QString& side)
{
    const QString op = QLatin1String(kOperator);
    const QString local = root + side + QStringLiteral("/dati/");
    const QString exchange = root + QStringLiteral("exchange/") + op + QLatin1Char('/');
    const QString visits =
        QStringLiteral("substr(coalesce(nullif(trim(%1), ''), ' ') || '             ', 1, 13)");
    return QStringLiteral("set -e\n"
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
                          // Visits group: the merges of VisiteDV.mdb (action codes,
                          // actions, visits, appointments, both ways) go here once the
                          // program carries them out.
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
    QString programs = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/");
    bool keep = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const bool more = i + 1 < args.size();
        if (args[i] == QLatin1String("--keep"))
            keep = true;
        else if (more && args[i] == QLatin1String("--clients"))
            clients = args[++i].toInt();
        else if (more && args[i] == QLatin1String("--documents"))
            documents = args[++i].toInt();
        else if (more && args[i] == QLatin1String("--program-folder"))
            programs = args[++i] + QLatin1Char('/');
        else {
            std::fprintf(stderr,
                         "usage: whole_run_bench [--clients N] [--documents N] [--program-folder DIR] "
                         "[--keep]\n");
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

    std::printf("Generating one operator with %d clients per side and %d documents...\n", clients, documents);
    std::fflush(stdout);
    if (!run(fixture, {QStringLiteral("--out"), master, QStringLiteral("--operators"), QStringLiteral("1"),
                       QStringLiteral("--clients"), QString::number(clients), QStringLiteral("--documents"),
                       QString::number(documents / 2)})) {
        std::fprintf(stderr, "whole_run_bench: the fixture generator failed\n");
        return 2;
    }
    // Visits data: when the generator fills VisiteDV.mdb (visits,
    // appointments, actions), pass its options here.
    const QString ours = root + QStringLiteral("ours/");
    const QString base = root + QStringLiteral("baseline/");
    if (!copyInstallation(master, ours) || !copyInstallation(master, base)) {
        std::fprintf(stderr, "whole_run_bench: cannot copy the installation\n");
        return 2;
    }
    std::printf("Before: %s\n", qPrintable(databaseCounts(sqlite3, ours)));

    struct Side
    {
        const char* name;
        QStringList extra;
    };
    const Side sides[] = {{"portable", {QStringLiteral("--side"), QStringLiteral("portable")}},
                          {"desktop", {}}};
    Measure oursTotal, baseTotal;
    bool ok = true;
    for (const Side& side : sides) {
        const QString name = QLatin1String(side.name);
        // The copies just made are put on the disk first, so that neither
        // contender pays for the benchmark's own writes.
        ::sync();
        const Measure o =
            timed(mirsalex,
                  QStringList{QStringLiteral("--batch"), QStringLiteral("--ini"),
                              ours + name + QStringLiteral("/mirsalex.ini"), QStringLiteral("--yes")} +
                      side.extra,
                  root + QStringLiteral("ours-%1.out").arg(name));
        ::sync();
        const Measure b = timed(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), baselineScript(base, name)},
                                root + QStringLiteral("baseline-%1.out").arg(name));
        // What the baseline's tools leave in the page cache, ours has already
        // put on the disk: that flush is measured apart.
        QElapsedTimer flush;
        flush.start();
        ::sync();
        const double flushSeconds = double(flush.nsecsElapsed()) / 1e9;
        if (o.status != 0 || b.status != 0) {
            std::fprintf(stderr, "whole_run_bench: %s side: ours ended with %d, baseline with %d (see %s)\n",
                         side.name, o.status, b.status, qPrintable(root));
            tmp.setAutoRemove(false);
            return 1;
        }
        std::printf("%-8s side: ours %.2f s, peak %ld KB; baseline %.2f s (+ %.2f s to put it on the disk), "
                    "peak %ld KB; ratio %.2f (%.2f with the flush), memory ratio %.2f\n",
                    side.name, o.seconds, o.peakKb, b.seconds, flushSeconds, b.peakKb, o.seconds / b.seconds,
                    o.seconds / (b.seconds + flushSeconds), double(o.peakKb) / double(b.peakKb));
        oursTotal.seconds += o.seconds;
        oursTotal.peakKb = std::max(oursTotal.peakKb, o.peakKb);
        baseTotal.seconds += b.seconds + flushSeconds;
        baseTotal.peakKb = std::max(baseTotal.peakKb, b.peakKb);
    }
    std::printf("Both sides: ours %.2f s, peak %ld KB; baseline with its flushes %.2f s, peak %ld KB; "
                "ratio %.2f\n",
                oursTotal.seconds, oursTotal.peakKb, baseTotal.seconds, baseTotal.peakKb,
                oursTotal.seconds / baseTotal.seconds);

    const QString oursCounts = databaseCounts(sqlite3, ours);
    const QString baseCounts = databaseCounts(sqlite3, base);
    std::printf("After, ours:     %s\nAfter, baseline: %s\n", qPrintable(oursCounts), qPrintable(baseCounts));
    const QStringList oursFolders = documentFolders(ours);
    const QStringList baseFolders = documentFolders(base);
    for (qsizetype i = 0; i < oursFolders.size(); ++i) {
        if (snapshot(oursFolders[i]) != snapshot(baseFolders[i])) {
            std::printf("documents DIFFER: %s\n", qPrintable(oursFolders[i].mid(ours.size())));
            ok = false;
        }
    }
    ok = ok && oursCounts == baseCounts;
    std::printf("Results: %s\n", ok ? "the same" : "DIFFERENT");
    if (keep)
        std::printf("Kept in %s\n", qPrintable(root));
    return ok ? 0 : 1;
}
