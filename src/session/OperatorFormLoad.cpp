#include "session/OperatorFormLoad.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "session/ReportText.h"

#include <algorithm>
#include <cmath>

namespace mirsalex {

namespace {

const QString kExport = QStringLiteral("EXPORT");

// Width of the folder name in an operator list item; the code taken back
// from an item is one character shorter (the longest operator code).
constexpr int kNameWidth = 14;

} // namespace

QStringList operatorListItems(Context& ctx, const OperatorForm& w)
{
    QStringList items;
    const QString folder = platform::resolve(ctx.config.PathDati);
    if (folder.isEmpty())
        return items;

    QList<platform::DirEntry> entries;
    if (platform::listDirectory(folder, QStringLiteral("*"), true, entries))
        return items; // an unreadable data folder simply lists no operator

    // The file system's own order is arbitrary here; the list is shown in
    // name order so the user finds an operator where expected.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const platform::DirEntry& a, const platform::DirEntry& b) {
                         return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
                     });

    for (const auto& entry : entries) {
        // Names beginning with a dot are this platform's hidden folders
        // (including "." and ".."): never an operator.
        if (!entry.isDir || entry.name.startsWith(QLatin1Char('.')))
            continue;
        const QString key = (w.sideLetter() + QStringLiteral("DATA") + entry.name).trimmed();
        items << FixedWidth(entry.name.toUpper(), kNameWidth) + LeggiIni(ctx, kExport, key);
    }
    return items;
}

void loadForm(Context& ctx, OperatorForm& w, QStringList* wouldCreate)
{
    w.NomiGruppi = {QStringLiteral("INDICI"), QStringLiteral("SCHEDE CLIENTI"),
                    QStringLiteral("FOGLI CLIENTI")};
    for (auto& label : w.lbCount)
        label.caption.clear();

    // Data folder, work folder and base operator.
    CaricaPercorsi(ctx);
    w.CodOper = ctx.config.OperatoreBase.toUpper();

    // The operator of the last run, else the base operator. A stored code that
    // cannot name an operator folder (a separator, "..", and so on) is not
    // used to build paths: the base operator takes its place.
    QString code = LeggiIni(ctx, kExport, QStringLiteral("OPERATORE"));
    if (code.isEmpty() || !CodiceOperatoreValido(code))
        code = w.CodOper;
    if (!code.isEmpty() && !CodiceOperatoreValido(code))
        code.clear();
    ctx.CodOperatore = code;
    w.CodOper = code;

    // Transfer set for this operator and the selected side.
    loadTransferSet(ctx, w, wouldCreate);

    // Confirmation mode of the document copies: the stored number as it is
    // (a check box value, 0 to 2, rounded half to even); a value no check
    // box can hold counts as 0, like a missing or non-numeric one.
    const QVariant debug = NumeroOZero(LeggiIni(ctx, kExport, QStringLiteral("DEBUG")));
    const double number = std::nearbyint(ToNumber(debug.toString()));
    w.chkDebug.value = number >= 0 && number <= 2 ? int(number) : 0;

    w.lbAppuVisible = false;
    w.LCodOpe = operatorListItems(ctx, w);
}

namespace {

QString allinea(qint64 value)
{
    return AllineaDestra(QVariant(value), 5);
}

} // namespace

void loadFormAsBatch(Context& ctx, OperatorForm& w, const QString& code, bool portable,
                     QStringList* wouldCreate)
{
    loadForm(ctx, w, wouldCreate);
    if (!code.isEmpty()) {
        w.CodOper = code;
        ctx.CodOperatore = code;
        CaricaParametri(ctx, wouldCreate);
        loadTransferSet(ctx, w, wouldCreate);
    }
    if (portable) {
        w.optPC = 1;
        loadTransferSet(ctx, w, wouldCreate);
    }
}

RunRequest requestFromForm(const Context& ctx, const OperatorForm& w)
{
    RunRequest r;
    r.portable = w.optPC != 0;
    r.operatorCode = ctx.CodOperatore;
    r.typedOperator = w.CodOper;
    r.ticks.dati = w.chkDati.value;
    r.ticks.visite = w.chkVisite.value;
    for (size_t i = 0; i < 3; ++i) {
        r.ticks.gruppi[i] = w.Check1[i].value;
        r.exchangeFolders[i] = w.lbFileX[i].caption;
    }
    r.localClients = w.lbFile[0].caption;
    r.exchangeClients = w.lbFile[1].caption;
    r.confirmCopies = w.chkDebug.value;
    r.configFile = ctx.config.FileIni;
    r.dataFolder = ctx.config.PathDati;
    r.cardsFolder = ctx.config.PathTesti;
    r.sheetsFolder = ctx.config.PathFogli;
    r.configurationUnread = ctx.LetturaIniFallita;
    r.prompt = &ctx.prompt;
    return r;
}

void showResults(OperatorForm& w, const RunReport& report)
{
    if (report.dryRun || report.steps.empty())
        return;
    // A run refused at once, or stopped before its first step by a file it
    // could not read or write, leaves the window as it was.
    if (report.refused || !report.configurationUnread.isEmpty() || !report.configurationUnwritten.isEmpty())
        return;
    // Databases to convert first: the window stays as it was and says why.
    if (!report.accessDatabases.empty()) {
        w.lbEsito = runOutcomeLine(report);
        return;
    }
    w.chkDati.value = report.ticksAfter.dati;
    w.chkVisite.value = report.ticksAfter.visite;
    for (size_t i = 0; i < 3; ++i)
        w.Check1[i].value = report.ticksAfter.gruppi[i];
    const auto& c = report.documenti;
    if (w.Check1[0].value > 0)
        w.lbCount[0].caption = c[0][0] != 0 ? QStringLiteral("Aggiornati") : QStringLiteral("NON aggiornati");
    if (w.Check1[1].value > 0)
        w.lbCount[1].caption =
            QStringLiteral("Aggiornate: ->") + allinea(c[1][0]) + allinea(c[1][1]) + QStringLiteral(" <-");
    if (w.Check1[2].value > 0)
        w.lbCount[2].caption =
            QStringLiteral("Aggiornati: ->") + allinea(c[2][0]) + allinea(c[2][1]) + QStringLiteral(" <-");
    if (w.chkVisite.value > 0) {
        w.lbAppuVisible = true;
        w.lbCount[3].caption = QStringLiteral("Aggiornate: ->") + allinea(report.visiteAggiunteScambio) +
                               allinea(report.visiteAggiunteLocale) + QStringLiteral(" <-");
        w.lbCount[4].caption = QStringLiteral("Aggiornati: ->") +
                               allinea(report.appuntamentiAggiuntiScambio) +
                               allinea(report.appuntamentiAggiuntiLocale) + QStringLiteral(" <-");
    }
    w.cmdEseguiVisible = false;
    w.lbEsito = runOutcomeLine(report);
}

} // namespace mirsalex
