// Definitions of the process-wide start-up values.
#include "state/app_state.h"

std::wstring g_localVersion;
std::wstring g_exeDir;
std::wstring g_latestVersionText = L"未知";
