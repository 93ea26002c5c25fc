// Updating the repair dialog's controls by id from the dialog's handlers. A control that does not
// exist is passed over.
#pragma once

#include "platform/win32.h"

void ShowControl(HWND dialog, int id, int show);
void EnableControl(HWND dialog, int id, BOOL enable);
void SetControlText(HWND dialog, int id, const wchar_t* text);
// Shows or hides the progress bar and the status line together, only when both exist: they and
// the hint share one panel.
void ShowProgressPanel(HWND dialog, int show);
