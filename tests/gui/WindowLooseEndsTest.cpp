#include "gui/QtPrompt.h"
#include "gui/StartupWindow.h"
#include "GuiTestSupport.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// Operator A12 with only the cards group ticked; the exchange folder of the
// cards is `exchange` (made with a card in it when `withExchange`).
struct WindowFixture
{
    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    OperatorForm state;
    std::unique_ptr<StartupWindow> window;
    std::function<void(QDialog&)> onDialog;
    QString testi, versions;

    explicit WindowFixture(bool withExchange)
    {
        testApplication();
        const QString dati = inst.makeDir(QStringLiteral("dati/"));
        inst.makeDir(QStringLiteral("dati/A12"));
        inst.writeFile(QStringLiteral("dati/A12/DatiDV.mdb"));
        testi = inst.makeDir(QStringLiteral("testi/"));
        versions = inst.makeDir(QStringLiteral("versioni/"));
        const QString schede = inst.path(QStringLiteral("scambio/SCHEDE/"));
        if (withExchange)
            inst.writeFile(QStringLiteral("scambio/SCHEDE/SK000001.DOC"), "card");
        inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati + QStringLiteral("\nTESTI=") + testi +
                      QStringLiteral("\n[BASE]\nOPERATORE=A12\n[EXPORT]\nPARMA12=01000\nFLX1A12=") + schede +
                      QStringLiteral("\nVERSIONI=") + versions + QStringLiteral("\n"));
        window = std::make_unique<StartupWindow>(ctx, state);
        window->setModalRunner([this](QDialog& d) {
            if (onDialog)
                onDialog(d);
            return int(QDialog::Rejected);
        });
    }
    bool start()
    {
        StartupWindow::StartOptions o;
        o.programFolder = inst.programFolder();
        o.programName = QStringLiteral("mirsalex");
        return window->start(o) && activate(window.get());
    }
    QPushButton* button(const char* name) const
    {
        return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QString outcome() const { return window->findChild<QLabel*>(QStringLiteral("lbEsito"))->toolTip(); }
};

// A run whose every step was skipped (the exchange folder missing) still
// ends with "FINE AGGIORNAMENTO", and the window says that nothing was
// transferred and why; a run that completes says so.
TEST(WindowLooseEnds, ARunThatTransferredNothingSaysWhy)
{
    {
        WindowFixture f(false);
        ASSERT_TRUE(f.start());
        EXPECT_TRUE(f.outcome().isEmpty());
        f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
        f.button("cmdM_0")->click();
        EXPECT_EQ(f.prompt.pending(), 0);
        EXPECT_TRUE(f.outcome().startsWith(QStringLiteral("NESSUN DATO TRASFERITO. SCHEDE CLIENTI: saltato")))
            << qPrintable(f.outcome());
        EXPECT_TRUE(f.outcome().contains(f.inst.path(QStringLiteral("scambio/SCHEDE"))))
            << qPrintable(f.outcome());
    }
    WindowFixture f(true);
    ASSERT_TRUE(f.start());
    f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    f.button("cmdM_0")->click();
    EXPECT_EQ(f.outcome(), QStringLiteral("Aggiornamento completato."));
}

// After a run "&ESEGUI" is hidden: "&ANTEPRIMA" stays where it was, and an
// Alt+letter no button takes (Alt+E) types nothing into the code box.
TEST(WindowLooseEnds, AfterARunNothingMovesAndAltTypesNothing)
{
    WindowFixture f(true);
    ASSERT_TRUE(f.start());
    const QRect preview = f.button("cmdAnteprima")->geometry();
    f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    f.button("cmdM_0")->click();
    QCoreApplication::processEvents();
    ASSERT_FALSE(f.button("cmdM_0")->isVisible());
    EXPECT_EQ(f.button("cmdAnteprima")->geometry(), preview);

    QLineEdit* box = f.window->codOper();
    box->setFocus();
    box->selectAll();
    const QString code = box->text();
    for (const Qt::Key key : {Qt::Key_E, Qt::Key_Q, Qt::Key_5})
        QTest::keyClick(box, key, Qt::AltModifier);
    QTest::keyClick(box, Qt::Key_E, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(box->text(), code);
    QTest::keyClick(box, Qt::Key_Z);
    EXPECT_EQ(box->text(), QStringLiteral("Z")) << "plain letters still arrive in upper case";
    EXPECT_EQ(f.prompt.pending(), 0);
}

// The versions dialog: whole lines, no heading over nothing, each key with
// one blank and said to be the value before the run, and "No" as the
// default answer when the restore would undo later changes.
TEST(WindowLooseEnds, VersionsDialogTellsKeysAndDefaultsToNoOverLaterChanges)
{
    WindowFixture f(true);
    ASSERT_TRUE(f.start());
    bool headingShown = true;
    QStringList rows;
    f.onDialog = [&](QDialog& d) {
        headingShown = !d.findChild<QLabel*>(QStringLiteral("lblVersioni"))->isHidden();
        auto* list = d.findChild<QListWidget*>(QStringLiteral("lstVersioni"));
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text();
    };
    f.window->onVersioni();
    EXPECT_FALSE(headingShown) << "no run kept yet";

    f.prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    f.button("cmdM_0")->click();
    // The main application changes the card the run brought.
    QFile card(f.testi + QStringLiteral("SK000001.DOC"));
    ASSERT_TRUE(card.open(QIODevice::WriteOnly | QIODevice::Append));
    card.write("changed later");
    card.close();

    QString details;
    bool wide = false;
    f.onDialog = [&](QDialog& d) {
        headingShown = !d.findChild<QLabel*>(QStringLiteral("lblVersioni"))->isHidden();
        auto* list = d.findChild<QListWidget*>(QStringLiteral("lstVersioni"));
        wide = list->textElideMode() == Qt::ElideNone;
        details = d.findChild<QPlainTextEdit*>(QStringLiteral("txtVersione"))->toPlainText();
        f.prompt.expect(QStringLiteral("RIPRISTINO DELLA VERSIONE "), AnswerNo,
                        MsgStyle::Question | MsgStyle::DefaultButton2);
        d.findChild<QPushButton*>(QStringLiteral("cmdRipristina"))->click();
    };
    f.window->onVersioni();
    EXPECT_TRUE(headingShown);
    EXPECT_TRUE(wide) << "list lines are never cut";
    EXPECT_TRUE(details.contains(
        QStringLiteral("chiave:        [EXPORT] DTLX1A12, valore prima dell'aggiornamento: ")))
        << qPrintable(details);
    EXPECT_FALSE(details.contains(QStringLiteral("]  "))) << qPrintable(details);
    EXPECT_EQ(f.prompt.pending(), 0);
}

// A box whose style names the second button makes it the default one.
TEST(WindowLooseEnds, SecondButtonCanBeTheDefault)
{
    testApplication();
    QtPrompt prompt;
    for (const int style : {int(MsgStyle::Question), MsgStyle::Question | MsgStyle::DefaultButton2}) {
        QString byDefault;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            byDefault = box->defaultButton() ? box->defaultButton()->text() : QString();
            box->button(QMessageBox::No)->click();
        });
        prompt.show(QStringLiteral("TESTO"), style, QStringLiteral("TITOLO"));
        EXPECT_EQ(byDefault, style == MsgStyle::Question ? QStringLiteral("Sì") : QStringLiteral("No"));
    }
}

} // namespace
