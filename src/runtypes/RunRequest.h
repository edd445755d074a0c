#pragma once

#include <array>
#include <QString>
#include <QStringList>

namespace mirsalex {

class Prompt;

// The ticks of a run's five boxes, as the PARM key stores them: 0 not asked
// for, 1 to be done, 2 done earlier in the same session (not done again).
struct Ticks
{
    int dati = 0;
    int visite = 0;
    std::array<int, 3> gruppi{}; // INDICI, SCHEDE CLIENTI, FOGLI CLIENTI
};

// The document groups, as reports and progress name them.
inline const QStringList& groupNames()
{
    static const QStringList names{QStringLiteral("INDICI"), QStringLiteral("SCHEDE CLIENTI"),
                                   QStringLiteral("FOGLI CLIENTI")};
    return names;
}

// What one run is asked to do: a value built by the window or by batch mode
// from what the user chose and what the configuration file holds. The
// questions of a run are answered through the prompt the request names (the
// window's boxes, the terminal, --yes and --answers).
struct RunRequest
{
    bool portable = false;                  // the side: "Portatile" (true) or "DeskTop"
    QString operatorCode;                   // the operator code the run works for
    QString typedOperator;                  // the code as typed, recorded as the last operator
    Ticks ticks;                            // what is asked for
    QString localClients;                   // the operator's clients database
    QString exchangeClients;                // its copy in the exchange area
    std::array<QString, 3> exchangeFolders; // exchange folders of the document groups
    int confirmCopies = 0;                  // document copies confirmed one by one (0 no)

    // Where the run finds what the configuration names.
    QString configFile;   // the configuration file the run's keys are written to
    QString dataFolder;   // the data folder: the indices database, the operators' folders
    QString cardsFolder;  // the local folder of the client cards
    QString sheetsFolder; // the local folder of the client sheets
    // The configuration file and why it could not be read whole when the
    // request was made ("file\nreason"); empty when it was. Such a run
    // writes nothing.
    QString configurationUnread;

    // Every box of the run goes through this prompt; a run needs one.
    Prompt* prompt = nullptr;

    // "X" on the portable side, a blank on the desktop side: the prefix of
    // the side's keys in the configuration file.
    QString sideLetter() const { return portable ? QStringLiteral("X") : QStringLiteral(" "); }
    QString sideName() const { return portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"); }
};

} // namespace mirsalex
