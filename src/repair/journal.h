// The repair journal: a small file in TmpPatch that records how far a repair got with the
// client's patch folders, so that a start after a crash knows whether the backup must go back,
// and a finished repair is never undone.
#pragma once

struct FileFailure;

enum class RepairJournalState {
    None,             // no journal, or nothing in it that can be trusted: nothing to restore
    BackupComplete,   // TmpPatch\OrgPatch holds the whole backup; Documents is untouched
    RemovalBegun,     // Documents may have lost its patch folders: the backup must go back
    InstallComplete,  // the repair finished: nothing to restore, the backup is obsolete
    Unreadable        // a journal is there but cannot be read: its backup is kept, not restored
};

// Each mark is flushed and read back; false, with the failing call in `failure`, when the journal
// does not read as the new state.
// Starts a new journal saying that the backup is complete. Written only after the backup
// succeeded.
bool MarkBackupComplete(FileFailure* failure = nullptr);
// Adds that the removal of the patch folders begins. Nothing may be removed unless this returned
// true.
bool MarkRemovalBegun(FileFailure* failure = nullptr);
// Records that the new patch folders are installed, before the success is shown. When the line
// cannot be added the journal is removed or emptied instead; false only when it still asks for a
// restore, which would undo the repair at the next start.
bool MarkInstallComplete(FileFailure* failure = nullptr);
// Removes the journal; true when none is left.
bool ClearRepairJournal();

RepairJournalState ReadRepairJournal();
// True when TmpPatch holds a backup that belongs to the client and must be kept: the journal asks
// for a restore, or cannot be read.
bool RestorePending();
