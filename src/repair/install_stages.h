// Merge, backup, removal and install: turning the unpacked trees into the client's patch folders.
#pragma once

#include "repair/repair_plan.h"

struct FileFailure;

// Each stage records its first failing call in `failure` (when given), for the log.
// Moves every extraction folder of the plan into TmpPatch\All in the plan's order, so that a
// later archive's files replace an earlier one's; false when one failed or there was none.
bool MergeTempPatches(const RepairPlan& plan, FileFailure* failure = nullptr);
// Moves the four patch folders into TmpPatch\OrgPatch, each announced in the journal, which then
// says the backup is complete. A backup still pending from an earlier run is kept and completed.
bool BackupOriginalPatches(FileFailure* failure = nullptr);
// Removes the four patch folders from Documents; a missing one is no failure, one that survives is.
bool RemoveLeftoverPatches(FileFailure* failure = nullptr);
