#include "cli/ConsolePrompt.h"

#include "session/ProgressText.h"

#include <algorithm>
#include <QByteArray>
#include <unistd.h>
#include <utility>

namespace mirsalex {

namespace {

QList<int> buttonsOf(int style)
{
    switch (MsgStyle::buttons(style)) {
    case MsgStyle::OkCancel:
        return {AnswerOk, AnswerCancel};
    case MsgStyle::AbortRetryIgnore:
        return {AnswerAbort, AnswerRetry, AnswerIgnore};
    case MsgStyle::YesNoCancel:
        return {AnswerYes, AnswerNo, AnswerCancel};
    case MsgStyle::YesNo:
        return {AnswerYes, AnswerNo};
    case MsgStyle::RetryCancel:
        return {AnswerRetry, AnswerCancel};
    default:
        return {AnswerOk};
    }
}

bool readLine(std::FILE* in, QString& out)
{
    QByteArray line;
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        line.append(static_cast<char>(c));
    if (c == EOF && line.isEmpty())
        return false;
    out = QString::fromLocal8Bit(line).trimmed();
    return true;
}

} // namespace

ConsolePrompt::ConsolePrompt(std::FILE* out, std::FILE* in, bool interactive, QStringList answers, bool yes)
    : m_out(out), m_in(in), m_interactive(interactive), m_answers(std::move(answers)), m_yes(yes),
      m_progressLine(out && ::isatty(::fileno(out)) == 1)
{
}

void ConsolePrompt::progress(const QString& step, qint64 done, qint64 total)
{
    if (!m_progressLine)
        return;
    const bool last = total > 0 && done >= total;
    if (m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < 100 && !last)
        return;
    m_sinceDrawn.start();
    QString line = progressText(step, done, total, m_copied ? m_copied(step) : CopyProgress{});
    if (total > 0) {
        constexpr int width = 30;
        const int filled = int(std::clamp<qint64>(done * width / total, 0, width));
        line += QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                QString(width - filled, QLatin1Char('.')) + QLatin1Char(']');
    }
    // Carriage return, the line, and erase what a longer line left.
    std::fprintf(m_out, "\r%s\x1b[K", line.toLocal8Bit().constData());
    std::fflush(m_out);
    m_lineShown = true;
}

void ConsolePrompt::progressEnd()
{
    clearProgressLine();
    m_sinceDrawn.invalidate();
}

void ConsolePrompt::clearProgressLine()
{
    if (!m_lineShown)
        return;
    std::fputs("\r\x1b[K", m_out);
    std::fflush(m_out);
    m_lineShown = false;
}

QString ConsolePrompt::answerName(int answer)
{
    switch (answer) {
    case AnswerOk:
        return QStringLiteral("OK");
    case AnswerCancel:
        return QStringLiteral("Cancel");
    case AnswerAbort:
        return QStringLiteral("Abort");
    case AnswerRetry:
        return QStringLiteral("Retry");
    case AnswerIgnore:
        return QStringLiteral("Ignore");
    case AnswerYes:
        return QStringLiteral("Yes");
    case AnswerNo:
        return QStringLiteral("No");
    default:
        return QStringLiteral("none");
    }
}

int ConsolePrompt::parseAnswer(const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("yes") || t == QLatin1String("y") || t == QLatin1String("si") ||
        t == QLatin1String("s"))
        return AnswerYes;
    if (t == QLatin1String("no") || t == QLatin1String("n"))
        return AnswerNo;
    if (t == QLatin1String("ok"))
        return AnswerOk;
    if (t == QLatin1String("cancel"))
        return AnswerCancel;
    if (t == QLatin1String("retry"))
        return AnswerRetry;
    return AnswerNone;
}

int ConsolePrompt::askTerminal(int style)
{
    const QList<int> buttons = buttonsOf(style);
    QStringList names;
    for (int b : buttons)
        names << answerName(b);
    for (;;) {
        std::fprintf(m_out, "  Answer (%s): ", qPrintable(names.join(QLatin1Char('/'))));
        std::fflush(m_out);
        QString line;
        if (!readLine(m_in, line))
            return buttons.contains(AnswerNo) ? AnswerNo : AnswerCancel; // end of input: the safe answer
        const int a = parseAnswer(line);
        if (buttons.contains(a))
            return a;
    }
}

int ConsolePrompt::ask(const QString& text, int style, const QString& title)
{
    clearProgressLine();
    std::fprintf(m_out, "--- [%s] (style %d)\n", qPrintable(title), style);
    for (const QString& line : text.split(QChar(10)))
        std::fprintf(m_out, "  %s\n", qPrintable(line));

    const QList<int> buttons = buttonsOf(style);
    int answer = buttons.constFirst();
    const bool question = buttons.contains(AnswerYes);
    if (buttons.size() > 1) {
        if (question && m_interactive) {
            answer = askTerminal(style);
        } else {
            int scripted = AnswerNone;
            if (!m_answers.isEmpty()) {
                const QString item = m_answers.takeFirst();
                scripted = parseAnswer(item);
                if (!buttons.contains(scripted)) {
                    std::fprintf(m_out, "  (scripted answer '%s' does not fit this box)\n", qPrintable(item));
                    m_misfit = true;
                    scripted = AnswerNone;
                }
            }
            if (scripted != AnswerNone)
                answer = scripted;
            else if (question)
                answer = m_yes ? AnswerYes : AnswerNo;
            else if (buttons.contains(AnswerCancel))
                answer = MsgStyle::buttons(style) == MsgStyle::OkCancel ? AnswerOk : AnswerCancel;
        }
    }
    std::fprintf(m_out, "  -> %s\n", qPrintable(answerName(answer)));
    std::fflush(m_out);
    return answer;
}

} // namespace mirsalex
