// The second stage of a repair: unpacking every downloaded archive into a folder of its own in
// the temporary folder.
#pragma once

#include "repair/repair_observer.h"
#include "repair/repair_plan.h"

struct FileFailure;

// Unpacks the plan's archives in its order, each into its extraction folder, emptied first; the
// observer hears a count per archive and a percentage per file. A failed archive does not stop
// the others. True when at least one archive was unpacked and none failed; otherwise the first
// failure is in `failure` (when given).
bool ExtractPatches(const RepairPlan& plan, RepairObserver& observer,
                    FileFailure* failure = nullptr);

// The archive reader's progress callback: hands the files written of the current archive to the
// observer that `context` points at.
int ExtractProgress(void* context, int filesWritten, int fileCount);
