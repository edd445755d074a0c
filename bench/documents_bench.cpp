// Document stage benchmark: AggiornaDocumenti (cards and sheets, both
// directions, no questions) against `rsync -rtu` run the same way on an
// identical copy of the same tree. Prints the times, the ratio ours/rsync,
// and checks that both leave identical trees (names, contents, times).
//
//   documents_bench [--documents N] [--changed-fraction F] [--rounds R] [--keep DIR]

#include "BenchSupport.h"
#include "config/ConfigLoader.h"
#include "fixture/DocumentTree.h"
#include "runtypes/RunState.h"
#include "changes/ApplyChanges.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <cstdio>
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
#include <unistd.h>
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int documents = 10000; // cards and sheets together
    double changed = 0.5;
    int rounds = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--documents"))
            documents = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--changed-fraction"))
            changed = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
    }

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

    std::vector<double> ours, theirs, theirsFlush;
    bool identical = true;
    for (int r = 0; r < rounds; ++r) {
        const QString a = root + QStringLiteral("ours%1/").arg(r);
        const QString b = root + QStringLiteral("rsync%1/").arg(r);
        if (!run(QStringLiteral("cp"), {QStringLiteral("-a"), master, a}) ||
            !run(QStringLiteral("cp"), {QStringLiteral("-a"), master, b})) {
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
        // On a shared machine the first of the two runs meets different
        // conditions from the second: the order alternates between rounds.
        if (r % 2 == 0) {
            runOurs();
            runRsync();
        } else {
            runRsync();
            runOurs();
        }
        if (!done) {
            std::fprintf(stderr, "documents_bench: the document stage failed\n");
            return 1;
        }
        if (!rsyncOk) {
            std::fprintf(stderr, "documents_bench: rsync failed\n");
            return 1;
        }

        const bool same = snapshot(a) == snapshot(b);
        identical = identical && same;
        std::printf("Round %d: ours %.3f s (sent %d+%d, received %d+%d), rsync %.3f s (+ %.3f s to put it on "
                    "the disk), "
                    "ratio %.2f, trees %s\n",
                    r + 1, ours.back(), w.filesOffered[1][0], w.filesOffered[2][0], w.filesOffered[1][1],
                    w.filesOffered[2][1], theirs.back(), theirsFlush.back(), ours.back() / theirs.back(),
                    same ? "identical" : "DIFFERENT");
        QDir(a).removeRecursively();
        QDir(b).removeRecursively();
    }
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
