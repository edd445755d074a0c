#include "gui/StartupWindow.h"

#include "config/ConfigLoader.h"
#include "config/PasswordStore.h"
#include "gui/FolderChooser.h"
#include "gui/PasswordDialog.h"
#include "gui/WindowHelpers.h"
#include "GuiTestSupport.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// An installation with two operators, the window on it, and a record of the
// modal dialogs it opened.
class StartupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        dati = inst.makeDir(QStringLiteral("dati/"));
        inst.makeDir(QStringLiteral("dati/A12"));
        inst.makeDir(QStringLiteral("dati/B34"));
        ini = inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati +
                            QStringLiteral("\n[BASE]\nOPERATORE=a12\n[EXPORT]\n"
                                           "DATAA12=01/02/24 10:15\nDATAB34=02/03/24 09:00\n"
                                           "PATHB34=/mnt/scambio/B34/DatiDV.mdb\n"
                                           "XPATHA12=/media/usb/A12/DatiDV.mdb\nXDATAA12=07/07/24 07:07\n"));
        window = std::make_unique<StartupWindow>(ctx, state);
        window->setModalRunner([this](QDialog& d) {
            dialogs << d.objectName() + QLatin1Char('|') + d.windowTitle();
            if (auto* pd = qobject_cast<PasswordDialog*>(&d))
                typePasswords(pd);
            return d.result();
        });
    }

    void typePasswords(PasswordDialog* pd)
    {
        EXPECT_TRUE(activate(pd));
        for (const QString& attempt : attempts) {
            if (!pd->isVisible())
                break;
            EXPECT_TRUE(pd->field()->hasFocus());
            EXPECT_TRUE(pd->field()->text().isEmpty()) << "each attempt starts from an empty field";
            QTest::keyClicks(pd->field(), attempt);
            EXPECT_EQ(pd->field()->displayText(), QString(attempt.size(), QLatin1Char('&')));
            QTest::keyClick(pd->field(), Qt::Key_Return);
        }
    }

    StartupWindow::StartOptions options() const
    {
        StartupWindow::StartOptions o;
        o.programFolder = inst.programFolder();
        o.programName = QStringLiteral("mirsalex");
        return o;
    }

    // Starts and shows the window, active.
    void open()
    {
        ASSERT_TRUE(window->start(options()));
        ASSERT_TRUE(activate(window.get()));
    }

    template <typename T> T* child(const QString& name) const
    {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }

    QString labelText(const QString& name) const { return child<QLabel>(name)->text(); }

    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    OperatorForm state;
    std::unique_ptr<StartupWindow> window;
    QStringList dialogs;
    QStringList attempts;
    QString dati;
    QString ini;
};

TEST_F(StartupTest, MissingConfigurationShowsTheErrorThenTheAboutBoxAndEnds)
{
    QFile::remove(ini);
    QSignalSpy ended(window.get(), &StartupWindow::programEnded);
    prompt.expect(QStringLiteral("File di configurazione inesistente"), AnswerOk, MsgStyle::Critical);

    EXPECT_FALSE(window->start(options()));

    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages[0].title, QStringLiteral("MIRSAL - ERRORE"));
    EXPECT_EQ(prompt.messages[0].answer, AnswerOk);
    EXPECT_TRUE(window->avvioFallito());
    EXPECT_EQ(dialogs, QStringList{QStringLiteral("InfDoran|Informazioni su DORAN")});
    EXPECT_TRUE(window->ended());
    EXPECT_NE(window->exitCode(), 0);
    ASSERT_EQ(ended.size(), 1);
    EXPECT_FALSE(window->isVisible());
    // No configuration value was read.
    EXPECT_TRUE(ctx.config.PathDati.isEmpty());
}

TEST_F(StartupTest, ConfigurationGivenOnTheCommandLineSkipsTheSearch)
{
    const QString other =
        inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati + QStringLiteral("\n[BASE]\nOPERATORE=B34\n"),
                      QStringLiteral("altro.ini"), inst.path(QStringLiteral("altrove/")));
    StartupWindow::StartOptions o = options();
    o.ini = other;
    ASSERT_TRUE(window->start(o));
    EXPECT_EQ(ctx.config.FileIni, other);
    EXPECT_EQ(window->iniPath(), other);
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("B34"));

    // A named file that does not exist is a missing configuration.
    Context ctx2{prompt};
    OperatorForm state2;
    StartupWindow second(ctx2, state2);
    second.setModalRunner([](QDialog&) { return 0; });
    prompt.expect(QStringLiteral("File di configurazione inesistente"));
    o.ini = inst.path(QStringLiteral("nessuno.ini"));
    EXPECT_FALSE(second.start(o));
    EXPECT_TRUE(second.ended());
}

TEST_F(StartupTest, LoadFillsTheWindowForTheBaseOperatorOnTheDesktopSide)
{
    open();
    EXPECT_TRUE(dialogs.isEmpty()) << "no password stored: no request";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("AGGIORNAMENTO DATI DALLA SEDE"));
    EXPECT_EQ(labelText(QStringLiteral("Label1")), QStringLiteral("AGGIORNAMENTO DATI PER L'OPERATORE"));
    EXPECT_EQ(window->codOper()->text(), QStringLiteral("A12"));
    EXPECT_EQ(labelText(QStringLiteral("lbFile_0")), dati + QStringLiteral("A12/DatiDV.mdb"));
    EXPECT_EQ(child<QCheckBox>(QStringLiteral("chkDati"))->text(),
              QStringLiteral("DATI   ( 01/02/24 10:15)"));
    EXPECT_TRUE(child<QRadioButton>(QStringLiteral("optPC_0"))->isChecked());
    EXPECT_FALSE(window->operatorList()->isVisible());
    EXPECT_FALSE(child<QLabel>(QStringLiteral("lbAppu"))->isVisible());
    EXPECT_TRUE(child<QPushButton>(QStringLiteral("cmdM_0"))->isVisible());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(labelText(QStringLiteral("lbCount_%1").arg(i)).isEmpty());
    // Loading names the temporary folder but does not make it (the
    // configuration loading of an operator does): only the two operators.
    ASSERT_EQ(window->operatorList()->count(), 2);
    EXPECT_EQ(window->operatorList()->item(0)->text(), QStringLiteral("A12           01/02/24 10:15"));
    EXPECT_EQ(window->operatorList()->item(1)->text(), QStringLiteral("B34           02/03/24 09:00"));
    EXPECT_FALSE(QFileInfo::exists(dati + QStringLiteral("temp")));
    EXPECT_TRUE(window->codOper()->hasFocus());
}

TEST_F(StartupTest, TypedLettersBecomeUpperCaseAndEnterMovesOnWithoutTyping)
{
    open();
    QLineEdit* box = window->codOper();
    box->clear();
    state.CodOper.clear();
    QTest::keyClicks(box, QStringLiteral("b3"));
    QTest::keyClick(box, Qt::Key_4);
    EXPECT_EQ(box->text(), QStringLiteral("B34"));
    EXPECT_EQ(state.CodOper, QStringLiteral("B34"));

    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(box->text(), QStringLiteral("B34")) << "Enter typed nothing";
    EXPECT_FALSE(box->hasFocus());
    EXPECT_EQ(QApplication::focusWidget(), child<QRadioButton>(QStringLiteral("optPC_0")));
    // Leaving the box confirmed the new operator: configuration and displays follow it.
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("B34"));
    EXPECT_EQ(ctx.config.DbDati, dati + QStringLiteral("B34/DatiDV.mdb"));
    EXPECT_EQ(labelText(QStringLiteral("lbFile_0")), dati + QStringLiteral("B34/DatiDV.mdb"));
    EXPECT_EQ(labelText(QStringLiteral("lbFile_1")), QStringLiteral("/mnt/scambio/B34/DatiDV.mdb"));
}

TEST_F(StartupTest, CodeNotAboveZeroIsRefusedAndTheFocusReturns)
{
    open();
    QLineEdit* box = window->codOper();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_0);
    QTest::keyClick(box, Qt::Key_Tab);
    QTRY_VERIFY(box->hasFocus());
    // The displays still belong to the operator shown before.
    EXPECT_EQ(labelText(QStringLiteral("lbFile_0")), dati + QStringLiteral("A12/DatiDV.mdb"));
}

TEST_F(StartupTest, F4OpensTheListAndPickingAnOperatorRefreshesTheWindow)
{
    open();
    QTest::keyClick(window->codOper(), Qt::Key_F4);
    QListWidget* list = window->operatorList();
    ASSERT_TRUE(list->isVisible());
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(list->currentRow(), 0);

    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("B34"));
    EXPECT_EQ(window->codOper()->text(), QStringLiteral("B34"));
    EXPECT_EQ(labelText(QStringLiteral("lbFile_0")), dati + QStringLiteral("B34/DatiDV.mdb"));
    EXPECT_EQ(child<QCheckBox>(QStringLiteral("chkDati"))->text(),
              QStringLiteral("DATI   ( 02/03/24 09:00)"));
    EXPECT_EQ(labelText(QStringLiteral("lbFileX_1")), QStringLiteral("/mnt/scambio/"));
}

TEST_F(StartupTest, EscapeClosesTheListAndF2EndsTheProgramFromIt)
{
    open();
    QListWidget* list = window->operatorList();
    // Escape: the list closes without taking an item; the code box has the focus.
    for (bool doubleClick : {false, true}) {
        SCOPED_TRACE(doubleClick ? "opened by double-click" : "opened with F4");
        if (doubleClick)
            QTest::mouseDClick(window->codOper(), Qt::LeftButton);
        else
            QTest::keyClick(window->codOper(), Qt::Key_F4);
        ASSERT_TRUE(list->isVisible());
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Escape);
        EXPECT_FALSE(list->isVisible());
        EXPECT_TRUE(window->codOper()->hasFocus());
        EXPECT_EQ(ctx.CodOperatore, QStringLiteral("A12"));
        EXPECT_EQ(window->codOper()->text(), QStringLiteral("A12"));
    }
    // F2 while the list has the focus presses the exit button.
    QSignalSpy ended(window.get(), &StartupWindow::programEnded);
    QTest::keyClick(window->codOper(), Qt::Key_F4);
    ASSERT_TRUE(list->hasFocus());
    QTest::keyClick(list, Qt::Key_F2);
    EXPECT_EQ(ended.size(), 1);
    EXPECT_TRUE(window->ended());
}

TEST_F(StartupTest, ARunNeverStartsWithTheListOpenOverTheResults)
{
    ASSERT_FALSE(
        ScriviIni(ini, QStringLiteral("EXPORT"), QStringLiteral("PARMA12"), QStringLiteral("00000")));
    ASSERT_FALSE(
        ScriviIni(ini, QStringLiteral("EXPORT"), QStringLiteral("PARMB34"), QStringLiteral("00000")));
    open();
    QListWidget* list = window->operatorList();
    QTest::keyClick(window->codOper(), Qt::Key_F4);
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_TRUE(list->hasFocus());
    // The run button pressed without the focus leaving the list (as its
    // accelerator may): the list is left as a click elsewhere leaves it (the
    // highlighted operator is taken) before the run.
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    child<QPushButton>(QStringLiteral("cmdM_0"))->click();
    EXPECT_EQ(prompt.pending(), 0) << "the run took place";
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("OPERATORE")), QStringLiteral("B34"));
}

TEST_F(StartupTest, DoubleClickOnTheCodeBoxOpensTheList)
{
    open();
    QTest::mouseDClick(window->codOper(), Qt::LeftButton);
    EXPECT_TRUE(window->operatorList()->isVisible());
    // Double-click on an item gives the focus back to the code box and takes the item.
    window->operatorList()->setCurrentRow(1);
    QListWidgetItem* item = window->operatorList()->item(1);
    QApplication::processEvents();
    const QPoint at = window->operatorList()->visualItemRect(item).center();
    QTest::mouseClick(window->operatorList()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(window->operatorList()->viewport(), Qt::LeftButton, {}, at);
    EXPECT_FALSE(window->operatorList()->isVisible());
    EXPECT_TRUE(window->codOper()->hasFocus());
    EXPECT_EQ(window->codOper()->text(), QStringLiteral("B34"));
}

TEST_F(StartupTest, EmptyListOpensNothing)
{
    QDir(dati + QStringLiteral("A12")).removeRecursively();
    QDir(dati + QStringLiteral("B34")).removeRecursively();
    ASSERT_FALSE(
        ScriviIni(ini, QStringLiteral("PATH"), QStringLiteral("TEMP"), inst.path(QStringLiteral("tmp/"))));
    open();
    ASSERT_EQ(window->operatorList()->count(), 0);
    QTest::keyClick(window->codOper(), Qt::Key_F4);
    EXPECT_FALSE(window->operatorList()->isVisible());
    EXPECT_TRUE(window->codOper()->hasFocus());
}

TEST_F(StartupTest, DoubleClickWithAnEmptyListStillLetsTheTypedCodeBeConfirmed)
{
    QDir(dati + QStringLiteral("A12")).removeRecursively();
    QDir(dati + QStringLiteral("B34")).removeRecursively();
    ASSERT_FALSE(
        ScriviIni(ini, QStringLiteral("PATH"), QStringLiteral("TEMP"), inst.path(QStringLiteral("tmp/"))));
    open();
    ASSERT_EQ(window->operatorList()->count(), 0);
    QLineEdit* box = window->codOper();
    QTest::mouseDClick(box, Qt::LeftButton);
    EXPECT_FALSE(window->operatorList()->isVisible());
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("c56"));
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("C56"));
    EXPECT_EQ(ctx.config.DbDati, dati + QStringLiteral("C56/DatiDV.mdb"));
    EXPECT_EQ(labelText(QStringLiteral("lbFile_0")), dati + QStringLiteral("C56/DatiDV.mdb"));
}

TEST_F(StartupTest, PickingAFourteenCharacterFolderKeepsThirteenCharacters)
{
    inst.makeDir(QStringLiteral("dati/ABCDEFGHIJKLMN"));
    open();
    QTest::keyClick(window->codOper(), Qt::Key_F4);
    QListWidget* list = window->operatorList();
    ASSERT_TRUE(list->isVisible());
    const auto found = list->findItems(QStringLiteral("ABCDEFGHIJKLMN"), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << "the folder name fills the 14 characters, no date follows";
    list->setCurrentItem(found[0]);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("ABCDEFGHIJKLM"));
    EXPECT_EQ(window->codOper()->text(), QStringLiteral("ABCDEFGHIJKLM"));
}

TEST_F(StartupTest, OperatorListIsNotOfferedWhileTheFolderChooserIsShown)
{
    open();
    window->clickLbFileX(0);
    ASSERT_TRUE(window->folderChooser()->isVisible());
    QTest::keyClick(window->folderChooser()->dirList(), Qt::Key_F4);
    EXPECT_FALSE(window->operatorList()->isVisible());
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("A12"));
    window->clickCmdDir(1);
    EXPECT_FALSE(window->folderChooser()->isVisible());
    QTest::keyClick(window->codOper(), Qt::Key_F4);
    EXPECT_TRUE(window->operatorList()->isVisible());
}

TEST_F(StartupTest, ExchangeDatabaseChosenRightAfterTypingACodeBelongsToThatCode)
{
    open();
    QList<StartupWindow::FileRequest> requests;
    const QString chosen = inst.path(QStringLiteral("chiavetta/B34/DatiDV.mdb"));
    window->setFileChooser([&](QWidget*, const StartupWindow::FileRequest& request) {
        requests << request;
        return chosen;
    });
    QLineEdit* box = window->codOper();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("b34"));
    QTest::mouseClick(child<QLabel>(QStringLiteral("lbFile_1")), Qt::LeftButton);
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].proposedName, QStringLiteral("/mnt/scambio/B34/DatiDV.mdb"))
        << "the dialog starts from the typed operator's exchange database";
    EXPECT_EQ(labelText(QStringLiteral("lbFile_1")), chosen);
    // Leaving the box afterwards keeps the choice.
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("B34"));
    EXPECT_EQ(labelText(QStringLiteral("lbFile_1")), chosen);
    EXPECT_EQ(labelText(QStringLiteral("lbFile_0")), dati + QStringLiteral("B34/DatiDV.mdb"));

    // A code that is refused opens no dialog.
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("0"));
    QTest::mouseClick(child<QLabel>(QStringLiteral("lbFile_1")), Qt::LeftButton);
    EXPECT_EQ(requests.size(), 1);
    QTRY_VERIFY(box->hasFocus());
}

TEST_F(StartupTest, SwitchingSideShowsThePortableKeys)
{
    open();
    QTest::mouseClick(child<QRadioButton>(QStringLiteral("optPC_1")), Qt::LeftButton);
    EXPECT_EQ(state.optPC, 1);
    EXPECT_EQ(state.sideLetter(), QStringLiteral("X"));
    EXPECT_EQ(labelText(QStringLiteral("lbFile_1")), QStringLiteral("/media/usb/A12/DatiDV.mdb"));
    EXPECT_EQ(child<QCheckBox>(QStringLiteral("chkDati"))->text(),
              QStringLiteral("DATI   ( 07/07/24 07:07)"));
    EXPECT_EQ(labelText(QStringLiteral("lbFileX_0")), QStringLiteral("/media/usb/"));
}

TEST_F(StartupTest, DebugBoxIsWrittenOnEveryClick)
{
    open();
    auto* debug = child<QCheckBox>(QStringLiteral("chkDebug"));
    EXPECT_FALSE(debug->isChecked());
    QTest::mouseClick(debug, Qt::LeftButton, {}, QPoint(8, debug->height() / 2));
    EXPECT_EQ(state.chkDebug.value, 1);
    EXPECT_EQ(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("DEBUG")), QStringLiteral("1"));
    QTest::mouseClick(debug, Qt::LeftButton, {}, QPoint(8, debug->height() / 2));
    EXPECT_EQ(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("DEBUG")), QStringLiteral("0"));
}

TEST_F(StartupTest, CheckBoxesShowTheThreeValues)
{
    open();
    state.Check1[0].value = 0;
    state.Check1[1].value = 1;
    state.Check1[2].value = 2;
    window->syncFromModel();
    auto* c0 = child<QCheckBox>(QStringLiteral("Check1_0"));
    auto* c1 = child<QCheckBox>(QStringLiteral("Check1_1"));
    auto* c2 = child<QCheckBox>(QStringLiteral("Check1_2"));
    EXPECT_FALSE(c0->isChecked());
    EXPECT_TRUE(c0->isEnabled());
    EXPECT_TRUE(c1->isChecked());
    EXPECT_TRUE(c2->isChecked());
    EXPECT_FALSE(c2->isEnabled()) << "done in this window: greyed";
    // Clicks on the tick square write the new value into the state.
    QTest::mouseClick(c1, Qt::LeftButton, {}, QPoint(8, c1->height() / 2));
    EXPECT_EQ(state.Check1[1].value, 0);
    QTest::mouseClick(c0, Qt::LeftButton, {}, QPoint(8, c0->height() / 2));
    EXPECT_EQ(state.Check1[0].value, 1);
    QTest::mouseClick(c2, Qt::LeftButton, {}, QPoint(8, c2->height() / 2));
    EXPECT_EQ(state.Check1[2].value, 2) << "a greyed box does not take clicks";
}

TEST_F(StartupTest, F2PressesTheExitButtonAndEndsTheProgram)
{
    open();
    QSignalSpy ended(window.get(), &StartupWindow::programEnded);
    QTest::keyClick(window->codOper(), Qt::Key_F2);
    ASSERT_EQ(ended.size(), 1);
    EXPECT_EQ(ended[0][0].toInt(), 0);
    EXPECT_TRUE(window->ended());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(StartupTest, ClosingTheWindowEndsTheProgramLikeTheExitButton)
{
    open();
    QSignalSpy ended(window.get(), &StartupWindow::programEnded);
    window->close();
    EXPECT_EQ(ended.size(), 1);
    EXPECT_TRUE(window->ended());
}

TEST_F(StartupTest, CtrlF8TogglesTheCaptionWithTheInternalName)
{
    open();
    QTest::keyClick(window->codOper(), Qt::Key_F8, Qt::ControlModifier);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Startup !"));
    EXPECT_EQ(DidascaliaRicordata(), QStringLiteral("AGGIORNAMENTO DATI DALLA SEDE"));
    QTest::keyClick(window->codOper(), Qt::Key_F8, Qt::ControlModifier);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("AGGIORNAMENTO DATI DALLA SEDE"));
    // F8 alone does nothing.
    QTest::keyClick(window->codOper(), Qt::Key_F8);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("AGGIORNAMENTO DATI DALLA SEDE"));
}

TEST_F(StartupTest, RunWithNothingTickedHidesTheRunButtonUntilTheNextRefresh)
{
    ASSERT_FALSE(
        ScriviIni(ini, QStringLiteral("EXPORT"), QStringLiteral("PARMA12"), QStringLiteral("00000")));
    open();
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    auto* run = child<QPushButton>(QStringLiteral("cmdM_0"));
    QTest::mouseClick(run, Qt::LeftButton);
    EXPECT_FALSE(run->isVisible());
    EXPECT_FALSE(window->ended());
    EXPECT_EQ(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("OPERATORE")), QStringLiteral("A12"));
    EXPECT_TRUE(child<QWidget>(QStringLiteral("selezione"))->isEnabled())
        << "choices are free again after the run";
    // Another side refreshes the window and offers a new run.
    QTest::mouseClick(child<QRadioButton>(QStringLiteral("optPC_1")), Qt::LeftButton);
    EXPECT_TRUE(run->isVisible());
}

TEST_F(StartupTest, TickedVisitsGroupShowsItsCountersAfterTheRun)
{
    // Only the visits box is ticked: whatever its steps did, the window shows
    // the visits and appointments counters under the "APPUNTAMENTI" heading.
    ASSERT_FALSE(
        ScriviIni(ini, QStringLiteral("EXPORT"), QStringLiteral("PARMA12"), QStringLiteral("00001")));
    open();
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    QTest::mouseClick(child<QPushButton>(QStringLiteral("cmdM_0")), Qt::LeftButton);
    EXPECT_EQ(state.lbCount[3].caption, QStringLiteral("Aggiornate: ->    0    0 <-"));
    EXPECT_EQ(state.lbCount[4].caption, QStringLiteral("Aggiornati: ->    0    0 <-"));
    EXPECT_EQ(labelText(QStringLiteral("lbCount_3")), state.lbCount[3].caption);
    EXPECT_EQ(labelText(QStringLiteral("lbCount_4")), state.lbCount[4].caption);
    EXPECT_TRUE(child<QLabel>(QStringLiteral("lbAppu"))->isVisible());
    EXPECT_FALSE(child<QPushButton>(QStringLiteral("cmdM_0"))->isVisible());
}

TEST_F(StartupTest, RunWithoutAnOperatorEndsTheProgram)
{
    open();
    QLineEdit* box = window->codOper();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("000"));
    QSignalSpy ended(window.get(), &StartupWindow::programEnded);
    QTest::mouseClick(child<QPushButton>(QStringLiteral("cmdM_0")), Qt::LeftButton);
    EXPECT_EQ(ctx.CodOperatore, QStringLiteral("000"));
    ASSERT_EQ(ended.size(), 1);
    EXPECT_EQ(ended[0][0].toInt(), 0);
    // Nothing was written.
    EXPECT_TRUE(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("OPERATORE")).isEmpty());
}

TEST_F(StartupTest, CodeThatCannotNameAFolderNeverStartsARun)
{
    open();
    QLineEdit* box = window->codOper();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("A1/B"));
    QTest::mouseClick(child<QPushButton>(QStringLiteral("cmdM_0")), Qt::LeftButton);
    EXPECT_FALSE(window->ended());
    EXPECT_TRUE(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("OPERATORE")).isEmpty());
    QTRY_VERIFY(box->hasFocus());
}

// Password request.

struct PasswordCase
{
    const char* name;
    QStringList attempts;
    int wrongMessages;
    bool accepted;
};

class PasswordFlowTest : public StartupTest, public ::testing::WithParamInterface<PasswordCase>
{
};

TEST_P(PasswordFlowTest, ThreeAttemptsThenTheProgramEnds)
{
    ASSERT_TRUE(PasswordStore(ini, 64).set(QStringLiteral("Segreto1")));
    attempts = GetParam().attempts;
    for (int i = 0; i < GetParam().wrongMessages; ++i)
        prompt.expect(QStringLiteral("PASSWORD ERRATA"), AnswerOk, MsgStyle::Ok);
    QSignalSpy ended(window.get(), &StartupWindow::programEnded);

    const bool started = window->start(options());

    EXPECT_EQ(started, GetParam().accepted);
    EXPECT_EQ(dialogs, QStringList{QStringLiteral("GesPasWd|RICHIESTA DELLA PASSWORD")});
    for (const auto& m : prompt.messages)
        EXPECT_EQ(m.text, QStringLiteral("PASSWORD ERRATA"));
    if (GetParam().accepted) {
        EXPECT_EQ(ctx.PasswordOperatore, QStringLiteral("SEGRETO1"));
        EXPECT_FALSE(window->ended());
        EXPECT_EQ(window->codOper()->text(), QStringLiteral("A12"));
    } else {
        EXPECT_TRUE(window->ended());
        EXPECT_NE(window->exitCode(), 0);
        EXPECT_EQ(ended.size(), 1);
        EXPECT_FALSE(window->isVisible());
        EXPECT_TRUE(window->codOper()->text().isEmpty()) << "nothing of the window was loaded";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Startup, PasswordFlowTest,
    ::testing::Values(
        PasswordCase{"rightFirstTimeInLowerCase", {QStringLiteral("segreto1")}, 0, true},
        PasswordCase{
            "acceptedOnTheThirdTry", {QStringLiteral("x"), QString(), QStringLiteral("SEGRETO1")}, 2, true},
        PasswordCase{"trailingBlankIsWrong",
                     {QStringLiteral("segreto1 "), QStringLiteral("SEGRETO 1"), QStringLiteral("SEGRETO")},
                     3,
                     false},
        PasswordCase{
            "threeWrongEndTheProgram",
            {QStringLiteral("uno"), QStringLiteral("due"), QStringLiteral("tre"), QStringLiteral("SEGRETO1")},
            3,
            false}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST_F(StartupTest, ClosingThePasswordRequestEndsTheProgram)
{
    ASSERT_TRUE(PasswordStore(ini, 64).set(QStringLiteral("ABC")));
    window->setModalRunner([](QDialog& d) {
        d.show();
        d.reject(); // the window frame's close button
        return d.result();
    });
    EXPECT_FALSE(window->start(options()));
    EXPECT_TRUE(window->ended());
}

TEST_F(StartupTest, DamagedPasswordStoreIsReportedAndEndsTheProgram)
{
    const QString store = PasswordStore(ini).path();
    inst.writeFile(QFileInfo(store).absoluteFilePath().mid(inst.root().size()), "non valido\n");
    prompt.expect(QStringLiteral("ARCHIVIO PASSWORD DANNEGGIATO"), AnswerOk, MsgStyle::Critical);
    EXPECT_FALSE(window->start(options()));
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_TRUE(prompt.messages[0].text.contains(store));
    EXPECT_TRUE(dialogs.isEmpty());
    EXPECT_TRUE(window->ended());
}

TEST(PasswordDialogTest, OnlyLettersAToZAreUpperCasedBeforeTheCheck)
{
    testApplication();
    ScriptedPrompt prompt;
    QStringList checked;
    PasswordDialog dialog(prompt, [&checked](const QString& typed) {
        checked << typed;
        return typed == QStringLiteral("AB1");
    });
    ASSERT_TRUE(activate(&dialog));
    // The sharp s would become "SS" in a full mapping.
    prompt.expect(QStringLiteral("PASSWORD ERRATA"), AnswerOk, MsgStyle::Ok);
    dialog.field()->insert(QString(QChar(0x00DF)) + QChar(0x00E8) + QLatin1Char('x'));
    QTest::keyClick(dialog.field(), Qt::Key_Return);
    QTest::keyClicks(dialog.field(), QStringLiteral("aB1"));
    QTest::keyClick(dialog.field(), Qt::Key_Return);
    ASSERT_EQ(checked.size(), 2);
    EXPECT_EQ(checked[0], QString(QChar(0x00DF)) + QChar(0x00E8) + QLatin1Char('X'));
    EXPECT_EQ(checked[1], QStringLiteral("AB1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.attempts(), 1);
}

TEST(PasswordDialogTest, ShowsAmpersandsAndTakesAtMostTwelveCharacters)
{
    testApplication();
    ScriptedPrompt prompt;
    PasswordDialog dialog(prompt, [](const QString&) { return false; });
    ASSERT_TRUE(activate(&dialog));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("RICHIESTA DELLA PASSWORD"));
    QTest::keyClicks(dialog.field(), QStringLiteral("abcdefghijklmnop"));
    EXPECT_EQ(dialog.field()->text(), QStringLiteral("abcdefghijkl"));
    EXPECT_EQ(dialog.field()->displayText(), QString(12, QLatin1Char('&')));
}

} // namespace
