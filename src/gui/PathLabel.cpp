#include "gui/PathLabel.h"

#include <QPainter>
#include <QStyle>

namespace mirsalex {

namespace {

constexpr int kPadding = 6;
constexpr int kIconSize = 16;

} // namespace

PathLabel::PathLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void PathLabel::setIcon(const QIcon& icon)
{
    m_icon = icon;
    update();
}

void PathLabel::setHoverFrame(bool on)
{
    m_hoverFrame = on;
    setAttribute(Qt::WA_Hover, on);
    update();
}

QRect PathLabel::textRect() const
{
    QRect r = contentsRect().adjusted(kPadding, 0, -kPadding, 0);
    if (!m_icon.isNull())
        r.setRight(r.right() - kIconSize - kPadding);
    return r;
}

QString PathLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, qMax(0, textRect().width()));
}

QSize PathLabel::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int extra = 2 * frameWidth() + 2 * kPadding + (m_icon.isNull() ? 0 : kIconSize + kPadding);
    const int wanted =
        qBound(fm.averageCharWidth() * 24, fm.horizontalAdvance(text()), fm.averageCharWidth() * 60);
    return {wanted + extra, qMax(fm.height(), kIconSize) + 2 * frameWidth() + 8};
}

QSize PathLabel::minimumSizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int extra = 2 * frameWidth() + 2 * kPadding + (m_icon.isNull() ? 0 : kIconSize + kPadding);
    return {fm.averageCharWidth() * 16 + extra, sizeHint().height()};
}

void PathLabel::paintEvent(QPaintEvent* event)
{
    // The frame and background only: the text is painted here, shortened.
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect r = textRect();
    if (!m_icon.isNull()) {
        const QRect iconRect(r.right() + kPadding + 1, contentsRect().center().y() - kIconSize / 2 + 1,
                             kIconSize, kIconSize);
        m_icon.paint(&painter, iconRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
    }
    style()->drawItemText(&painter, r, int(QStyle::visualAlignment(layoutDirection(), alignment())),
                          palette(), isEnabled(), shownText(), foregroundRole());
    if (m_hoverFrame && isEnabled() && underMouse()) {
        painter.setPen(palette().color(QPalette::Highlight));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace mirsalex
