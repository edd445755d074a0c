#pragma once

#include "common/Prompt.h"

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

    void processEvents() override;

    // A panel at the bottom of the window: step name, done/total and a bar.
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
    bool m_refreshing = false;
    QPointer<QWidget> m_panel;
    QPointer<QLabel> m_panelText;
    QPointer<QProgressBar> m_panelBar;
    QElapsedTimer m_sinceDrawn;
};

} // namespace mirsalex
