#pragma once

#include "common/Prompt.h"

#include <QList>
#include <QString>

namespace mirsalex::test {

// A prompt for tests: every message is recorded; answers come from a queue of
// expectations, and a message nobody expected fails the test.
class ScriptedPrompt : public Prompt
{
public:
    struct Message
    {
        QString text;
        int style = 0;
        QString title;
        int answer = 0;
    };

    ~ScriptedPrompt() override;

    // The next message must begin with `textPrefix` (any text when empty) and,
    // when `style` is not -1, have that style; it is answered with `answer`.
    ScriptedPrompt& expect(const QString& textPrefix, int answer = AnswerOk, int style = -1);

    // Number of expectations not yet consumed.
    int pending() const { return int(m_queue.size()); }

    QList<Message> messages;
    int processEventsCalls = 0;

    // Texts of the recorded messages, in order.
    QStringList texts() const;

    void processEvents() override { ++processEventsCalls; }

protected:
    int ask(const QString& text, int style, const QString& title) override;

private:
    struct Expectation
    {
        QString prefix;
        int answer;
        int style;
    };
    QList<Expectation> m_queue;
};

} // namespace mirsalex::test
