// Emptying TmpPatch, the tool's own working folder, at start-up and after a finished repair, and
// making way for a new backup in it.
#pragma once

struct FileFailure;

// Empties TmpPatch (creating it when missing), read-only items included. The backups in it
// (TmpPatch\OrgPatch and earlier ones set aside beside it) and the journal stay unless the journal
// says they are obsolete; then the backups go first and the journal after them. True when TmpPatch
// is a folder afterwards.
bool EmptyTmpPatchFolder();

// When the journal says the backups in TmpPatch are obsolete, removes them, then the journal;
// false, with the journal kept, when a backup could not be removed.
bool RemoveObsoleteBackups(FileFailure* failure);

// Removes the downloaded archives (every file directly in TmpPatch but the journal) once they are
// unpacked and merged: nothing needs them any more, and the flush of the volume before the backup
// is recorded would otherwise write them to the disk only for them to be removed.
void RemoveMergedArchives();

// Removes TmpPatch after a finished repair, in the same order; true when nothing is left of it.
bool RemoveFinishedTmpPatch(FileFailure* failure);

// Makes way for a new backup in TmpPatch\OrgPatch. A backup the journal calls obsolete is removed;
// one no journal accounts for first puts back what Documents lacks of it; a backup that cannot or
// must not be removed is set aside as TmpPatch\OrgPatch.stale<n>. False when it stays in the way.
bool MakeWayForNewBackup(FileFailure* failure);
