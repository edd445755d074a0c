// Document stage benchmark: AggiornaDocumenti (cards and sheets, both
// directions, no questions) against `rsync -rtu` run the same way on an
// identical copy of the same tree, and against the limit: a plain copy
// (copy_file_range, times kept, one flush at the end) of exactly the files
// that must move, listed before the clock starts; and against the safe
// limit: the least any exchange must do that lists the folders itself and
// never shows a half-written file (see safeExchange()). Prints the times,
// the ratios ours/limit, ours/safe limit and ours/rsync, and checks that all
// four leave identical trees (names, contents, times).
//
//   documents_bench [--documents N] [--changed-fraction F] [--rounds R]
//                   [--only ours|limit|safe|rsync]
//
// --only runs one contender (rounds as given), for `strace -c -f`; --only none
// runs none, for the count of the setup alone.

#include "BenchSupport.h"
#include "changes/ApplyChanges.h"
#include "config/ConfigLoader.h"
#include "fixture/DocumentTree.h"
#include "runtypes/RunState.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

using namespace mirsalex;

namespace {

using mirsalex::bench::cpuMs;
using mirsalex::bench::median;
using mirsalex::bench::peakKb;

// Says Yes to every question without showing anything.
class YesPrompt : public Prompt
{
protected:
    int ask(const QString&, int style, const QString&) override
    {
        return MsgStyle::buttons(style) == MsgStyle::YesNo ? AnswerYes : AnswerOk;
    }
};

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// name -> (content hash, modification time in ms) of every file under root.
QMap<QString, QPair<QByteArray, qint64>> snapshot(const QString& root)
{
    QMap<QString, QPair<QByteArray, qint64>> out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        out.insert(path.mid(root.size()), {QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1),
                                           QFileInfo(path).lastModified().toMSecsSinceEpoch()});
    }
    return out;
}

// The limit: the copies a newest-wins exchange of `local` and `exchange`
// must make (sent first, then received), in that order, as pairs of paths.
// Worked out from the names and times alone, before any copy is timed.
std::vector<std::pair<QByteArray, QByteArray>> filesToMove(const QString& local, const QString& exchange)
{
    auto times = [](const QString& folder) {
        QMap<QString, qint64> out;
        const QStringList names = QDir(folder).entryList(QDir::Files);
        for (const QString& n : names) {
            struct stat st
            {
            };
            if (::stat(QFile::encodeName(folder + n).constData(), &st) == 0)
                out.insert(n, qint64(st.st_mtim.tv_sec));
        }
        return out;
    };
    QMap<QString, qint64> l = times(local), x = times(exchange);
    std::vector<std::pair<QByteArray, QByteArray>> moves;
    auto direction = [&](const QString& from, const QMap<QString, qint64>& src, const QString& to,
                         QMap<QString, qint64>& dst) {
        for (auto it = src.begin(); it != src.end(); ++it) {
            const auto d = dst.constFind(it.key());
            if (d != dst.constEnd() && *d >= it.value())
                continue;
            moves.emplace_back(QFile::encodeName(from + it.key()), QFile::encodeName(to + it.key()));
            dst.insert(it.key(), it.value());
        }
    };
    direction(local, l, exchange, x);
    direction(exchange, x, local, l);
    return moves;
}

// A plain copy of `from` onto `to`: copy_file_range, read/write where it is
// refused, the source's times. No temporary, no flush.
bool plainCopy(const QByteArray& from, const QByteArray& to)
{
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st
    {
    };
    bool ok = ::fstat(in, &st) == 0;
    const int out =
        ok ? ::open(to.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777) : -1;
    ok = out >= 0;
    off_t left = ok ? st.st_size : 0;
    bool plain = false;
    while (ok && left > 0 && !plain) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
        if (n > 0)
            left -= n;
        else if (n == 0 || errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            plain = true;
        else
            ok = false;
    }
    static std::vector<char> buffer(1 << 20);
    while (ok && plain) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = ::write(out, buffer.data(), size_t(n)) == n;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ok = ok && ::futimens(out, times) == 0;
    if (out >= 0)
        ::close(out);
    ::close(in);
    return ok;
}

// The modification time of every plain file of `folder`, read as it is
// listed (one status per entry, by its name in the open folder).
std::unordered_map<std::string, time_t> listTimes(const QByteArray& folder)
{
    std::unordered_map<std::string, time_t> out;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return out;
    while (const dirent* e = ::readdir(dir)) {
        struct stat st
        {
        };
        if (e->d_name[0] != '.' && ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode))
            out.emplace(e->d_name, st.st_mtim.tv_sec);
    }
    ::closedir(dir);
    return out;
}

// The safe limit: the plain limit plus what any newest-wins exchange that
// never shows a half-written file must do, and nothing else. Both folders
// of a group are listed inside the clock; a file new to its folder is
// written unnamed and named once on the disk, a file replaced is written to
// a temporary renamed over it once on the disk (one flush per direction
// before any name changes, one flush of the folder after).
bool safeExchange(const QString& local, const QString& exchange)
{
    const QByteArray l = QFile::encodeName(local), x = QFile::encodeName(exchange);
    std::unordered_map<std::string, time_t> lt = listTimes(l), xt = listTimes(x);
    bool ok = true;
    auto direction = [&](const QByteArray& from, const std::unordered_map<std::string, time_t>& src,
                         const QByteArray& to, std::unordered_map<std::string, time_t>& dst) {
        const int fromFd = ::open(from.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int toFd = ::open(to.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct Made
        {
            std::string name, temp;
            int fd;
        };
        std::vector<Made> made;
        int counter = 0;
        for (const auto& [name, time] : src) {
            const auto d = dst.find(name);
            if (d != dst.end() && d->second >= time)
                continue;
            const int in = ::openat(fromFd, name.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st
            {
            };
            if (in < 0 || ::fstat(in, &st) != 0) {
                ok = false;
                continue;
            }
            Made m{name, {}, -1};
            int out;
            if (d == dst.end()) {
                out = ::openat(toFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777);
                m.fd = out;
            } else {
                m.temp = ".~tmp-" + name + "." + std::to_string(++counter);
                out = ::openat(toFd, m.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                               st.st_mode & 0777);
            }
            for (off_t left = st.st_size; out >= 0 && left > 0;) {
                const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
                if (n <= 0) {
                    ok = false;
                    break;
                }
                left -= n;
            }
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ok = out >= 0 && ::futimens(out, times) == 0 && ok;
            if (out >= 0 && m.fd < 0)
                ::close(out);
            ::close(in);
            made.push_back(std::move(m));
            dst[name] = time;
        }
        ok = ::syncfs(toFd) == 0 && ok;
        for (const Made& m : made) {
            if (m.fd >= 0) {
                ok = ::linkat(m.fd, "", toFd, m.name.c_str(), AT_EMPTY_PATH) == 0 && ok;
                ::close(m.fd);
            } else {
                ok = ::renameat(toFd, m.temp.c_str(), toFd, m.name.c_str()) == 0 && ok;
            }
        }
        ok = ::fsync(toFd) == 0 && ok;
        ::close(fromFd);
        ::close(toFd);
    };
    direction(l, lt, x, xt);
    direction(x, xt, l, lt);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int documents = 10000; // cards and sheets together
    double changed = 0.5;
    int rounds = 3;
    QString only;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--documents"))
            documents = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--changed-fraction"))
            changed = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--only"))
            only = args[i + 1];
    }
    const bool withOurs = only.isEmpty() || only == QLatin1String("ours");
    const bool withLimit = only.isEmpty() || only == QLatin1String("limit");
    const bool withRsync = only.isEmpty() || only == QLatin1String("rsync");
    const bool withSafe = only.isEmpty() || only == QLatin1String("safe");

    QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/mirsalex-bench-XXXXXX"));
    const QString root = tmp.path() + QLatin1Char('/');
    const QString master = root + QStringLiteral("master/");

    // The tree: local cards and sheets, and the exchange folders.
    std::mt19937 rng(20240603);
    const QDateTime base(QDate(2024, 6, 3), QTime(9, 0, 0));
    fixture::DocumentCounts cards, sheets;
    QString error;
    if (!fixture::generateDocuments({master + "local/testi/", master + "exchange/SCHEDE/"},
                                    fixture::DocumentKind::Card, 1, documents / 2, changed, base, rng, cards,
                                    &error) ||
        !fixture::generateDocuments({master + "local/fogli/", master + "exchange/FOGLI/"},
                                    fixture::DocumentKind::Sheet, 1, documents - documents / 2, changed, base,
                                    rng, sheets, &error)) {
        std::fprintf(stderr, "documents_bench: %s\n", qPrintable(error));
        return 1;
    }
    std::printf(
        "Tree: %d cards and %d sheets (%d same, %d newer on one side, %d on one side only), %lld bytes\n",
        documents / 2, documents - documents / 2, cards.same + sheets.same, cards.newer + sheets.newer,
        cards.only + sheets.only, static_cast<long long>(cards.bytes + sheets.bytes));

    std::vector<double> ours, theirs, theirsFlush, limit, safe;
    bool identical = true;
    for (int r = 0; r < rounds; ++r) {
        const QString a = root + QStringLiteral("ours%1/").arg(r);
        const QString b = root + QStringLiteral("rsync%1/").arg(r);
        const QString c = root + QStringLiteral("limit%1/").arg(r);
        const QString d = root + QStringLiteral("safe%1/").arg(r);
        auto removeTrees = [&] {
            for (const QString& tree : {a, b, c, d})
                QDir(tree).removeRecursively();
        };
        if (!run(QStringLiteral("cp"), {QStringLiteral("-a"), master, a}) ||
            !run(QStringLiteral("cp"), {QStringLiteral("-a"), master, b}) ||
            !run(QStringLiteral("cp"), {QStringLiteral("-a"), master, c}) ||
            !run(QStringLiteral("cp"), {QStringLiteral("-a"), master, d})) {
            std::fprintf(stderr, "documents_bench: cannot copy the tree\n");
            return 1;
        }

        // The two copies of the tree were just written: put them on the disk
        // first, so that the flush at the end of each direction of ours
        // writes only what ours wrote, as in a real run, and not the
        // benchmark's own setup (which rsync, flushing nothing, never pays).
        ::sync();

        YesPrompt prompt;
        ApplyChanges sink;
        RunState w(RunRequest{}, sink);
        bool done = false;
        auto runOurs = [&]() {
            w.request.configFile = a + QStringLiteral("bench.ini");
            QFile ini(w.request.configFile);
            ini.open(QIODevice::WriteOnly);
            ini.write("[EXPORT]\n");
            ini.close();
            w.request.dataFolder = a + QStringLiteral("local/");
            w.request.cardsFolder = a + QStringLiteral("local/testi/");
            w.request.sheetsFolder = a + QStringLiteral("local/fogli/");
            w.request.operatorCode = QStringLiteral("P001");
            w.request.prompt = &prompt;
            w.ticks.gruppi = {0, 1, 1};
            w.request.exchangeFolders[1] = a + QStringLiteral("exchange/SCHEDE/");
            w.request.exchangeFolders[2] = a + QStringLiteral("exchange/FOGLI/");

            QElapsedTimer t;
            t.start();
            done = exchangeCards(w).result() == 0 && exchangeSheets(w).result() == 0;
            ours.push_back(double(t.nsecsElapsed()) / 1e9);
            QFile::remove(w.request.configFile);
            ::sync(); // nothing of ours is left for the other contender to write
        };
        bool rsyncOk = true;
        auto runRsync = [&]() {
            QElapsedTimer t;
            t.start();
            for (const auto& [local, exchange] : {std::pair{"local/testi/", "exchange/SCHEDE/"},
                                                  std::pair{"local/fogli/", "exchange/FOGLI/"}}) {
                const QString l = b + QLatin1String(local);
                const QString x = b + QLatin1String(exchange);
                if (!run(QStringLiteral("rsync"), {QStringLiteral("-rtu"), l, x}) ||
                    !run(QStringLiteral("rsync"), {QStringLiteral("-rtu"), x, l}))
                    rsyncOk = false;
            }
            theirs.push_back(double(t.nsecsElapsed()) / 1e9);
            // rsync leaves its copies in the page cache; what it costs to put
            // them on the disk, as ours does, is measured apart.
            QElapsedTimer f;
            f.start();
            ::sync();
            theirsFlush.push_back(double(f.nsecsElapsed()) / 1e9);
        };
        bool limitOk = true;
        int moved = 0;
        auto runLimit = [&]() {
            std::vector<std::pair<QByteArray, QByteArray>> moves;
            for (const auto& [local, exchange] : {std::pair{"local/testi/", "exchange/SCHEDE/"},
                                                  std::pair{"local/fogli/", "exchange/FOGLI/"}}) {
                const auto some = filesToMove(c + QLatin1String(local), c + QLatin1String(exchange));
                moves.insert(moves.end(), some.begin(), some.end());
            }
            moved = int(moves.size());
            QElapsedTimer t;
            t.start();
            for (const auto& [from, to] : moves)
                limitOk = plainCopy(from, to) && limitOk;
            const int fd = ::open(QFile::encodeName(c).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            limitOk = fd >= 0 && ::syncfs(fd) == 0 && limitOk;
            if (fd >= 0)
                ::close(fd);
            limit.push_back(double(t.nsecsElapsed()) / 1e9);
        };
        bool safeOk = true;
        auto runSafe = [&]() {
            QElapsedTimer t;
            t.start();
            for (const auto& [local, exchange] : {std::pair{"local/testi/", "exchange/SCHEDE/"},
                                                  std::pair{"local/fogli/", "exchange/FOGLI/"}})
                safeOk = safeExchange(d + QLatin1String(local), d + QLatin1String(exchange)) && safeOk;
            safe.push_back(double(t.nsecsElapsed()) / 1e9);
        };
        // On a shared machine the first of the runs meets different
        // conditions from the others: the order turns between rounds.
        std::vector<std::function<void()>> order;
        if (withOurs)
            order.push_back(runOurs);
        if (withRsync)
            order.push_back(runRsync);
        if (withLimit)
            order.push_back(runLimit);
        if (withSafe)
            order.push_back(runSafe);
        if (!order.empty())
            std::rotate(order.begin(), order.begin() + std::ptrdiff_t(size_t(r) % order.size()), order.end());
        for (const auto& contender : order)
            contender();
        if (!only.isEmpty()) {
            std::printf("Round %d: %s %.3f s\n", r + 1, qPrintable(only),
                        withOurs    ? ours.back()
                        : withLimit ? limit.back()
                        : withSafe  ? safe.back()
                        : withRsync ? theirs.back()
                                    : 0.0);
            removeTrees();
            continue;
        }
        if (!done) {
            std::fprintf(stderr, "documents_bench: the document stage failed\n");
            return 1;
        }
        if (!rsyncOk || !limitOk || !safeOk) {
            std::fprintf(stderr, "documents_bench: %s failed\n",
                         !rsyncOk   ? "rsync"
                         : !limitOk ? "the limit"
                                    : "the safe limit");
            return 1;
        }

        const auto ourTree = snapshot(a);
        const bool same = ourTree == snapshot(b) && ourTree == snapshot(c) && ourTree == snapshot(d);
        identical = identical && same;
        std::printf(
            "Round %d: ours %.3f s (sent %d+%d, received %d+%d), limit %.3f s (%d files), safe limit %.3f s, "
            "rsync %.3f s (+ %.3f s to put it on the disk), ratio to the limit %.2f, to the safe limit %.2f, "
            "to rsync %.2f, trees %s\n",
            r + 1, ours.back(), w.filesOffered[1][0], w.filesOffered[2][0], w.filesOffered[1][1],
            w.filesOffered[2][1], limit.back(), moved, safe.back(), theirs.back(), theirsFlush.back(),
            ours.back() / limit.back(), ours.back() / safe.back(), ours.back() / theirs.back(),
            same ? "identical" : "DIFFERENT");
        removeTrees();
    }
    if (!only.isEmpty())
        return 0;
    // The ratio of each round.
    auto perRound = [](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> out;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            out.push_back(a[i] / b[i]);
        return out;
    };
    const std::vector<double> toLimit = perRound(ours, limit);
    std::printf("Median: ours %.3f s, limit %.3f s, ratio ours/limit %.2f (rounds %.2f-%.2f; target <= 2.00 "
                "on tmpfs, <= 1.20 on disk)\n",
                median(ours), median(limit), median(ours) / median(limit),
                *std::min_element(toLimit.begin(), toLimit.end()),
                *std::max_element(toLimit.begin(), toLimit.end()));
    const std::vector<double> toSafe = perRound(ours, safe);
    std::printf("Median: ours %.3f s, safe limit %.3f s (both folders listed, nothing seen half written), "
                "ratio ours/safe limit %.2f (rounds %.2f-%.2f); the safe limit is %.2f x the limit\n",
                median(ours), median(safe), median(ours) / median(safe),
                *std::min_element(toSafe.begin(), toSafe.end()),
                *std::max_element(toSafe.begin(), toSafe.end()), median(safe) / median(limit));
    const double ratio = median(ours) / median(theirs);
    std::printf("Median: ours %.3f s, rsync -rtu %.3f s, ratio ours/rsync %.2f (target <= 1.20): %s\n",
                median(ours), median(theirs), ratio, ratio <= 1.2 ? "met" : "NOT met");
    std::vector<double> durable;
    for (size_t i = 0; i < theirs.size(); ++i)
        durable.push_back(theirs[i] + theirsFlush[i]);
    std::printf("Like for like (rsync -rtu followed by sync, as ours leaves every copy on the disk): "
                "ratio %.2f\n",
                median(ours) / median(durable));
    std::printf("Trees after both runs: %s\n",
                identical ? "identical (names, contents, times)" : "DIFFERENT");
    return identical ? 0 : 1;
}
