// Checks of the installed client: its main files, and its local version against the patch list.
#pragma once

bool CheckResourceIntegrity();
// True when the client needs a repair or its state cannot be told; sets g_localVersion.
bool NeedsRepair();
