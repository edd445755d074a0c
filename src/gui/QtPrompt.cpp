#include "gui/QtPrompt.h"

#include "session/ProgressText.h"

#include <algorithm>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

namespace mirsalex {

namespace {

struct ButtonSpec
{
    QMessageBox::StandardButton button;
    int answer;
};

QList<ButtonSpec> buttonsFor(int style)
{
    switch (MsgStyle::buttons(style)) {
    case MsgStyle::OkCancel:
        return {{QMessageBox::Ok, AnswerOk}, {QMessageBox::Cancel, AnswerCancel}};
    case MsgStyle::AbortRetryIgnore:
        return {{QMessageBox::Abort, AnswerAbort},
                {QMessageBox::Retry, AnswerRetry},
                {QMessageBox::Ignore, AnswerIgnore}};
    case MsgStyle::YesNoCancel:
        return {
            {QMessageBox::Yes, AnswerYes}, {QMessageBox::No, AnswerNo}, {QMessageBox::Cancel, AnswerCancel}};
    case MsgStyle::YesNo:
        return {{QMessageBox::Yes, AnswerYes}, {QMessageBox::No, AnswerNo}};
    case MsgStyle::RetryCancel:
        return {{QMessageBox::Retry, AnswerRetry}, {QMessageBox::Cancel, AnswerCancel}};
    default:
        return {{QMessageBox::Ok, AnswerOk}};
    }
}

QString buttonText(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Yes:
        return QStringLiteral("Sì");
    case QMessageBox::No:
        return QStringLiteral("No");
    case QMessageBox::Cancel:
        return QStringLiteral("Annulla");
    case QMessageBox::Retry:
        return QStringLiteral("Riprova");
    case QMessageBox::Abort:
        return QStringLiteral("Interrompi");
    case QMessageBox::Ignore:
        return QStringLiteral("Ignora");
    default:
        return QStringLiteral("OK");
    }
}

QMessageBox::Icon iconFor(int style)
{
    switch (MsgStyle::icon(style)) {
    case MsgStyle::IconCritical:
        return QMessageBox::Critical;
    case MsgStyle::IconQuestion:
        return QMessageBox::Question;
    case MsgStyle::IconExclamation:
        return QMessageBox::Warning;
    case MsgStyle::IconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The answer of a box closed without a button: the one a Windows box gives
// for Escape (Cancel where there is one, else No, else OK).
int escapeAnswer(const QList<ButtonSpec>& specs)
{
    for (int wanted : {int(AnswerCancel), int(AnswerNo), int(AnswerOk), int(AnswerIgnore)}) {
        for (const auto& s : specs) {
            if (s.answer == wanted)
                return wanted;
        }
    }
    return specs.isEmpty() ? AnswerOk : specs.last().answer;
}

} // namespace

void QtPrompt::refresh()
{
    if (!m_refresh || m_refreshing)
        return;
    m_refreshing = true;
    m_refresh();
    m_refreshing = false;
}

void QtPrompt::progress(const QString& step, qint64 done, qint64 total)
{
    if (!m_parent)
        return;
    const bool last = total > 0 && done >= total;
    if (m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < 100 && !last)
        return;
    m_sinceDrawn.start();
    if (!m_panel) {
        m_panel = new QWidget(m_parent);
        m_panel->setObjectName(QStringLiteral("pctProgresso"));
        m_panel->setAutoFillBackground(true);
        auto* layout = new QHBoxLayout(m_panel);
        layout->setContentsMargins(8, 4, 8, 4);
        m_panelText = new QLabel(m_panel);
        m_panelText->setObjectName(QStringLiteral("lbProgresso"));
        m_panelBar = new QProgressBar(m_panel);
        m_panelBar->setObjectName(QStringLiteral("barProgresso"));
        m_panelBar->setTextVisible(false);
        layout->addWidget(m_panelText, 1);
        layout->addWidget(m_panelBar, 1);
    }
    const int height = m_panel->sizeHint().height();
    m_panel->setGeometry(0, m_parent->height() - height, m_parent->width(), height);
    m_panelText->setText(progressText(step, done, total, m_copied ? m_copied(step) : CopyProgress{}));
    // A range of 0..0 is the bar's "busy" look, for work of unknown size.
    constexpr int scale = 1000;
    m_panelBar->setRange(0, total > 0 ? scale : 0);
    m_panelBar->setValue(total > 0 ? int(std::clamp<qint64>(done * scale / total, 0, scale)) : 0);
    m_panel->show();
    m_panel->raise();
    processEvents();
}

void QtPrompt::progressEnd()
{
    m_sinceDrawn.invalidate();
    if (m_panel)
        m_panel->hide();
}

void QtPrompt::processEvents()
{
    refresh();
    QCoreApplication::processEvents();
}

int QtPrompt::ask(const QString& text, int style, const QString& title)
{
    refresh();
    QWidget* parent = m_parent && m_parent->isVisible() ? m_parent.data() : QApplication::activeWindow();
    QMessageBox box(iconFor(style), title, text, QMessageBox::NoButton, parent);
    const QList<ButtonSpec> specs = buttonsFor(style);
    QHash<QAbstractButton*, int> answers;
    for (const auto& s : specs) {
        QPushButton* button = box.addButton(s.button);
        // Italian captions of our own: they never depend on a translations
        // package being installed.
        button->setText(buttonText(s.button));
        answers.insert(button, s.answer);
    }
    // The first button is the default one, as on the original platform,
    // unless the style names the second.
    const auto& byDefault =
        (style & MsgStyle::DefaultButton2) && specs.size() > 1 ? specs.at(1) : specs.first();
    box.setDefaultButton(qobject_cast<QPushButton*>(box.button(byDefault.button)));
    const int onEscape = escapeAnswer(specs);
    for (const auto& s : specs) {
        if (s.answer == onEscape)
            box.setEscapeButton(box.button(s.button));
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    return clicked && answers.contains(clicked) ? answers.value(clicked) : onEscape;
}

} // namespace mirsalex
