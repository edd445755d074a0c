#include "sync/VisitsSync.h"

#include "sync/TwoWayMerge.h"

namespace mirsalex {

namespace {

const MergePolicy& actionsPolicy()
{
    static const MergePolicy p{
        QStringLiteral("Azioni"),
        {QStringLiteral("AzCliente"), QStringLiteral("AzCodice")},
        {},
        QStringLiteral("AzDelete"),
        QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'Azioni'"),
        QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'Azioni-EX'"),
        QStringLiteral("DATZ"),
        nullptr,
        nullptr,
    };
    return p;
}

const MergePolicy& visitsPolicy()
{
    static const MergePolicy p{
        QStringLiteral("VisiteN"),
        {QStringLiteral("VsCliente"), QStringLiteral("VsData")},
        {QStringLiteral("VsVersato"), QStringLiteral("VsPrelevato"), QStringLiteral("VsTrasferitoP"),
         QStringLiteral("VsTrasferitoN"), QStringLiteral("VsSaldo"), QStringLiteral("VsDataSaldo"),
         QStringLiteral("VsPercAss"), QStringLiteral("VsPercTir"), QStringLiteral("VsTipoElenco")},
        QString(),
        QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'VISITE'"),
        QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'VISITE-EX'"),
        QStringLiteral("DATV"),
        &WindowState::VisiteAggiunteLocale,
        &WindowState::VisiteAggiunteScambio,
    };
    return p;
}

const MergePolicy& appointmentsPolicy()
{
    static const MergePolicy p{
        QStringLiteral("Appuntamenti"),
        {QStringLiteral("ApCliente"), QStringLiteral("ApData"), QStringLiteral("ApAzione")},
        {QStringLiteral("ApNote"), QStringLiteral("ApStato"), QStringLiteral("ApCausa")},
        QStringLiteral("ApDelete"),
        QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'APPUNTAMENTI'"),
        QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'APPUNTAMENTI-EX'"),
        QStringLiteral("DATP"),
        &WindowState::AppuntamentiAggiuntiLocale,
        &WindowState::AppuntamentiAggiuntiScambio,
    };
    return p;
}

} // namespace

const MergePolicy& actionCodesPolicy()
{
    static const MergePolicy p{
        QStringLiteral("TabAzioni"),
        {QStringLiteral("TbaCodice")},
        {},
        QString(),
        QString(),
        QString(),
        QString(),
        nullptr,
        nullptr,
    };
    return p;
}

const std::array<const MergePolicy*, 3>& twoWayPolicies()
{
    static const std::array<const MergePolicy*, 3> all{&actionsPolicy(), &visitsPolicy(),
                                                       &appointmentsPolicy()};
    return all;
}

StepOutcome UnisciTabAzioni(Context& ctx, WindowState& w)
{
    if (std::optional<StepOutcome> skip = takeVisitsPaths(ctx, w))
        return *skip;

    const QString connect = QStringLiteral("ERRORE IN CONNESSIONE TABELLA DELLE AZIONI");
    VisitsSession session(ctx, actionCodesPolicy().table);
    DbError error =
        session.open(w.DbLocale, w.DbScambio, QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE VISITE"),
                     connect, connect);
    ctx.prompt.processEvents();
    // Each statement completes whole or changes nothing; the second runs only
    // after the first, and a failed second one keeps the first one's rows.
    if (!error)
        error = session.db().execute(
            QStringLiteral("INSERT INTO TabAzioni SELECT TabAzioniEX.* FROM TabAzioniEX ") +
            QStringLiteral("WHERE TbaCodice NOT IN (SELECT DISTINCT TabAzioni.TbaCodice FROM TabAzioni)"));
    if (!error)
        error = session.db().execute(
            QStringLiteral("INSERT INTO TabAzioniEX SELECT TabAzioni.* FROM TabAzioni ") +
            QStringLiteral(
                "WHERE TbaCodice NOT IN (SELECT DISTINCT TabAzioniEX.TbaCodice FROM TabAzioniEX)"));
    session.finish(error);

    if (ctx.CodErrore != 0) {
        ctx.prompt.show(ctx.MsgErrore, MsgStyle::Ok);
        return StepOutcome::failure(ctx.CodErrore, ctx.MsgErrore);
    }
    return StepOutcome::done();
}

StepOutcome SincronizzaAzioni(Context& ctx, WindowState& w)
{
    return mergeBothWays(ctx, w, actionsPolicy());
}

StepOutcome SincronizzaVisite(Context& ctx, WindowState& w)
{
    return mergeBothWays(ctx, w, visitsPolicy());
}

StepOutcome SincronizzaAppuntamenti(Context& ctx, WindowState& w)
{
    return mergeBothWays(ctx, w, appointmentsPolicy());
}

} // namespace mirsalex
