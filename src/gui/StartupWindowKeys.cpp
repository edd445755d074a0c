// The main window's keyboard: the window sees every key of its controls
// first (key preview), and the focus moves between them as the window's
// conventions want.

#include "common/Helpers.h"
#include "gui/FolderChooser.h"
#include "gui/StartupWindow.h"
#include "gui/WindowHelpers.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

namespace mirsalex {

namespace {

// Focus moving inside the window, as opposed to another window (a message
// box, another program) taking over: only the first counts as a control
// gaining or losing the focus.
bool withinWindow(const QEvent* event)
{
    const auto reason = static_cast<const QFocusEvent*>(event)->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
           reason != Qt::MenuBarFocusReason;
}

} // namespace

bool StartupWindow::handleKey(QObject* receiver, QKeyEvent* event)
{
    const int key = event->key();
    if (GestioneTasti(key, event->modifiers(), this))
        return true;
    if (m_pctDirList->isVisible()) {
        // In the folder chooser Escape cancels and Enter on the folder list
        // opens the highlighted folder.
        if (key == Qt::Key_Escape) {
            clickCmdDir(1);
            return true;
        }
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && receiver == m_pctDirList->dirList()) {
            m_pctDirList->openHighlighted();
            return true;
        }
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_running) {
        // An Enter meant for a message box that has just closed moves
        // nothing and presses nothing while a run works.
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // Enter never types a character. On a button it presses it; anywhere
        // else it moves to the next control.
        if (auto* button = qobject_cast<QPushButton*>(receiver)) {
            // A hidden button (the run button after a run) keeps the focus
            // while a message box is up; it must not be pressed.
            if (button->isVisible() && button->isEnabled())
                button->click();
            else
                focusNextChild();
            return true;
        }
        focusNextChild();
        return true;
    }
    if (key == Qt::Key_F4) {
        MostraOperatori();
        return true;
    }
    if (key == Qt::Key_F1) {
        showAbout();
        return true;
    }
    if (key == Qt::Key_Escape && m_list->isVisible()) {
        // Escape closes the operator list without taking an item.
        m_list->hide();
        m_scegliDaLista = 0;
        m_codOper->setFocus(Qt::OtherFocusReason);
        return true;
    }
    // Alt with a key is a button's shortcut or nothing: a combination no
    // button takes (Alt+E once "&ESEGUI" is hidden) never types into a box.
    const QString text = event->text();
    if ((event->modifiers() & Qt::AltModifier) && !text.isEmpty() && qobject_cast<QLineEdit*>(receiver))
        return true;
    // Every letter a-z typed in the window arrives in upper case.
    if (text.size() == 1 &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        const int code = text.at(0).unicode();
        const int upper = TastoMaiuscolo(code);
        if (upper != code) {
            QKeyEvent replaced(QEvent::KeyPress, key, event->modifiers(), QString(QChar(upper)),
                               event->isAutoRepeat(), quint16(event->count()));
            m_resending = true;
            QCoreApplication::sendEvent(receiver, &replaced);
            m_resending = false;
            return true;
        }
    }
    return false;
}

bool StartupWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_codOper) {
        switch (event->type()) {
        case QEvent::FocusIn:
            // The focus given at load arrives when the window first becomes
            // active; it counts as the box getting the focus.
            if (withinWindow(event) || !m_codOperFocused) {
                m_codOperFocused = true;
                m_scegliDaLista = 0;
                SelezionaTesto(m_codOper);
            }
            break;
        case QEvent::FocusOut:
            if (withinWindow(event) && !m_syncing && !m_ended)
                codOperLostFocus();
            break;
        case QEvent::MouseButtonDblClick:
            // With no list to pick from nothing happens: the code typed in
            // the box is still confirmed when the box loses the focus.
            if (m_list->count() > 0 && !m_running && !m_pctDirList->isVisible()) {
                m_scegliDaLista = 1;
                MostraOperatori();
            }
            return true;
        default:
            break;
        }
    } else if (watched == m_list) {
        if (event->type() == QEvent::FocusOut && withinWindow(event) && !m_ended)
            listLostFocus();
    }

    if (event->type() == QEvent::KeyPress && !m_resending) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this && isVisible() && isEnabled())
            return handleKey(watched, static_cast<QKeyEvent*>(event));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mirsalex
