#include "common/RunLog.h"
#include "config/ConfigLoader.h"
#include "gui/StartupWindow.h"
#include "GuiTestSupport.h"
#include "run/RecordingPrompt.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <functional>
#include <gtest/gtest.h>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// A scripted prompt that does something of the user's the first time the
// run lets window events run.
class EventsPrompt : public ScriptedPrompt
{
public:
    std::function<void()> onEvents;
    void processEvents() override
    {
        ScriptedPrompt::processEvents();
        if (auto f = std::exchange(onEvents, nullptr))
            f();
    }
};

// "&USCITA" clicked while a run works: the run goes on to its end (with its
// final box), its entry reaches the run log with every box the run showed,
// and only then does the program end.
TEST(WindowRunLog, ExitDuringARunEndsTheProgramWhenTheRunReturns)
{
    testApplication();
    TempInstall inst;
    const QString dati = inst.makeDir(QStringLiteral("dati/"));
    inst.makeDir(QStringLiteral("dati/A12"));
    const QString ini = inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati +
                                      QStringLiteral("\n[BASE]\nOPERATORE=a12\n[EXPORT]\nPARMA12=00000\n"));
    EventsPrompt prompt;
    RecordingPrompt recorder(prompt);
    Context ctx(recorder);
    OperatorForm state;
    StartupWindow window(ctx, state);
    const QString logPath = inst.root() + QStringLiteral("state/mirsalex.log");
    window.setRunLog(RunLog(logPath), &recorder);
    StartupWindow::StartOptions options;
    options.programFolder = inst.programFolder();
    options.programName = QStringLiteral("mirsalex");
    ASSERT_TRUE(window.start(options));
    ASSERT_TRUE(activate(&window));
    QSignalSpy ended(&window, &StartupWindow::programEnded);

    auto* exit = window.findChild<QPushButton*>(QStringLiteral("cmdM_1"));
    ASSERT_NE(exit, nullptr);
    bool clicked = false;
    prompt.onEvents = [&] {
        QTest::mouseClick(exit, Qt::LeftButton);
        clicked = true;
        EXPECT_EQ(ended.size(), 0) << "the program never ends under a run";
        EXPECT_FALSE(exit->isEnabled()) << "the exit request shows as taken";
    };
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmdM_0")), Qt::LeftButton);

    ASSERT_TRUE(clicked);
    EXPECT_EQ(prompt.pending(), 0) << "the run showed its final box";
    ASSERT_EQ(ended.size(), 1);
    EXPECT_EQ(ended[0][0].toInt(), 0);
    EXPECT_TRUE(window.ended());
    EXPECT_EQ(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("OPERATORE")), QStringLiteral("A12"));

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(entry.contains(QStringLiteral("Operatore: A12\nLato: DeskTop\n"))) << qPrintable(entry);
    EXPECT_TRUE(entry.contains(QStringLiteral("Messaggi: 1\n  [1] MirsalEX (stile 0), risposta: OK\n"
                                              "      FINE AGGIORNAMENTO\nEsito: completato\nDurata: ")))
        << qPrintable(entry);
}

} // namespace
