// The repair's reports to the dialog. The worker thread and its stages report through the dialog's
// observer, which posts each report to the dialog in order: the dialog's handlers do all the
// arithmetic of the bar. A step, or a box the repair asks for, is handled by the dialog in its
// turn, after every report before it, and the worker waits until it has been (until the box is
// closed).
#pragma once

#include "platform/win32.h"
#include "repair/repair_observer.h"

// The observer of a repair the dialog started. Where no dialog takes the reports (none is open),
// a box is shown on the repair's own thread.
RepairObserver& DialogRepairObserver();

// The dialog's handler of a box request (WM_REPAIR_BOX): shows the box and lets the worker go on.
void ShowRequestedBox(LPARAM request);
// Lets the worker go on once the dialog has handled a step (WM_REPAIR_STEP) it waits for.
void AcknowledgeStep(LPARAM lParam);

// The speed behind the dialog's speed label, given the running transfer's byte count and the time
// of the report (milliseconds on a steady clock): g_prevDlNow keeps the latest count (0: no report
// of this transfer yet) and g_speedBytes becomes the bytes per second over the last window of at
// least half a second (unchanged until the transfer's first window has passed).
void SampleDownloadSpeed(int64_t bytesNow, int64_t milliseconds);

// The percent of a transfer's body received, 0 to 100.
int PercentOf(int64_t received, int64_t total);
