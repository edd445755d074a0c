#pragma once

#include "common/Prompt.h"
#include "common/SideThread.h"
#include "runtypes/ChangeSink.h"
#include "runtypes/RunRequest.h"
#include "runtypes/StepOutcome.h"

#include <array>
#include <functional>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

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

// One row of a database a run adds, purges or takes over (the rows a
// preview lists one by one), or a row both sides hold with different
// content, which no merge changes (a divergence, told in every run).
struct RowItem
{
    enum class Kind
    {
        ClientAdded, // a client added to the local database: key the code, text the name
        VisitsText,  // a known client's visits text taken over from the exchange copy
        RowAdded,    // a visits-group row added to one side
        RowPurged,   // a row marked for deletion purged from one side
        Divergence,  // a key on both sides whose other columns differ
    };
    Kind kind = Kind::RowAdded;
    QString table;           // the table, as stored ("CLIENTI", "VISITE", ...)
    QString key;             // the key columns' values, as shown ("12", "12 / 03/05/2026 / 2")
    QString text;            // a short description (a client's name, a visit's date)
    bool toExchange = false; // the side the row goes to (added) or leaves (purged): true the exchange copy
    // Divergences: the columns that differ, with the local and the exchange values.
    QStringList columns;
    QStringList localValues;
    QStringList exchangeValues;
};

// The tables compared for rows left different: the clients, then the
// visits group (kVisitsTableNames order).
inline constexpr std::array<const char*, 5> kDivergenceTables{"Clienti", "TabAzioni", "Azioni", "VisiteN",
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

    // The rows behind the counters, one by one (collected in a dry run
    // only), and the rows both sides hold with different content (every
    // run), in the order found.
    std::vector<RowItem> rows;
    // Rows left different per table of kDivergenceTables, -1 until compared.
    std::array<qint64, 5> divergences{-1, -1, -1, -1, -1};
    // Time the run spent finding them (comparing, or waiting for the
    // comparisons of its side thread), in nanoseconds.
    qint64 divergenceNs = 0;
    // Time the side thread spent comparing, in nanoseconds.
    qint64 divergenceSideNs = 0;

    // Reading a step leaves to a thread beside the run's own, on
    // connections of its own (the rows both sides hold differently, in a
    // run that writes), and what takes each result into this state, in the
    // order given, once the thread is done (see takeSideResults). A task is
    // held while the steps to come may still write the files it reads.
    SideThread sideThread;
    std::vector<std::function<void(RunState&)>> sideResults;
};

} // namespace mirsalex
