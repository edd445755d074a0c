#pragma once

#include "changes/ApplyChanges.h"
#include "common/Platform.h"
#include "common/SafeFileCopy.h"
#include "config/Context.h"
#include "runtypes/RunState.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"
#include "transfer/FileTimes.h"
#include "transfer/Transfer.h"

#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <QDateTime>
#include <QDir>
#include <QStringList>

namespace mirsalex::test {

// A fixed local time with an odd second, far from any DST change.
inline QDateTime baseTime()
{
    return QDateTime(QDate(2024, 3, 5), QTime(10, 20, 31));
}

inline QDateTime mtime(const QString& path)
{
    const auto t = platform::modificationTime(path);
    return t ? *t : QDateTime();
}

// Every entry of a folder, hidden ones included (a leftover temporary file
// must show up).
inline QStringList entries(const QString& folder)
{
    QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Restores the real write and file-system test whatever a test did.
struct HookReset
{
    ~HookReset()
    {
        SafeFileCopy::setWriteHook({});
        FileTimes::setTwoSecondHook({});
    }
};

// One operator installation: data, cards and sheets folders on the local
// side, three exchange folders, a configuration file.
struct TransferFixture : ::testing::Test
{
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    ApplyChanges sink;
    RunState w{RunRequest{}, sink};
    HookReset hooks;
    QString dati, testi, fogli, xIndici, xSchede, xFogli, ini;

    void SetUp() override
    {
        dati = inst.makeDir(QStringLiteral("dati"));
        testi = inst.makeDir(QStringLiteral("dati/testi"));
        fogli = inst.makeDir(QStringLiteral("dati/fogli"));
        xIndici = inst.makeDir(QStringLiteral("scambio/OP1"));
        xSchede = inst.makeDir(QStringLiteral("scambio/OP1/SCHEDE"));
        xFogli = inst.makeDir(QStringLiteral("scambio/OP1/FOGLI"));
        ini = inst.writeIni(QStringLiteral("[PATH]\nFILE=%1\n\n[EXPORT]\nDEBUG=0\n").arg(dati));
        ctx.config.FileIni = ini;
        ctx.config.PathDati = dati;
        ctx.config.PathTesti = testi;
        ctx.config.PathFogli = fogli;
        ctx.CodOperatore = QStringLiteral("OP1");
        w.request.operatorCode = QStringLiteral("OP1");
        w.request.typedOperator = QStringLiteral("OP1");
        w.request.portable = false;
        w.request.localClients = dati + QStringLiteral("OP1/DatiDV.mdb");
        w.request.exchangeClients = xIndici + QStringLiteral("DatiDV.mdb");
        w.request.exchangeFolders = {xIndici, xSchede, xFogli};
        w.request.configFile = ini;
        w.request.dataFolder = dati;
        w.request.cardsFolder = testi;
        w.request.sheetsFolder = fogli;
        w.request.prompt = &prompt;
    }

    // Runs the document groups ticked in `state`, in order, as a run does:
    // the first failure ends the stage. `completed` is false then.
    struct Documents
    {
        bool completed = true;
        std::array<std::optional<StepOutcome>, 3> groups; // empty: not taken up
    };
    static Documents runDocuments(RunState& state)
    {
        StepOutcome (*const steps[])(RunState&) = {sendIndices, exchangeCards, exchangeSheets};
        Documents d;
        for (size_t g = 0; g < 3; ++g) {
            if (state.ticks.gruppi[g] != 1)
                continue;
            const StepOutcome outcome = steps[g](state);
            d.groups[g] = outcome;
            if (outcome.result() > 0) {
                d.completed = false;
                break;
            }
        }
        return d;
    }

    QString file(const QString& folder, const QString& name, const QByteArray& content, const QDateTime& when)
    {
        return inst.writeFile(folder.mid(inst.root().size()) + name, content, when);
    }
};

} // namespace mirsalex::test
