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

// The operator form: what the operator chooses for a run (operator, side,
// ticks, paths) and what a run's results show, as the main window's controls
// hold them. The window shows it and writes the user's edits back into it;
// batch mode fills it the same way without a window. A run's request is
// built from it and a run's report shown in it (session/OperatorFormLoad.h).
struct OperatorForm
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
    QString lbEsito;                   // how the last run ended, in one line (empty: no run yet)
    QStringList LCodOpe;               // operator list items

    // Window-level state
    QStringList NomiGruppi;
    QString CartellaScambio;
    quint8 GruppoCorrente = 0; // the group whose folder the chooser shows

    // The side's letter, the prefix of its keys in the configuration file:
    // "X" portable, a blank desktop.
    QString sideLetter() const { return optPC == 0 ? QStringLiteral(" ") : QStringLiteral("X"); }
};

} // namespace mirsalex
