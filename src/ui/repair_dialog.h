// The repair dialog IDD_REPAIR: its controls, its button and the five progress messages.
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK RepairDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void CreateRepairControls();
