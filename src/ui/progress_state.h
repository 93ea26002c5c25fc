// The dialog's progress state and the private messages through which a repair reports to it. The
// dialog's thread alone writes the counters, scales, latches and the bar's base from the numbers
// the messages carry; only the speed (g_prevDlNow, g_speedBytes) is measured on the repair's
// thread, written before the message that makes the dialog read it is posted.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#define ACTION_REPAIR 1
#define ACTION_LAUNCH 4

#define WM_DOWNLOAD_PROGRESS (WM_USER + 1)
#define WM_EXTRACT_PROGRESS (WM_USER + 2)
#define WM_EXTRACT_COUNT (WM_USER + 3)
#define WM_DOWNLOAD_COUNT (WM_USER + 4)
#define WM_DOWNLOAD_STARTED (WM_USER + 5)
// A step of the repair beyond the per-file progress (wParam: a RepairStep; lParam: an event the
// dialog sets once it has handled the step, or 0).
#define WM_REPAIR_STEP (WM_USER + 6)
// A box the repair asks for, shown by the dialog in its turn (lParam: the request).
#define WM_REPAIR_BOX (WM_USER + 7)

extern HWND g_hMainDlg;
extern int32_t g_actionMode;
extern int32_t g_progressBase;
extern int32_t g_downloadTotal;
extern int32_t g_downloadDone;
extern float g_downloadScale;
extern int32_t g_extractTotal;
extern int32_t g_extractDone;
extern float g_extractScale;
extern bool g_downloadDoneLatch;
// The transfer (its g_downloadDone number, carried in WM_DOWNLOAD_PROGRESS's lParam) whose 100 %
// the bar has taken in; 0 for none. The dialog thread's alone.
extern int32_t g_downloadFoldedTransfer;
extern bool g_extractDoneLatch;
// The bar's position as last set: the bar never moves back from it.
extern int32_t g_progressShown;
extern uint32_t g_speedBytes;
extern uint32_t g_shownSpeedBytes;
// 64 bits: a transfer's byte count passes 2 GiB, and a saturated count would freeze the speed at 0.
extern int64_t g_prevDlNow;
