#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <cmath>

namespace mirsalex {

namespace {

const QString kExport = QStringLiteral("EXPORT");

// Width of the folder name in an operator list item; the code taken back
// from an item is one character shorter (the longest operator code).
constexpr int kNameWidth = 14;

} // namespace

QStringList ElencoOperatori(Context& ctx, const WindowState& w)
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
        const QString key = (w.PrefissoLato + QStringLiteral("DATA") + entry.name).trimmed();
        items << FixedWidth(entry.name.toUpper(), kNameWidth) + LeggiIni(ctx.config.FileIni, kExport, key);
    }
    return items;
}

void CaricaFinestra(Context& ctx, WindowState& w)
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
    QString code = LeggiIni(ctx.config.FileIni, kExport, QStringLiteral("OPERATORE"));
    if (code.isEmpty() || !CodiceOperatoreValido(code))
        code = w.CodOper;
    if (!code.isEmpty() && !CodiceOperatoreValido(code))
        code.clear();
    ctx.CodOperatore = code;
    w.CodOper = code;

    // Transfer set for this operator and the selected side.
    AggiornaFinestra(ctx, w);

    // Confirmation mode of the document copies: the stored number as it is
    // (a check box value, 0 to 2, rounded half to even); a value no check
    // box can hold counts as 0, like a missing or non-numeric one.
    const QVariant debug = NumeroOZero(LeggiIni(ctx.config.FileIni, kExport, QStringLiteral("DEBUG")));
    const double number = std::nearbyint(ToNumber(debug.toString()));
    w.chkDebug.value = number >= 0 && number <= 2 ? int(number) : 0;

    w.lbAppuVisible = false;
    w.LCodOpe = ElencoOperatori(ctx, w);
}

} // namespace mirsalex
