#include "run/Steps.h"

#include "sync/ClientsSync.h"
#include "sync/VisitsSync.h"
#include "transfer/Transfer.h"

namespace mirsalex {

SyncSteps StandardSteps()
{
    SyncSteps steps;
    steps.clients = syncClients;
    steps.actionCodes = mergeActionCodes;
    steps.actions = syncActions;
    steps.visits = syncVisits;
    steps.appointments = syncAppointments;
    steps.indices = sendIndices;
    steps.cards = exchangeCards;
    steps.sheets = exchangeSheets;
    return steps;
}

} // namespace mirsalex
