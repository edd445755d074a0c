#include "common/FileErrors.h"

#include "common/Platform.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <cerrno>
#include <gtest/gtest.h>

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
