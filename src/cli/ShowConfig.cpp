#include "cli/Cli.h"
#include "common/Platform.h"
#include "common/Prompt.h"
#include "config/ConfigLoader.h"
#include "config/Context.h"
#include "runtypes/RunReport.h"

#include <cstdio>
#include <QDir>
#include <QFileInfo>

namespace mirsalex {

namespace {

// Prints each message of the loading as "[title] text" and gives the answer
// that lets loading go on without looping.
class PrintingPrompt : public Prompt
{
public:
    // How many messages the loading showed: each tells an error.
    int shown = 0;

protected:
    int ask(const QString& text, int style, const QString& title) override
    {
        ++shown;
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

} // namespace

int runShowConfig(const CliOptions& options)
{
    QString code;
    if (!operatorOption(options, code))
        return 2;
    QString fileIni;
    QString fullPath;
    if (!findConfiguration(options, fileIni, fullPath))
        return 2;
    std::printf("Configuration file: %s\n", qPrintable(fullPath));
    std::fflush(stdout);

    PrintingPrompt prompt;
    Context ctx(prompt);
    ctx.config.FileIni = fileIni;
    // A diagnostic writes nothing: the folders a start would create are
    // listed at the end instead.
    QStringList wouldCreate;
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
    CaricaParametri(ctx, &wouldCreate);

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
    // A folder asked for by more than one setting is listed once.
    QStringList listed;
    for (const QString& folder : std::as_const(wouldCreate)) {
        const QString clean = QDir::cleanPath(folder);
        if (listed.contains(clean))
            continue;
        listed << clean;
        std::printf("Would create: %s\n", qPrintable(folder));
    }
    std::fflush(stdout);
    // A load that reported an error is a start-up that could not go on.
    return prompt.shown > 0 ? exitstatus::kUsage : exitstatus::kCompleted;
}

} // namespace mirsalex
