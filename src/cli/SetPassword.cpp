#include "cli/Cli.h"
#include "config/ConfigLoader.h"
#include "config/PasswordStore.h"

#include <cstdio>

namespace mirsalex {

namespace {

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
    QString fileIni;
    QString iniPath;
    if (!findConfiguration(options, fileIni, iniPath))
        return 2;

    PasswordStore store(iniPath);
    QString first;
    QString second;
    if (!readSecretLine("Nuova password (da 1 a 12 lettere o cifre; vuota per toglierla): ", first)) {
        std::fprintf(stderr, "mirsalex: nessuna password letta\n");
        return 2;
    }
    if (!first.isEmpty() && (first.size() > 12 || !lettersAndDigits(first))) {
        std::fprintf(stderr, "mirsalex: la password deve avere da 1 a 12 lettere o cifre\n");
        return 2;
    }
    if (!readSecretLine("Ripeti la password: ", second)) {
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
