#pragma once

#include "common/Prompt.h"
#include "config/Configurazione.h"

#include <QString>
#include <QStringList>

namespace mirsalex {

// Process-wide shared state of the configuration module: the loaded record,
// the current operator, the error context of the step being attempted, the
// last error number and the answer of the last message box. Every routine
// that shows a message reaches the user through `prompt`.
struct Context
{
    explicit Context(Prompt& p) : prompt(p) {}

    Prompt& prompt;
    Configurazione config;
    QString CodOperatore;      // current operator code, at most 13 characters
    QString MsgErrore;         // text naming the step being attempted
    qint16 CodErrore = 0;      // error number of the last failed step, 0 when none
    int RispostaMsg = 0;       // answer of the last message box a routine tests
    QString PasswordOperatore; // access password as read, empty when none
    // What is wrong with the configuration file, as told to the user when the
    // paths were loaded; empty when nothing is.
    QString ProblemaIni;

    // A dry run: loading prepares nothing on disk. A folder it would create
    // is listed in `wouldCreate` instead (and reads as prepared).
    bool dryRun = false;
    QStringList wouldCreate;

    // Shows a box and keeps its answer in RispostaMsg.
    int ask(const QString& text, int style, const QString& title = QString())
    {
        RispostaMsg = prompt.show(text, style, title);
        return RispostaMsg;
    }
};

} // namespace mirsalex
