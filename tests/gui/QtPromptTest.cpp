#include "gui/QtPrompt.h"

#include "changes/ApplyChanges.h"
#include "changes/WithheldChanges.h"
#include "GuiTestSupport.h"
#include "runtypes/RunState.h"
#include "session/ProgressText.h"

#include <gtest/gtest.h>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

struct BoxCase
{
    const char* name;
    int style;
    QList<QMessageBox::StandardButton> buttons; // in the order shown
    QMessageBox::Icon icon;
    QMessageBox::StandardButton press; // NoButton: Escape
    int answer;
};

class QtPromptTest : public ::testing::TestWithParam<BoxCase>
{
};

TEST_P(QtPromptTest, StyleGivesButtonsAndIconAndTheButtonGivesTheAnswer)
{
    testApplication();
    const BoxCase& c = GetParam();
    QtPrompt prompt;
    int refreshes = 0;
    prompt.setRefresh([&refreshes] { ++refreshes; });

    QList<QMessageBox::StandardButton> seen;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons())
            seen << box->standardButton(b);
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        if (c.press == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(c.press)->click();
    });

    const int answer = prompt.show(QStringLiteral("TESTO"), c.style, QStringLiteral("TITOLO"));

    EXPECT_EQ(answer, c.answer);
    std::sort(seen.begin(), seen.end());
    QList<QMessageBox::StandardButton> expected = c.buttons;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(title, QStringLiteral("TITOLO"));
    EXPECT_EQ(text, QStringLiteral("TESTO"));
    EXPECT_GE(refreshes, 1) << "the window is brought up to date before a box";
}

INSTANTIATE_TEST_SUITE_P(
    Styles, QtPromptTest,
    ::testing::Values(
        BoxCase{"okPlain", 0, {QMessageBox::Ok}, QMessageBox::NoIcon, QMessageBox::Ok, AnswerOk},
        BoxCase{"critical", 16, {QMessageBox::Ok}, QMessageBox::Critical, QMessageBox::Ok, AnswerOk},
        BoxCase{"questionYes",
                36,
                {QMessageBox::Yes, QMessageBox::No},
                QMessageBox::Question,
                QMessageBox::Yes,
                AnswerYes},
        BoxCase{"questionNo",
                36,
                {QMessageBox::Yes, QMessageBox::No},
                QMessageBox::Question,
                QMessageBox::No,
                AnswerNo},
        BoxCase{"questionEscapeIsNo",
                36,
                {QMessageBox::Yes, QMessageBox::No},
                QMessageBox::Question,
                QMessageBox::NoButton,
                AnswerNo},
        BoxCase{"okCancel",
                49,
                {QMessageBox::Ok, QMessageBox::Cancel},
                QMessageBox::Warning,
                QMessageBox::Cancel,
                AnswerCancel},
        BoxCase{"retry",
                53,
                {QMessageBox::Retry, QMessageBox::Cancel},
                QMessageBox::Warning,
                QMessageBox::Retry,
                AnswerRetry},
        BoxCase{"retryEscapeIsCancel",
                53,
                {QMessageBox::Retry, QMessageBox::Cancel},
                QMessageBox::Warning,
                QMessageBox::NoButton,
                AnswerCancel}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

// The buttons carry our own Italian texts, whatever translations are
// installed (this test program installs none).
struct TextCase
{
    const char* name;
    int style;
    QStringList texts; // sorted
};

class QtPromptTextTest : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(QtPromptTextTest, ButtonsShowItalianTexts)
{
    testApplication();
    const TextCase& c = GetParam();
    QtPrompt prompt;
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons())
            texts << b->text();
        QTest::keyClick(box, Qt::Key_Escape);
    });
    prompt.show(QStringLiteral("TESTO"), c.style);
    texts.sort();
    EXPECT_EQ(texts, c.texts);
}

INSTANTIATE_TEST_SUITE_P(
    Italian, QtPromptTextTest,
    ::testing::Values(TextCase{"ok", 0, {QStringLiteral("OK")}},
                      TextCase{"yesNo", 36, {QStringLiteral("No"), QStringLiteral("Sì")}},
                      TextCase{"okCancel", 49, {QStringLiteral("Annulla"), QStringLiteral("OK")}},
                      TextCase{"retryCancel", 53, {QStringLiteral("Annulla"), QStringLiteral("Riprova")}}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

// The progress says what its numbers are.
TEST(ProgressText, NamesWhatEachNumberCounts)
{
    EXPECT_EQ(progressText(QStringLiteral("SCHEDE CLIENTI: invio"), 3, 11, 1),
              QStringLiteral("SCHEDE CLIENTI: invio: esaminati 3 di 11, copiati 1"));
    EXPECT_EQ(progressText(QStringLiteral("VisiteN: scambio -> locale"), 120, 400, -1),
              QStringLiteral("VisiteN: scambio -> locale: righe 120 di 400"));
    EXPECT_EQ(progressText(QStringLiteral("VisiteN: locale -> scambio"), 0, 0, -1),
              QStringLiteral("VisiteN: locale -> scambio"));

    ApplyChanges sink;
    RunState w(RunRequest{}, sink);
    w.filesOffered[1][1] = 4;
    EXPECT_EQ(copiedSoFar(w, QStringLiteral("SCHEDE CLIENTI: ricezione")), 4);
    EXPECT_EQ(copiedSoFar(w, QStringLiteral("VisiteN: scambio -> locale")), -1);
}

TEST(QtPromptEvents, ProcessEventsRefreshesAndRunsPendingEvents)
{
    testApplication();
    QtPrompt prompt;
    int refreshes = 0;
    bool ran = false;
    prompt.setRefresh([&refreshes] { ++refreshes; });
    QTimer::singleShot(0, [&ran] { ran = true; });
    prompt.processEvents();
    EXPECT_EQ(refreshes, 1);
    EXPECT_TRUE(ran);
}

} // namespace
