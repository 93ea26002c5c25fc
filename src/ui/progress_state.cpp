// Definitions of the shared progress state.
#include "ui/progress_state.h"

HWND g_hMainDlg = nullptr;
int32_t g_actionMode = -1;
int32_t g_progressBase = 0;
int32_t g_downloadTotal = 0;
int32_t g_downloadDone = 0;
float g_downloadScale = 0.0f;
int32_t g_extractTotal = 0;
int32_t g_extractDone = 0;
float g_extractScale = 0.0f;
bool g_downloadDoneLatch = false;
int32_t g_downloadFoldedTransfer = 0;
bool g_extractDoneLatch = false;
int32_t g_progressShown = 0;
uint32_t g_speedBytes = 0;
uint32_t g_shownSpeedBytes = 0;
int64_t g_prevDlNow = 0;
