#include "common/FileErrors.h"

#include "common/Platform.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <QFile>

using namespace mirsalex;
using mirsalex::test::ScriptedPrompt;
using mirsalex::test::TempInstall;

namespace {

// Makes the directory search fail with `err` for the first `times` calls and
// counts every call.
struct FailingSearch
{
    explicit FailingSearch(int err, int times = 1000)
    {
        platform::setFailureInjector([this, err, times](const QString& op, const QString&) {
            if (op != "list")
                return 0;
            ++calls;
            return calls <= times ? err : 0;
        });
    }
    ~FailingSearch() { platform::setFailureInjector({}); }
    int calls = 0;
};

} // namespace

TEST(MsgErroreFile, TextsButtonsAndResults)
{
    struct Case
    {
        int number;
        QString text;
        int style;
        int answer;
        int result;
    } cases[] = {
        {52, "Il nome dell'archivio non è corretto.", 48, AnswerOk, SceltaChiudi},
        {64, "Il nome dell'archivio non è corretto.", 48, AnswerOk, SceltaChiudi},
        {54, "L'archivio non si può aprire per quel tipo di accesso.", 48, AnswerOk, SceltaChiudi},
        {55, "L'archivio è già aperto.", 53, AnswerRetry, SceltaRiprova},
        {57, "Errore di I/O sul DEVICE del file   A:", 53, AnswerCancel, SceltaChiudi},
        {61, "Non c'è più spazio sul disco   A:", 53, AnswerRetry, SceltaRiprova},
        {62, "L'archivio ha un fine-file non standard,\no è stata fatta una lettura oltre la fine.", 48,
         AnswerOk, SceltaChiudi},
        {68, "Questo device non e' utilizzabile   A:", 48, AnswerOk, SceltaChiudi},
        {71, "Il disco non è pronto   A:", 53, AnswerCancel, SceltaChiudi},
        {76, "Questo percorso non esiste.", 53, AnswerRetry, SceltaRiprova},
        {76, "Questo percorso non esiste.", 53, AnswerIgnore, SceltaIgnora},
        {76, "Questo percorso non esiste.", 53, AnswerYes, SceltaNessuna},
    };
    for (const auto& c : cases) {
        ScriptedPrompt prompt;
        prompt.expect(c.text, c.answer, c.style);
        EXPECT_EQ(MsgErroreFile(prompt, c.number, "A:\\DATI\\F.MDB"), c.result) << c.number;
        ASSERT_EQ(prompt.messages.size(), 1);
        EXPECT_EQ(prompt.messages[0].text, c.text) << c.number;
        EXPECT_EQ(prompt.messages[0].title, "Errori su  A:\\DATI\\F.MDB");
    }
}

TEST(MsgErroreFile, UnknownNumbersShowNothing)
{
    for (int n : {0, 53, 58, 70, 75, 999}) {
        ScriptedPrompt prompt;
        EXPECT_EQ(MsgErroreFile(prompt, n, "X"), SceltaNessuna);
    }
    ScriptedPrompt prompt;
    prompt.expect("Il disco non è pronto   X ", AnswerCancel); // short name padded to two characters
    MsgErroreFile(prompt, 71, "X");
}

TEST(EsisteFile, FindsFilesByNameWildcardOrFolder)
{
    TempInstall inst;
    inst.writeFile("d/sk12.DOC", "x");
    inst.writeFile("d/.hidden", "x");
    inst.makeDir("d/sub");
    inst.makeDir("empty");
    inst.writeFile("onlyhidden/.x", "x");
    struct Case
    {
        QString name;
        bool exists;
    } cases[] = {
        {inst.path("d/sk12.DOC"), true},      {inst.path("D/SK12.doc"), true},
        {inst.path("d/SK*.doc"), true},       {inst.path("d/XK*.xls"), false},
        {inst.path("d/missing.doc"), false},  {inst.path("d/"), true},
        {inst.path("empty/"), false},         {inst.path("onlyhidden/"), false},
        {inst.path("onlyhidden/.x"), true},   {inst.path("d/sub"), false}, // folders are not ordinary files
        {inst.path("nofolder/x.doc"), false}, {inst.path("nofolder/"), false},
    };
    for (const auto& c : cases) {
        ScriptedPrompt prompt; // no message is expected
        EXPECT_EQ(EsisteFile(prompt, c.name), c.exists) << c.name.toStdString();
    }
    ScriptedPrompt prompt;
    EXPECT_TRUE(EsisteFile(prompt, inst.path("d/sub"), 16));
}

TEST(EsisteFile, BlankNameTouchesNothing)
{
    FailingSearch search(EIO);
    ScriptedPrompt prompt;
    EXPECT_FALSE(EsisteFile(prompt, "   "));
    EXPECT_FALSE(EsisteFile(prompt, ""));
    EXPECT_EQ(search.calls, 0);
}

TEST(EsisteFile, DeviceErrorOffersRetry)
{
    TempInstall inst;
    const QString f = inst.writeFile("d/x.doc", "x");
    {
        // The disk is "inserted" after the first failure: Retry finds the file.
        FailingSearch search(ENOMEDIUM, 1);
        ScriptedPrompt prompt;
        prompt.expect("Il disco non è pronto   " + f.left(2), AnswerRetry, 53);
        EXPECT_TRUE(EsisteFile(prompt, f));
        EXPECT_EQ(search.calls, 2);
    }
    {
        // Retry twice while the disk is still missing, then Cancel.
        FailingSearch search(ENOMEDIUM);
        ScriptedPrompt prompt;
        prompt.expect("Il disco non è pronto", AnswerRetry)
            .expect("Il disco non è pronto", AnswerRetry)
            .expect("Il disco non è pronto", AnswerCancel);
        EXPECT_FALSE(EsisteFile(prompt, f));
        EXPECT_EQ(search.calls, 3);
    }
    {
        FailingSearch search(ENODEV);
        ScriptedPrompt prompt;
        prompt.expect("Questo device non e' utilizzabile", AnswerOk, 48);
        EXPECT_FALSE(EsisteFile(prompt, f));
    }
    {
        FailingSearch search(EIO, 1);
        ScriptedPrompt prompt;
        prompt.expect("Errore di I/O sul DEVICE del file", AnswerRetry, 53);
        EXPECT_TRUE(EsisteFile(prompt, f));
    }
    {
        // Errors without a message give false silently.
        FailingSearch search(EACCES);
        ScriptedPrompt prompt;
        EXPECT_FALSE(EsisteFile(prompt, f));
    }
}

namespace {

// A system of its own for the media tests: media folders, the table of what
// is mounted and the fstab all under a temporary root, user "mario".
struct MediaSystem
{
    MediaSystem()
    {
        inst.makeDir("media/mario");
        inst.makeDir("run/media/mario");
        inst.makeDir("mnt");
        platform::MediaLayout layout;
        layout.mountTable = inst.path("mounts");
        layout.fstab = inst.path("fstab");
        layout.mediaFolders = {inst.path("media"), inst.path("run/media"), inst.path("mnt")};
        layout.perUserFolder = inst.path("run/media");
        layout.userName = "mario";
        platform::setMediaLayout(layout);
        setTables({}, {});
    }
    ~MediaSystem() { platform::setMediaLayout(std::nullopt); }
    // Lines "device mount-point type options 0 0"; mount points relative to the root.
    void setTables(const QStringList& mounted, const QStringList& expected)
    {
        const auto table = [this](const QStringList& points) {
            QByteArray bytes = "/dev/sda1 / ext4 rw 0 0\n";
            for (QString p : points)
                bytes += "/dev/sdb1 " + inst.path(p).replace(' ', "\\040").toUtf8() + " vfat rw 0 0\n";
            return bytes;
        };
        inst.writeFile("mounts", table(mounted));
        inst.writeFile("fstab", "# static file system information\n" + table(expected));
    }
    TempInstall inst;
};

// A prompt that lets the user act (insert the disk) before answering.
class ActingPrompt : public ScriptedPrompt
{
public:
    std::function<void()> onMessage;

protected:
    int ask(const QString& text, int style, const QString& title) override
    {
        if (onMessage)
            onMessage();
        return ScriptedPrompt::ask(text, style, title);
    }
};

} // namespace

TEST(EsisteFile, AbsentRemovableMediumIsADiskNotReady)
{
    struct Case
    {
        const char* name;
        QString file;         // relative to the root
        QStringList folders;  // made before the test
        QStringList mounted;  // mount points in the mount table
        QStringList expected; // mount points in the fstab
        const char* medium;   // the drive text, or nullptr for no message
    } cases[] = {
        {"desktop medium not inserted",
         "media/mario/CHIAVETTA/A12/DatiDV.mdb",
         {},
         {},
         {},
         "media/mario/CHIAVETTA"},
        {"per-user media folder", "run/media/mario/USB/DatiDV.mdb", {}, {}, {}, "run/media/mario/USB"},
        {"shared media folder", "media/usb0/A12/", {}, {}, {}, "media/usb0"},
        {"missing mount point under /mnt", "mnt/scambio/DatiDV.mdb", {}, {}, {}, "mnt/scambio"},
        {"fstab mount point not mounted", "mnt/usb/DatiDV.mdb", {"mnt/usb"}, {}, {"mnt/usb"}, "mnt/usb"},
        {"stale desktop mount folder",
         "media/mario/CHIAVETTA/x.doc",
         {"media/mario/CHIAVETTA"},
         {},
         {},
         "media/mario/CHIAVETTA"},
        {"network share of the fstab", "srv/rete/A12/DatiDV.mdb", {"srv/rete"}, {}, {"srv/rete"}, "srv/rete"},
        {"mounted medium, file missing",
         "media/mario/MIA CHIAVETTA/x.doc",
         {"media/mario/MIA CHIAVETTA"},
         {"media/mario/MIA CHIAVETTA"},
         {},
         nullptr},
        {"plain folder under /mnt", "mnt/cartella/x.doc", {"mnt/cartella"}, {}, {}, nullptr},
        {"/mnt itself a disk: a missing folder on it", "mnt/manca/x.doc", {}, {"mnt"}, {}, nullptr},
        {"simply wrong path", "altro/manca/x.doc", {}, {}, {}, nullptr},
        {"the user's own media folder", "media/mario/", {}, {}, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MediaSystem sys;
        for (const QString& f : c.folders)
            sys.inst.makeDir(f);
        sys.setTables(c.mounted, c.expected);
        const QString file = sys.inst.path(c.file);
        ScriptedPrompt prompt;
        if (c.medium)
            prompt.expect("Il disco non è pronto   " + sys.inst.path(c.medium), AnswerCancel,
                          MsgStyle::ExclamationRetryCancel);
        EXPECT_FALSE(EsisteFile(prompt, file));
        EXPECT_EQ(prompt.messages.size(), c.medium ? 1 : 0);
        if (c.medium) {
            EXPECT_EQ(prompt.messages.value(0).title, "Errori su  " + file);
        }
    }
}

TEST(EsisteFile, RetryFindsTheFileOnceTheMediumIsInserted)
{
    MediaSystem sys;
    const QString file = sys.inst.path("media/mario/CHIAVETTA/A12/DatiDV.mdb");
    ActingPrompt prompt;
    int shown = 0;
    prompt.onMessage = [&] {
        // Still missing at the first Retry; inserted before the second.
        if (++shown == 2) {
            sys.inst.writeFile("media/mario/CHIAVETTA/A12/DatiDV.mdb", "db");
            sys.setTables({"media/mario/CHIAVETTA"}, {});
        }
    };
    prompt.expect("Il disco non è pronto", AnswerRetry).expect("Il disco non è pronto", AnswerRetry);
    EXPECT_TRUE(EsisteFile(prompt, file));
    EXPECT_EQ(shown, 2);

    // Without a readable mount table nothing can be told: no message.
    MediaSystem other;
    QFile::remove(other.inst.path("mounts"));
    ScriptedPrompt silent;
    EXPECT_FALSE(EsisteFile(silent, other.inst.path("media/mario/ALTRA/x.doc")));
}
