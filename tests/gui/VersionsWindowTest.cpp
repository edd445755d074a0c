#include "gui/StartupWindow.h"
#include "GuiTestSupport.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDialog>
#include <QDir>
#include <QFile>
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
    OperatorForm state;
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

// An entry made by hand in the versions folder: of an older program (no
// installation) or of another installation.
void handEntry(const QString& folder, const QByteArray& id, const QByteArray& installation)
{
    ASSERT_TRUE(QDir().mkpath(folder + QString::fromLatin1(id)));
    QFile f(folder + QString::fromLatin1(id) + QStringLiteral("/manifest"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("entry\t" + id + "\tA12\tdesktop\t" +
            QDateTime::currentDateTime().addSecs(-60).toString(Qt::ISODateWithMs).toLatin1() + "\t" +
            installation + "\nend\tx\t0\n");
}

// "VERSIONI" lists this installation's runs, then under a heading of their
// own the entries that do not say their installation, and never another
// installation's; putting back one of the unsaid ones asks first, and warns.
TEST(VersionsWindow, ListsOnlyThisInstallationsRunsAndAsksForTheUnsaidOnes)
{
    testApplication();
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    OperatorForm state;
    const QString dati = inst.makeDir(QStringLiteral("dati/"));
    inst.makeDir(QStringLiteral("dati/A12"));
    const QString versions = inst.makeDir(QStringLiteral("versioni/"));
    inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati +
                  QStringLiteral("\n[BASE]\nOPERATORE=A12\n[EXPORT]\nPARMA12=00000\nVERSIONI=") + versions +
                  QStringLiteral("\n"));
    const QString folder = versions + QStringLiteral("A12/desktop/");
    handEntry(folder, "20200101-000001", "");
    handEntry(folder, "20200101-000002", "\t/altra/mirsalex.ini\t/altra/dati/");
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

    QStringList rows;
    onDialog = [&](QDialog& d) {
        auto* list = d.findChild<QListWidget*>(QStringLiteral("lstVersioni"));
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text();
        list->setCurrentRow(2);
        prompt.expect(QStringLiteral("RIPRISTINO DELLA VERSIONE 20200101-000001"), AnswerNo,
                      MsgStyle::Question);
        d.findChild<QPushButton*>(QStringLiteral("cmdRipristina"))->click();
    };
    window.onVersioni();
    ASSERT_EQ(rows.size(), 3) << qPrintable(rows.join(QLatin1Char('\n')));
    EXPECT_FALSE(rows[0].startsWith(QStringLiteral("20200101"))) << "the run itself first";
    EXPECT_EQ(rows[1], QStringLiteral("Versioni senza installazione registrata:"));
    EXPECT_TRUE(rows[2].startsWith(QStringLiteral("20200101-000001")));
    EXPECT_EQ(prompt.pending(), 0);
    ASSERT_FALSE(prompt.texts().isEmpty());
    EXPECT_TRUE(prompt.texts().last().contains(QStringLiteral("non dice di quale installazione")))
        << qPrintable(prompt.texts().last());
}

} // namespace
