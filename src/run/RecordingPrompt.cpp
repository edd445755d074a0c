#include "run/RecordingPrompt.h"

namespace mirsalex {

int RecordingPrompt::ask(const QString& text, int style, const QString& title)
{
    const int answer = m_inner.show(text, style, title);
    m_boxes.push_back({title, style, text, answer});
    return answer;
}

} // namespace mirsalex
