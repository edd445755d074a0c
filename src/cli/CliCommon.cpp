// What the command-line faces share: finding the configuration file, taking
// the operator code, reading a password from the terminal.

#include "app/Cli.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "common/RunLog.h"
#include "config/ConfigLoader.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>
#include <termios.h>
#include <unistd.h>

namespace mirsalex {

namespace {

const char* const kMissingIni = "File di configurazione inesistente";

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
    }
    return true;
}

QString programFolder()
{
    return QFileInfo(platform::executablePath()).absolutePath();
}

QString programName()
{
    QString name = QFileInfo(platform::executablePath()).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

QStringList configurationCandidates(const QString& ini, const QString& folderOfProgram,
                                    const QString& nameOfProgram)
{
    if (!ini.isEmpty())
        return {platform::resolve(QFileInfo(ini).absoluteFilePath())};
    // The order LocateIni tries them in: beside the program, then in the
    // shared configuration folder; the program's own name before the
    // product's.
    const QString ext = QStringLiteral(".ini");
    QStringList places;
    for (QString folder : {folderOfProgram, CartellaWindows()}) {
        if (folder.isEmpty())
            continue;
        if (!folder.endsWith(platform::separator()))
            folder += platform::separator();
        for (const QString& name : {nameOfProgram, productName()}) {
            if (!name.isEmpty() && !places.contains(folder + name + ext))
                places << folder + name + ext;
        }
    }
    return places;
}

QStringList configurationCandidates(const CliOptions& options)
{
    return configurationCandidates(options.ini, programFolder(), programName());
}

QString sortedPreviewFiles(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    auto isFile = [](const QString& line) {
        return line.startsWith(QLatin1String("  -> ")) || line.startsWith(QLatin1String("  <- "));
    };
    for (qsizetype i = 0; i < lines.size();) {
        if (!isFile(lines.at(i))) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < lines.size() && isFile(lines.at(end)))
            ++end;
        // Sent files first, then received, each in name order.
        std::stable_sort(lines.begin() + i, lines.begin() + end, [](const QString& a, const QString& b) {
            const bool sentA = a.startsWith(QLatin1String("  -> "));
            const bool sentB = b.startsWith(QLatin1String("  -> "));
            return sentA != sentB ? sentA : a.mid(5).compare(b.mid(5), Qt::CaseInsensitive) < 0;
        });
        i = end;
    }
    return lines.join(QLatin1Char('\n'));
}

QString missingConfigurationText(const QStringList& searched)
{
    QString text = QString::fromLatin1(kMissingIni);
    if (!searched.isEmpty()) {
        text += QStringLiteral("\nCercato in:");
        for (const QString& place : searched)
            text += QStringLiteral("\n  ") + place;
    }
    return text;
}

void logMissingConfiguration(const RunLog& log, const QStringList& searched)
{
    // A start that found no configuration file still leaves its trace, so an
    // administrator reading the log sees where the program looked.
    const QString entry = QStringLiteral("Avvio non riuscito\n") + missingConfigurationText(searched) +
                          QStringLiteral("\nEsito: ERRORE all'avvio\n");
    (void)log.append(QDateTime::currentDateTime(), entry);
}

bool findConfiguration(const CliOptions& options, QString& fileIni, QString& fullPath)
{
    if (!options.ini.isEmpty()) {
        // A name given on the command line is taken from the current folder,
        // never from the shared configuration folder.
        fullPath = platform::resolve(QFileInfo(options.ini).absoluteFilePath());
        if (!platform::isFile(fullPath)) {
            std::fprintf(stderr, "%s\n%s\n", kMissingIni, qPrintable(fullPath));
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

QString damagedPasswordText(const QString& storePath)
{
    return QStringLiteral("ARCHIVIO PASSWORD DANNEGGIATO O ILLEGGIBILE\n") + storePath;
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
