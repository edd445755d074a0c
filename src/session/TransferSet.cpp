#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "session/OperatorFormLoad.h"

namespace mirsalex {

namespace {

const QString kExport = QStringLiteral("EXPORT");

// Key of section "EXPORT" for the current side and operator. The desktop
// side letter is a blank, which the profile reader ignores around key names;
// it is dropped here so the key reads the same either way.
QString exportKey(const OperatorForm& w, const QString& marker, const QString& code)
{
    return (w.sideLetter() + marker + code).trimmed();
}

QString readExport(Context& ctx, const OperatorForm& w, const QString& marker)
{
    return LeggiIni(ctx, kExport, exportKey(w, marker, ctx.CodOperatore));
}

// Value of one tick of the "PARM" key. The run writes only 0, 1 and 2; any
// other character (a hand-edited or damaged value) reads as 1, the same as a
// missing digit, so the box shows "to be done" and the user can untick it
// before the run rewrites the key.
int tickValue(QChar c)
{
    if (c == QLatin1Char('0'))
        return 0;
    if (c == QLatin1Char('2'))
        return 2;
    return 1;
}

// The default exchange folder: the parent of the folder that holds the
// exchange database, with a trailing separator.
QString exchangeFolderOf(const QString& exchangeDb)
{
    const QString sep = platform::sep();
    if (exchangeDb.trimmed().isEmpty())
        return QString();
    // A bare file name names no folder at all.
    if (!exchangeDb.contains(sep))
        return QString();
    QString t = CartellaDi(exchangeDb).trimmed();
    if (!t.isEmpty())
        t.chop(1);
    return CartellaDi(t).trimmed() + sep;
}

// The temporary folder as the configuration names it: the text before a
// per-operator marker "%" with the operator's own folder after it. Only the
// configuration loading prepares (and reports) that folder; a refresh just
// names it, so a folder that cannot be made is reported once, not at every
// refresh of the window.
QString temporaryFolderOf(const QString& configured, const QString& code)
{
    QString path = configured;
    const qsizetype marker = path.indexOf(QLatin1Char('%'));
    if (marker >= 0)
        path.truncate(marker);
    if (path.trimmed().isEmpty())
        return QString();
    if (!path.endsWith(platform::separator()))
        path += platform::separator();
    if (marker >= 0) {
        if (!code.isEmpty() && !CodiceOperatoreValido(code))
            return QString();
        path += code + platform::separator();
    }
    return path;
}

} // namespace

void loadTransferSet(Context& ctx, OperatorForm& w, QStringList* wouldCreate)
{
    Configurazione& cfg = ctx.config;
    const QString sep = platform::sep();

    // 1. A refresh always offers a new run and clears the last results.
    w.cmdEseguiVisible = true;
    w.lbEsito.clear();
    for (auto& label : w.lbCount)
        label.caption.clear();

    // 2. Ticks of the last run; missing digits count as "to be done".
    const QString parm =
        (readExport(ctx, w, QStringLiteral("PARM")).left(5).trimmed() + QStringLiteral("11111")).left(5);
    w.Check1[0].value = tickValue(parm.at(0));
    w.Check1[1].value = tickValue(parm.at(1));
    w.Check1[2].value = tickValue(parm.at(2));
    w.chkDati.value = tickValue(parm.at(3));
    w.chkVisite.value = tickValue(parm.at(4));

    // 3. Document folders. The temporary folder is named the way the
    // configuration loading prepares it (a per-operator marker "%" never
    // stays in the path), without touching the disk.
    QString temp = LeggiIni(ctx, QStringLiteral("PATH"), QStringLiteral("TEMP"));
    if (temp.isEmpty())
        temp = cfg.PathDati + QStringLiteral("temp") + sep;
    cfg.PathTemp = temporaryFolderOf(temp, ctx.CodOperatore);

    QString testi = LeggiIni(ctx, QStringLiteral("PATH"), QStringLiteral("TESTI"));
    if (testi.isEmpty())
        testi = cfg.PathDati;
    cfg.PathTesti = PreparaCartella(ctx, QStringLiteral("TESTI"), testi, wouldCreate);

    QString fogli = LeggiIni(ctx, QStringLiteral("PATH"), QStringLiteral("FOGLI"));
    if (fogli.isEmpty())
        fogli = cfg.PathTesti;
    // When the cards folder could not be prepared the sheets have no folder
    // either: an empty path must not become the root folder.
    cfg.PathFogli =
        fogli.isEmpty() ? QString() : PreparaCartella(ctx, QStringLiteral("FOGLI"), fogli, wouldCreate);

    // 4-5. The two databases.
    cfg.DbDati = cfg.PathDati + ctx.CodOperatore + sep + QStringLiteral("DatiDV.mdb");
    w.lbFile[0].caption = cfg.DbDati;
    w.lbFile[1].caption = readExport(ctx, w, QStringLiteral("PATH"));

    // 6. Dates of the last synchronisations.
    w.chkDati.caption =
        QStringLiteral("DATI   ( ") + readExport(ctx, w, QStringLiteral("DATA")) + QLatin1Char(')');
    w.chkVisite.caption =
        QStringLiteral("VISITE (") + readExport(ctx, w, QStringLiteral("DATV")) + QLatin1Char(')');

    // 7. Default exchange folder.
    w.CartellaScambio = exchangeFolderOf(w.lbFile[1].caption);

    // 8. Document groups.
    for (int i = 0; i < 3; ++i) {
        const QString digit = QString::number(i);
        const QString folder = readExport(ctx, w, QStringLiteral("FLX") + digit);
        w.lbFileX[i].caption = folder.isEmpty() ? w.CartellaScambio : folder;
        const QString name = i < w.NomiGruppi.size() ? w.NomiGruppi.at(i) : QString();
        w.Check1[i].caption = name.left(6) + QStringLiteral(" (") +
                              readExport(ctx, w, QStringLiteral("DTLX") + digit) + QLatin1Char(')');
    }
}

} // namespace mirsalex
