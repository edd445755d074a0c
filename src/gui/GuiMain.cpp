#include "app/Cli.h"
#include "app/ProgressText.h"
#include "app/QtPrompt.h"
#include "app/StartupWindow.h"
#include "app/WindowState.h"
#include "common/RunLog.h"
#include "config/Context.h"
#include "run/RecordingPrompt.h"
#include "run/RunReport.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

namespace mirsalex {

int runGui(const CliOptions& options)
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
    WindowState state;
    StartupWindow window(ctx, state);
    window.setRunLog(RunLog::forOption(options.log), &recorder);
    prompt.setParent(&window);
    prompt.setRefresh([&window] { window.syncFromModel(); });
    prompt.setCopiedCounter([&window](const QString& step) {
        const RunState* run = window.liveRun().state();
        return run ? copiedSoFar(*run, step) : -1;
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
