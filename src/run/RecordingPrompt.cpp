#include "run/RecordingPrompt.h"

namespace mirsalex {

int RecordingPrompt::ask(const QString& text, int style, const QString& title)
{
    const int answer = m_inner.show(text, style, title);
    m_boxes.push_back({title, style, text, answer});
    return answer;
}

int AnsweringPrompt::ask(const QString& text, int style, const QString& title)
{
    int answer = AnswerOk;
    switch (MsgStyle::buttons(style)) {
    case MsgStyle::YesNo:
    case MsgStyle::YesNoCancel:
        answer = m_yes ? AnswerYes : AnswerNo;
        break;
    case MsgStyle::OkCancel:
        answer = AnswerOk;
        break;
    case MsgStyle::AbortRetryIgnore:
        answer = AnswerAbort;
        break;
    case MsgStyle::RetryCancel:
        answer = AnswerCancel;
        break;
    default:
        break;
    }
    m_boxes.push_back({title, style, text, answer});
    return answer;
}

} // namespace mirsalex
