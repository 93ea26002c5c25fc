// Preparing the temporary folder, and the first stage of a repair: choosing the missing patches,
// planning their archives and downloading them.
#pragma once

#include "repair/repair_observer.h"
#include "repair/repair_plan.h"

// Empties TmpPatch (a backup that still has to go back stays) and creates it with its "All"
// folder; true when both exist afterwards.
bool PrepareTmpPatchFolder();

// Chooses the entries the client lacks and plans their archives into `plan`, then fetches them
// into TmpPatch oldest first, each checked against its hash line, and then the cumulative patch
// when the server has it. A failed transfer does not stop the others; an archive that fails its
// hash line twice stops the stage at once. True when at least one transfer was made and none
// failed; every box has been asked of the observer.
bool DownloadPatches(const RepairInputs& inputs, RepairPlan& plan, RepairObserver& observer);
