#pragma once

#include <QIcon>
#include <QLabel>

namespace mirsalex {

// A label showing a path in a field-like box. The text stays whole (text()
// and the tooltip give the full path); when it does not fit, the painted text
// drops characters in the middle, so the drive and the last folders stay
// readable. An optional icon sits at the right end.
class PathLabel : public QLabel
{
    Q_OBJECT
public:
    explicit PathLabel(QWidget* parent = nullptr);

    void setIcon(const QIcon& icon);
    // Outlines the box while the mouse is over it (for labels that take clicks).
    void setHoverFrame(bool on);

    // The text as painted in the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;

    QIcon m_icon;
    bool m_hoverFrame = false;
};

} // namespace mirsalex
