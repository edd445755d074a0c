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
        kAzioni,
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
        kVisiteN,
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
        kAppuntamenti,
    };
    return p;
}

} // namespace

const MergePolicy& actionCodesPolicy()
{
    // Whole rows each way, no mark, no counters, no marker; each pass adds
    // all its codes or none.
    static const MergePolicy p = [] {
        const QString connect = QStringLiteral("ERRORE IN CONNESSIONE TABELLA DELLE AZIONI");
        MergePolicy m;
        m.table = QStringLiteral("TabAzioni");
        m.counters = kTabAzioni;
        m.keys = {QStringLiteral("TbaCodice")};
        m.passIn = connect;
        m.passOut = connect;
        m.openLocal = QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE VISITE");
        m.openExchange = connect;
        m.wholeRows = true;
        m.walkOnFailure = false;
        return m;
    }();
    return p;
}

const std::array<const MergePolicy*, 3>& twoWayPolicies()
{
    static const std::array<const MergePolicy*, 3> all{&actionsPolicy(), &visitsPolicy(),
                                                       &appointmentsPolicy()};
    return all;
}

StepOutcome mergeActionCodes(RunState& w)
{
    return mergeBothWays(w, actionCodesPolicy());
}

StepOutcome syncActions(RunState& w)
{
    return mergeBothWays(w, actionsPolicy());
}

StepOutcome syncVisits(RunState& w)
{
    return mergeBothWays(w, visitsPolicy());
}

StepOutcome syncAppointments(RunState& w)
{
    return mergeBothWays(w, appointmentsPolicy());
}

} // namespace mirsalex
