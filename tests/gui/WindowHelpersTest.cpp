#include "gui/WindowHelpers.h"

#include "GuiTestSupport.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QVBoxLayout>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

struct CentreCase
{
    const char* name;
    int extraWidth; // pixels beyond the screen (negative: smaller)
    int extraHeight;
};

class CentraFormTest : public ::testing::TestWithParam<CentreCase>
{
};

TEST_P(CentraFormTest, FitsTheWindowToTheScreenAndCentresItOnTheEnlargedExtents)
{
    testApplication();
    MisuraSchermo();
    const int tpp = TwipsPerPixel();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_EQ(LargoSchermo, screen.width() * tpp + 120);
    ASSERT_EQ(AltoSchermo, screen.height() * tpp + 120);

    QWidget window;
    window.resize(screen.width() + GetParam().extraWidth, screen.height() + GetParam().extraHeight);
    CentraForm(&window);

    const int w = qMin(screen.width(), screen.width() + GetParam().extraWidth);
    const int h = qMin(screen.height(), screen.height() + GetParam().extraHeight);
    EXPECT_EQ(window.size(), QSize(w, h));
    EXPECT_EQ(window.pos().x(), screen.left() + (LargoSchermo - w * tpp) / 2 / tpp);
    EXPECT_EQ(window.pos().y(), screen.top() + (AltoSchermo - h * tpp) / 2 / tpp);
    if (GetParam().extraWidth >= 0) {
        // As wide as the screen: 60 twips to the right of its edge.
        EXPECT_EQ(window.pos().x(), screen.left() + 60 / tpp);
    }
}

INSTANTIATE_TEST_SUITE_P(WindowHelpers, CentraFormTest,
                         ::testing::Values(CentreCase{"largerBothWays", 300, 200},
                                           CentreCase{"widerOnly", 50, -200},
                                           CentreCase{"smaller", -400, -300}),
                         [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(GestioneTasti, F2PressesTheExitButtonWithOrWithoutModifiers)
{
    testApplication();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* run = new QPushButton(QStringLiteral("&ESEGUI"), &window);
    auto* exit = new QPushButton(QStringLiteral("&USCITA"), &window);
    layout->addWidget(run);
    layout->addWidget(exit);
    window.show();
    QSignalSpy runClicks(run, &QPushButton::clicked);
    QSignalSpy exitClicks(exit, &QPushButton::clicked);

    EXPECT_TRUE(GestioneTasti(Qt::Key_F2, Qt::NoModifier, &window));
    EXPECT_TRUE(GestioneTasti(Qt::Key_F2, Qt::ShiftModifier, &window));
    EXPECT_EQ(exitClicks.size(), 2);
    EXPECT_EQ(runClicks.size(), 0);

    // A disabled exit button is not pressed.
    exit->setEnabled(false);
    EXPECT_TRUE(GestioneTasti(Qt::Key_F2, Qt::NoModifier, &window));
    EXPECT_EQ(exitClicks.size(), 2);

    // Other keys are left to the window.
    EXPECT_FALSE(GestioneTasti(Qt::Key_F3, Qt::NoModifier, &window));
    EXPECT_FALSE(GestioneTasti(Qt::Key_A, Qt::ControlModifier, &window));
}

TEST(GestioneTasti, CtrlF8TogglesTheCaptionButNotOnABorderlessWindow)
{
    testApplication();
    QWidget window;
    window.setObjectName(QStringLiteral("InfDoran"));
    window.setWindowTitle(QStringLiteral("Informazioni"));
    EXPECT_TRUE(GestioneTasti(Qt::Key_F8, Qt::ControlModifier, &window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("InfDoran !"));
    EXPECT_TRUE(GestioneTasti(Qt::Key_F8, Qt::ControlModifier | Qt::ShiftModifier, &window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Informazioni"));

    QWidget borderless(nullptr, Qt::FramelessWindowHint);
    borderless.setObjectName(QStringLiteral("Nudo"));
    borderless.setWindowTitle(QStringLiteral("Senza bordo"));
    GestioneTasti(Qt::Key_F8, Qt::ControlModifier, &borderless);
    EXPECT_EQ(borderless.windowTitle(), QStringLiteral("Senza bordo"));
    EXPECT_EQ(DidascaliaRicordata(), QStringLiteral("Informazioni"));
}

TEST(SelezionaTesto, SelectsFromTheStartForAtMostOneHundredCharacters)
{
    testApplication();
    for (const int length : {0, 5, 100, 150}) {
        QLineEdit box;
        box.setMaxLength(1000);
        box.setText(QString(length, QLatin1Char('A')));
        ASSERT_TRUE(activate(&box));
        box.setFocus();
        box.deselect();
        SelezionaTesto(&box);
        QApplication::processEvents();
        EXPECT_EQ(box.selectionStart(), length > 0 ? 0 : -1) << length;
        EXPECT_EQ(box.selectedText().size(), qMin(100, length)) << length;
    }
}

TEST(RipristinaPuntatore, GivesBackTheDefaultPointer)
{
    testApplication();
    QWidget window;
    window.setCursor(Qt::WaitCursor);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    RipristinaPuntatore(&window);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
}

} // namespace
