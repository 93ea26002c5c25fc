// Putting the backup in TmpPatch\OrgPatch back into Documents after a repair that removed the
// client's patch folders failed or was cut short, and the start-up recovery that does it.
#pragma once

struct FileFailure;

// Makes each of Documents' four patch folders equal to the complete backup: what is missing or
// different is put back in one step (a copy over it), what the backup lacks is removed, a folder
// the backup lacks (the client never had it) goes whole. A file equal to its backup counts as
// restored even where it could not be written. Nothing is deleted that cannot be put back. Goes
// on past a failure; true when every folder came back whole, else the first failing call is in
// `failure`.
bool RestoreOriginalPatches(FileFailure* failure = nullptr);

// RestoreOriginalPatches, then the journal goes, each failure written to the log. False, with the
// first failing call in `failure`, when the restore could not finish; the journal and the backup
// then stay for the next start.
bool PutBackupBack(FileFailure* failure);

// Start-up, before anything needs the network: when the journal asks for it the backup goes
// back and the journal is cleared. False, with the first failing call in `failure`, when the
// restore could not finish; the journal and the backup then stay for the next start.
bool RecoverInterruptedRepair(FileFailure* failure);
