// Process-wide values that the start-up fills in and the later stages read.
#pragma once

#include <string>

extern std::wstring g_localVersion;
extern std::wstring g_exeDir;
extern std::wstring g_latestVersionText;
