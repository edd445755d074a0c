// What the command-line faces share: finding the configuration file, taking
// the operator code, reading a password from the terminal.

#include "cli/Cli.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "common/RunLog.h"
#include "config/ConfigLoader.h"
#include "session/Startup.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <termios.h>
#include <unistd.h>

namespace mirsalex {

namespace {

struct termios g_saved;
volatile std::sig_atomic_t g_echoOff = 0;

void restoreEcho()
{
    if (g_echoOff) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
        g_echoOff = 0;
    }
}

// An interrupt while the echo is off gives the terminal back as it was.
extern "C" void onInterrupt(int sig)
{
    restoreEcho();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

} // namespace

QStringList configurationCandidates(const CliOptions& options)
{
    return configurationCandidates(options.ini, programFolder(), programName());
}

bool findConfiguration(const CliOptions& options, QString& fileIni, QString& fullPath)
{
    if (!options.ini.isEmpty()) {
        // A name given on the command line is taken from the current folder,
        // never from the shared configuration folder.
        fullPath = platform::resolve(QFileInfo(options.ini).absoluteFilePath());
        if (!platform::isFile(fullPath)) {
            std::fprintf(stderr, "%s\n%s\n", kMissingConfiguration, qPrintable(fullPath));
            return false;
        }
        fileIni = fullPath;
        return true;
    }
    const IniLocation loc = LocateIni(programFolder(), programName());
    if (!loc.found) {
        std::fprintf(stderr, "%s\n", qPrintable(missingConfigurationText(configurationCandidates(options))));
        return false;
    }
    fileIni = loc.fileIni;
    fullPath = loc.fullPath;
    return true;
}

bool operatorOption(const CliOptions& options, QString& code)
{
    // Taken as the window takes a typed code: trimmed, upper case, at most 13
    // characters; one that cannot name an operator folder is refused before
    // anything is read or created.
    code = options.operatorCode.trimmed().toUpper();
    if (!options.operatorCode.isEmpty() && (code.size() > 13 || !CodiceOperatoreValido(code))) {
        std::fprintf(stderr, "mirsalex: codice operatore non valido: '%s'\n",
                     qPrintable(options.operatorCode));
        return false;
    }
    return true;
}

bool readSecretLine(const char* question, QString& out)
{
    std::fputs(question, stderr);
    std::fflush(stderr);
    const bool tty = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &g_saved) == 0;
    auto previous = SIG_DFL;
    if (tty) {
        struct termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        previous = std::signal(SIGINT, onInterrupt);
        g_echoOff = 1;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    int c = 0;
    bool got = false;
    while ((c = std::getchar()) != EOF) {
        got = true;
        if (c == '\n')
            break;
        line.append(static_cast<char>(c));
    }
    if (tty) {
        restoreEcho();
        std::signal(SIGINT, previous);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    out = QString::fromLocal8Bit(line);
    return got;
}

} // namespace mirsalex
