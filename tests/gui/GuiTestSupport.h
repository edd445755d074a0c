#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace mirsalex::test {

// The one QApplication of the window tests (offscreen unless a platform is
// chosen), created on first use and kept for the whole test program.
inline QApplication* testApplication()
{
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // A run from the window keeps its versions and its log entry under
        // the state folder: each test program has one of its own, never the
        // user's, and never one that another test program uses meanwhile.
        static QTemporaryDir state;
        qputenv("XDG_STATE_HOME", state.path().toUtf8());
        static int argc = 1;
        static char name[] = "test_gui";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return app;
}

// Shows a window and makes it the active one, so focus changes reach its
// controls as they do for a user.
inline bool activate(QWidget* window)
{
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

} // namespace mirsalex::test
