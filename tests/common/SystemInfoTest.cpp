#include "common/SystemInfo.h"

#include "common/Platform.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <QFile>
#include <QMap>

using namespace mirsalex;
using mirsalex::test::ScriptedPrompt;
using mirsalex::test::TempInstall;

namespace {

// A registry of values given by the test and a starter that records.
struct FakeInfo : SystemInfo
{
    QMap<QString, QString> values; // "key|value name" -> data
    QStringList started;
    bool startWorks = true;
    bool LeggiValoreRegistro(RegistryRoot, const QString& key, const QString& name, QString& text) override
    {
        const auto it = values.constFind(key + QLatin1Char('|') + name);
        if (it == values.constEnd()) {
            text.clear();
            return false;
        }
        text = *it;
        return true;
    }
    bool avvia(const QString& program) override
    {
        started << program;
        return startWorks;
    }
};

const QString kPath = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH");
const QString kLocation = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO");

} // namespace

TEST(AvviaInfoSistema, RegistryLeadsToTheToolOrSetsTheErrorCode)
{
    TempInstall inst;
    const QString withTool = inst.makeDir(QStringLiteral("msinfo/"));
    inst.writeFile(QStringLiteral("msinfo/MSINFO32.EXE"), "x");
    const QString withoutTool = inst.makeDir(QStringLiteral("vuota/"));
    struct Case
    {
        const char* name;
        QMap<QString, QString> values;
        bool startWorks;
        QStringList started;
        qint16 codErrore;
    } cases[] = {
        {"PATH value: started from it, second key not needed",
         {{kPath, "/opt/x/msinfo32"}},
         true,
         {"/opt/x/msinfo32"},
         0},
        {"PATH value, start fails", {{kPath, "/opt/x/msinfo32"}}, false, {"/opt/x/msinfo32"}, 1},
        {"folder key with the tool",
         {{kLocation, withTool.chopped(1)}},
         true,
         {withTool + "MSINFO32.EXE"},
         0},
        {"folder key without the tool", {{kLocation, withoutTool.chopped(1)}}, true, {}, 1},
        {"no registry at all", {}, true, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeInfo info;
        info.values = c.values;
        info.startWorks = c.startWorks;
        qint16 codErrore = 0;
        AvviaInfoSistema(info, codErrore);
        EXPECT_EQ(info.started, c.started);
        EXPECT_EQ(codErrore, c.codErrore);
    }
    // This platform's own: no registry, so the caller goes on to the disk.
    SystemInfo system;
    QString text = QStringLiteral("old");
    EXPECT_FALSE(system.LeggiValoreRegistro(RegistryRoot::LocalMachine, kPath, QStringLiteral("PATH"), text));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_FALSE(system.avvia(QString()));
}

TEST(CercaSuDisco, DepthFirstStopsAtTheFirstMatch)
{
    TempInstall inst;
    const QString root = inst.makeDir(QStringLiteral("programmi/"));
    inst.writeFile(QStringLiteral("programmi/alfa/uno/due/HardInfo"), "deep");
    inst.writeFile(QStringLiteral("programmi/beta/hardinfo"), "later");
    inst.writeFile(QStringLiteral("programmi/.nascosta/hardinfo"), "hidden");
    inst.makeDir(QStringLiteral("programmi/alfa/vuota"));
    QFile::link(root, root + QStringLiteral("alfa/uno/giro")); // a loop back to the top

    ScriptedPrompt prompt;
    QStringList visited;
    const auto visit = [&visited](const QString& folder, const QStringList&) {
        visited << folder;
        return true;
    };
    EXPECT_EQ(CercaSuDisco(prompt, root, QStringLiteral("hardinfo"), visit),
              root + QStringLiteral("alfa/uno/due/HardInfo"));
    for (const QString& f : visited)
        EXPECT_FALSE(f.contains(QStringLiteral("beta"))) << "no folder after the match: " << f.toStdString();
    EXPECT_GT(prompt.processEventsCalls, 0) << "the window stays responsive";

    // Not there (the loop is searched once, the hidden folder never).
    visited.clear();
    EXPECT_TRUE(CercaSuDisco(prompt, root, QStringLiteral("kinfocenter"), visit).isEmpty());
    EXPECT_EQ(visited.filter(QStringLiteral("giro")).size(), 0);
    EXPECT_EQ(visited.filter(QStringLiteral(".nascosta")).size(), 0);
    EXPECT_TRUE(visited.contains(root + QStringLiteral("beta/")));
    // A missing root searches nothing; a visitor that says stop ends it.
    EXPECT_TRUE(
        CercaSuDisco(prompt, inst.path(QStringLiteral("manca")), QStringLiteral("hardinfo")).isEmpty());
    EXPECT_TRUE(
        CercaSuDisco(prompt, root, QStringLiteral("hardinfo"), [](const QString&, const QStringList&) {
            return false;
        }).isEmpty());
}

TEST(CercaSuDisco, DeviceErrorIsExplainedAndMayBeRetried)
{
    TempInstall inst;
    const QString root = inst.makeDir(QStringLiteral("programmi/"));
    inst.writeFile(QStringLiteral("programmi/hardinfo"), "x");
    int failures = 1;
    platform::setFailureInjector([&failures](const QString& op, const QString&) {
        return op == QLatin1String("list") && failures-- > 0 ? EIO : 0;
    });
    ScriptedPrompt prompt;
    prompt.expect(QStringLiteral("Errore di I/O sul DEVICE del file"), AnswerRetry);
    EXPECT_EQ(CercaSuDisco(prompt, root, QStringLiteral("hardinfo")), root + QStringLiteral("hardinfo"));
    platform::setFailureInjector({});
}
