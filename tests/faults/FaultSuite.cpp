// mirsalex-faults: the fault suite. One runner for three kinds of case, each
// on a fresh installation made by mirsalex-fixture (on /dev/shm when there
// is one):
//
//   kill    a batch run killed with SIGKILL at a random moment;
//   dry     a dry run (--batch --dry-run) killed with SIGKILL at a random
//           moment: every file and folder must be as before, bytes and
//           modification times;
//   inject  a run in this process whose n-th file-layer call of one kind
//           (open for reading or writing, write, fsync, rename, folder
//           listing) fails through the platform layer's failure injector;
//   twice   two runs on the same operator at once;
//   operators two runs of two operators (P001 and P002) at once on one
//           desktop configuration file, while this process writes keys of
//           its own there: every key each of them wrote is there
//           afterwards, with the value it wrote;
//   restore a portable and a desktop run (in either order), then a restore of
//           the later one killed with SIGKILL at a random moment: every
//           version listed before stays listed, and restoring the same run
//           again exits 0 and gives back every file (bytes) and every
//           database (rows) as they were before that run;
//   version a run killed with SIGKILL at a random moment: the version it
//           left, if any, restores the installation as it was before the
//           run, and without one nothing was changed.
//
// After every case: each database passes "PRAGMA integrity_check", each
// document is byte for byte a version that existed before, and the reruns of
// both sides exit 0 and leave the same documents on desktop, exchange area and
// portable. A failure must be reported as one (a message and a non-zero
// status); a run that reports success must have done what a clean run does.
// The figures are printed at the end; the exit status is 0 only when every
// case held.
//
//   mirsalex-faults --bin <folder of mirsalex and mirsalex-fixture>
//                   [--work <folder>] [--kills 20] [--dry-kills 6] [--per-kind 8]
//                   [--twice 4] [--operators-at-once 3] [--restore-kills 4]
//                   [--version-kills 4] [--seed 1]

#include "changes/ApplyChanges.h"
#include "changes/WithheldChanges.h"
#include "common/FileLock.h"
#include "common/Platform.h"
#include "common/ProfileFile.h"
#include "common/Prompt.h"
#include "common/RunLock.h"
#include "common/SafeFileCopy.h"
#include "config/ConfigLoader.h"
#include "run/RunDriver.h"
#include "run/Steps.h"
#include "session/OperatorFormLoad.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <random>
#include <set>
#include <sqlite3.h>
#include <utility>
#include <vector>

using namespace mirsalex;

namespace {

constexpr int kDocuments = 400;
constexpr int kClients = 3000;
const char* const kLockText = "AGGIORNAMENTO GIÀ IN CORSO";

struct Figures
{
    int cases = 0;
    int kills = 0;
    int killedMidRun = 0;
    int dryKills = 0;
    int dryKilledMidRun = 0;
    int dryRunChanges = 0; // files or folders a killed dry run changed
    int faultsInjected = 0;
    int faultsReported = 0; // runs that ended with a message and a failure
    int faultsAbsorbed = 0; // runs that completed with the clean result anyway
    int concurrent = 0;
    int refusals = 0;
    int operatorsAtOnce = 0; // pairs of runs of two operators at once
    int lostKeys = 0;        // keys a run wrote that were not in the file afterwards
    int damagedFiles = 0;
    int wrongStatuses = 0;
    int notConverged = 0;
    int restoreKills = 0;
    int restoreKilledMidRun = 0;
    int versionKills = 0;
    int versionKilledMidRun = 0;
    int versionsLeft = 0;     // killed runs that left a version entry
    int versionsRestored = 0; // restores that gave back the state before their run
    int lostVersions = 0;     // listed versions no longer listed after a kill
    int notRestored = 0;      // restores that failed or did not give back the state
    QStringList problems;
};

Figures figures;

void problem(const QString& what)
{
    figures.problems << what;
    std::fprintf(stderr, "  FAULT SUITE: %s\n", qPrintable(what));
}

// --- installations ---------------------------------------------------------

struct Paths
{
    QString bin;
    QString work;
};
Paths paths;

QString env(const QString& root)
{
    return root + QStringLiteral("xdg/");
}

QProcessEnvironment processEnvironment(const QString& root)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("XDG_CONFIG_HOME"), env(root));
    // The versions and the run log stay within the case.
    e.insert(QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("state/"));
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    e.remove(QStringLiteral("MIRSALEX_PASSWORD"));
    return e;
}

// A fresh installation under `root` (which ends with "/"); the same seed
// gives the same installation.
bool makeInstallation(const QString& root, int seed, int operators = 1)
{
    QDir().mkpath(env(root));
    QProcess p;
    p.setProcessEnvironment(processEnvironment(root));
    p.start(paths.bin + QStringLiteral("mirsalex-fixture"),
            {QStringLiteral("--out"), root + QStringLiteral("inst/"), QStringLiteral("--operators"),
             QString::number(operators), QStringLiteral("--documents"), QString::number(kDocuments),
             QStringLiteral("--clients"), QString::number(kClients), QStringLiteral("--seed"),
             QString::number(seed)});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        problem(QStringLiteral("mirsalex-fixture failed: ") +
                QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

QString ini(const QString& root, const QString& side)
{
    return root + QStringLiteral("inst/") + side + QStringLiteral("/mirsalex.ini");
}

QStringList batchArguments(const QString& root, const QString& side)
{
    QStringList args = {QStringLiteral("--batch"), QStringLiteral("--ini"), ini(root, side),
                        QStringLiteral("--yes")};
    if (side == QLatin1String("portable"))
        args << QStringLiteral("--side") << QStringLiteral("portable");
    return args;
}

void startBatch(QProcess& p, const QString& root, const QString& side, const QStringList& more = {})
{
    p.setProcessEnvironment(processEnvironment(root));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(paths.bin + QStringLiteral("mirsalex"), batchArguments(root, side) + more);
    p.waitForStarted();
}

// Starts the program in batch mode on `side` (with `more` arguments), kills
// it after a random delay up to `micros`, and counts the kill (and, when it
// was still running, the kill in mid-run).
void killAfterRandomDelay(const QString& root, const QString& side, const QStringList& more,
                          std::mt19937& rng, qint64 micros, int& kills, int& midRun, qint64 fromMicros = 0)
{
    std::uniform_int_distribution<qint64> when(fromMicros, micros);
    const qint64 delay = when(rng);
    QProcess p;
    startBatch(p, root, side, more);
    QThread::usleep(static_cast<unsigned long>(delay));
    const bool running = p.state() == QProcess::Running;
    ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
    p.waitForFinished(60000);
    ++kills;
    if (running && p.exitStatus() == QProcess::CrashExit)
        ++midRun;
}

struct Result
{
    int status = -1; // -1: killed, crashed or still running after two minutes (see `finished`)
    bool finished = false;
    QString output;
};

Result batch(const QString& root, const QString& side, const QStringList& more = {})
{
    QProcess p;
    startBatch(p, root, side, more);
    Result r;
    r.finished = p.waitForFinished(120000);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(10000);
    }
    if (r.finished && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.output = QString::fromUtf8(p.readAll());
    return r;
}

// --- what the installation holds ------------------------------------------

bool isDocument(const QString& name)
{
    const QString n = name.toUpper();
    return (n.startsWith(QLatin1String("SK")) && n.endsWith(QLatin1String(".DOC"))) ||
           (n.startsWith(QLatin1String("XK")) && n.endsWith(QLatin1String(".XLS"))) ||
           n == QLatin1String("INDICIDV.MDB");
}

// Relative path -> content hash of every document (and database).
std::map<QString, QByteArray> documents(const QString& root, bool databasesToo = false)
{
    std::map<QString, QByteArray> out;
    const QString base = root + QStringLiteral("inst/");
    QDirIterator it(base, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!isDocument(it.fileName()) && !(databasesToo && it.fileName().endsWith(QLatin1String(".mdb"))))
            continue;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        out[path.mid(base.size())] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    }
    return out;
}

// Every version of each document name anywhere in the installation.
std::map<QString, std::set<QByteArray>> versions(const std::map<QString, QByteArray>& docs)
{
    std::map<QString, std::set<QByteArray>> out;
    for (const auto& [path, hash] : docs)
        out[path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toUpper()].insert(hash);
    return out;
}

// Databases that fail "PRAGMA integrity_check".
int damagedDatabases(const QString& root)
{
    int damaged = 0;
    const QString base = root + QStringLiteral("inst/");
    QDirIterator it(base, {QStringLiteral("*.mdb")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        sqlite3* db = nullptr;
        QString verdict;
        // Read-write without create: a hot journal left by a killed run is
        // rolled back, as the next run would.
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
            SQLITE_OK) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW)
                verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        if (verdict != QLatin1String("ok")) {
            ++damaged;
            problem(QStringLiteral("damaged database ") + path.mid(base.size()) + QStringLiteral(": ") +
                    verdict);
        }
    }
    return damaged;
}

// Damaged databases and documents that are no version seen before; a
// document that was there and is gone counts as damaged too.
int damage(const QString& root, const std::map<QString, QByteArray>& before)
{
    int damaged = damagedDatabases(root);
    const QString base = root + QStringLiteral("inst/");
    const auto known = versions(before);
    const auto now = documents(root);
    for (const auto& [path, hash] : now) {
        const auto v = known.find(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toUpper());
        if (v == known.end() || !v->second.count(hash)) {
            ++damaged;
            problem(QStringLiteral("document neither old nor new: ") + path);
        }
    }
    for (const auto& [path, hash] : before) {
        if (!now.count(path)) {
            ++damaged;
            problem(QStringLiteral("document lost: ") + path);
        }
    }
    return damaged;
}

// The documents of one group folder, by upper-cased name.
std::map<QString, QByteArray> group(const std::map<QString, QByteArray>& docs, const QString& folder)
{
    std::map<QString, QByteArray> out;
    for (const auto& [path, hash] : docs) {
        if (path.startsWith(folder) && path.indexOf(QLatin1Char('/'), folder.size()) < 0)
            out[path.mid(folder.size()).toUpper()] = hash;
    }
    return out;
}

// Desktop, portable and desktop again; each must exit 0, and the cards and
// sheets must then be the same in the three places.
bool rerunConverges(const QString& root, const QString& label)
{
    for (const char* side : {"desktop", "portable", "desktop"}) {
        const Result r = batch(root, QString::fromLatin1(side));
        if (r.status != 0) {
            ++figures.wrongStatuses;
            problem(label + QStringLiteral(": rerun on ") + QString::fromLatin1(side) +
                    (r.finished ? QStringLiteral(" exited ") + QString::number(r.status)
                                : QStringLiteral(" did not end within two minutes")) +
                    QStringLiteral("\n") + r.output.right(1500));
            return false;
        }
    }
    const auto docs = documents(root);
    const QString op = QStringLiteral("P001/");
    const QString groups[][3] = {
        {QStringLiteral("desktop/dati/testi/") + op,
         QStringLiteral("exchange/") + op + QStringLiteral("SCHEDE/"),
         QStringLiteral("portable/dati/testi/") + op},
        {QStringLiteral("desktop/dati/fogli/") + op,
         QStringLiteral("exchange/") + op + QStringLiteral("FOGLI/"),
         QStringLiteral("portable/dati/fogli/") + op},
    };
    for (const auto& g : groups) {
        const auto a = group(docs, g[0]);
        if (a.empty() || a != group(docs, g[1]) || a != group(docs, g[2])) {
            ++figures.notConverged;
            problem(label + QStringLiteral(": the sides did not converge in ") + g[0]);
            return false;
        }
    }
    return true;
}

// --- kill -----------------------------------------------------------------

void killCase(const QString& root, int index, std::mt19937& rng, qint64 runMicros)
{
    const QString label = QStringLiteral("kill %1").arg(index);
    const auto before = documents(root);
    const QString side = index % 2 ? QStringLiteral("portable") : QStringLiteral("desktop");
    killAfterRandomDelay(root, side, {}, rng, runMicros, figures.kills, figures.killedMidRun);
    figures.damagedFiles += damage(root, before);
    rerunConverges(root, label);
}

// --- killed dry runs --------------------------------------------------------

const QStringList kDryRun{QStringLiteral("--dry-run")};

// Every file (bytes and modification time) and folder under `root`, by
// relative path.
std::map<QString, QByteArray> tree(const QString& root)
{
    std::map<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.mid(root.size()).startsWith(QLatin1String("state/")))
            continue; // the run log and the versions, outside the installation
        const QFileInfo info = it.fileInfo();
        QByteArray state = QByteArray::number(info.lastModified().toMSecsSinceEpoch());
        if (info.isDir()) {
            state += " folder";
        } else {
            QFile f(path);
            state += ' ' + (f.open(QIODevice::ReadOnly)
                                ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()
                                : QByteArray("unreadable"));
        }
        out[path.mid(root.size())] = state;
    }
    return out;
}

// A dry run killed at a random moment leaves every file and folder as it
// was: it writes nothing, not even a journal or a lock file to leave behind.
void dryKillCase(const QString& root, int index, std::mt19937& rng, qint64 runMicros)
{
    const QString label = QStringLiteral("dry kill %1").arg(index);
    const auto before = tree(root);
    const QString side = index % 2 ? QStringLiteral("portable") : QStringLiteral("desktop");
    killAfterRandomDelay(root, side, kDryRun, rng, runMicros, figures.dryKills, figures.dryKilledMidRun);
    const auto after = tree(root);
    for (const auto& [path, state] : before) {
        const auto now = after.find(path);
        if (now == after.end()) {
            ++figures.dryRunChanges;
            problem(label + QStringLiteral(": removed ") + path);
        } else if (now->second != state) {
            ++figures.dryRunChanges;
            problem(label + QStringLiteral(": changed ") + path);
        }
    }
    for (const auto& [path, state] : after) {
        if (!before.count(path)) {
            ++figures.dryRunChanges;
            problem(label + QStringLiteral(": left ") + path);
        }
    }
}

// --- injected faults ------------------------------------------------------

// A prompt for runs in this process: Yes to questions (as --yes), Cancel to
// a retry, OK otherwise; every text is kept.
class RecordingPrompt : public Prompt
{
public:
    explicit RecordingPrompt(QString root) : m_root(std::move(root)) {}
    QStringList texts; // with the installation's folder as "<root>/"

protected:
    int ask(const QString& text, int style, const QString&) override
    {
        QString t = text;
        texts << t.replace(m_root, QStringLiteral("<root>/"));
        switch (MsgStyle::buttons(style)) {
        case MsgStyle::YesNo:
        case MsgStyle::YesNoCancel:
            return AnswerYes;
        case MsgStyle::RetryCancel:
        case MsgStyle::OkCancel:
            return AnswerCancel;
        default:
            return AnswerOk;
        }
    }

private:
    QString m_root;
};

// The decision boxes of the copies and the end of the run tell no failure.
bool ordinary(const QString& text)
{
    return text.startsWith(QLatin1String("Copio: ")) || text.startsWith(QLatin1String("NON passo: ")) ||
           text == QLatin1String("FINE AGGIORNAMENTO");
}

// One run of a side in this process, as batch mode makes it; `changes`,
// when given, receives what the run recorded as done.
RunDriver::Outcome runHere(const QString& root, const QString& side, RecordingPrompt& prompt,
                           std::vector<ChangeSink::Change>* changes = nullptr)
{
    qputenv("XDG_CONFIG_HOME", env(root).toLocal8Bit());
    qputenv("XDG_STATE_HOME", (root + QStringLiteral("state/")).toLocal8Bit());
    Context ctx(prompt);
    ctx.config.FileIni = ini(root, side);
    OperatorForm w;
    loadForm(ctx, w);
    if (side == QLatin1String("portable")) {
        w.optPC = 1;
        loadTransferSet(ctx, w);
    }
    RunDriver driver(StandardSteps());
    ApplyChanges sink;
    const RunDriver::Outcome outcome = RunDriver::outcome(driver.run(requestFromForm(ctx, w), sink));
    if (changes)
        *changes = sink.changes();
    return outcome;
}

// The documents a run recorded as copied that are not copies of their
// source (a copy listed that never reached its place). Databases are left
// out: a later step of the run may change a copied one.
QStringList copiesNotInPlace(const std::vector<ChangeSink::Change>& changes)
{
    QStringList out;
    for (const ChangeSink::Change& c : changes) {
        if (c.kind != ChangeSink::Change::Kind::File ||
            c.path.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive))
            continue;
        QFile copy(c.path), source(c.source());
        if (!copy.open(QIODevice::ReadOnly) || !source.open(QIODevice::ReadOnly) ||
            copy.readAll() != source.readAll())
            out << c.path;
    }
    return out;
}

struct Kind
{
    const char* name;      // the call that fails
    const char* operation; // the injector's operation name; "" for the write itself
    int err;
    bool configurationToo; // also the calls on the configuration file
};

// Reading the configuration file is left out: a value that cannot be read
// is taken as missing, by design of the profile functions.
const Kind kKinds[] = {
    {"open for reading", "read", EIO, false},
    {"open for writing", "write", EACCES, true},
    {"write", "", ENOSPC, true},
    {"fsync", "fsync", EIO, true},
    {"rename", "rename", EIO, true},
    {"readdir", "list", EIO, true},
};

bool counts(const Kind& kind, const QString& operation, const QString& path)
{
    return operation == QLatin1String(kind.operation) &&
           (kind.configurationToo || !path.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive));
}

// The file-layer calls of one kind that a clean run of `side` makes, and the
// texts that run shows.
int countCalls(const QString& root, const Kind& kind, const QString& side, QStringList& texts)
{
    int calls = 0;
    const QString op = QString::fromLatin1(kind.operation);
    if (op.isEmpty())
        SafeFileCopy::setWriteHook([&calls](int fd, const char* data, qint64 size) -> qint64 {
            ++calls;
            return ::write(fd, data, static_cast<size_t>(size));
        });
    else
        platform::setFailureInjector([&](const QString& o, const QString& path) {
            calls += counts(kind, o, path);
            return 0;
        });
    RecordingPrompt prompt(root);
    runHere(root, side, prompt);
    texts = prompt.texts;
    platform::setFailureInjector({});
    SafeFileCopy::setWriteHook({});
    return calls;
}

void injectCase(const QString& root, const Kind& kind, const QString& side, int nth,
                const std::map<QString, QByteArray>& clean, const QStringList& cleanTexts)
{
    const QString label =
        QStringLiteral("%1 #%2 (%3)").arg(QString::fromLatin1(kind.name)).arg(nth).arg(side);
    const auto before = documents(root);
    int calls = 0;
    bool injected = false;
    const QString op = QString::fromLatin1(kind.operation);
    if (op.isEmpty())
        SafeFileCopy::setWriteHook([&](int fd, const char* data, qint64 size) -> qint64 {
            if (++calls == nth) {
                injected = true;
                errno = kind.err;
                return -1;
            }
            return ::write(fd, data, static_cast<size_t>(size));
        });
    else
        platform::setFailureInjector([&](const QString& o, const QString& path) {
            if (counts(kind, o, path) && ++calls == nth) {
                injected = true;
                return kind.err;
            }
            return 0;
        });
    RecordingPrompt prompt(root);
    std::vector<ChangeSink::Change> changes;
    const RunDriver::Outcome outcome = runHere(root, side, prompt, &changes);
    platform::setFailureInjector({});
    SafeFileCopy::setWriteHook({});
    if (!injected)
        return;
    ++figures.faultsInjected;
    if (const QStringList listed = copiesNotInPlace(changes); !listed.isEmpty())
        problem(label + QStringLiteral(": recorded as copied but not in place: ") +
                listed.join(QStringLiteral(", ")));
    figures.damagedFiles += damage(root, before);
    QStringList told;
    for (const QString& t : prompt.texts) {
        if (!ordinary(t) && !cleanTexts.contains(t))
            told << t;
    }
    if (outcome == RunDriver::Outcome::Failed) {
        if (told.isEmpty()) {
            ++figures.wrongStatuses;
            problem(label + QStringLiteral(": failed without a message"));
        } else {
            ++figures.faultsReported;
        }
    } else if (documents(root, true) == clean) {
        ++figures.faultsAbsorbed; // the fault did not change what the run did
    } else {
        ++figures.wrongStatuses;
        problem(label + QStringLiteral(": reported as completed, but the documents differ from a clean run") +
                (told.isEmpty() ? QString() : QStringLiteral("; told: ") + told.join(QStringLiteral(" | "))));
    }
    rerunConverges(root, label);
}

// --- two runs at once -----------------------------------------------------

void twiceCase(const QString& root, int index)
{
    const QString label = QStringLiteral("two runs %1").arg(index);
    const auto before = documents(root);
    const QString lockFile = root + QStringLiteral("inst/exchange/P001/") + RunLock::fileName();
    // The first run is a real one; the second starts while the first holds
    // its lock (its lock file names it). A first run that ends before the
    // second could start is tried again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QProcess first;
        startBatch(first, root, QStringLiteral("desktop"));
        QElapsedTimer t;
        t.start();
        while (first.state() == QProcess::Running && !QFile(lockFile).exists() && t.elapsed() < 5000)
            QThread::usleep(200);
        const QString secondSide = index % 2 ? QStringLiteral("portable") : QStringLiteral("desktop");
        QProcess second;
        startBatch(second, root, secondSide);
        second.waitForFinished(120000);
        first.waitForFinished(120000);
        const QString out = QString::fromUtf8(second.readAll());
        const bool overlapped = out.contains(QString::fromUtf8(kLockText));
        if (!overlapped && second.exitCode() == 0)
            continue; // the first had finished already: no overlap
        ++figures.concurrent;
        if (first.exitStatus() != QProcess::NormalExit || first.exitCode() != 0) {
            ++figures.wrongStatuses;
            problem(label + QStringLiteral(": the first run exited ") + QString::number(first.exitCode()));
        }
        if (overlapped && second.exitStatus() == QProcess::NormalExit && second.exitCode() != 0) {
            ++figures.refusals;
        } else {
            ++figures.wrongStatuses;
            problem(label + QStringLiteral(": the second run exited ") + QString::number(second.exitCode()) +
                    (overlapped ? QStringLiteral(" after the lock message")
                                : QStringLiteral(" without the lock message")) +
                    QStringLiteral("\n") + out.right(800));
        }
        break;
    }
    figures.damagedFiles += damage(root, before);
    rerunConverges(root, label);
}

// --- two operators at once --------------------------------------------------

// A key's value as the file holds it; null when it is not there.
QString keyValue(const QString& file, const QString& key)
{
    QString value;
    ProfileFile::read(file, QStringLiteral("EXPORT"), key, QStringLiteral("\x01"), value, 4096);
    return value == QStringLiteral("\x01") ? QString() : value;
}

void operatorsCase(const QString& root, int index)
{
    const QString label = QStringLiteral("two operators %1").arg(index);
    const QString file = ini(root, QStringLiteral("desktop"));
    const QStringList codes = {QStringLiteral("P001"), QStringLiteral("P002")};
    // The settings of each operator as the installation holds them: a run
    // with the same choices leaves them as they are.
    std::map<QString, QString> expected;
    for (const QString& code : codes) {
        for (const char* name : {"PATH", "FLX0", "FLX1", "FLX2", "PARM"})
            expected[QLatin1String(name) + code] = keyValue(file, QLatin1String(name) + code);
    }
    QProcess runs[2];
    for (int i = 0; i < 2; ++i) {
        runs[i].setProcessEnvironment(processEnvironment(root));
        runs[i].setStandardInputFile(QProcess::nullDevice());
        runs[i].start(paths.bin + QStringLiteral("mirsalex"), batchArguments(root, QStringLiteral("desktop"))
                                                                  << QStringLiteral("--operator") << codes[i]
                                                                  << QStringLiteral("--report")
                                                                  << QStringLiteral("json"));
    }
    ++figures.operatorsAtOnce;
    // Meanwhile this process changes keys of its own in the same file, one
    // after the other, as a third program sharing the file would: none of
    // them may be lost either, nor make the runs lose theirs.
    QElapsedTimer t;
    t.start();
    int own = 0;
    while ((runs[0].state() != QProcess::NotRunning || runs[1].state() != QProcess::NotRunning) &&
           t.elapsed() < 120000) {
        if (const Error e = ProfileFile::write(file, QStringLiteral("EXPORT"),
                                               QStringLiteral("SUITE%1").arg(own), QString::number(own))) {
            problem(label + QStringLiteral(": this process could not write its key: ") + e.text);
            break;
        }
        expected[QStringLiteral("SUITE%1").arg(own)] = QString::number(own);
        ++own;
        runs[0].waitForFinished(1);
        runs[1].waitForFinished(1);
    }
    for (int i = 0; i < 2; ++i) {
        const bool finished = runs[i].state() == QProcess::NotRunning || runs[i].waitForFinished(120000);
        if (!finished || runs[i].exitStatus() != QProcess::NormalExit || runs[i].exitCode() != 0) {
            ++figures.wrongStatuses;
            problem(label + QStringLiteral(": the run of ") + codes[i] + QStringLiteral(" exited ") +
                    QString::number(runs[i].exitCode()) + QLatin1Char('\n') +
                    QString::fromUtf8(runs[i].readAllStandardError()).right(800));
            if (!finished)
                runs[i].kill();
            continue;
        }
        // Every key the run wrote, with the value it wrote.
        const QJsonDocument report = QJsonDocument::fromJson(runs[i].readAllStandardOutput());
        for (const QJsonValue v : report.object().value(QStringLiteral("changes")).toArray()) {
            const QJsonObject c = v.toObject();
            if (c.value(QStringLiteral("kind")).toString() != QLatin1String("key"))
                continue;
            const QString detail = c.value(QStringLiteral("detail")).toString(); // "[EXPORT] KEY=value"
            const qsizetype eq = detail.indexOf(QLatin1Char('='));
            const QString key =
                detail.mid(detail.indexOf(QLatin1Char(']')) + 2, eq - detail.indexOf(QLatin1Char(']')) - 2);
            if (key == QLatin1String("OPERATORE"))
                continue; // the last run's: either's
            expected[key] = detail.mid(eq + 1);
        }
    }
    // Each operator's settings and dates are all there, as its run wrote them.
    for (const QString& code : codes) {
        for (const char* name : {"DATA", "DATV", "DATP", "DATZ", "DTLX0", "DTLX1", "DTLX2"}) {
            if (!expected.count(QLatin1String(name) + code)) {
                ++figures.lostKeys;
                problem(label + QStringLiteral(": the run of ") + code + QStringLiteral(" did not write ") +
                        QLatin1String(name) + code);
            }
        }
    }
    for (const auto& [key, value] : expected) {
        const QString now = keyValue(file, key);
        if (now.isNull() || now != value) {
            ++figures.lostKeys;
            problem(label + QStringLiteral(": ") + key + QStringLiteral(" is '") + now +
                    QStringLiteral("' instead of '") + value + QLatin1Char('\''));
        }
    }
    const QString operatore = keyValue(file, QStringLiteral("OPERATORE"));
    if (!codes.contains(operatore)) {
        ++figures.lostKeys;
        problem(label + QStringLiteral(": OPERATORE is '") + operatore + QLatin1Char('\''));
    }
}

// --- versions: killed restores and killed runs ------------------------------

// One row of a table as text, each value with its type.
QByteArray rowText(sqlite3_stmt* st)
{
    QByteArray row;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const int type = sqlite3_column_type(st, c);
        row += QByteArray::number(type) + ':';
        if (type == SQLITE_BLOB)
            row +=
                QByteArray(static_cast<const char*>(sqlite3_column_blob(st, c)), sqlite3_column_bytes(st, c))
                    .toHex();
        else if (type != SQLITE_NULL)
            row += QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                              sqlite3_column_bytes(st, c));
        row += '\x1f';
    }
    return row;
}

// The schema and the rows (in any order) of every table of a database, by
// "<path> table <name>", and the whole of them by the path itself.
void databaseRows(const QString& path, const QString& key, std::map<QString, QByteArray>& out)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        out[key] = "unreadable database";
        return;
    }
    QCryptographicHash whole(QCryptographicHash::Sha256);
    std::vector<std::pair<QString, QByteArray>> tables;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name, sql FROM sqlite_master WHERE type = 'table' ORDER BY name", -1,
                           &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW)
            tables.emplace_back(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))),
                                QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))));
    }
    sqlite3_finalize(st);
    for (const auto& [name, sql] : tables) {
        std::vector<QByteArray> rows;
        QString select = name;
        select.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        select = QStringLiteral("SELECT * FROM \"") + select + QLatin1Char('"');
        st = nullptr;
        if (sqlite3_prepare_v2(db, select.toUtf8().constData(), -1, &st, nullptr) == SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW)
                rows.push_back(rowText(st));
        } else {
            rows.push_back("unreadable table");
        }
        sqlite3_finalize(st);
        std::sort(rows.begin(), rows.end());
        QCryptographicHash h(QCryptographicHash::Sha256);
        h.addData(sql);
        for (const QByteArray& r : rows)
            h.addData(r + '\n');
        const QByteArray digest = h.result();
        out[key + QStringLiteral(" table ") + name] = digest;
        whole.addData(name.toUtf8() + ' ' + digest);
    }
    sqlite3_close(db);
    out[key] = whole.result();
}

// Every file of the installation: the databases by rows, the rest by bytes.
// A journal left by a killed run is no file of the installation: opening
// its database rolls it back. Neither is a copy's temporary that a killed
// run or restore left: a later run removes it once it is an hour old.
std::map<QString, QByteArray> snapshot(const QString& root)
{
    std::map<QString, QByteArray> out;
    const QString base = root + QStringLiteral("inst/");
    QDirIterator it(base, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files << it.next();
    for (const QString& path : files) {
        const QString rel = path.mid(base.size());
        if (rel.endsWith(QLatin1String("-journal")) || rel.endsWith(QLatin1String("-wal")) ||
            rel.endsWith(QLatin1String("-shm")) ||
            QFileInfo(rel).fileName().startsWith(AtomicFile::temporaryPrefix()))
            continue;
        if (rel.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive)) {
            databaseRows(path, rel, out);
            continue;
        }
        QFile f(path);
        const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
        out[rel] = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
        if (!rel.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive))
            continue;
        // A configuration file key by key too: a killed restore may have put
        // back some of its keys and not the others yet.
        QByteArray section;
        for (const QByteArray& raw : bytes.split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.startsWith('[')) {
                section = line;
            } else if (const int eq = line.indexOf('='); eq > 0) {
                out[rel + QStringLiteral(" key ") + QString::fromUtf8(section + line.left(eq).trimmed())] =
                    line.mid(eq + 1);
            }
        }
    }
    return out;
}

// The differences of `now` from `expected`, at most five named.
QStringList differences(const std::map<QString, QByteArray>& expected,
                        const std::map<QString, QByteArray>& now)
{
    QStringList out;
    int count = 0;
    for (const auto& [path, value] : expected) {
        const auto n = now.find(path);
        if (n == now.end() || n->second != value) {
            if (++count <= 5)
                out << (n == now.end() ? QStringLiteral("missing ") : QStringLiteral("changed ")) + path;
        }
    }
    for (const auto& [path, value] : now) {
        if (!expected.count(path) && ++count <= 5)
            out << QStringLiteral("left ") + path;
    }
    if (count > 5)
        out << QStringLiteral("%1 more").arg(count - 5);
    return out;
}

struct Listed
{
    QString id;
    bool complete = false;
    QString restores;
};

// The versions that `mirsalex --versions` lists for a side, newest first;
// `ok` is false when the listing itself fails.
std::vector<Listed> listVersions(const QString& root, const QString& side, bool& ok)
{
    QProcess p;
    p.setProcessEnvironment(processEnvironment(root));
    p.setStandardInputFile(QProcess::nullDevice());
    QStringList args = {QStringLiteral("--versions"), QStringLiteral("--ini"), ini(root, side),
                        QStringLiteral("--report"), QStringLiteral("json")};
    if (side == QLatin1String("portable"))
        args << QStringLiteral("--side") << QStringLiteral("portable");
    p.start(paths.bin + QStringLiteral("mirsalex"), args);
    std::vector<Listed> out;
    ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    const QByteArray json = p.readAllStandardOutput();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!ok || error.error != QJsonParseError::NoError || !doc.isObject()) {
        ok = false;
        problem(QStringLiteral("mirsalex --versions on ") + side +
                QStringLiteral(" failed (state %1, exit %2): ").arg(int(p.state())).arg(p.exitCode()) +
                QString::fromUtf8(json.left(300)) +
                QString::fromLocal8Bit(p.readAllStandardError().left(500)));
        return out;
    }
    for (const QJsonValue& v : doc.object().value(QStringLiteral("versions")).toArray()) {
        const QJsonObject o = v.toObject();
        out.push_back({o.value(QStringLiteral("id")).toString(), o.value(QStringLiteral("complete")).toBool(),
                       o.value(QStringLiteral("restores")).toString()});
    }
    return out;
}

// Every version listed before is listed still.
bool stillListed(const QString& label, const QString& root, const QString& side,
                 const std::vector<Listed>& before, std::vector<Listed>* after = nullptr)
{
    bool ok = false;
    const auto now = listVersions(root, side, ok);
    if (!ok)
        return false;
    std::set<QString> ids;
    for (const Listed& l : now)
        ids.insert(l.id);
    bool all = true;
    for (const Listed& l : before) {
        if (!ids.count(l.id)) {
            ++figures.lostVersions;
            problem(label + QStringLiteral(": version ") + l.id + QStringLiteral(" of ") + side +
                    QStringLiteral(" is no longer listed"));
            all = false;
        }
    }
    if (after)
        *after = now;
    return all;
}

// `mirsalex --batch --restore id --yes` exits 0 and leaves the installation
// as `expected`.
void restoreGivesBack(const QString& label, const QString& root, const QString& side, const QString& id,
                      const std::map<QString, QByteArray>& expected)
{
    const Result r = batch(root, side, {QStringLiteral("--restore"), id});
    if (r.status != 0) {
        ++figures.notRestored;
        problem(label + QStringLiteral(": restoring ") + id + QStringLiteral(" on ") + side +
                (r.finished ? QStringLiteral(" exited ") + QString::number(r.status)
                            : QStringLiteral(" did not end within two minutes")) +
                QStringLiteral("\n") + r.output.right(1500));
        return;
    }
    const QStringList diff = differences(expected, snapshot(root));
    if (!diff.isEmpty()) {
        ++figures.notRestored;
        problem(label + QStringLiteral(": restoring ") + id + QStringLiteral(" on ") + side +
                QStringLiteral(" did not give back the state before that run: ") +
                diff.join(QStringLiteral("; ")));
        return;
    }
    ++figures.versionsRestored;
}

// Each file and database is as before the run or as after it.
int neitherBeforeNorAfter(const QString& label, const std::map<QString, QByteArray>& before,
                          const std::map<QString, QByteArray>& after,
                          const std::map<QString, QByteArray>& now)
{
    std::set<QString> names;
    for (const auto* m : {&before, &after, &now})
        for (const auto& [path, value] : *m)
            names.insert(path);
    int bad = 0;
    for (const QString& path : names) {
        // A killed process leaves its lock files (the next run or change
        // takes them over); a configuration file is checked key by key.
        if (path.endsWith(RunLock::fileName()) || path.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive) ||
            path.endsWith(QLatin1String(".ini") + FileLock::suffix(), Qt::CaseInsensitive))
            continue;
        auto value = [&path](const std::map<QString, QByteArray>& m) {
            const auto f = m.find(path);
            return f == m.end() ? QByteArray("absent") : f->second;
        };
        const QByteArray n = value(now);
        if (n != value(before) && n != value(after)) {
            if (++bad <= 5)
                problem(label + QStringLiteral(": neither as before nor as after the run: ") + path);
        }
    }
    return bad;
}

const QString kPortable = QStringLiteral("portable");
const QString kDesktop = QStringLiteral("desktop");

// Runs one side then the other (the order alternates with `index`), then
// kills a restore of the later run at a random moment.
void restoreKillCase(const QString& root, int index, std::mt19937& rng, qint64 restoreMicros)
{
    const QString label = QStringLiteral("killed restore %1").arg(index);
    const QString firstSide = index % 2 ? kDesktop : kPortable;
    const QString side = index % 2 ? kPortable : kDesktop;
    const Result first = batch(root, firstSide);
    const auto before = snapshot(root);
    const Result second = batch(root, side);
    if (first.status != 0 || second.status != 0) {
        ++figures.wrongStatuses;
        problem(label + QStringLiteral(": a clean run exited ") + QString::number(first.status) +
                QStringLiteral(" / ") + QString::number(second.status) + QStringLiteral("\n") +
                (first.status ? first.output : second.output).right(1500));
        return;
    }
    const auto after = snapshot(root);
    bool okPortable = false, okDesktop = false;
    const auto listedPortable = listVersions(root, kPortable, okPortable);
    const auto listedDesktop = listVersions(root, kDesktop, okDesktop);
    const auto& listed = side == kPortable ? listedPortable : listedDesktop;
    if (!okPortable || !okDesktop || listed.empty() || listedPortable.empty() || listedDesktop.empty()) {
        ++figures.lostVersions;
        problem(label + QStringLiteral(": the runs are not listed as versions"));
        return;
    }
    const QString target = listed.front().id;

    killAfterRandomDelay(root, side, {QStringLiteral("--restore"), target}, rng, restoreMicros,
                         figures.restoreKills, figures.restoreKilledMidRun);

    figures.damagedFiles += damagedDatabases(root);
    figures.damagedFiles += neitherBeforeNorAfter(label, before, after, snapshot(root));
    stillListed(label, root, kPortable, listedPortable);
    stillListed(label, root, kDesktop, listedDesktop);
    restoreGivesBack(label, root, side, target, before);
}

// A run with versions killed at a random moment: the entry it left, if
// any, gives back the state before it; without one nothing has changed.
// The other side runs first, so that the run has rows and files to change
// (a database is kept only when its first row changes), and the kill falls
// in the last three quarters of a run, where those changes are made.
void versionKillCase(const QString& root, int index, std::mt19937& rng, qint64 runMicros)
{
    const QString label = QStringLiteral("killed run with versions %1").arg(index);
    const QString side = index % 2 ? kPortable : kDesktop;
    if (batch(root, index % 2 ? kDesktop : kPortable).status != 0) {
        ++figures.wrongStatuses;
        problem(label + QStringLiteral(": a clean run of the other side failed"));
        return;
    }
    const auto before = snapshot(root);
    bool ok = false;
    const auto listed = listVersions(root, side, ok);
    if (!ok)
        return;
    killAfterRandomDelay(root, side, {}, rng, runMicros, figures.versionKills, figures.versionKilledMidRun,
                         runMicros / 4);
    figures.damagedFiles += damagedDatabases(root);
    std::vector<Listed> now;
    if (!stillListed(label, root, side, listed, &now))
        return;
    std::set<QString> old;
    for (const Listed& l : listed)
        old.insert(l.id);
    QStringList made;
    for (const Listed& l : now) {
        if (!old.count(l.id))
            made << l.id;
    }
    if (made.size() > 1) {
        problem(label + QStringLiteral(": one run left several versions: ") + made.join(QLatin1Char(' ')));
        return;
    }
    if (made.isEmpty()) {
        // What a killed run may leave without changing anything: its lock
        // files (taken over by the next run or change of the configuration
        // file) and copy temporaries (removed by a later run once they are
        // old).
        auto withoutLeftovers = [](std::map<QString, QByteArray> files) {
            for (auto it = files.begin(); it != files.end();) {
                const QString name = it->first.mid(it->first.lastIndexOf(QLatin1Char('/')) + 1);
                if (name == RunLock::fileName() || name.startsWith(AtomicFile::temporaryPrefix()) ||
                    name.endsWith(QLatin1String(".ini") + FileLock::suffix(), Qt::CaseInsensitive))
                    it = files.erase(it);
                else
                    ++it;
            }
            return files;
        };
        const QStringList diff = differences(withoutLeftovers(before), withoutLeftovers(snapshot(root)));
        if (!diff.isEmpty()) {
            ++figures.notRestored;
            problem(label + QStringLiteral(": changed without a version: ") +
                    diff.join(QStringLiteral("; ")));
        }
        return;
    }
    ++figures.versionsLeft;
    restoreGivesBack(label, root, side, made.front(), before);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions(
        {{QStringLiteral("bin"), QStringLiteral("folder of mirsalex and mirsalex-fixture"),
          QStringLiteral("folder")},
         {QStringLiteral("work"), QStringLiteral("working folder (default /dev/shm)"),
          QStringLiteral("folder")},
         {QStringLiteral("kills"), QStringLiteral("runs to kill"), QStringLiteral("n"), QStringLiteral("20")},
         {QStringLiteral("dry-kills"), QStringLiteral("dry runs to kill"), QStringLiteral("n"),
          QStringLiteral("6")},
         {QStringLiteral("per-kind"), QStringLiteral("faults injected per kind of call"), QStringLiteral("n"),
          QStringLiteral("8")},
         {QStringLiteral("twice"), QStringLiteral("pairs of runs at once"), QStringLiteral("n"),
          QStringLiteral("4")},
         {QStringLiteral("operators-at-once"),
          QStringLiteral("pairs of runs of two operators at once on one configuration file"),
          QStringLiteral("n"), QStringLiteral("3")},
         {QStringLiteral("restore-kills"), QStringLiteral("restores to kill"), QStringLiteral("n"),
          QStringLiteral("4")},
         {QStringLiteral("version-kills"), QStringLiteral("runs with versions to kill, then restored"),
          QStringLiteral("n"), QStringLiteral("4")},
         {QStringLiteral("kind"),
          QStringLiteral("only the injected faults of this kind of call (readdir, ...)"),
          QStringLiteral("name")},
         {QStringLiteral("seed"), QStringLiteral("random seed"), QStringLiteral("n"), QStringLiteral("1")}});
    parser.process(app);
    paths.bin = parser.value(QStringLiteral("bin"));
    if (!paths.bin.isEmpty() && !paths.bin.endsWith(QLatin1Char('/')))
        paths.bin += QLatin1Char('/');
    QString work = parser.value(QStringLiteral("work"));
    if (work.isEmpty())
        work = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                  : QDir::tempPath();
    QTemporaryDir dir(work + QStringLiteral("/mirsalex-faults-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "mirsalex-faults: cannot work in %s\n", qPrintable(work));
        return 2;
    }
    const int kills = parser.value(QStringLiteral("kills")).toInt();
    const int dryKills = parser.value(QStringLiteral("dry-kills")).toInt();
    const int perKind = parser.value(QStringLiteral("per-kind")).toInt();
    const int twice = parser.value(QStringLiteral("twice")).toInt();
    const int operatorsAtOnce = parser.value(QStringLiteral("operators-at-once")).toInt();
    const int restoreKills = parser.value(QStringLiteral("restore-kills")).toInt();
    const int versionKills = parser.value(QStringLiteral("version-kills")).toInt();
    const int seed = parser.value(QStringLiteral("seed")).toInt();
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    std::printf("mirsalex-faults: working in %s (seed %d)\n", qPrintable(dir.path()), seed);
    std::fflush(stdout);

    int serial = 0;
    auto fresh = [&](QString& root, int operators = 1) {
        root = dir.path() + QStringLiteral("/case%1/").arg(++serial);
        ++figures.cases;
        return makeInstallation(root, seed, operators);
    };

    // How long a run lasts here: the kills fall within it.
    QString root;
    if (!fresh(root))
        return 2;
    QElapsedTimer timer;
    timer.start();
    const Result dry = batch(root, QStringLiteral("desktop"), kDryRun);
    const qint64 dryMicros = std::max<qint64>(1000, timer.nsecsElapsed() / 1000);
    if (dry.status != 0) {
        std::fprintf(stderr, "mirsalex-faults: a clean dry run exits %d:\n%s\n", dry.status,
                     qPrintable(dry.output));
        return 2;
    }
    timer.restart();
    const Result first = batch(root, QStringLiteral("desktop"));
    const qint64 runMicros = std::max<qint64>(1000, timer.nsecsElapsed() / 1000);
    QDir(root).removeRecursively();
    if (first.status != 0) {
        std::fprintf(stderr, "mirsalex-faults: a clean run exits %d:\n%s\n", first.status,
                     qPrintable(first.output));
        return 2;
    }

    // The kinds of case, one after the other: the kills, the killed dry runs
    // (all on one installation, which none of them may change), the injected
    // faults (spread over the calls each kind has in a clean run of each
    // side), two runs at once.
    for (int i = 0; i < kills; ++i) {
        if (fresh(root))
            killCase(root, i, rng, runMicros);
        QDir(root).removeRecursively();
    }
    if (dryKills > 0 && fresh(root)) {
        for (int i = 0; i < dryKills; ++i)
            dryKillCase(root, i, rng, dryMicros);
    }
    QDir(root).removeRecursively();
    const QString onlyKind = parser.value(QStringLiteral("kind"));
    for (const Kind& kind : kKinds) {
        if (!onlyKind.isEmpty() && onlyKind != QLatin1String(kind.name))
            continue;
        for (const QString& side : {QStringLiteral("desktop"), QStringLiteral("portable")}) {
            QString probe;
            if (perKind <= 0 || !fresh(probe))
                continue;
            QStringList cleanTexts;
            const int calls = countCalls(probe, kind, side, cleanTexts);
            const auto clean = documents(probe, true);
            QDir(probe).removeRecursively();
            int last = 0;
            for (int k = 0; k < perKind && calls > 0; ++k) {
                const int nth = 1 + int((qint64(k) * calls) / perKind); // first, then evenly spread
                if (nth == last)
                    continue; // fewer calls than cases
                last = nth;
                if (fresh(root))
                    injectCase(root, kind, side, nth, clean, cleanTexts);
                QDir(root).removeRecursively();
            }
        }
    }
    for (int i = 0; i < twice; ++i) {
        if (fresh(root))
            twiceCase(root, i);
        QDir(root).removeRecursively();
    }
    for (int i = 0; i < operatorsAtOnce; ++i) {
        if (fresh(root, 2))
            operatorsCase(root, i);
        QDir(root).removeRecursively();
    }
    // How long a restore of a desktop run lasts here: the killed restores
    // fall within it.
    qint64 restoreMicros = runMicros;
    if (restoreKills > 0 && fresh(root)) {
        bool listedOk = false;
        std::vector<Listed> listed;
        if (batch(root, kPortable).status == 0 && batch(root, kDesktop).status == 0)
            listed = listVersions(root, kDesktop, listedOk);
        if (listed.empty()) {
            std::fprintf(stderr, "mirsalex-faults: a clean run keeps no version\n");
            return 2;
        }
        timer.restart();
        const Result restored = batch(root, kDesktop, {QStringLiteral("--restore"), listed.front().id});
        restoreMicros = std::max<qint64>(1000, timer.nsecsElapsed() / 1000);
        if (restored.status != 0) {
            std::fprintf(stderr, "mirsalex-faults: a clean restore exits %d:\n%s\n", restored.status,
                         qPrintable(restored.output));
            return 2;
        }
    }
    QDir(root).removeRecursively();
    for (int i = 0; i < restoreKills; ++i) {
        if (fresh(root))
            restoreKillCase(root, i, rng, restoreMicros);
        QDir(root).removeRecursively();
    }
    for (int i = 0; i < versionKills; ++i) {
        if (fresh(root))
            versionKillCase(root, i, rng, runMicros);
        QDir(root).removeRecursively();
    }

    std::printf("mirsalex-faults: %d installations; kills %d (%d in the middle of a run); dry runs killed %d "
                "(%d in the middle, %d changes left); faults injected %d "
                "(%d reported as failures, %d absorbed with the clean result); runs at once %d (%d refused); "
                "runs of two operators at once %d (%d keys lost); "
                "restores killed %d (%d in the middle); runs with versions killed %d (%d in the middle, "
                "%d left a version); restores that gave back the state before their run %d; "
                "versions no longer listed %d; restores failed or incomplete %d; "
                "damaged files %d; wrong exit statuses %d; reruns not converged %d\n",
                figures.cases, figures.kills, figures.killedMidRun, figures.dryKills, figures.dryKilledMidRun,
                figures.dryRunChanges, figures.faultsInjected, figures.faultsReported, figures.faultsAbsorbed,
                figures.concurrent, figures.refusals, figures.operatorsAtOnce, figures.lostKeys,
                figures.restoreKills, figures.restoreKilledMidRun, figures.versionKills,
                figures.versionKilledMidRun, figures.versionsLeft, figures.versionsRestored,
                figures.lostVersions, figures.notRestored, figures.damagedFiles, figures.wrongStatuses,
                figures.notConverged);
    const bool ok = figures.problems.isEmpty() && figures.kills >= kills && figures.dryKills >= dryKills &&
                    figures.concurrent == twice && figures.operatorsAtOnce >= operatorsAtOnce &&
                    figures.restoreKills >= restoreKills && figures.versionKills >= versionKills;
    std::printf("mirsalex-faults: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
