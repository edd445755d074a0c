#pragma once

#include <array>
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

// The state of the main window: what its controls show and hold. The window
// shows it; batch mode fills it the same way, builds a run's request from it
// and shows the run's report in it.
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
    QString CartellaScambio;
    quint8 GruppoCorrente = 0; // the group whose folder the chooser shows

    // Side letter for the selected option.
    QString sideLetter() const { return optPC == 0 ? QStringLiteral(" ") : QStringLiteral("X"); }
};

} // namespace mirsalex
