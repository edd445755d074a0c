#include "gui/AboutWindow.h"

#include "common/SystemInfo.h"
#include "gui/WindowHelpers.h"
#include "GuiTestSupport.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <functional>
#include <gtest/gtest.h>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// No registry; the tool is searched in the test's own program folders and
// "started" by recording it.
struct FakeInfo : SystemInfo
{
    QStringList roots;
    QStringList started;
    QString registryPath; // value "PATH" of the MSINFO key, when set
    int reads = 0;
    bool LeggiValoreRegistro(RegistryRoot, const QString&, const QString& name, QString& text) override
    {
        ++reads;
        text = name == QLatin1String("PATH") ? registryPath : QString();
        return !text.isEmpty();
    }
    bool avvia(const QString& program) override
    {
        started << program;
        return true;
    }
    QStringList cartelleProgrammi() const override { return roots; }
};

// A prompt whose event pump can act as the user clicking during a search.
class PumpingPrompt : public ScriptedPrompt
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

class AboutTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        about = std::make_unique<AboutWindow>(ctx);
        about->setSystemInfo(&info);
        about->setLinkOpener([this](const QUrl& url) {
            opened << url;
            return false; // no program for it: nothing is reported
        });
    }
    template <typename T> T* child(const QString& name) const
    {
        T* w = about->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    static void move(QWidget* w, QPoint pos)
    {
        QMouseEvent e(QEvent::MouseMove, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    static bool highlighted(const QLabel* l) { return l->font().underline() && l->font().bold(); }
    static bool plain(const QLabel* l) { return !l->font().underline() && !l->font().bold(); }

    TempInstall inst;
    PumpingPrompt prompt;
    Context ctx{prompt};
    FakeInfo info;
    std::unique_ptr<AboutWindow> about;
    QList<QUrl> opened;
};

TEST_F(AboutTest, EveryControlWithTheMakersTextsAndTheWindowInTheMiddleOfTheScreen)
{
    EXPECT_EQ(about->objectName(), QStringLiteral("InfDoran"));
    EXPECT_EQ(about->windowTitle(), QStringLiteral("Informazioni su DORAN"));
    for (const char* name : {"Lb_adp_0", "Lb_adp_1", "Lb_adp_2", "lbIndirizzo", "Lb_dati", "Lb_cr", "Label2",
                             "lbMail", "Label3", "lbSito", "Label1"})
        child<QLabel>(QLatin1String(name));
    child<QFrame>(QStringLiteral("Frame1"));
    child<QFrame>(QStringLiteral("Line1"));
    EXPECT_EQ(child<QPushButton>(QStringLiteral("cmdInfoSys"))->text(), QStringLiteral("? &Sistema"));
    EXPECT_EQ(child<QPushButton>(QStringLiteral("Command1"))->text(), QStringLiteral("&OK"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("Lb_adp_0"))->text(), QStringLiteral("MirsalEX"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("E-mail:"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("Label3"))->text(), QStringLiteral("Sito:"));
    EXPECT_TRUE(child<QLabel>(QStringLiteral("lbIndirizzo"))->text().startsWith(QLatin1Char('\n')));
    EXPECT_EQ(child<QLabel>(QStringLiteral("Lb_dati"))->text().count(QLatin1Char('\n')), 2);
    EXPECT_EQ(child<QLabel>(QStringLiteral("Lb_cr"))->font().pointSize(), 7);

    ASSERT_TRUE(activate(about.get()));
    EXPECT_FALSE(child<QListWidget>(QStringLiteral("dirHidden"))->isVisible());
    const QRect screen = about->screen()->geometry();
    EXPECT_NEAR(about->x(), screen.left() + (screen.width() - about->width()) / 2, 1);
    EXPECT_NEAR(about->y(), screen.top() + (screen.height() - about->height()) / 2, 1);
    QTest::mouseClick(child<QPushButton>(QStringLiteral("Command1")), Qt::LeftButton);
    EXPECT_FALSE(about->isVisible());
}

TEST_F(AboutTest, LinksAreHighlightedOnlyInsideTheirInnerArea)
{
    ASSERT_TRUE(activate(about.get()));
    const int tpp = TwipsPerPixel();
    // The first pixel beyond a margin of `twips`.
    const auto inside = [tpp](int twips) { return twips / tpp + 1; };
    for (QLabel* link : {about->lbMail(), about->lbSito()}) {
        SCOPED_TRACE(link->objectName().toStdString());
        const int w = link->width();
        const int h = link->height();
        ASSERT_GT(w * tpp, 50 + 30 + 2 * tpp);
        ASSERT_GT(h * tpp, 60 + 2 * tpp);
        const QPoint middle(w / 2, h / 2);
        struct Point
        {
            const char* where;
            QPoint pos;
            bool highlighted;
        } points[] = {
            {"middle", middle, true},
            {"left border", {30 / tpp, h / 2}, false},
            {"just inside the left border", {inside(30), h / 2}, true},
            {"top border", {w / 2, 30 / tpp}, false},
            {"just inside the top border", {w / 2, inside(30)}, true},
            {"bottom border", {w / 2, h - 30 / tpp}, false},
            {"right border (50 twips)", {w - 50 / tpp, h / 2}, false},
            {"just inside the right border", {w - inside(50), h / 2}, true},
            {"corner", {0, 0}, false},
        };
        for (const Point& p : points) {
            SCOPED_TRACE(p.where);
            move(link, p.pos);
            EXPECT_EQ(highlighted(link), p.highlighted);
            EXPECT_EQ(plain(link), !p.highlighted);
        }
        // Over the window, the frame, the notice or the telephone numbers:
        // plain again.
        for (const char* other : {"InfDoran", "Frame1", "Lb_cr", "Lb_dati"}) {
            move(link, middle);
            ASSERT_TRUE(highlighted(link));
            QWidget* target = about->objectName() == QLatin1String(other)
                                  ? about.get()
                                  : about->findChild<QWidget*>(QLatin1String(other));
            move(target, QPoint(2, 2));
            EXPECT_TRUE(plain(about->lbMail()) && plain(about->lbSito())) << other;
        }
    }
}

TEST_F(AboutTest, ClickingALinkOpensTheMailProgramOrTheBrowser)
{
    ASSERT_TRUE(activate(about.get()));
    QTest::mouseClick(about->lbMail(), Qt::LeftButton);
    QTest::mouseClick(about->lbSito(), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("mailto:") + about->lbMail()->text()));
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(opened[1], QUrl(QStringLiteral("https://") + about->lbSito()->text()));
    EXPECT_TRUE(prompt.messages.isEmpty()) << "a failing handler is ignored";
    EXPECT_EQ(AboutWindow::indirizzoDi(QStringLiteral("lbSito"), QStringLiteral("http://x.it")),
              QUrl(QStringLiteral("http://x.it")));
}

TEST_F(AboutTest, RegisteredToolStartsWithoutTheDiskSearch)
{
    info.registryPath = QStringLiteral("/opt/strumento/msinfo32");
    info.roots = {inst.makeDir(QStringLiteral("programmi/"))};
    inst.writeFile(QStringLiteral("programmi/hardinfo"), "x");
    about->clickInfoSys();
    EXPECT_EQ(info.started, QStringList{QStringLiteral("/opt/strumento/msinfo32")});
    EXPECT_TRUE(about->percorsoTrovato().isEmpty());
    EXPECT_FALSE(child<QListWidget>(QStringLiteral("dirHidden"))->property("Path").isValid())
        << "no folder was searched";
}

TEST_F(AboutTest, WithoutTheRegistryTheSearchFindsTheToolSeveralLevelsDeep)
{
    info.roots = {inst.makeDir(QStringLiteral("bin/")), inst.makeDir(QStringLiteral("opt/"))};
    inst.writeFile(QStringLiteral("opt/hardinfo-0.5/share/bin/hardinfo"), "x");
    inst.writeFile(QStringLiteral("opt/zeta/hardinfo"), "x");
    // A second click while the search runs starts no other.
    int clicks = 0;
    prompt.onEvents = [&] {
        if (clicks++ == 0)
            about->clickInfoSys();
    };
    about->clickInfoSys();
    const QString found = inst.path(QStringLiteral("opt/hardinfo-0.5/share/bin/hardinfo"));
    EXPECT_EQ(about->percorsoTrovato(), found);
    EXPECT_EQ(info.started, QStringList{found});
    EXPECT_GT(clicks, 0);
    EXPECT_EQ(info.reads, 2) << "the registry was read for one click only";
    EXPECT_FALSE(about->ricercaInCorso());
    EXPECT_TRUE(prompt.messages.isEmpty());
}

TEST_F(AboutTest, ToolNowhereSaysNotFound)
{
    info.roots = {inst.makeDir(QStringLiteral("bin/")), inst.path(QStringLiteral("manca/"))};
    inst.writeFile(QStringLiteral("bin/altro/programma"), "x");
    prompt.expect(QStringLiteral("hardinfo  NON TROVATO"), AnswerOk, MsgStyle::Ok);
    about->clickInfoSys();
    EXPECT_EQ(prompt.pending(), 0);
    EXPECT_TRUE(info.started.isEmpty());
    EXPECT_TRUE(about->percorsoTrovato().isEmpty());
}

TEST_F(AboutTest, ClosingTheWindowStopsTheSearch)
{
    info.roots = {inst.makeDir(QStringLiteral("opt/"))};
    inst.makeDir(QStringLiteral("opt/a/b"));
    inst.writeFile(QStringLiteral("opt/z/hardinfo"), "x");
    ASSERT_TRUE(activate(about.get()));
    prompt.onEvents = [&] { about->reject(); };
    about->clickInfoSys();
    EXPECT_TRUE(info.started.isEmpty());
    EXPECT_TRUE(prompt.messages.isEmpty());
}

} // namespace
