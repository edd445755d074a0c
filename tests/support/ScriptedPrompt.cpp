#include "support/ScriptedPrompt.h"

#include <gtest/gtest.h>

namespace mirsalex::test {

ScriptedPrompt::~ScriptedPrompt()
{
    for (const auto& e : m_queue)
        ADD_FAILURE() << "expected message never shown: \"" << e.prefix.toStdString() << "\"";
}

ScriptedPrompt& ScriptedPrompt::expect(const QString& textPrefix, int answer, int style)
{
    m_queue.append({textPrefix, answer, style});
    return *this;
}

QStringList ScriptedPrompt::texts() const
{
    QStringList out;
    for (const auto& m : messages)
        out << m.text;
    return out;
}

int ScriptedPrompt::ask(const QString& text, int style, const QString& title)
{
    if (m_queue.isEmpty()) {
        ADD_FAILURE() << "unexpected message (style " << style << ", title \"" << title.toStdString()
                      << "\"): \"" << text.toStdString() << "\"";
        messages.append({text, style, title, AnswerCancel});
        // Cancel is the answer that ends loops (Retry/Cancel) and stops walks.
        return style == MsgStyle::Question ? AnswerNo : AnswerCancel;
    }
    const Expectation e = m_queue.takeFirst();
    EXPECT_TRUE(text.startsWith(e.prefix)) << "message \"" << text.toStdString()
                                           << "\" does not begin with \"" << e.prefix.toStdString() << "\"";
    if (e.style != -1) {
        EXPECT_EQ(style, e.style) << "style of message \"" << text.toStdString() << "\"";
    }
    messages.append({text, style, title, e.answer});
    return e.answer;
}

} // namespace mirsalex::test
