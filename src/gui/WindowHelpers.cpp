#include "gui/WindowHelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace mirsalex {

int LargoSchermo = 0;
int AltoSchermo = 0;

namespace {

QString& rememberedCaption()
{
    static QString caption;
    return caption;
}

QRect screenGeometry(const QWidget* window)
{
    QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

} // namespace

int TwipsPerPixel()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    const int tpp = dpi > 0 ? qRound(1440.0 / dpi) : 15;
    return tpp > 0 ? tpp : 15;
}

void MisuraSchermo()
{
    // Kept in 32 bits: a screen wider than 2176 pixels does not fit the 16-bit
    // twips of the original measure.
    const QRect g = screenGeometry(nullptr);
    const int tpp = TwipsPerPixel();
    LargoSchermo = g.width() * tpp + 120;
    AltoSchermo = g.height() * tpp + 120;
}

void CentraForm(QWidget* window)
{
    if (!window)
        return;
    if (LargoSchermo <= 0 || AltoSchermo <= 0)
        MisuraSchermo();
    const int tpp = TwipsPerPixel();
    const int screenW = (LargoSchermo - 120) / tpp;
    const int screenH = (AltoSchermo - 120) / tpp;
    QSize size = window->size();
    if (size.width() > screenW)
        size.setWidth(screenW);
    if (size.height() > screenH)
        size.setHeight(screenH);
    if (size != window->size())
        window->resize(size);
    const int top = (AltoSchermo - size.height() * tpp) / 2 / tpp;
    const int left = (LargoSchermo - size.width() * tpp) / 2 / tpp;
    const QRect g = screenGeometry(window);
    window->move(g.left() + left, g.top() + top);
}

void TieniNelloSchermo(QWidget* window)
{
    if (!window)
        return;
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    const QSize border(frame.width() - inner.width(), frame.height() - inner.height());
    const QSize size = inner.size().boundedTo(room.size() - border).expandedTo(window->minimumSize());
    if (size != inner.size())
        window->resize(size);
    QRect wanted(frame.topLeft(), size + border);
    if (wanted.right() > room.right())
        wanted.moveRight(room.right());
    if (wanted.bottom() > room.bottom())
        wanted.moveBottom(room.bottom());
    if (wanted.left() < room.left())
        wanted.moveLeft(room.left());
    if (wanted.top() < room.top())
        wanted.moveTop(room.top());
    if (wanted.topLeft() != frame.topLeft())
        window->move(wanted.topLeft());
}

bool GestioneTasti(int key, Qt::KeyboardModifiers modifiers, QWidget* window)
{
    if (!window)
        return false;
    if (key == Qt::Key_F2) {
        const auto buttons = window->findChildren<QAbstractButton*>();
        for (QAbstractButton* b : buttons) {
            if (b->window() == window && b->isVisible() && b->isEnabled() &&
                b->text().contains(QStringLiteral("&U"), Qt::CaseInsensitive)) {
                b->click();
                return true;
            }
        }
        return true;
    }
    if (key == Qt::Key_F8 && (modifiers & Qt::ControlModifier)) {
        if (window->windowFlags() & Qt::FramelessWindowHint)
            return true;
        const QString caption = window->windowTitle();
        if (!caption.endsWith(QLatin1Char('!'))) {
            rememberedCaption() = caption;
            window->setWindowTitle(window->objectName() + QStringLiteral(" !"));
        } else {
            window->setWindowTitle(rememberedCaption());
        }
        return true;
    }
    return false;
}

QString DidascaliaRicordata()
{
    return rememberedCaption();
}

void SelezionaTesto(QLineEdit* box)
{
    if (!box)
        return;
    QPointer<QLineEdit> guard(box);
    QTimer::singleShot(0, box, [guard] {
        if (guard && guard->hasFocus())
            guard->setSelection(0, qMin(100, int(guard->text().size())));
    });
}

void RipristinaPuntatore(QWidget* window)
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (window)
        window->unsetCursor();
    QCoreApplication::processEvents();
}

QFont fixedFont()
{
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

} // namespace mirsalex
