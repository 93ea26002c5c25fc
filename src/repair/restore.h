// Putting the backup in TmpPatch\OrgPatch back into Documents after a repair that removed the
// client's patch folders failed or was cut short, and the start-up recovery that does it.
#pragma once

struct FileFailure;

// Makes each of Documents' four patch folders equal to the complete backup: what is missing or
// different is put back in one step (a copy over it), what the backup lacks is removed, a folder
// the backup lacks (the client never had it) goes whole. A file equal to its backup counts as
// restored even where it could not be written. Nothing is deleted that cannot be put back. Goes
// on past a failure; true when every folder came back whole, else the first failing call is in
// `failure`. A backup no journal accounts for (none, or one that cannot be read) is only added
// to what Documents holds (restore_unjournaled.h); an unreadable journal then still fails.
bool RestoreOriginalPatches(FileFailure* failure = nullptr);

// RestoreOriginalPatches, then, with the folders on the disk, the journal records that the
// restore is complete, and the backup goes, then the journal; each failure is written to the
// log. False, with the first failing call in `failure`, when the restore could not finish; the
// journal and the backup then stay for the next start.
bool PutBackupBack(FileFailure* failure);

// Start-up, before anything needs the network: unless the journal says the last repair or
// restore finished, the backup goes back (PutBackupBack). False, with the first failing call in
// `failure`, when the restore could not finish; the journal and the backup then stay for the
// next start.
bool RecoverInterruptedRepair(FileFailure* failure);
