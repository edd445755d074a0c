#include "app/Cli.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

using namespace mirsalex;

namespace {

bool wantsWindow(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        for (const char* flag :
             {"--batch", "--show-config", "--set-password", "--help", "-h", "--version", "-v"}) {
            if (std::strcmp(a, flag) == 0)
                return false;
        }
    }
    return true;
}

const char* kHelpTail = R"(
Without a mode option the window opens.

Modes:
  --show-config      print where the configuration file was found and every
                     loaded value (Name=value), then exit
  --batch            one transfer run without a window, as one click on
                     "ESEGUI" after the window has loaded for the operator and
                     side; ticks come from the last run ("PARM" key)
  --set-password     set the access password (asked twice, without echo);
                     an empty entry clears it

Batch mode: every message box is printed (title, style, text, answer).
Yes/No questions are asked on the terminal when it is interactive; otherwise
they take the next --answers item, then Yes with --yes, else No. OK/Cancel
boxes take OK, Retry/Cancel boxes take Cancel. When an access password is set,
batch mode asks for it on the terminal, or reads MIRSALEX_PASSWORD when there
is no terminal.
Exit status: 0 every ticked step completed, 1 a step failed, 2 bad usage or
failed start-up.
)";

} // namespace

int main(int argc, char** argv)
{
    std::unique_ptr<QCoreApplication> app;
    if (wantsWindow(argc, argv))
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirsalex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MIRSALEX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "MirsalEX - Esportazione Dati per Filiale: moves one operator's data between the branch "
        "desktop and the promoter's portable computer through an exchange area."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption showConfig(QStringLiteral("show-config"),
                                        QStringLiteral("Print the loaded configuration."));
    const QCommandLineOption batch(QStringLiteral("batch"),
                                   QStringLiteral("Run one transfer without a window."));
    const QCommandLineOption setPassword(QStringLiteral("set-password"),
                                         QStringLiteral("Set the access password."));
    const QCommandLineOption ini(QStringLiteral("ini"),
                                 QStringLiteral("Use this configuration file (no search)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption oper(QStringLiteral("operator"), QStringLiteral("Operator code."),
                                  QStringLiteral("CODE"));
    const QCommandLineOption side(QStringLiteral("side"),
                                  QStringLiteral("Side of this computer: desktop or portable."),
                                  QStringLiteral("desktop|portable"));
    const QCommandLineOption debug(QStringLiteral("debug"),
                                   QStringLiteral("Show and confirm every document copy."));
    const QCommandLineOption yes(QStringLiteral("yes"),
                                 QStringLiteral("Answer Yes to unattended questions."));
    const QCommandLineOption answers(
        QStringLiteral("answers"),
        QStringLiteral("Comma list of answers (yes,no,ok,cancel,retry) used in order."),
        QStringLiteral("LIST"));
    for (const auto& o : {showConfig, batch, setPassword, ini, oper, side, debug, yes, answers})
        parser.addOption(o);

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "mirsalex: %s\nTry 'mirsalex --help'.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::printf("%s%s", qPrintable(parser.helpText()), kHelpTail);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("mirsalex %s\n", MIRSALEX_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "mirsalex: unexpected argument '%s'\nTry 'mirsalex --help'.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    const int modes =
        int(parser.isSet(showConfig)) + int(parser.isSet(batch)) + int(parser.isSet(setPassword));
    if (modes > 1) {
        std::fprintf(stderr, "mirsalex: --show-config, --batch and --set-password exclude each other\n");
        return 2;
    }

    CliOptions options;
    options.ini = parser.value(ini);
    options.operatorCode = parser.value(oper);
    options.side = parser.value(side).toLower();
    options.debug = parser.isSet(debug);
    options.yes = parser.isSet(yes);
    if (parser.isSet(answers))
        options.answers = parser.value(answers).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!options.side.isEmpty() && options.side != QLatin1String("desktop") &&
        options.side != QLatin1String("portable")) {
        std::fprintf(stderr, "mirsalex: --side takes desktop or portable\n");
        return 2;
    }

    if (parser.isSet(showConfig))
        return runShowConfig(options);
    if (parser.isSet(batch))
        return runBatch(options);
    if (parser.isSet(setPassword))
        return runSetPassword(options);
    return runGui(options);
}
