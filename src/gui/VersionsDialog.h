#pragma once

#include "config/Context.h"
#include "gui/PreviewDialog.h"
#include "session/OperatorForm.h"

#include <functional>

class QWidget;

namespace mirsalex {

// "VERSIONI": the runs kept for the form's operator and side ("dlgVersioni",
// "lstVersioni", "txtVersione"), what each changed, and the restore of one
// after a confirmation ("cmdRipristina"), through the session's one restore.
// `refresh` runs after a restore, so the window shows the keys it put back.
void runVersionsDialog(QWidget* parent, Context& ctx, OperatorForm& form, const ModalRunner& runModal,
                       const std::function<void()>& refresh);

} // namespace mirsalex
