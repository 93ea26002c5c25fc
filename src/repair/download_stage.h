// Preparing the temporary folder, choosing the missing patches and downloading them.
#pragma once

#include <string>
#include <vector>

#include "patchlist/patch_entry.h"

int PrepareTmpPatchFolder();
bool DownloadPatches(std::vector<PatchEntry>& downloads);
