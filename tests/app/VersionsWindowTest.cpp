#include "app/StartupWindow.h"
#include "AppTestSupport.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// A run from the window is kept as a version: "VERSIONI" lists it with what
// it changed, and puts it back after a confirmation; the restore is listed
// in turn.
TEST(VersionsWindow, ListsTheRunAndPutsItBackAfterAConfirmation)
{
    testApplication();
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    WindowState state;
    const QString dati = inst.makeDir(QStringLiteral("dati/"));
    inst.makeDir(QStringLiteral("dati/A12"));
    inst.writeFile(QStringLiteral("dati/A12/DatiDV.mdb"));
    const QString testi = inst.makeDir(QStringLiteral("testi/"));
    const QString schede = inst.makeDir(QStringLiteral("scambio/SCHEDE/"));
    const QString versions = inst.makeDir(QStringLiteral("versioni/"));
    inst.writeFile(QStringLiteral("scambio/SCHEDE/SK000001.DOC"), "card");
    const QString ini =
        inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati + QStringLiteral("\nTESTI=") + testi +
                      QStringLiteral("\n[BASE]\nOPERATORE=A12\n[EXPORT]\nPARMA12=01000\nFLX1A12=") + schede +
                      QStringLiteral("\nVERSIONI=") + versions + QStringLiteral("\n"));
    StartupWindow window(ctx, state);
    std::function<void(QDialog&)> onDialog;
    window.setModalRunner([&](QDialog& d) {
        if (onDialog)
            onDialog(d);
        return int(QDialog::Rejected);
    });
    StartupWindow::StartOptions o;
    o.programFolder = inst.programFolder();
    o.programName = QStringLiteral("mirsalex");
    ASSERT_TRUE(window.start(o));

    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    window.findChild<QPushButton*>(QStringLiteral("cmdM_0"))->click();
    const QString card = testi + QStringLiteral("SK000001.DOC");
    ASSERT_TRUE(QFileInfo::exists(card));

    int rowsBefore = -1, rowsAfter = -1;
    QString details;
    onDialog = [&](QDialog& d) {
        ASSERT_EQ(d.objectName(), QStringLiteral("dlgVersioni"));
        auto* list = d.findChild<QListWidget*>(QStringLiteral("lstVersioni"));
        ASSERT_NE(list, nullptr);
        rowsBefore = list->count();
        details = d.findChild<QPlainTextEdit*>(QStringLiteral("txtVersione"))->toPlainText();
        prompt.expect(QStringLiteral("RIPRISTINO DELLA VERSIONE "), AnswerYes, MsgStyle::Question);
        prompt.expect(QStringLiteral("RIPRISTINO COMPLETATO"), AnswerOk, MsgStyle::Ok);
        d.findChild<QPushButton*>(QStringLiteral("cmdRipristina"))->click();
        rowsAfter = list->count();
    };
    window.onVersioni();

    EXPECT_EQ(rowsBefore, 1);
    EXPECT_TRUE(details.contains(QStringLiteral("file creato:   ") + card)) << qPrintable(details);
    EXPECT_EQ(rowsAfter, 2) << "the restore is kept as a version too";
    EXPECT_FALSE(QFileInfo::exists(card)) << "the card the run brought is removed again";
    EXPECT_EQ(prompt.pending(), 0);
}

} // namespace
