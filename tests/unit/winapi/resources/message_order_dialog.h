// The dialog template of the message-order test, shared by its Windows resource script and the
// Linux stand-in that registers it with our layer.
#pragma once

#define QX_ORDER_DIALOG 601
#define QX_ORDER_DIALOG_CAPTION "message order"
#define QX_ORDER_DIALOG_WIDTH 120
#define QX_ORDER_DIALOG_HEIGHT 40
