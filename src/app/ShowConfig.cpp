#include "app/Cli.h"
#include "common/Platform.h"
#include "common/Prompt.h"
#include "config/ConfigLoader.h"
#include "config/Context.h"

#include <cstdio>
#include <QFileInfo>

namespace mirsalex {

namespace {

// Prints each message of the loading as "[title] text" and gives the answer
// that lets loading go on without looping.
class PrintingPrompt : public Prompt
{
protected:
    int ask(const QString& text, int style, const QString& title) override
    {
        std::printf("[%s] %s\n", qPrintable(title), qPrintable(text));
        std::fflush(stdout);
        switch (MsgStyle::buttons(style)) {
        case MsgStyle::RetryCancel:
        case MsgStyle::OkCancel:
            return style == MsgStyle::ExclamationOkCancel ? AnswerOk : AnswerCancel;
        case MsgStyle::YesNo:
        case MsgStyle::YesNoCancel:
            return AnswerNo;
        case MsgStyle::AbortRetryIgnore:
            return AnswerAbort;
        default:
            return AnswerOk;
        }
    }
};

void printField(const char* name, const QString& value)
{
    std::printf("%s=%s\n", name, qPrintable(value));
}

void printField(const char* name, bool value)
{
    std::printf("%s=%s\n", name, value ? "true" : "false");
}

void printField(const char* name, long long value)
{
    std::printf("%s=%lld\n", name, value);
}

const char* const kMissingIni = "File di configurazione inesistente";

} // namespace

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

int runShowConfig(const CliOptions& options)
{
    // A code that cannot name an operator folder is refused before anything is
    // read or created; it is taken as the window and the batch run take it
    // (trimmed, upper case, at most 13 characters).
    const QString code = options.operatorCode.trimmed().toUpper();
    if (!options.operatorCode.isEmpty() && (code.size() > 13 || !CodiceOperatoreValido(code))) {
        std::fprintf(stderr, "mirsalex: codice operatore non valido: '%s'\n",
                     qPrintable(options.operatorCode));
        return 2;
    }
    QString fileIni;
    if (!options.ini.isEmpty()) {
        // A name given on the command line is taken from the current folder,
        // never from the shared configuration folder.
        const QString full = platform::resolve(QFileInfo(options.ini).absoluteFilePath());
        if (!platform::isFile(full)) {
            std::fprintf(stderr, "%s\n%s\n", kMissingIni, qPrintable(full));
            return 2;
        }
        fileIni = full;
        std::printf("Configuration file: %s\n", qPrintable(full));
    } else {
        const IniLocation loc = LocateIni(programFolder(), programName());
        if (!loc.found) {
            std::fprintf(stderr, "%s\n", kMissingIni);
            return 2;
        }
        fileIni = loc.fileIni;
        std::printf("Configuration file: %s\n", qPrintable(loc.fullPath));
    }
    std::fflush(stdout);

    PrintingPrompt prompt;
    Context ctx(prompt);
    ctx.config.FileIni = fileIni;
    CaricaPercorsi(ctx);
    if (!options.operatorCode.isEmpty()) {
        ctx.CodOperatore = code;
    } else {
        // The operator the window would start with: the one of the last run,
        // else the base operator; a stored code that cannot name a folder is
        // not used to build paths.
        QString stored = LeggiIni(fileIni, QStringLiteral("EXPORT"), QStringLiteral("OPERATORE"));
        if (stored.isEmpty() || !CodiceOperatoreValido(stored))
            stored = ctx.config.OperatoreBase.toUpper();
        if (!stored.isEmpty() && !CodiceOperatoreValido(stored))
            stored.clear();
        ctx.CodOperatore = stored;
    }
    CaricaParametri(ctx);

    const Configurazione& c = ctx.config;
    printField("FileIni", c.FileIni);
    printField("PathDati", c.PathDati);
    printField("PathWork", c.PathWork);
    printField("OperatoreBase", c.OperatoreBase);
    printField("DbDati", c.DbDati);
    printField("DbVisite", c.DbVisite);
    printField("DbWork", c.DbWork);
    printField("PathModuli", c.PathModuli);
    printField("PathModuliOperatore", c.PathModuliOperatore);
    printField("PathSave", c.PathSave);
    printField("PathStampe", c.PathStampe);
    printField("PathTemp", c.PathTemp);
    printField("PathTesti", c.PathTesti);
    printField("PathFogli", c.PathFogli);
    printField("PathImpExp", c.PathImpExp);
    printField("FlagMovPos", c.FlagMovPos);
    printField("TipoStampa", c.TipoStampa);
    printField("CodLire", c.CodLire);
    printField("CodEuro", c.CodEuro);
    printField("CodBase", c.CodBase);
    printField("CambioLire", QString::number(c.CambioLire, 'g', 15));
    printField("ColoreEvidenza", static_cast<long long>(c.ColoreEvidenza));
    printField("FormatoImporti", c.FormatoImporti);
    printField("Mandato1", static_cast<long long>(c.Mandato1));
    printField("Mandato2", static_cast<long long>(c.Mandato2));
    printField("CauSaldoIniPiu", c.CauSaldoIniPiu);
    printField("CauSaldoIniMeno", c.CauSaldoIniMeno);
    printField("CauPiu", c.CauPiu);
    printField("CauMeno", c.CauMeno);
    printField("Periodo", static_cast<long long>(c.Periodo));
    printField("AnnoSolare", static_cast<long long>(c.AnnoSolare));
    printField("VitaRiv", c.VitaRiv);
    printField("CodOperatore", ctx.CodOperatore);
    std::fflush(stdout);
    return 0;
}

} // namespace mirsalex
