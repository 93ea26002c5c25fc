// Caption and size of the dialog template IDD_REPAIR, shared by the Windows resource script and
// the Linux stand-in for the compiled resources, so both builds show the same dialog.
#pragma once

#define QX_DIALOG_CAPTION "《Zorvan》手游客户端修复工具"
#define QX_DIALOG_WIDTH 277
#define QX_DIALOG_HEIGHT 138
