#pragma once

#include "common/Prompt.h"
#include "config/Configurazione.h"

#include <QString>
#include <QStringList>

namespace mirsalex {

// Process-wide shared state of the configuration module: the loaded record
// and the current operator. Every routine that shows a message reaches the
// user through `prompt`; a routine that can fail returns its error, and a
// question's answer is the value ask() returns.
struct Context
{
    explicit Context(Prompt& p) : prompt(p) {}

    Prompt& prompt;
    Configurazione config;
    QString CodOperatore;      // current operator code, at most 13 characters
    QString PasswordOperatore; // access password as read, empty when none
    // What is wrong with the configuration file, as told to the user when the
    // paths were loaded; empty when nothing is.
    QString ProblemaIni;
    // The configuration file and why it could not be read ("file\nreason"),
    // for the first read through this context that failed since the paths
    // were loaded (CaricaPercorsi starts afresh); empty when every read went
    // through. A value read then is not the file's, and a run must not
    // write it back over the file's own.
    QString LetturaIniFallita;

    // Shows a box and returns its answer.
    int ask(const QString& text, int style, const QString& title = QString())
    {
        return prompt.show(text, style, title);
    }
};

} // namespace mirsalex
