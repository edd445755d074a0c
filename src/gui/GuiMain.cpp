#include "gui/GuiMain.h"

#include "common/RunLog.h"
#include "config/Context.h"
#include "gui/QtPrompt.h"
#include "gui/StartupWindow.h"
#include "run/RecordingPrompt.h"
#include "session/OperatorForm.h"
#include "session/ProgressText.h"
#include "session/Startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QSysInfo>
#include <QTranslator>

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include <dlfcn.h>
#endif

namespace mirsalex {

namespace {

// Whether the X display `DISPLAY` names answers: a connection is tried the
// way Qt's own platform makes it (libxcb, loaded here only to try), so a
// display that is gone is told in one line instead of Qt's abort. True when
// it cannot be tried.
bool x11DisplayOpens()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb)
        return true;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool opens = true;
    if (connect && hasError && disconnect) {
        void* connection = connect(nullptr, nullptr);
        opens = connection && hasError(connection) == 0;
        if (connection)
            disconnect(connection);
    }
    dlclose(xcb);
    return opens;
#else
    return true;
#endif
}

} // namespace

bool displayAvailable(const QString& platform, QString& why)
{
    QString chosen = platform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platform;
    // "xcb:wayland" names a platform and its fall-backs; "offscreen:size=..."
    // a platform with its settings.
    chosen = chosen.section(QLatin1Char(';'), 0, 0).section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    const bool x11 = qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariable("DISPLAY").isEmpty();
    const bool wayland =
        qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && !qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty();
    // Windows and macOS always have their own display.
    const QString system = QSysInfo::productType();
    if (chosen.isEmpty() && (system == QLatin1String("windows") || system == QLatin1String("macos")))
        return true;
    if (chosen.isEmpty() || chosen == QLatin1String("xcb") || chosen.startsWith(QLatin1String("wayland"))) {
        // The desktop platforms need a display server; others (offscreen,
        // minimal, vnc, the frame-buffer ones) are left to Qt.
        const bool ok = chosen == QLatin1String("xcb") ? x11 : chosen.isEmpty() ? x11 || wayland : wayland;
        if (!ok) {
            why =
                QStringLiteral("no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set); "
                               "use --batch, or QT_QPA_PLATFORM=offscreen");
            return false;
        }
        // X11 is what Qt takes when it is chosen, or when no Wayland display
        // is named.
        const bool viaX11 = chosen == QLatin1String("xcb") || (chosen.isEmpty() && !wayland);
        if (viaX11 && !x11DisplayOpens()) {
            why = QStringLiteral("cannot open the display \"%1\"; use --batch, or QT_QPA_PLATFORM=offscreen")
                      .arg(qEnvironmentVariable("DISPLAY"));
            return false;
        }
    }
    return true;
}

int runGui(const GuiOptions& options)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return exitstatus::kUsage;

    // Standard buttons and dialogs in Italian (Sì, No, Annulla, Riprova).
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);
    if (QStyleFactory::keys().contains(QStringLiteral("Fusion"), Qt::CaseInsensitive))
        QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setQuitOnLastWindowClosed(false);

    QtPrompt prompt;
    // The context sees the window's boxes through the recorder, so that each
    // run's log entry holds every box shown with its answer.
    RecordingPrompt recorder(prompt);
    Context ctx(recorder);
    OperatorForm state;
    StartupWindow window(ctx, state);
    window.setRunLog(RunLog::forOption(options.log), &recorder);
    prompt.setParent(&window);
    prompt.setRefresh([&window] { window.syncFromModel(); });
    prompt.setCopiedCounter([&window](const QString& step) {
        const RunState* run = window.liveRun().state();
        return run ? copyProgress(*run, step) : CopyProgress{};
    });

    StartupWindow::StartOptions start;
    start.ini = options.ini;
    start.programFolder = programFolder();
    start.programName = programName();
    if (!window.start(start))
        return window.exitCode();

    // The command line can preselect the side and the operator.
    if (options.side == QLatin1String("portable"))
        window.clickOptPC(1);
    if (!options.operatorCode.isEmpty())
        window.chooseOperator(options.operatorCode);

    QObject::connect(&window, &StartupWindow::programEnded, app,
                     [](int code) { QCoreApplication::exit(code); });
    window.show();
    window.activateWindow();
    return app->exec();
}

} // namespace mirsalex
