// A backup no journal accounts for: TmpPatch\OrgPatch holds patch folders while the journal is
// missing, empty, cut short before its first record, or unreadable. It may be the client's only
// copy, so it is never removed: what Documents lacks of it goes back.
#pragma once

struct FileFailure;

// True when TmpPatch\OrgPatch holds one of the four patch folders.
bool BackupHoldsPatchFolders();

// Puts back what Documents lacks of the backup: a patch folder Documents lacks moves back whole
// (copied where the move is refused), and into one it holds only partly the files and folders it
// lacks are copied. Nothing in Documents is replaced or removed, and the backup keeps everything
// that did not move back. What came back is on the disk before it returns. True when nothing is
// missing any more, else the first failing call is in `failure`.
bool PutBackUnjournaledBackup(FileFailure* failure);
