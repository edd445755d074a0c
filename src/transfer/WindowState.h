#pragma once

#include "transfer/StepOutcome.h"

#include <array>
#include <optional>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace mirsalex {

// A check box of a transfer group: 0 off, 1 to be done, 2 done in this window
// (greyed).
struct CheckState
{
    int value = 0;
    QString caption;
};

struct LabelState
{
    QString caption;
    bool visible = true;
};

// The state of the main window that the transfer routines read and write:
// the window shows it, batch mode and tests use it without a window.
struct WindowState
{
    // Controls
    QString CodOper;                   // text of the operator code box
    int optPC = 0;                     // 0 "DeskTop", 1 "Portatile"
    std::array<LabelState, 2> lbFile;  // 0 operator database, 1 exchange database
    std::array<LabelState, 3> lbFileX; // exchange folders of the document groups
    std::array<CheckState, 3> Check1;  // INDICI, SCHEDE, FOGLI
    CheckState chkDati{0, QStringLiteral("DATI")};
    CheckState chkVisite{0, QStringLiteral("VISITE")};
    CheckState chkDebug{0, QStringLiteral("con Debug")};
    std::array<LabelState, 5> lbCount; // result labels
    bool lbAppuVisible = false;        // "APPUNTAMENTI" heading
    bool cmdEseguiVisible = true;      // "&ESEGUI"
    QStringList LCodOpe;               // operator list items

    // Window-level state
    QString PrefissoLato = QStringLiteral(" "); // "X" portable, blank desktop
    QStringList NomiGruppi;
    QString DbLocale;
    QString DbScambio;
    QString CartellaScambio;
    std::array<std::array<qint16, 2>, 6> Contatori{}; // (group, direction)
    quint8 GruppoCorrente = 0;
    quint8 DirezioneCorrente = 0;
    // Rows added by the last visits and appointments merges; never limited
    // to 16 bits, so a large first exchange is counted, not stopped.
    int VisiteAggiunteLocale = 0;
    int VisiteAggiunteScambio = 0;
    int AppuntamentiAggiuntiLocale = 0;
    int AppuntamentiAggiuntiScambio = 0;
    // How each document group of the last document stage ended (done,
    // skipped with the missing folder, failed); empty for a group the stage
    // did not take up. Read by the run report.
    std::array<std::optional<StepOutcome>, 3> EsitoDocumenti;

    // Side letter for the selected option.
    QString sideLetter() const { return optPC == 0 ? QStringLiteral(" ") : QStringLiteral("X"); }
};

} // namespace mirsalex
