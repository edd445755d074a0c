#pragma once

#include <QString>

namespace mirsalex {

// What the command line tells the window.
struct GuiOptions
{
    QString ini;          // --ini FILE: configuration file, search skipped
    QString operatorCode; // --operator CODE: preselected operator
    QString side;         // --side desktop|portable: preselected side
    QString log;          // --log FILE: run log to append to (empty: the default one)
};

// The window. Needs a QApplication.
int runGui(const GuiOptions& options);

// Whether the window can be opened: a display is named (DISPLAY or
// WAYLAND_DISPLAY), or the platform chosen (`platform`, else QT_QPA_PLATFORM)
// needs none, as "offscreen" does. When not, `why` says so in one line.
bool displayAvailable(const QString& platform, QString& why);

} // namespace mirsalex
