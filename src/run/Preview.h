#pragma once

#include "config/Context.h"
#include "transfer/WindowState.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace mirsalex {

// What a run with the window's current ticks would move, worked out without
// writing anything: no file, no configuration key, no database row. The
// databases are opened read-only; questions that a run would ask are listed,
// not asked.
struct Preview
{
    // A step that would not be carried out, and why.
    struct Skip
    {
        QString step;
        QString reason;
        QString path;
    };
    // One table of the visits group: rows each side would receive, rows each
    // side would lose to the purge of the deletion marks.
    struct Table
    {
        QString name;
        qint64 toLocal = 0;
        qint64 toExchange = 0;
        qint64 purgedLocal = 0;
        qint64 purgedExchange = 0;
    };
    // One file that would be copied: group (0 indices, 1 cards, 2 sheets),
    // direction (0 to the exchange area, 1 from it) and name.
    struct File
    {
        int group = 0;
        int direction = 0;
        QString name;
    };

    QString operatore;
    QString side; // "DeskTop" or "Portatile"

    bool clients = false; // the clients step would run
    qint64 clientsToAdd = 0;
    qint64 visitsTextsToTake = 0;
    QStringList nameQuestions; // "code : local name-exchange name"
    bool clientsFileCopy = false;

    bool visits = false; // the visits group would run
    QList<Table> tables;

    QList<File> files;
    QList<int> groupsRun; // card and sheet groups the run would go through
    QList<Skip> skipped;
    QStringList folders;   // folders the window's load would create
    QStringList questions; // questions a real run would ask, in order
    QStringList messages;  // other boxes a real run would show (not asked)
    QStringList errors;    // what could not be read to tell

    // The exit status a dry run reports: 1 when something could not be
    // read, else 3 when a ticked step would be skipped, else 0.
    int exitStatus() const;

    // Files of `group` going in `direction`.
    int fileCount(int group, int direction) const;
};

// Works out the preview of a run for the operator and side loaded in `w`
// (the window as it stands, ticks and paths included). Shows no box.
Preview PreviewRun(Context& ctx, const WindowState& w);

// The preview as text, one line an item, in Italian.
QString formatPreview(const Preview& p);

} // namespace mirsalex
