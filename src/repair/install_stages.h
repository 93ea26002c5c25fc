// Merge, backup, removal and install: turning the unpacked trees into the client's patch folders.
#pragma once

#include <vector>

#include "patchlist/patch_entry.h"

struct FileFailure;

// Each stage records its first failing call in `failure` (when given), for the log.
bool MergeTempPatches(const std::vector<PatchEntry>& downloads, FileFailure* failure = nullptr);
// Moves the four patch folders into TmpPatch\OrgPatch, each announced in the journal, which then
// says the backup is complete. A backup still pending from an earlier run is kept and completed.
bool BackupOriginalPatches(FileFailure* failure = nullptr);
int RemoveLeftoverPatches(FileFailure* failure = nullptr);
