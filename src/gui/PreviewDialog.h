#pragma once

#include "runtypes/RunReport.h"

#include <functional>
#include <QString>
#include <QStringList>
#include <vector>

class QDialog;
class QWidget;

namespace mirsalex {

class Prompt;

// Runs a modal dialog and returns its result (QDialog::exec in the window;
// tests drive the dialog instead).
using ModalRunner = std::function<int(QDialog&)>;

// "&ANTEPRIMA": what a dry run would change, as a grid ("dlgAnteprima",
// "tblAnteprima"): one row per item with its category, direction, detail and
// place, the counts per category at the top ("lblConteggi"), filters per
// category ("cboCategoria") and direction ("cboDirezione"), a search box
// ("txtCerca") and sortable columns. Its buttons copy the rows shown to the
// clipboard as tab-separated text ("cmdCopia"), save them in a file the user
// chooses ("cmdSalva", "dlgSalvaAnteprima"; a file that cannot be written is
// told through `prompt`) and close it ("cmdChiudi"). `exchangePlaces` are
// the exchange area's folders (see previewItems()). Fits a 800x600 screen.
void runPreviewDialog(QWidget* parent, const RunReport& report, const std::vector<ShownBox>& boxes,
                      const QStringList& exchangePlaces, Prompt& prompt, const ModalRunner& runModal);

} // namespace mirsalex
