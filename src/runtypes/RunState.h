#pragma once

#include "runtypes/ChangeSink.h"
#include "runtypes/RunRequest.h"
#include "runtypes/StepOutcome.h"

#include <array>
#include <optional>
#include <QString>
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
// go through, the paths its steps rewrite for the next ones, and what it
// has counted so far.
struct RunState
{
    RunState(RunRequest r, ChangeSink& s) : request(std::move(r)), sink(s), ticks(request.ticks)
    {
        PrefissoLato = request.sideLetter();
        DbLocale = request.localClients.trimmed();
        DbScambio = request.exchangeClients.trimmed();
    }

    RunRequest request;
    ChangeSink& sink;
    // The ticks as the run leaves them: a box whose work is done holds 2.
    Ticks ticks;
    QString PrefissoLato; // "X" portable, blank desktop
    // The two databases of the step under way: the clients databases at the
    // start, rewritten to the visits databases by the visits group.
    QString DbLocale;
    QString DbScambio;

    // Files offered by the newest-wins copy (group, direction 0 sent / 1
    // received), and where it counts now.
    std::array<std::array<qint16, 2>, 6> Contatori{};
    quint8 GruppoCorrente = 0;
    quint8 DirezioneCorrente = 0;
    // How each document group ended; empty for a group not taken up.
    std::array<std::optional<StepOutcome>, 3> EsitoDocumenti;

    // Counted by the steps.
    std::array<TableCounters, 4> tabelle{};
    qint64 clientiAggiunti = -1; // -1: not counted (the step did not get to it)
    qint64 testiVisite = 0;      // visits texts taken over from the exchange copy
    int databasiCopiati = 0;     // database files copied to the exchange area
};

} // namespace mirsalex
