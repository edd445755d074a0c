#include "changes/VersioningChanges.h"
#include "changes/WithheldChanges.h"
#include "common/RunLock.h"
#include "common/SafeFileCopy.h"
#include "config/ConfigLoader.h"
#include "transfer/Transfer.h"
#include "TransferTestSupport.h"

#include <cerrno>
#include <cstdio>
#include <sqlite3.h>
#include <unistd.h>

namespace mirsalex::test {
namespace {

struct DocumentsTest : TransferFixture
{
    void SetUp() override
    {
        TransferFixture::SetUp();
        w.ticks.gruppi = {1, 1, 1};
    }

    QString key(const QString& marker, int group) const
    {
        return LeggiIni(ini, QStringLiteral("EXPORT"),
                        marker + QString::number(group) + QStringLiteral("OP1"));
    }
};

// A database of many pages whose last page is then damaged.
void damagedDatabase(const QString& path)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE Indici (k INTEGER PRIMARY KEY, v TEXT);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                           "INSERT INTO Indici SELECT i, printf('indice numero %d', i) FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(f.size() - 4096));
    ASSERT_EQ(f.write(QByteArray(64, '\xee')), 64);
}

TEST_F(DocumentsTest, ADamagedIndicesDatabaseNeverReplacesTheExchangeCopy)
{
    const QDateTime t = baseTime();
    damagedDatabase(dati + QStringLiteral("IndiciDV.mdb"));
    ASSERT_FALSE(platform::setModificationTime(dati + QStringLiteral("IndiciDV.mdb"), t.addSecs(600)));
    file(xIndici, QStringLiteral("IndiciDV.mdb"), "indices v1", t);
    prompt.expect(QStringLiteral("Errore nell'aggiornamento degli INDICI\nIl database locale è danneggiato:"),
                  AnswerOk, MsgStyle::Ok);
    EXPECT_FALSE(runDocuments(w).completed);
    EXPECT_EQ(TempInstall::readBytes(xIndici + "IndiciDV.mdb"), QByteArray("indices v1"));
    EXPECT_EQ(w.ticks.gruppi[0], 1);
}

TEST_F(DocumentsTest, CardsAndSheetsBothWaysNewestWins)
{
    const QDateTime t = baseTime();
    file(dati, QStringLiteral("IndiciDV.mdb"), "indices v2", t.addSecs(600));
    file(xIndici, QStringLiteral("IndiciDV.mdb"), "indices v1", t);
    file(xIndici, QStringLiteral("DatiDV.mdb"), "db", t);
    file(testi, QStringLiteral("SK1.doc"), "only local", t);
    file(testi, QStringLiteral("SK2.doc"), "local newer", t.addSecs(120));
    file(xSchede, QStringLiteral("SK2.DOC"), "remote older", t);
    file(testi, QStringLiteral("SK3.doc"), "local older", t);
    file(xSchede, QStringLiteral("SK3.DOC"), "remote newer", t.addSecs(120));
    file(xSchede, QStringLiteral("SK4.DOC"), "only remote", t);
    file(testi, QStringLiteral("SK5.doc"), "same", t);
    file(xSchede, QStringLiteral("SK5.DOC"), "same", t);
    file(testi, QStringLiteral("notes.txt"), "not a card", t);
    file(fogli, QStringLiteral("xk7.xls"), "sheet", t);
    file(xFogli, QStringLiteral("XK8.XLS"), "remote sheet", t);
    prompt.expect(QStringLiteral("Copio: "), AnswerYes, MsgStyle::Question);

    EXPECT_TRUE(runDocuments(w).completed);

    EXPECT_EQ(TempInstall::readBytes(xIndici + "IndiciDV.mdb"), QByteArray("indices v2"));
    EXPECT_EQ(TempInstall::readBytes(xSchede + "SK1.DOC"), QByteArray("only local"));
    EXPECT_EQ(TempInstall::readBytes(xSchede + "SK2.DOC"), QByteArray("local newer"));
    EXPECT_EQ(TempInstall::readBytes(testi + "SK3.doc"), QByteArray("remote newer"));
    EXPECT_EQ(TempInstall::readBytes(testi + "SK4.DOC"), QByteArray("only remote"));
    EXPECT_EQ(TempInstall::readBytes(xFogli + "XK7.XLS"), QByteArray("sheet"));
    EXPECT_EQ(TempInstall::readBytes(fogli + "XK8.XLS"), QByteArray("remote sheet"));
    EXPECT_FALSE(QFileInfo::exists(xSchede + "NOTES.TXT"));
    EXPECT_EQ(entries(testi),
              (QStringList{"SK1.doc", "SK2.doc", "SK3.doc", "SK4.DOC", "SK5.doc", "notes.txt"}));
    EXPECT_EQ(w.filesOffered[0][0], 1);
    EXPECT_EQ(w.filesOffered[1][0], 2);
    EXPECT_EQ(w.filesOffered[1][1], 2);
    EXPECT_EQ(w.filesOffered[2][0], 1);
    EXPECT_EQ(w.filesOffered[2][1], 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(w.ticks.gruppi[static_cast<size_t>(i)], 2);
        EXPECT_EQ(key(QStringLiteral("DTLX"), i).size(), 14) << "dd/mm/yy hh:mm";
    }
    // A second pass finds nothing to do.
    prompt.expect(QStringLiteral("NON passo: "), AnswerOk, MsgStyle::Ok);
    w.ticks.gruppi = {1, 1, 1};
    EXPECT_TRUE(runDocuments(w).completed);
    EXPECT_EQ(w.filesOffered[1][0] + w.filesOffered[1][1] + w.filesOffered[2][0] + w.filesOffered[2][1], 0);
}

TEST_F(DocumentsTest, TemporaryFilesOfAKilledRunAreRemovedOnlyWhenStale)
{
    // A temporary file carries the time of the card it copies (a day old
    // here) but was written just now, maybe by a run on the other computer:
    // its age is when it was written, so it stays. Old ones go only while
    // the run holds its lock (see SafeFileCopyTest for the removal itself).
    const QDateTime t = baseTime();
    file(xIndici, QStringLiteral("DatiDV.mdb"), "db", t);
    file(testi, QStringLiteral("SK1.doc"), "card", t);
    file(xSchede, QStringLiteral("SK9.DOC"), "remote card", t);
    const QString young = QStringLiteral(".~mirsalex-SK7.DOC.a1b2c3");
    file(xSchede, young, "a copy in progress elsewhere", QDateTime::currentDateTime().addDays(-1));
    w.ticks.gruppi[0] = 0;
    w.ticks.gruppi[2] = 0;
    RunLock lock;
    ASSERT_TRUE(lock.acquire({xIndici, dati}, QStringLiteral("DeskTop")));
    ASSERT_TRUE(runDocuments(w).completed);
    EXPECT_TRUE(QFileInfo::exists(xSchede + young));
    EXPECT_TRUE(QFileInfo::exists(xSchede + QStringLiteral("SK1.DOC")));
}

TEST_F(DocumentsTest, DebugAsksForEveryDocument)
{
    w.ticks.gruppi[0] = 0;
    w.ticks.gruppi[2] = 0;
    w.request.confirmCopies = 1;
    file(testi, QStringLiteral("SK1.doc"), "a", baseTime());
    file(xSchede, QStringLiteral("SK2.DOC"), "b", baseTime());
    prompt.expect(QStringLiteral("Copio: "), AnswerNo).expect(QStringLiteral("Copio: "), AnswerYes);
    EXPECT_TRUE(runDocuments(w).completed);
    EXPECT_FALSE(QFileInfo::exists(xSchede + "SK1.DOC"));
    EXPECT_TRUE(QFileInfo::exists(testi + "SK2.DOC"));
    EXPECT_EQ(w.filesOffered[1][0], 1) << "declined copies still count";
    EXPECT_EQ(w.filesOffered[1][1], 1);
}

// The receiving direction takes the exchange folder in name order, the
// cards the sending direction has just put there among the others.
TEST_F(DocumentsTest, ReceivingTakesTheCardsJustSentInNameOrder)
{
    w.ticks.gruppi = {0, 1, 0};
    w.request.confirmCopies = 1;
    file(testi, QStringLiteral("SK2.doc"), "sent", baseTime());
    file(xSchede, QStringLiteral("SK1.DOC"), "received", baseTime());
    file(xSchede, QStringLiteral("SK3.DOC"), "received", baseTime());
    prompt.expect(QStringLiteral("Copio: "), AnswerYes)
        .expect(QStringLiteral("Copio: "), AnswerYes)
        .expect(QStringLiteral("NON passo: "), AnswerOk)
        .expect(QStringLiteral("Copio: "), AnswerYes);
    ASSERT_TRUE(runDocuments(w).completed);
    QStringList received;
    for (qsizetype i = 1; i < prompt.messages.size(); ++i)
        received << prompt.messages[i].text.section(QLatin1Char('\n'), 1, 1).section(QLatin1Char('/'), -1);
    EXPECT_EQ(received, (QStringList{"SK1.DOC", "SK2.DOC", "SK3.DOC"}));
}

// A dry run lists, in the receiving direction, the cards the sending
// direction would have copied: it shows the boxes the real run shows and
// writes nothing.
TEST_F(DocumentsTest, DryRunShowsTheBoxesOfTheRun)
{
    w.ticks.gruppi = {0, 1, 0};
    w.request.confirmCopies = 1;
    file(testi, QStringLiteral("SK1.doc"), "a", baseTime());
    file(testi, QStringLiteral("SK2.doc"), "b", baseTime());
    file(xSchede, QStringLiteral("SK2.DOC"), "b", baseTime());
    const QStringList before = entries(xSchede) + entries(testi);
    auto texts = [this] {
        QStringList out;
        for (const auto& m : prompt.messages)
            out << m.text;
        prompt.messages.clear();
        out.sort(); // listed in the file system's order
        return out;
    };
    // Each run: the copy of SK1 asked, SK2 not passed either way, then SK1
    // not passed back.
    for (int i = 0; i < 8; ++i)
        prompt.expect(QString(), AnswerYes);
    WithheldChanges withheld;
    RunState dry(w.request, withheld);
    dry.ticks = w.ticks;
    ASSERT_TRUE(runDocuments(dry).completed);
    const QStringList foretold = texts();
    EXPECT_EQ(entries(xSchede) + entries(testi), before);
    EXPECT_EQ(dry.filesOffered[1], (std::array<qint16, 2>{1, 0}));

    ASSERT_TRUE(runDocuments(w).completed);
    EXPECT_EQ(foretold, texts());
    ASSERT_EQ(foretold.size(), 4);
    EXPECT_EQ(foretold.filter(QStringLiteral("Copio: ")).size(), 1);
    EXPECT_EQ(foretold.filter(QStringLiteral("SCHEDE/SK1.DOC\ndel")).size(), 1) << "SK1 back, as copied";
    EXPECT_EQ(w.filesOffered[1], dry.filesOffered[1]);
}

TEST_F(DocumentsTest, GroupWithoutOrdinaryFilesInExchangeFolderIsSkipped)
{
    struct Case
    {
        const char* name;
        QString folder;
    };
    inst.makeDir(QStringLiteral("scambio/OP1/SCHEDE/sub")); // a folder alone does not count
    for (const Case& c : {Case{"empty folder", xSchede}, Case{"blank caption", QStringLiteral("   ")}}) {
        SCOPED_TRACE(c.name);
        w.ticks.gruppi = {0, 1, 0};
        w.request.exchangeFolders[1] = c.folder;
        file(testi, QStringLiteral("SK1.doc"), "a", baseTime());
        w.filesOffered[1][0] = 7;
        w.filesOffered[1][1] = 8;
        EXPECT_TRUE(runDocuments(w).completed);
        EXPECT_EQ(w.ticks.gruppi[1], 1);
        EXPECT_EQ(w.filesOffered[1][0], 7);
        EXPECT_EQ(w.filesOffered[1][1], 8);
        EXPECT_TRUE(key(QStringLiteral("DTLX"), 1).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(xSchede + "SK1.DOC"));
    }
}

TEST_F(DocumentsTest, FailedCopyEndsTheStage)
{
    struct Case
    {
        const char* name;
        bool sendSide;
        const char* message;
    };
    for (const Case& c : {Case{"send", true, "Errore nell'invio della Scheda SK1.DOC"},
                          Case{"receive", false, "Errore nella ricezione della Scheda SK1.DOC"}}) {
        SCOPED_TRACE(c.name);
        TempInstall other;
        w.ticks.gruppi = {0, 1, 1};
        const QString localFolder = other.makeDir("testi");
        const QString remoteFolder = other.makeDir("x");
        w.request.cardsFolder = localFolder;
        w.request.exchangeFolders[1] = remoteFolder;
        w.request.exchangeFolders[2] = xFogli;
        file(xFogli, QStringLiteral("XK1.XLS"), "sheet", baseTime());
        other.writeFile(c.sendSide ? "testi/sk1.doc" : "x/SK1.DOC", "card", baseTime());
        if (c.sendSide)
            other.writeFile("x/OTHER.TXT", "keeps the folder non-empty", baseTime());
        SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 {
            errno = ENOSPC;
            return -1;
        });
        // The full disk is named as such before the group's message.
        prompt
            .expect(QStringLiteral("Non c'è più spazio sul disco"), AnswerCancel,
                    MsgStyle::ExclamationRetryCancel)
            .expect(QString::fromLatin1(c.message), AnswerOk, MsgStyle::Ok);
        const Documents documents = runDocuments(w);
        EXPECT_FALSE(documents.completed);
        ASSERT_TRUE(documents.groups[1]);
        EXPECT_EQ(documents.groups[1]->error, 61);
        SafeFileCopy::setWriteHook({});
        EXPECT_EQ(w.ticks.gruppi[1], 1);
        EXPECT_EQ(w.ticks.gruppi[2], 1) << "no later group runs";
        EXPECT_FALSE(QFileInfo::exists(fogli + "XK1.XLS"));
        EXPECT_TRUE(key(QStringLiteral("DTLX"), 1).isEmpty());
    }
}

TEST_F(DocumentsTest, CopyThatCannotBePutInPlaceFailsTheDirection)
{
    w.ticks.gruppi = {0, 1, 0};
    file(testi, QStringLiteral("SK1.doc"), "a", baseTime().addSecs(60));
    file(testi, QStringLiteral("SK2.doc"), "b", baseTime().addSecs(60));
    file(xSchede, QStringLiteral("LEGGIMI.TXT"), "x", baseTime());
    // A folder stands where card 2 should go, older than the card.
    const QString blocker = inst.makeDir(QStringLiteral("scambio/OP1/SCHEDE/SK2.DOC"));
    ASSERT_FALSE(platform::setModificationTime(blocker.chopped(1), baseTime()));
    prompt.expect(QStringLiteral("Errore nell'invio della Scheda SK2.DOC"), AnswerOk, MsgStyle::Ok);
    EXPECT_FALSE(runDocuments(w).completed);
    EXPECT_TRUE(QFileInfo(blocker).isDir());
    EXPECT_EQ(w.ticks.gruppi[1], 1);
    EXPECT_LE(w.filesOffered[1][0], 1) << "the card that could not be placed is not counted";
    for (const QString& name : entries(xSchede))
        EXPECT_FALSE(name.startsWith(AtomicFile::temporaryPrefix())) << name.toStdString();
}

// Cards whose putting in place stops at a failed rename: those before it are
// in place and recorded, the one that failed and those after it are neither
// (nor counted). A run with versions lists only the cards in place, so that
// putting it back never removes a card it did not create.
TEST_F(DocumentsTest, OnlyCopiesInPlaceAreRecorded)
{
    w.ticks.gruppi = {0, 1, 0};
    const QString failing = xSchede + QStringLiteral("SK2.DOC");
    const struct InjectorReset
    {
        ~InjectorReset() { platform::setFailureInjector({}); }
    } reset;
    platform::setFailureInjector(
        [&](const QString& op, const QString& path) { return op == "rename" && path == failing ? EIO : 0; });
    VersionSettings settings;
    settings.root = inst.path(QStringLiteral("versions/"));
    const VersionStore store(settings, QStringLiteral("OP1"), false);
    VersioningChanges versioning(store, prompt);
    for (ChangeSink* s : std::initializer_list<ChangeSink*>{&sink, &versioning}) {
        SCOPED_TRACE(s == &sink ? "without versions" : "with versions");
        for (const QString name : {"SK1.DOC", "SK3.DOC"})
            QFile::remove(xSchede + name);
        for (int i = 1; i <= 4; ++i)
            file(testi, QStringLiteral("SK%1.doc").arg(i), "new", baseTime().addSecs(60));
        file(xSchede, QStringLiteral("SK2.DOC"), "old", baseTime());
        file(xSchede, QStringLiteral("SK4.DOC"), "old", baseTime());
        RunState run(w.request, *s);
        run.ticks = w.ticks;
        prompt.expect(QStringLiteral("Errore di I/O sul DEVICE"), AnswerCancel)
            .expect(QStringLiteral("Errore nell'invio della Scheda SK2.DOC"), AnswerOk, MsgStyle::Ok);
        EXPECT_FALSE(runDocuments(run).completed);
        EXPECT_EQ(prompt.pending(), 0);

        QStringList inPlace;
        for (const QString& name : entries(xSchede)) {
            if (TempInstall::readBytes(xSchede + name) == "new")
                inPlace << xSchede + name;
        }
        EXPECT_EQ(inPlace, QStringList{xSchede + QStringLiteral("SK1.DOC")});
        EXPECT_EQ(entries(xSchede), (QStringList{"SK1.DOC", "SK2.DOC", "SK4.DOC"})) << "no temporary left";
        QStringList recorded;
        for (const ChangeSink::Change& c : s->changes()) {
            if (c.kind == ChangeSink::Change::Kind::File)
                recorded << c.path;
        }
        EXPECT_EQ(recorded, inPlace);
        EXPECT_EQ(run.filesOffered[1][0], 1);
    }
    versioning.finish(nullptr);
    const std::optional<VersionEntry> entry = store.find(versioning.entryId());
    ASSERT_TRUE(entry);
    ASSERT_EQ(entry->items.size(), 1u);
    EXPECT_EQ(entry->items[0].path, xSchede + QStringLiteral("SK1.DOC"));
    EXPECT_TRUE(entry->items[0].version.isEmpty()) << "created by the run";
    EXPECT_TRUE(QDir(versioning.entryFolder() + QStringLiteral("files")).isEmpty())
        << "no version kept of a card the run did not replace";
}

TEST_F(DocumentsTest, SheetMessagesNameTheSheet)
{
    w.ticks.gruppi = {0, 0, 1};
    file(fogli, QStringLiteral("xk3.xls"), "sheet", baseTime());
    file(xFogli, QStringLiteral("README"), "x", baseTime());
    SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 { return 0; });
    prompt.expect(QStringLiteral("Non c'è più spazio sul disco"), AnswerCancel)
        .expect(QStringLiteral("Errore nell'invio del Foglio XK3.XLS"), AnswerOk, MsgStyle::Ok);
    EXPECT_FALSE(runDocuments(w).completed);
}

TEST_F(DocumentsTest, IndicesAnsweredNoStillCompletes)
{
    w.ticks.gruppi = {1, 0, 0};
    file(dati, QStringLiteral("IndiciDV.mdb"), "new", baseTime().addSecs(60));
    file(xIndici, QStringLiteral("IndiciDV.mdb"), "old", baseTime());
    prompt.expect(QStringLiteral("Copio: "), AnswerNo, MsgStyle::Question);
    EXPECT_TRUE(runDocuments(w).completed);
    EXPECT_EQ(TempInstall::readBytes(xIndici + "IndiciDV.mdb"), QByteArray("old"));
    EXPECT_EQ(w.ticks.gruppi[0], 2);
    EXPECT_EQ(w.filesOffered[0][0], 1);
    EXPECT_FALSE(key(QStringLiteral("DTLX"), 0).isEmpty());
}

TEST_F(DocumentsTest, MissingLocalIndicesReportsError)
{
    w.ticks.gruppi = {1, 1, 0};
    file(xIndici, QStringLiteral("IndiciDV.mdb"), "old", baseTime());
    file(testi, QStringLiteral("SK1.doc"), "a", baseTime());
    file(xSchede, QStringLiteral("SK2.DOC"), "b", baseTime());
    prompt.expect(QStringLiteral("Copio: "), AnswerYes)
        .expect(QStringLiteral("Errore nell'aggiornamento degli INDICI"), AnswerOk, MsgStyle::Ok);
    EXPECT_FALSE(runDocuments(w).completed);
    EXPECT_EQ(w.ticks.gruppi[0], 1);
    EXPECT_EQ(w.ticks.gruppi[1], 1);
    EXPECT_FALSE(QFileInfo::exists(xSchede + "SK1.DOC"));
    EXPECT_EQ(w.filesOffered[0][0], 0);
}

TEST_F(DocumentsTest, DatesGoUnderTheSideKeys)
{
    w.ticks.gruppi = {0, 1, 0};
    w.request.portable = true;
    file(xSchede, QStringLiteral("SK2.DOC"), "b", baseTime());
    EXPECT_TRUE(runDocuments(w).completed);
    EXPECT_FALSE(key(QStringLiteral("XDTLX"), 1).isEmpty());
    EXPECT_TRUE(key(QStringLiteral("DTLX"), 1).isEmpty());
}

// A group whose date cannot be recorded is not done: it fails, naming the
// configuration file and the cause, and the stage ends there.
TEST_F(DocumentsTest, ADateThatCannotBeRecordedFailsItsGroup)
{
    w.ticks.gruppi = {0, 1, 1};
    file(xSchede, QStringLiteral("SK2.DOC"), "card", baseTime());
    file(xFogli, QStringLiteral("XK2.XLS"), "sheet", baseTime());
    platform::setFailureInjector(
        [&](const QString& op, const QString& path) { return op == "write" && path == ini ? EROFS : 0; });
    const QString text = QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE\n") + ini +
                         QStringLiteral("\nnon si può scrivere: 75-");
    prompt.expect(text, AnswerOk, MsgStyle::ExclamationOk);
    const Documents documents = runDocuments(w);
    EXPECT_FALSE(documents.completed);
    platform::setFailureInjector({});
    EXPECT_EQ(prompt.pending(), 0);
    EXPECT_TRUE(prompt.messages.last().text.endsWith(
        QStringLiteral("\nLa data di questo aggiornamento non è stata registrata.")));
    ASSERT_TRUE(documents.groups[1]);
    EXPECT_TRUE(documents.groups[1]->failed());
    EXPECT_EQ(documents.groups[1]->error, 75);
    EXPECT_TRUE(documents.groups[1]->reason.startsWith(text));
    EXPECT_EQ(w.ticks.gruppi[1], 1);
    EXPECT_FALSE(documents.groups[2]) << "the sheets were never reached";
    EXPECT_TRUE(key(QStringLiteral("DTLX"), 1).isEmpty());
    EXPECT_EQ(TempInstall::readBytes(testi + QStringLiteral("SK2.DOC")), QByteArray("card"));
}

} // namespace
} // namespace mirsalex::test

namespace mirsalex::test {
namespace {

// Folders configured in another case than the one on disk are the same
// folders: the cards are read from and written into the folders on disk.
TEST_F(DocumentsTest, FoldersNamedInAnotherCase)
{
    w.ticks.gruppi = {0, 1, 0};
    w.request.cardsFolder = dati + QStringLiteral("TESTI/");                         // "testi" on disk
    w.request.exchangeFolders[1] = inst.path(QStringLiteral("scambio/op1/schede/")); // "OP1/SCHEDE" on disk
    file(testi, QStringLiteral("sk1.doc"), "local card", baseTime().addSecs(60));
    file(xSchede, QStringLiteral("SK2.DOC"), "remote card", baseTime());

    EXPECT_TRUE(runDocuments(w).completed);

    EXPECT_EQ(TempInstall::readBytes(xSchede + "SK1.DOC"), QByteArray("local card"));
    EXPECT_EQ(TempInstall::readBytes(testi + "SK2.DOC"), QByteArray("remote card"));
    EXPECT_EQ(w.filesOffered[1][0], 1);
    EXPECT_EQ(w.filesOffered[1][1], 1);
    EXPECT_EQ(w.ticks.gruppi[1], 2);
    EXPECT_FALSE(QFileInfo::exists(dati + "TESTI")) << "no second folder is made";
    EXPECT_FALSE(QFileInfo::exists(inst.path(QStringLiteral("scambio/op1"))));
}

// Two local cards whose names differ only in case (a case-sensitive disk) are
// one card for the exchange folder: the newer one is the one left there,
// whatever the listing order.
TEST_F(DocumentsTest, NamesDifferingOnlyInCaseLeaveTheNewest)
{
    w.ticks.gruppi = {0, 1, 0};
    file(testi, QStringLiteral("sk1.doc"), "older", baseTime());
    file(testi, QStringLiteral("SK1.DOC"), "newer", baseTime().addSecs(60));
    file(testi, QStringLiteral("Sk1.Doc"), "oldest", baseTime().addSecs(-60));
    file(xSchede, QStringLiteral("LEGGIMI.TXT"), "x", baseTime());

    EXPECT_TRUE(runDocuments(w).completed);

    EXPECT_EQ(TempInstall::readBytes(xSchede + "SK1.DOC"), QByteArray("newer"));
    EXPECT_EQ(mtime(xSchede + "SK1.DOC"), baseTime().addSecs(60));
    for (const QString& name : entries(xSchede))
        EXPECT_FALSE(name.startsWith(AtomicFile::temporaryPrefix())) << name.toStdString();
}

} // namespace

// A disk of `capacity` bytes holding the folder: a write that would take the
// files of the folder past it fails as a full disk would. Space comes back
// when a file is replaced.
struct SmallDisk
{
    explicit SmallDisk(const QString& folder, qint64 capacity)
    {
        SafeFileCopy::setWriteHook([folder, capacity](int fd, const char* data, qint64 size) -> qint64 {
            qint64 used = 0;
            for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
                used += f.size();
            if (used + size > capacity) {
                errno = ENOSPC;
                return -1;
            }
            return ::write(fd, data, static_cast<size_t>(size));
        });
    }
    ~SmallDisk() { SafeFileCopy::setWriteHook({}); }
};

// Room for each card but not for all at once: the cards are put in place as
// the disk fills, and only a card that would not fit on its own fails.
TEST_F(DocumentsTest, FullDiskFailsOnlyWhereOneCopyAtATimeWould)
{
    constexpr int kCards = 20;
    constexpr qint64 kSize = 1000;
    struct Case
    {
        const char* name;
        qint64 spare; // free bytes beyond the old cards
        bool completes;
    } cases[] = {{"room for one more card", 1500, true}, {"not even for one", 500, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempInstall other;
        const QString local = other.makeDir("testi");
        const QString remote = other.makeDir("x");
        for (int i = 0; i < kCards; ++i) {
            other.writeFile(QStringLiteral("testi/SK%1.DOC").arg(i), QByteArray(kSize, 'n'),
                            baseTime().addSecs(60));
            other.writeFile(QStringLiteral("x/SK%1.DOC").arg(i), QByteArray(kSize, 'o'), baseTime());
        }
        w.request.cardsFolder = local;
        w.request.exchangeFolders[1] = remote;
        w.ticks.gruppi = {0, 1, 0};
        if (!c.completes)
            prompt.expect(QStringLiteral("Non c'è più spazio sul disco"), AnswerCancel)
                .expect(QStringLiteral("Errore nell'invio della Scheda SK"), AnswerOk);
        {
            SmallDisk disk(remote, kCards * kSize + c.spare);
            EXPECT_EQ(runDocuments(w).completed, c.completes);
        }
        int placed = 0;
        for (int i = 0; i < kCards; ++i)
            placed +=
                TempInstall::readBytes(remote + QStringLiteral("SK%1.DOC").arg(i)) == QByteArray(kSize, 'n');
        EXPECT_EQ(placed, c.completes ? kCards : 0);
        EXPECT_EQ(w.filesOffered[1][0], placed);
        EXPECT_EQ(entries(remote).size(), kCards) << "no temporary file left";
        EXPECT_EQ(w.ticks.gruppi[1], c.completes ? 2 : 1);
    }
}

// An exchange folder that cannot be read is a failure told to the user (and
// ends the run), never an empty folder skipped in silence.
TEST_F(DocumentsTest, UnreadableFolderFailsTheRunWithItsCause)
{
    struct Case
    {
        const char* name;
        int err;
        bool exchange; // the exchange folder, else the local one
        QStringList messages;
        int number;
    } cases[] = {
        {"no permission", EACCES, true, {"Errore nella ricezione della Scheda SK*.doc\n"}, 70},
        {"device error",
         EIO,
         true,
         {"Errore di I/O sul DEVICE", "Errore nella ricezione della Scheda SK*.doc"},
         57},
        {"local folder", EACCES, false, {"Errore nell'invio della Scheda SK*.doc\n70-"}, 70},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.ticks.gruppi = {0, 1, 1};
        file(xSchede, QStringLiteral("SK1.DOC"), "card", baseTime());
        file(xFogli, QStringLiteral("XK1.XLS"), "sheet", baseTime());
        const QString target = c.exchange ? xSchede : testi;
        platform::setFailureInjector([&](const QString& op, const QString& path) {
            return op == QLatin1String("list") && path.startsWith(target) ? c.err : 0;
        });
        for (const QString& m : c.messages)
            prompt.expect(m, AnswerCancel);
        const Documents documents = runDocuments(w);
        EXPECT_FALSE(documents.completed);
        platform::setFailureInjector({});
        ASSERT_TRUE(documents.groups[1]);
        EXPECT_EQ(documents.groups[1]->error, c.number);
        EXPECT_EQ(w.ticks.gruppi[1], 1);
        EXPECT_EQ(w.ticks.gruppi[2], 1) << "no later group runs";
    }
}

// Links below the exchange folder are not followed, and a name that is no
// text does not stop the others: both are told once, and the run goes on.
TEST_F(DocumentsTest, LinksAndUndecodableNamesArePassedOverWithOneNotice)
{
    TempInstall outside;
    const QString secret =
        outside.writeFile("secret.doc", "not for the exchange area", baseTime().addSecs(60));
    const QString elsewhere = outside.makeDir("elsewhere");
    w.ticks.gruppi = {0, 1, 1};
    file(testi, QStringLiteral("SK2.doc"), "card", baseTime());
    file(xSchede, QStringLiteral("SK3.DOC"), "remote card", baseTime());
    ASSERT_TRUE(QFile::link(secret, xSchede + QStringLiteral("SK1.DOC")));
    const QByteArray badName = QFile::encodeName(xSchede) + QByteArray("SK\xff.DOC");
    {
        QFile bad(QFile::decodeName(badName));
        FILE* f = std::fopen(badName.constData(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("card with a Latin-1 name", f);
        std::fclose(f);
    }
    // The sheets folder was replaced by a link to somewhere else.
    QDir().rmdir(xFogli);
    ASSERT_TRUE(QFile::link(elsewhere.chopped(1), xFogli.chopped(1)));
    file(fogli, QStringLiteral("XK1.XLS"), "sheet", baseTime());
    w.request.sheetsFolder = fogli;

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        w.ticks.gruppi = {0, 1, 1};
        prompt.expect(QStringLiteral("FILE NON TRASFERITI"), AnswerOk, MsgStyle::ExclamationOk);
        EXPECT_TRUE(runDocuments(w).completed);
        ASSERT_EQ(prompt.messages.size(), run + 1);
        const QString notice = prompt.messages.last().text;
        EXPECT_TRUE(notice.contains(QStringLiteral("SK1.DOC"))) << notice.toStdString();
        EXPECT_TRUE(notice.contains(xFogli.chopped(1))) << notice.toStdString();
        EXPECT_EQ(notice.count(QLatin1Char('\n')), 3) << "each one named once";
        EXPECT_TRUE(QFileInfo::exists(testi + QStringLiteral("SK3.DOC")));
        EXPECT_TRUE(QFileInfo::exists(xSchede + QStringLiteral("SK2.DOC")));
        EXPECT_FALSE(QFileInfo::exists(testi + QStringLiteral("SK1.DOC")));
        EXPECT_TRUE(QFileInfo(xSchede + QStringLiteral("SK1.DOC")).isSymLink());
        EXPECT_TRUE(QDir(elsewhere).isEmpty()) << "nothing written through the link";
        EXPECT_EQ(w.ticks.gruppi[1], 2);
        EXPECT_EQ(w.ticks.gruppi[2], 1);
    }
    EXPECT_EQ(TempInstall::readBytes(secret), QByteArray("not for the exchange area"));
}

} // namespace mirsalex::test
