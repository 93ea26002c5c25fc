// The repair journal: a small file in TmpPatch that records how far a repair got with the
// client's patch folders, so that a start after a crash can put the backup back before TmpPatch
// is emptied.
#pragma once

#include <string>

enum class RepairJournalState {
    None,            // no journal, or nothing in it that can be trusted
    BackupComplete,  // TmpPatch\OrgPatch holds the whole backup; Documents is untouched
    RemovalBegun     // Documents may have lost its patch folders: the backup must go back
};

// Starts a new journal saying that the backup is complete. Written only after the backup
// succeeded; false when it could not be written whole.
bool MarkBackupComplete();
// Adds that the removal of the patch folders begins. Nothing may be removed unless this returned
// true.
bool MarkRemovalBegun();
// Removes the journal; true when none is left. Called once Documents holds a whole set of patch
// folders again (the install copy succeeded, or the backup was put back).
bool ClearRepairJournal();

RepairJournalState ReadRepairJournal();

// Puts Documents' four patch folders back as the complete backup in TmpPatch\OrgPatch recorded
// them; a folder the backup lacks did not exist before the repair, so what an install made of it
// goes too. Only after a complete backup. True when every folder came back whole.
bool PutBackupBack();

// Start-up, before TmpPatch is emptied: when a repair stopped after the removal had begun, the
// backup goes back into Documents and the journal is cleared. False when that did not succeed
// completely; TmpPatch, with the backup and the journal, must then be kept for the next start.
bool RecoverInterruptedRepair();
