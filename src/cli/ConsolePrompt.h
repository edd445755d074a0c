#pragma once

#include "common/Prompt.h"
#include "session/ProgressText.h"

#include <cstdio>
#include <functional>
#include <QElapsedTimer>
#include <QStringList>

namespace mirsalex {

// The message boxes of batch mode: each box is printed (title, style, text
// lines, and the answer taken). Yes/No questions are asked on the terminal
// when it is interactive; otherwise they take the next scripted answer, then
// Yes when told so, else No. Boxes with OK and Cancel, or Retry and Cancel,
// take the next scripted answer, else OK or Cancel: nothing loops unattended.
class ConsolePrompt : public Prompt
{
public:
    ConsolePrompt(std::FILE* out, std::FILE* in, bool interactive, QStringList answers, bool yes);

    // One line that updates in place, at most every 100 ms, and only when the
    // output is a terminal (a log stays clean).
    void progress(const QString& step, qint64 done, qint64 total) override;
    void progressEnd() override;
    // Whether the progress line is drawn (the output is a terminal); tests set it.
    void setProgressLine(bool on) { m_progressLine = on; }
    // The files copied so far by the step shown (-1 when it does not copy
    // files); the progress says so beside the files examined.
    void setCopiedCounter(std::function<CopyProgress(const QString& step)> counter)
    {
        m_copied = std::move(counter);
    }

    // Scripted answers not used (for the final report).
    QStringList unusedAnswers() const { return m_answers; }
    // A scripted answer that did not fit its box.
    bool misfit() const { return m_misfit; }

    // The name of an answer code ("Yes", "Cancel", ...).
    static QString answerName(int answer);
    // The answer code of a scripted answer ("yes", "no", "ok", "cancel",
    // "retry"), or AnswerNone.
    static int parseAnswer(const QString& text);

protected:
    int ask(const QString& text, int style, const QString& title) override;

private:
    int askTerminal(int style);

    std::FILE* m_out;
    std::FILE* m_in;
    bool m_interactive;
    QStringList m_answers;
    bool m_yes;
    bool m_misfit = false;
    bool m_progressLine = false;
    std::function<CopyProgress(const QString&)> m_copied;
    bool m_lineShown = false;
    QElapsedTimer m_sinceDrawn;
    void clearProgressLine();
};

} // namespace mirsalex
