// Merge, backup, removal and install: turning the unpacked trees into the client's patch folders.
#pragma once

#include <string>
#include <vector>

#include "patchlist/patch_entry.h"

bool MergeTempPatches(const std::vector<PatchEntry>& downloads);
bool BackupOriginalPatches();
int RemoveLeftoverPatches();
// Puts the backup in TmpPatch\OrgPatch back into Documents; true when every folder came back.
bool RestoreOriginalPatches();
