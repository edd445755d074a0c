#include "app/Cli.h"
#include "config/ConfigLoader.h"
#include "config/PasswordStore.h"

#include <csignal>
#include <cstdio>
#include <QFileInfo>
#include <string>
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

extern "C" void onInterrupt(int sig)
{
    restoreEcho();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Reads one line from the terminal without showing it (from standard input
// as it is when that is not a terminal). False at end of input.
bool readSecret(const char* question, QString& out)
{
    std::fputs(question, stderr);
    std::fflush(stderr);
    const bool tty = ::isatty(STDIN_FILENO);
    if (tty && ::tcgetattr(STDIN_FILENO, &g_saved) == 0) {
        struct termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        auto previous = std::signal(SIGINT, onInterrupt);
        g_echoOff = 1;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::string line;
        int c = 0;
        bool got = false;
        while ((c = std::getchar()) != EOF) {
            got = true;
            if (c == '\n')
                break;
            line.push_back(char(c));
        }
        restoreEcho();
        std::signal(SIGINT, previous);
        if (!got)
            return false;
        out = QString::fromLocal8Bit(line.c_str());
        return true;
    }
    std::string line;
    int c = 0;
    bool got = false;
    while ((c = std::getchar()) != EOF) {
        got = true;
        if (c == '\n')
            break;
        line.push_back(char(c));
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    out = QString::fromLocal8Bit(line.c_str());
    return got;
}

bool lettersAndDigits(const QString& text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z')))
            return false;
    }
    return true;
}

} // namespace

int runSetPassword(const CliOptions& options)
{
    QString iniPath;
    if (!options.ini.isEmpty()) {
        const QFileInfo info(options.ini);
        if (info.isFile())
            iniPath = info.absoluteFilePath();
    } else {
        const IniLocation location = LocateIni(programFolder(), programName());
        if (location.found)
            iniPath = location.fullPath;
    }
    if (iniPath.isEmpty()) {
        std::fprintf(stderr, "mirsalex: File di configurazione inesistente\n");
        return 2;
    }

    PasswordStore store(iniPath);
    QString first;
    QString second;
    if (!readSecret("Nuova password (da 1 a 12 lettere o cifre; vuota per toglierla): ", first)) {
        std::fprintf(stderr, "mirsalex: nessuna password letta\n");
        return 2;
    }
    if (!first.isEmpty() && (first.size() > 12 || !lettersAndDigits(first))) {
        std::fprintf(stderr, "mirsalex: la password deve avere da 1 a 12 lettere o cifre\n");
        return 2;
    }
    if (!readSecret("Ripeti la password: ", second)) {
        std::fprintf(stderr, "mirsalex: nessuna password letta\n");
        return 2;
    }
    if (first != second) {
        std::fprintf(stderr, "mirsalex: le due password non coincidono; nulla e' stato cambiato\n");
        return 2;
    }
    QString error;
    if (!store.set(first, &error)) {
        std::fprintf(stderr, "mirsalex: password non registrata: %s\n", qPrintable(error));
        return 1;
    }
    if (first.isEmpty())
        std::printf("Password tolta (%s)\n", qPrintable(store.path()));
    else
        std::printf("Password registrata in %s\n", qPrintable(store.path()));
    return 0;
}

} // namespace mirsalex
