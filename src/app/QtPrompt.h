#pragma once

#include "common/Prompt.h"

#include <functional>
#include <QPointer>
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

protected:
    int ask(const QString& text, int style, const QString& title) override;

private:
    void refresh();

    QPointer<QWidget> m_parent;
    std::function<void()> m_refresh;
    bool m_refreshing = false;
};

} // namespace mirsalex
