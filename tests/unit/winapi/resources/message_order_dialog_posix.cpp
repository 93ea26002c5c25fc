// The Linux stand-in for the message-order test's compiled resources: registers its dialog
// template with the layer when the test program starts, as the resource compiler does on Windows.
#include "message_order_dialog.h"
#include "platform/posix/resources.h"

namespace {

const bool g_orderTemplateRegistered =
    (qx::RegisterDialogTemplate(QX_ORDER_DIALOG, L"" QX_ORDER_DIALOG_CAPTION, QX_ORDER_DIALOG_WIDTH,
                                QX_ORDER_DIALOG_HEIGHT),
     true);

}  // namespace
