// Emptying TmpPatch, the tool's own working folder, at start-up.
#pragma once

// Empties TmpPatch (creating it when missing), read-only items included. While the journal asks
// for a restore, the backup in TmpPatch\OrgPatch and the journal stay: they are the client's last
// whole state. True when TmpPatch is a folder afterwards.
bool EmptyTmpPatchFolder();
