// Emptying TmpPatch at start-up. It is the tool's own folder, so nothing in it may stand in the
// way of a new repair: read-only items lose the attribute and go, whatever the client's files in
// Documents carried into the backup. Only a backup that still has to go back is kept.
#include "repair/tmp_patch.h"

#include <string>
#include <vector>

#include "fsutil/dirtree.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "platform/win32.h"
#include "repair/journal.h"

namespace {

// Everything in TmpPatch but the pending backup and the journal that asks for it.
void RemoveAllButPendingBackup(const std::wstring& folder) {
    const std::wstring keptBackup = OrgPatchFolder();
    const std::wstring keptJournal = RepairJournalPath();
    std::vector<WIN32_FIND_DATAW> entries;
    if (!ListFolderEntries(folder, entries)) {
        return;
    }
    for (const WIN32_FIND_DATAW& entry : entries) {
        const std::wstring path = JoinPath(folder, entry.cFileName);
        if (path != keptBackup && path != keptJournal) {
            RemoveOwnItem(path);
        }
    }
}

}  // namespace

bool EmptyTmpPatchFolder() {
    const std::wstring folder = TmpPatchFolder();
    // A file of that name is not the tool's to remove: creating the folder then fails.
    if (IsAnyDirectory(folder)) {
        if (RestorePending()) {
            RemoveAllButPendingBackup(folder);
        } else {
            // A failed deletion leaves what it could not remove; the stages meet it themselves.
            RemoveOwnItem(folder);
        }
    }
    return MakeDirTree(folder.c_str()) && IsAnyDirectory(folder);
}
