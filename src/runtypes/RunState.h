#pragma once

#include "common/Prompt.h"
#include "runtypes/ChangeSink.h"
#include "runtypes/RunRequest.h"
#include "runtypes/StepOutcome.h"

#include <array>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace mirsalex {

// Rows one table of the visits group moved in a run.
struct TableCounters
{
    qint64 toLocal = 0;        // rows the local database received
    qint64 toExchange = 0;     // rows the exchange copy received
    qint64 purgedLocal = 0;    // marked rows deleted from the local database
    qint64 purgedExchange = 0; // marked rows deleted from the exchange copy
};

// The tables of the visits group, in the order a run merges them.
enum VisitsTable : int
{
    kTabAzioni = 0,
    kAzioni = 1,
    kVisiteN = 2,
    kAppuntamenti = 3,
};
inline constexpr std::array<const char*, 4> kVisitsTableNames{"TabAzioni", "Azioni", "VisiteN",
                                                              "Appuntamenti"};

// What a run works with while it lasts: the request, the sink its changes
// go through, and what its steps have found and counted so far.
struct RunState
{
    RunState(RunRequest r, ChangeSink& s) : request(std::move(r)), sink(s), ticks(request.ticks)
    {
        request.localClients = request.localClients.trimmed();
        request.exchangeClients = request.exchangeClients.trimmed();
    }

    // The request, its paths of the clients databases trimmed.
    RunRequest request;
    ChangeSink& sink;
    // The ticks as the run leaves them: a box whose work is done holds 2.
    Ticks ticks;

    // The prompt of the request: every box of the run goes through it.
    Prompt& prompt() const
    {
        Q_ASSERT(request.prompt);
        return *request.prompt;
    }

    // The visits databases, local and exchange: taken beside the clients
    // databases by the first step of the visits group that finds those;
    // empty until then.
    QString localVisits;
    QString exchangeVisits;

    // Files offered by the newest-wins copy, by document group and direction
    // (0 sent, 1 received).
    std::array<std::array<qint16, 2>, 3> filesOffered{};
    // What the document groups left alone (links below the exchange folder,
    // names that are no text): told once, when the stage ends.
    QStringList filesIgnored;

    // Counted by the steps.
    std::array<TableCounters, 4> tables{};
    qint64 clientsAdded = -1; // -1: not counted (the step did not get to it)
    qint64 visitsTexts = 0;   // visits texts taken over from the exchange copy
};

} // namespace mirsalex
