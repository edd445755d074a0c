#include "config/ConfigLoader.h"
#include "gui/StartupWindow.h"
#include "GuiTestSupport.h"
#include "session/ReportText.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <functional>
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// A scripted prompt that looks at the window each time a run lets window
// events run.
class WatchingPrompt : public ScriptedPrompt
{
public:
    std::function<void()> onEvents;
    void processEvents() override
    {
        ScriptedPrompt::processEvents();
        if (onEvents)
            onEvents();
    }
};

QRect screenRoom()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// One operator with a card waiting in the exchange area and only the cards
// group ticked, the window started on it.
class SmallScreenTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        if (QGuiApplication::primaryScreen()->geometry().size() != QSize(800, 600))
            GTEST_SKIP() << "needs a 800x600 screen (ctest -R gui_800x600)";
        const QString dati = inst.makeDir(QStringLiteral("dati/"));
        inst.makeDir(QStringLiteral("dati/A12"));
        inst.writeFile(QStringLiteral("dati/A12/DatiDV.mdb"));
        const QString testi = inst.makeDir(QStringLiteral("testi/"));
        const QString schede = inst.makeDir(QStringLiteral("scambio/SCHEDE/"));
        inst.writeFile(QStringLiteral("scambio/SCHEDE/SK000001.DOC"), "card");
        ini = inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati + QStringLiteral("\nTESTI=") + testi +
                            QStringLiteral("\n[BASE]\nOPERATORE=A12\n[EXPORT]\nPARMA12=01000\nFLX1A12=") +
                            schede + QStringLiteral("\n"));
        window = std::make_unique<StartupWindow>(ctx, state);
        window->setModalRunner([this](QDialog& d) {
            if (onDialog)
                onDialog(d);
            return int(QDialog::Rejected);
        });
        StartupWindow::StartOptions o;
        o.programFolder = inst.programFolder();
        o.programName = QStringLiteral("mirsalex");
        ASSERT_TRUE(window->start(o));
        ASSERT_TRUE(activate(window.get()));
        QCoreApplication::processEvents();
    }

    void expectWithinScreen(const char* stage) const
    {
        EXPECT_TRUE(screenRoom().contains(window->frameGeometry()))
            << stage << ": frame " << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
            << window->frameGeometry().width() << "x" << window->frameGeometry().height();
    }

    QPushButton* button(const char* name) const
    {
        return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }

    TempInstall inst;
    WatchingPrompt prompt;
    Context ctx{prompt};
    OperatorForm state;
    std::unique_ptr<StartupWindow> window;
    std::function<void(QDialog&)> onDialog;
    QString ini;
};

TEST_F(SmallScreenTest, WindowStaysOnTheScreenThroughAPreviewAndARun)
{
    expectWithinScreen("at start");
    const QRect atStart = window->geometry();
    auto* cards = window->findChild<QCheckBox*>(QStringLiteral("Check1_1"));
    ASSERT_NE(cards, nullptr);
    EXPECT_EQ(cards->text(), QStringLiteral("SCHEDE ()"));

    // The preview opens within the screen, wide enough for its lines.
    bool previewShown = false;
    onDialog = [&](QDialog& d) {
        previewShown = d.objectName() == QLatin1String("dlgAnteprima");
        d.show();
        EXPECT_TRUE(screenRoom().contains(d.frameGeometry())) << "preview dialog";
        EXPECT_GE(d.width(), 480);
        expectWithinScreen("preview");
        d.hide();
    };
    QTest::mouseClick(button("cmdAnteprima"), Qt::LeftButton);
    EXPECT_TRUE(previewShown);
    expectWithinScreen("after the preview");
    EXPECT_EQ(window->geometry(), atStart) << "the preview leaves the window as it was";

    // During the run the buttons that start work are greyed and nothing
    // leaves the screen.
    int looks = 0;
    prompt.onEvents = [&] {
        ++looks;
        EXPECT_FALSE(button("cmdM_0")->isEnabled()) << "ESEGUI during the run";
        EXPECT_FALSE(button("cmdAnteprima")->isEnabled()) << "ANTEPRIMA during the run";
        EXPECT_TRUE(button("cmdM_1")->isEnabled()) << "USCITA stays usable";
        expectWithinScreen("during the run");
        EXPECT_EQ(window->geometry(), atStart) << "nothing moves when a run starts";
    };
    prompt.expect(QStringLiteral("FINE AGGIORNAMENTO"), AnswerOk, MsgStyle::Ok);
    QTest::mouseClick(button("cmdM_0"), Qt::LeftButton);
    prompt.onEvents = nullptr;
    EXPECT_GT(looks, 0);
    EXPECT_EQ(prompt.pending(), 0);
    expectWithinScreen("after the run");
    EXPECT_EQ(window->geometry(), atStart);
    EXPECT_TRUE(button("cmdAnteprima")->isEnabled());

    // The date the run recorded is shown beside its box at once.
    const QString date = LeggiIni(ini, QStringLiteral("EXPORT"), QStringLiteral("DTLX1A12"));
    ASSERT_FALSE(date.isEmpty());
    EXPECT_EQ(cards->text(), QStringLiteral("SCHEDE (") + date + QLatin1Char(')'));
}

TEST_F(SmallScreenTest, OperatorCodeBoxTakesAtMostThirteenCharacters)
{
    QLineEdit* box = window->codOper();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("ABCDEFGHIJKLMNOP"));
    EXPECT_EQ(box->text(), QStringLiteral("ABCDEFGHIJKLM"));
}

// F4 lists the folders that hold an operator database, with the current
// operator selected; when none does, every folder.
struct ListCase
{
    const char* name;
    QStringList files; // created under dati/
    QStringList items; // folder names listed, in order
    QString current;   // operator at start
    int selected;
};

class OperatorListTest : public ::testing::TestWithParam<ListCase>
{
};

TEST_P(OperatorListTest, ListsOperatorFoldersAndSelectsTheCurrentOne)
{
    testApplication();
    const ListCase& c = GetParam();
    TempInstall inst;
    const QString dati = inst.makeDir(QStringLiteral("dati/"));
    for (const char* folder : {"A12", "B34", "FOGLI", "TESTI"})
        inst.makeDir(QStringLiteral("dati/") + QLatin1String(folder));
    for (const QString& f : c.files)
        inst.writeFile(QStringLiteral("dati/") + f);
    inst.writeIni(QStringLiteral("[PATH]\nFILE=") + dati + QStringLiteral("\n[BASE]\nOPERATORE=") +
                  c.current + QStringLiteral("\n"));
    ScriptedPrompt prompt;
    Context ctx(prompt);
    OperatorForm state;
    StartupWindow window(ctx, state);
    StartupWindow::StartOptions o;
    o.programFolder = inst.programFolder();
    o.programName = QStringLiteral("mirsalex");
    ASSERT_TRUE(window.start(o));
    ASSERT_TRUE(activate(&window));

    QTest::keyClick(window.codOper(), Qt::Key_F4);
    QListWidget* list = window.operatorList();
    ASSERT_TRUE(list->isVisible());
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text().left(14).trimmed();
    EXPECT_EQ(names, c.items);
    EXPECT_EQ(list->currentRow(), c.selected);
}

INSTANTIATE_TEST_SUITE_P(
    Window, OperatorListTest,
    ::testing::Values(
        ListCase{"OnlyFoldersWithADatabase",
                 {"A12/DatiDV.mdb", "B34/visitedv.MDB", "FOGLI/XK1.XLS"},
                 {"A12", "B34"},
                 "B34",
                 1},
        ListCase{"NoneHoldsADatabase", {"FOGLI/XK1.XLS"}, {"A12", "B34", "FOGLI", "TESTI"}, "B34", 1},
        ListCase{"CurrentNotListedSelectsTheFirst", {"B34/DatiDV.mdb"}, {"B34"}, "A12", 0}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

// The preview lists the files of each group sent first, then received, each
// in name order.
TEST(PreviewText, FilesAreSortedWithinEachGroupAndDirection)
{
    const QString text =
        QStringLiteral("SCHEDE CLIENTI: -> 2  <- 1\n  <- SK000001.DOC\n  -> SK000008.DOC\n"
                       "  -> sk000003.doc\nFOGLI CLIENTI: -> 1  <- 0\n  -> XK2.XLS\nDomande");
    EXPECT_EQ(sortedPreviewFiles(text),
              QStringLiteral("SCHEDE CLIENTI: -> 2  <- 1\n  -> sk000003.doc\n  -> SK000008.DOC\n"
                             "  <- SK000001.DOC\nFOGLI CLIENTI: -> 1  <- 0\n  -> XK2.XLS\nDomande"));
}

} // namespace
