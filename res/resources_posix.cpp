// The Linux stand-in for the compiled resources: registers the dialog template IDD_REPAIR with
// the layer when the program starts, as the resource compiler's output does on Windows.
// Compiled straight into each program that opens the dialog, so no linker can drop it.
#include "platform/posix/resources.h"
#include "dialog.h"
#include "ui/resource.h"

namespace {

const bool g_repairTemplateRegistered =
    (qx::RegisterDialogTemplate(IDD_REPAIR, L"" QX_DIALOG_CAPTION, QX_DIALOG_WIDTH,
                                QX_DIALOG_HEIGHT),
     true);

}  // namespace
