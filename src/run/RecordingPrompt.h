#pragma once

#include "common/Prompt.h"
#include "runtypes/RunReport.h"

#include <vector>

namespace mirsalex {

// A prompt that forwards every box to the face's own prompt and keeps each
// one with the answer it got, so that the run log can tell what the user was
// shown. Window events and progress pass straight through.
class RecordingPrompt : public Prompt
{
public:
    explicit RecordingPrompt(Prompt& inner) : m_inner(inner) {}

    void processEvents() override { m_inner.processEvents(); }
    void progress(const QString& step, qint64 done, qint64 total) override
    {
        m_inner.progress(step, done, total);
    }
    void progressEnd() override { m_inner.progressEnd(); }

    // The boxes shown since the last clear(), in order.
    const std::vector<ShownBox>& boxes() const { return m_boxes; }
    void clear() { m_boxes.clear(); }

protected:
    int ask(const QString& text, int style, const QString& title) override;

private:
    Prompt& m_inner;
    std::vector<ShownBox> m_boxes;
};

// A prompt that shows no box: each one is answered as an unattended batch
// run answers it (a question takes Yes with `yes`, else No; an OK/Cancel box
// takes OK, any other choice the safe way out) and kept with its answer. A
// dry run from the window lists its questions so. Progress goes on to
// `progressTo`.
class AnsweringPrompt : public Prompt
{
public:
    AnsweringPrompt(Prompt& progressTo, bool yes) : m_progress(progressTo), m_yes(yes) {}

    void processEvents() override { m_progress.processEvents(); }
    void progress(const QString& step, qint64 done, qint64 total) override
    {
        m_progress.progress(step, done, total);
    }
    void progressEnd() override { m_progress.progressEnd(); }

    const std::vector<ShownBox>& boxes() const { return m_boxes; }

protected:
    int ask(const QString& text, int style, const QString& title) override;

private:
    Prompt& m_progress;
    bool m_yes;
    std::vector<ShownBox> m_boxes;
};

} // namespace mirsalex
