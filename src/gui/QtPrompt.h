#pragma once

#include "common/Prompt.h"
#include "session/ProgressText.h"

#include <functional>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>

namespace mirsalex {

// The window's message boxes: the style number picks the icon and the
// buttons, the button pressed is returned as its answer code. Before a box is
// shown, and whenever the core lets events run, the window is refreshed from
// the state the core works on.
class QtPrompt : public Prompt
{
public:
    QtPrompt() = default;

    // Window the boxes belong to (centred on it); may be null.
    void setParent(QWidget* parent) { m_parent = parent; }
    // Called to bring the window up to date with the core's state.
    void setRefresh(std::function<void()> refresh) { m_refresh = std::move(refresh); }
    // The files copied so far by the step shown (-1 when it does not copy
    // files); the progress says so beside the files examined.
    void setCopiedCounter(std::function<CopyProgress(const QString& step)> counter)
    {
        m_copied = std::move(counter);
    }

    void processEvents() override;

    // A panel over the status line at the bottom of the window: the step,
    // what its numbers are (files examined and copied, or rows) and a bar.
    // It is redrawn, and pending events run, at most every 100 ms, so the
    // window repaints during long work without slowing it down.
    void progress(const QString& step, qint64 done, qint64 total) override;
    void progressEnd() override;
    // The panel, while it is shown (for tests).
    QWidget* progressPanel() const { return m_panel; }

protected:
    int ask(const QString& text, int style, const QString& title) override;

private:
    void refresh();

    QPointer<QWidget> m_parent;
    std::function<void()> m_refresh;
    std::function<CopyProgress(const QString&)> m_copied;
    bool m_refreshing = false;
    QPointer<QWidget> m_panel;
    QPointer<QLabel> m_panelText;
    QPointer<QProgressBar> m_panelBar;
    QElapsedTimer m_sinceDrawn;
};

} // namespace mirsalex
