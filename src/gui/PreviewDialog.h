#pragma once

#include <functional>
#include <QString>

class QDialog;
class QWidget;

namespace mirsalex {

class Prompt;

// Runs a modal dialog and returns its result (QDialog::exec in the window;
// tests drive the dialog instead).
using ModalRunner = std::function<int(QDialog&)>;

// "&ANTEPRIMA": the text of a dry run in a read-only dialog ("dlgAnteprima",
// "txtAnteprima"), with buttons that copy it to the clipboard ("cmdCopia"),
// save it in a file the user chooses ("cmdSalva", "dlgSalvaAnteprima"; a
// file that cannot be written is told through `prompt`) and close it
// ("cmdChiudi"). Sized to show the longest line and every line, within the
// screen.
void runPreviewDialog(QWidget* parent, const QString& text, const QString& operatorCode, Prompt& prompt,
                      const ModalRunner& runModal);

} // namespace mirsalex
