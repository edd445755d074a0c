#include "app/QtPrompt.h"

#include <QApplication>
#include <QMessageBox>
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
    for (const auto& s : specs)
        answers.insert(box.addButton(s.button), s.answer);
    // The first button is the default one, as on the original platform.
    box.setDefaultButton(qobject_cast<QPushButton*>(box.button(specs.first().button)));
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
