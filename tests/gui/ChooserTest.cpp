#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "gui/FolderChooser.h"
#include "gui/PathLabel.h"
#include "gui/StartupWindow.h"
#include "GuiTestSupport.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// An installation whose operator A12 has an exchange area with a database,
// a folder of client cards (two files, one subfolder) and an empty folder of
// client sheets; the window is loaded on it and every file dialog it opens is
// recorded and answered from `fileAnswer`.
class ChooserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        dati = inst.makeDir(QStringLiteral("dati/"));
        inst.makeDir(QStringLiteral("dati/A12"));
        scambio = inst.makeDir(QStringLiteral("scambio/A12/"));
        inst.writeFile(QStringLiteral("scambio/A12/DatiDV.mdb"), "db");
        schede = inst.makeDir(QStringLiteral("scambio/A12/SCHEDE/"));
        inst.writeFile(QStringLiteral("scambio/A12/SCHEDE/SK1.doc"), "1");
        inst.writeFile(QStringLiteral("scambio/A12/SCHEDE/SK2.doc"), "2");
        inst.makeDir(QStringLiteral("scambio/A12/SCHEDE/Vecchie"));
        fogli = inst.makeDir(QStringLiteral("scambio/A12/FOGLI/"));
        ini = inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati +
                            QStringLiteral("\n[BASE]\nOPERATORE=A12\n[EXPORT]\nPATHA12=") + scambio +
                            QStringLiteral("DatiDV.mdb\nFLX0A12=") + scambio + QStringLiteral("\nFLX1A12=") +
                            schede + QStringLiteral("\nFLX2A12=") + fogli + QStringLiteral("\n"));
        window = std::make_unique<StartupWindow>(ctx, state);
        window->setModalRunner([](QDialog& d) { return d.result(); });
        window->setFileChooser([this](QWidget*, const StartupWindow::FileRequest& request) {
            requests << request;
            return fileAnswer;
        });
        StartupWindow::StartOptions o;
        o.programFolder = inst.programFolder();
        o.programName = QStringLiteral("mirsalex");
        ASSERT_TRUE(window->start(o));
        ASSERT_TRUE(activate(window.get()));
        chooser = window->folderChooser();
        ASSERT_NE(chooser, nullptr);
    }

    template <typename T> T* child(const QString& name) const
    {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }

    QString label(const QString& name) const { return child<QLabel>(name)->text(); }
    bool chooserShown() const { return chooser->isVisible(); }
    bool baseEnabled() const { return child<QWidget>(QStringLiteral("pctbase"))->isEnabled(); }
    // Path as the chooser names folders: no separator at the end.
    static QString folder(const QString& path)
    {
        return path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path;
    }

    TempInstall inst;
    ScriptedPrompt prompt;
    Context ctx{prompt};
    OperatorForm state;
    std::unique_ptr<StartupWindow> window;
    FolderChooser* chooser = nullptr;
    QList<StartupWindow::FileRequest> requests;
    QString fileAnswer;
    QString dati, scambio, schede, fogli, ini;
};

// Database labels and the file-open dialog.

struct FileCase
{
    const char* name;
    int label;
    bool cancel;
};

class FileDialogTest : public ChooserTest, public ::testing::WithParamInterface<FileCase>
{
};

TEST_P(FileDialogTest, CancelLeavesTheLabelAndAChoiceReplacesIt)
{
    const int i = GetParam().label;
    const QString name = QStringLiteral("lbFile_%1").arg(i);
    const QString before = label(name);
    ASSERT_FALSE(before.isEmpty());
    fileAnswer = GetParam().cancel ? QString() : inst.path(QStringLiteral("chiavetta/Altro DatiDV.mdb"));

    QTest::mouseClick(child<QLabel>(name), Qt::LeftButton);

    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].title, QStringLiteral("ESPORTAZIONE DATI"));
    EXPECT_EQ(requests[0].filter, QStringLiteral("DataBase (*.mdb)"));
    EXPECT_EQ(requests[0].proposedName, before);
    EXPECT_EQ(requests[0].folder, before.left(before.lastIndexOf(QLatin1Char('/'))));
    const QString expected = GetParam().cancel ? before : fileAnswer;
    EXPECT_EQ(label(name), expected);
    EXPECT_EQ(state.lbFile[i].caption, expected) << "the run reads the choice from the state";
    EXPECT_EQ(child<QLabel>(name)->toolTip(), expected);
}

INSTANTIATE_TEST_SUITE_P(Chooser, FileDialogTest,
                         ::testing::Values(FileCase{"localCancelled", 0, true},
                                           FileCase{"localChosen", 0, false},
                                           FileCase{"exchangeCancelled", 1, true},
                                           FileCase{"exchangeChosen", 1, false}),
                         [](const auto& tpi) { return std::string(tpi.param.name); });

TEST_F(ChooserTest, PlatformDialogIsPreparedFromTheLabelAndItsAnswerTaken)
{
    // The default chooser: the platform's dialog, run through the modal runner.
    auto fresh = std::make_unique<StartupWindow>(ctx, state);
    const QString picked = inst.makeDir(QStringLiteral("chiavetta"));
    int shown = 0;
    bool accept = false;
    fresh->setModalRunner([&](QDialog& d) {
        ++shown;
        auto* fd = qobject_cast<QFileDialog*>(&d);
        EXPECT_NE(fd, nullptr);
        if (!fd)
            return int(QDialog::Rejected);
        EXPECT_EQ(fd->windowTitle(), QStringLiteral("ESPORTAZIONE DATI"));
        EXPECT_EQ(fd->nameFilters(), QStringList{QStringLiteral("DataBase (*.mdb)")});
        EXPECT_EQ(fd->directory().absolutePath(), folder(scambio));
        EXPECT_EQ(fd->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(fd->fileMode(), QFileDialog::ExistingFile) << "existing files only";
        // The filter ignores case: the upper-case database is listed, the
        // other file is not.
        auto* view = fd->findChild<QListView*>(QStringLiteral("listView"));
        EXPECT_NE(view, nullptr);
        if (view) {
            const auto listed = [view] {
                QStringList names;
                for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                    names << view->model()->index(r, 0, view->rootIndex()).data().toString();
                return names;
            };
            EXPECT_TRUE(QTest::qWaitFor([&] { return listed().contains(QStringLiteral("ALTRO.MDB")); }))
                << listed().join(QLatin1Char(',')).toStdString();
            EXPECT_FALSE(listed().contains(QStringLiteral("note.txt")));
        }
        if (!accept)
            return int(QDialog::Rejected);
        fd->setDirectory(folder(picked));
        fd->selectFile(QStringLiteral("Nuovo.mdb"));
        return int(QDialog::Accepted);
    });
    inst.writeFile(QStringLiteral("scambio/A12/ALTRO.MDB"), "db");
    inst.writeFile(QStringLiteral("scambio/A12/note.txt"), "x");
    inst.writeFile(QStringLiteral("chiavetta/Nuovo.mdb"), "db");
    state.lbFile[1].caption = scambio + QStringLiteral("DatiDV.mdb");
    fresh->syncFromModel();

    fresh->clickLbFile(1);
    EXPECT_EQ(state.lbFile[1].caption, scambio + QStringLiteral("DatiDV.mdb"));
    accept = true;
    fresh->clickLbFile(1);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(state.lbFile[1].caption, picked + QStringLiteral("Nuovo.mdb"));
}

// Folder labels and the folder chooser.

TEST_F(ChooserTest, ChooserOpensOnTheGroupsFolderAndConfirmStoresTheHighlightedFolder)
{
    EXPECT_FALSE(chooserShown());
    QTest::mouseClick(child<QLabel>(QStringLiteral("lbFileX_1")), Qt::LeftButton);

    ASSERT_TRUE(chooserShown());
    EXPECT_FALSE(baseEnabled()) << "only the chooser responds while it is shown";
    EXPECT_EQ(state.GruppoCorrente, 1);
    EXPECT_EQ(chooser->findChild<QLabel*>(QStringLiteral("lbTitolo"))->text(),
              QStringLiteral("SCHEDE CLIENTI"));
    EXPECT_EQ(chooser->currentFolder(), folder(schede));
    EXPECT_EQ(chooser->highlightedFolder(), folder(schede));
    EXPECT_TRUE(chooser->dirList()->hasFocus());

    // The subfolder is listed under the current folder; highlight it and confirm.
    ASSERT_TRUE(chooser->highlight(schede + QStringLiteral("Vecchie")));
    QTest::mouseClick(chooser->cmdDir(0), Qt::LeftButton);

    EXPECT_FALSE(chooserShown());
    EXPECT_TRUE(baseEnabled());
    EXPECT_EQ(state.lbFileX[1].caption, schede + QStringLiteral("Vecchie/"));
    EXPECT_EQ(label(QStringLiteral("lbFileX_1")), schede + QStringLiteral("Vecchie/"));
    // The other groups keep their folders.
    EXPECT_EQ(state.lbFileX[0].caption, scambio);
    EXPECT_EQ(state.lbFileX[2].caption, fogli);
}

TEST_F(ChooserTest, FolderAlreadyEndingWithTheSeparatorIsStoredUnchanged)
{
    window->clickLbFileX(0);
    ASSERT_TRUE(chooser->setCurrentFolder(QStringLiteral("/")));
    EXPECT_EQ(chooser->highlightedFolder(), QStringLiteral("/"));
    window->clickCmdDir(0);
    EXPECT_EQ(state.lbFileX[0].caption, QStringLiteral("/"));

    // Any other folder gets exactly one separator.
    window->clickLbFileX(2);
    ASSERT_TRUE(chooser->setCurrentFolder(folder(scambio)));
    window->clickCmdDir(0);
    EXPECT_EQ(state.lbFileX[2].caption, scambio);
}

TEST_F(ChooserTest, GroupFolderWithoutFilesOpensOnThePreviousFolder)
{
    // First choice: the cards folder (it holds files), left with the cancel button.
    window->clickLbFileX(1);
    ASSERT_EQ(chooser->currentFolder(), folder(schede));
    window->clickCmdDir(1);

    struct
    {
        const char* name;
        QString text;
    } cases[] = {
        {"existing but empty", fogli},
        {"missing", scambio + QStringLiteral("NESSUNA/")},
        {"blank", QStringLiteral(" ")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        state.lbFileX[2].caption = c.text;
        window->syncFromModel();
        window->clickLbFileX(2);
        EXPECT_TRUE(chooserShown());
        EXPECT_EQ(state.GruppoCorrente, 2);
        EXPECT_EQ(chooser->title(), QStringLiteral("FOGLI CLIENTI"));
        EXPECT_EQ(chooser->currentFolder(), folder(schede));
        window->clickCmdDir(1);
    }
    EXPECT_TRUE(prompt.messages.isEmpty());
}

TEST_F(ChooserTest, CancelChangesNothingAndEscapeCancelsToo)
{
    const OperatorForm before = state;
    window->clickLbFileX(0);
    ASSERT_TRUE(chooser->setCurrentFolder(folder(schede)));
    QTest::mouseClick(chooser->cmdDir(1), Qt::LeftButton);
    EXPECT_FALSE(chooserShown());
    EXPECT_TRUE(baseEnabled());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(state.lbFileX[i].caption, before.lbFileX[i].caption);
    EXPECT_EQ(label(QStringLiteral("lbFileX_0")), scambio);

    window->clickLbFileX(0);
    ASSERT_TRUE(chooserShown());
    QTest::keyClick(chooser->dirList(), Qt::Key_Escape);
    EXPECT_FALSE(chooserShown());
    EXPECT_TRUE(baseEnabled());
    EXPECT_EQ(state.lbFileX[0].caption, scambio);
}

TEST_F(ChooserTest, EnterOnTheFolderListOpensTheHighlightedFolder)
{
    window->clickLbFileX(1);
    ASSERT_TRUE(chooser->highlight(schede + QStringLiteral("Vecchie")));
    QTest::keyClick(chooser->dirList(), Qt::Key_Return);
    EXPECT_TRUE(chooserShown()) << "Enter opens, it does not confirm";
    EXPECT_EQ(chooser->currentFolder(), schede + QStringLiteral("Vecchie"));
    // A folder that leads to the current one is listed above it and can be opened.
    ASSERT_TRUE(chooser->highlight(folder(scambio)));
    chooser->openHighlighted();
    EXPECT_EQ(chooser->currentFolder(), folder(scambio));
    window->clickCmdDir(0);
    EXPECT_EQ(state.lbFileX[1].caption, scambio);
}

TEST_F(ChooserTest, UnreadableDriveIsRefusedSilently)
{
    window->clickLbFileX(1);
    QComboBox* drives = chooser->drvList();
    ASSERT_GT(drives->count(), 0);
    const int before = drives->currentIndex();
    ASSERT_GE(before, 0);
    EXPECT_EQ(drives->itemData(before).toString(), chooser->driveOf(folder(schede)));

    // Every drive is unreadable: picking any other one goes back.
    platform::setFailureInjector([](const QString& operation, const QString&) {
        return operation == QLatin1String("list") ? EIO : 0;
    });
    const int other = before == 0 && drives->count() > 1 ? 1 : 0;
    chooser->chooseDrive(other);
    platform::setFailureInjector({});
    EXPECT_EQ(drives->currentIndex(), before);
    EXPECT_EQ(chooser->currentFolder(), folder(schede));
    EXPECT_TRUE(prompt.messages.isEmpty());
    EXPECT_FALSE(chooser->setCurrentFolder(inst.path(QStringLiteral("nessuna"))));
    EXPECT_EQ(chooser->currentFolder(), folder(schede));
}

TEST_F(ChooserTest, DriveListOffersRootHomeAndMountedMediaWithTheirLabels)
{
    using Kind = FolderChooser::Volume::Kind;
    const QString stick = folder(inst.makeDir(QStringLiteral("media/mario/CHIAVETTA")));
    const QString share = folder(inst.makeDir(QStringLiteral("rete/sede")));
    const QString ownDisk = folder(inst.makeDir(QStringLiteral("dati2")));
    const QString card = folder(inst.makeDir(QStringLiteral("media/mario/SCHEDA")));
    QList<FolderChooser::Volume> mounted{{stick, QStringLiteral("CHIAVETTA"), Kind::Removable},
                                         {share, QString(), Kind::Network},
                                         {ownDisk, QStringLiteral("DATI"), Kind::Other}};
    chooser->setVolumeSource([&mounted] { return mounted; });
    window->clickLbFileX(1);
    QComboBox* drives = chooser->drvList();
    const auto roots = [drives] {
        QStringList out;
        for (int i = 0; i < drives->count(); ++i)
            out << drives->itemData(i).toString();
        return out;
    };
    EXPECT_EQ(roots(), (QStringList{QStringLiteral("/"), folder(QDir::homePath()), stick, share}));
    EXPECT_EQ(drives->itemText(roots().indexOf(stick)),
              QStringLiteral("CHIAVETTA  (") + stick + QLatin1Char(')'));
    EXPECT_EQ(drives->itemText(roots().indexOf(share)), share);

    // A card inserted while the chooser is open is there when the list is
    // opened again; the folder list stays where it was.
    mounted.append({card, QStringLiteral("SCHEDA"), Kind::Removable});
    EXPECT_FALSE(roots().contains(card));
    drives->showPopup();
    drives->hidePopup();
    EXPECT_TRUE(roots().contains(card));
    EXPECT_EQ(drives->itemData(drives->currentIndex()).toString(), chooser->driveOf(folder(schede)));
    chooser->chooseDrive(roots().indexOf(card));
    EXPECT_EQ(chooser->currentFolder(), card);
    window->clickCmdDir(1);
}

TEST_F(ChooserTest, SideClickRefillsEveryLabelDiscardingChoicesNotStored)
{
    fileAnswer = inst.path(QStringLiteral("altrove/DatiDV.mdb"));
    window->clickLbFile(0);
    window->clickLbFile(1);
    for (int i = 0; i < 3; ++i) {
        window->clickLbFileX(i);
        ASSERT_TRUE(chooser->setCurrentFolder(QStringLiteral("/")));
        window->clickCmdDir(0);
        ASSERT_EQ(state.lbFileX[i].caption, QStringLiteral("/"));
    }
    ASSERT_EQ(label(QStringLiteral("lbFile_1")), fileAnswer);

    QTest::mouseClick(child<QRadioButton>(QStringLiteral("optPC_1")), Qt::LeftButton);
    QTest::mouseClick(child<QRadioButton>(QStringLiteral("optPC_0")), Qt::LeftButton);

    EXPECT_EQ(label(QStringLiteral("lbFile_0")), dati + QStringLiteral("A12/DatiDV.mdb"));
    EXPECT_EQ(label(QStringLiteral("lbFile_1")), scambio + QStringLiteral("DatiDV.mdb"));
    EXPECT_EQ(label(QStringLiteral("lbFileX_0")), scambio);
    EXPECT_EQ(label(QStringLiteral("lbFileX_1")), schede);
    EXPECT_EQ(label(QStringLiteral("lbFileX_2")), fogli);
    // Nothing was written by the choices.
    EXPECT_EQ(LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("FLX1A12")), schede);
}

// Look of the window.

TEST_F(ChooserTest, LongPathsAreShortenedInTheMiddleOnlyOnScreen)
{
    const QString longPath = inst.path(QStringLiteral("unita/condivisa/molto/lunga/scambio/P001/SCHEDE/"));
    state.lbFileX[1].caption = longPath;
    window->syncFromModel();
    auto* lb = child<PathLabel>(QStringLiteral("lbFileX_1"));
    lb->resize(lb->fontMetrics().horizontalAdvance(longPath) / 2, lb->height());

    EXPECT_EQ(lb->text(), longPath);
    EXPECT_EQ(lb->toolTip(), longPath);
    EXPECT_EQ(state.lbFileX[1].caption, longPath) << "the state keeps the whole path";
    const QString shown = lb->shownText();
    EXPECT_LT(shown.size(), longPath.size());
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("SCHEDE/"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(longPath.left(4))) << shown.toStdString();

    lb->resize(lb->fontMetrics().horizontalAdvance(longPath) + 80, lb->height());
    EXPECT_EQ(lb->shownText(), longPath);
}

TEST_F(ChooserTest, ResultLabelsSitBesideTheirGroupsAndTakeNoRoomWhenEmpty)
{
    auto* documenti = child<QGroupBox>(QStringLiteral("FrameDocumenti"));
    auto* archivi = child<QGroupBox>(QStringLiteral("FrameArchivi"));
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(child<QLabel>(QStringLiteral("lbCount_%1").arg(i))->isVisible());

    for (int i = 0; i < 5; ++i)
        state.lbCount[i].caption = QStringLiteral("Aggiornate: ->    1    2 <-");
    state.lbAppuVisible = true;
    window->syncFromModel();
    QApplication::processEvents();

    const auto sameRow = [](const QWidget* a, const QWidget* b) {
        const int ca = a->mapToGlobal(a->rect().center()).y();
        const int cb = b->mapToGlobal(b->rect().center()).y();
        return qAbs(ca - cb) <= 2;
    };
    const auto rightOf = [](const QWidget* a, const QWidget* b) {
        return a->mapToGlobal(QPoint(0, 0)).x() >= b->mapToGlobal(QPoint(b->width(), 0)).x();
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        auto* count = child<QLabel>(QStringLiteral("lbCount_%1").arg(i));
        EXPECT_TRUE(count->isVisible());
        EXPECT_TRUE(documenti->isAncestorOf(count));
        EXPECT_TRUE(sameRow(count, child<QWidget>(QStringLiteral("Check1_%1").arg(i))));
        EXPECT_TRUE(rightOf(count, child<QWidget>(QStringLiteral("lbFileX_%1").arg(i))));
    }
    auto* appu = child<QLabel>(QStringLiteral("lbAppu"));
    EXPECT_TRUE(appu->isVisible());
    EXPECT_TRUE(archivi->isAncestorOf(appu));
    EXPECT_TRUE(archivi->isAncestorOf(child<QWidget>(QStringLiteral("lbCount_3"))));
    EXPECT_TRUE(
        sameRow(child<QWidget>(QStringLiteral("lbCount_3")), child<QWidget>(QStringLiteral("chkVisite"))));
    EXPECT_TRUE(sameRow(child<QWidget>(QStringLiteral("lbCount_4")), appu));
    EXPECT_TRUE(rightOf(child<QWidget>(QStringLiteral("lbCount_4")), appu));
}

TEST_F(ChooserTest, AfterARunTheHiddenRunButtonCannotBePressedAgain)
{
    ASSERT_FALSE(
        ScriviIni(ini, QStringLiteral("EXPORT"), QStringLiteral("PARMA12"), QStringLiteral("00000")));
    window->chooseOperator(QStringLiteral("A12"));
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"));
    auto* run = child<QPushButton>(QStringLiteral("cmdM_0"));
    run->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(run, Qt::Key_Return);
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_FALSE(run->isVisible());
    EXPECT_TRUE(window->codOper()->hasFocus())
        << "not the exit button: one more Enter must not end the program";

    // A second press of any kind starts nothing (an unexpected message would fail the test).
    run->click();
    QTest::keyClick(window->codOper(), Qt::Key_Return);
    EXPECT_EQ(prompt.messages.size(), 1);
    EXPECT_FALSE(window->ended());
}

} // namespace
