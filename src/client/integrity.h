// Checks of the installed client: its main files, and its local version against the patch list.
#pragma once

#include <string>
#include <vector>

#include "patchlist/patch_entry.h"

// True when the client's main files are in `folder` (a relative path is taken from the current
// directory): "vazazu.dll" and "vazazu.exe", and the three resource packages too while the local
// version file is absent.
bool CheckResourceIntegrity(const std::wstring& folder);

// True when the client in `clientFolder` needs a repair or its state cannot be told (no local
// version, an empty patch list); false when the newest version of `patchList` (sorted) is not
// newer than the local one. `localVersion` receives the local version file's text, and stays as
// it is when the file gives none.
bool NeedsRepair(const std::wstring& clientFolder, const std::vector<PatchEntry>& patchList,
                 std::wstring& localVersion);
