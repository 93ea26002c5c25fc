// Emptying TmpPatch, the tool's own working folder. Nothing in it may stand in the way of a new
// repair: read-only items lose the attribute and go, whatever the client's files in Documents
// carried into the backup. Only a backup is kept, until the journal says it is obsolete; then it
// goes before the journal, so that a crash half way never leaves a backup without its journal.
#include "repair/tmp_patch.h"

#include <string>
#include <vector>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/flush.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "platform/win32.h"
#include "repair/durability.h"
#include "repair/journal.h"
#include "repair/restore_unjournaled.h"

namespace {

// How many backups that could not be removed may wait beside the backup folder.
const int kMaxStaleBackups = 100;
// What names a backup set aside: OrgPatch.stale1, OrgPatch.stale2...
const std::wstring kStaleSuffix = L".stale";

// TmpPatch\OrgPatch, or one of the earlier backups set aside beside it (OrgPatch.stale<n>).
bool IsBackup(const std::wstring& path) {
    const std::wstring backup = OrgPatchFolder();
    const std::wstring stale = backup + kStaleSuffix;
    return path == backup || path.compare(0, stale.size(), stale) == 0;
}

// The items directly in TmpPatch; with `filesOnly`, only those that are no folder.
std::vector<std::wstring> TmpPatchItems(bool filesOnly = false) {
    const std::wstring folder = TmpPatchFolder();
    std::vector<WIN32_FIND_DATAW> entries;
    std::vector<std::wstring> items;
    if (ListFolderEntries(folder, entries)) {
        for (const WIN32_FIND_DATAW& entry : entries) {
            if (!filesOnly || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                items.push_back(JoinPath(folder, entry.cFileName));
            }
        }
    }
    return items;
}

// Removes every backup in TmpPatch, then, once their removal is on the disk, the journal that
// called them obsolete.
bool RemoveBackupsThenJournal(FileFailure* failure) {
    bool removed = true;
    for (const std::wstring& item : TmpPatchItems()) {
        if (IsBackup(item) && !RemoveOwnItem(item, failure)) {
            removed = false;
        }
    }
    return removed && FlushFolderEntries(TmpPatchFolder(), failure) && ClearRepairJournal();
}

// Everything in TmpPatch but its backups and the journal.
bool RemoveAllButBackups(FileFailure* failure) {
    bool removed = true;
    for (const std::wstring& item : TmpPatchItems()) {
        if (!IsBackup(item) && item != RepairJournalPath() && !RemoveOwnItem(item, failure)) {
            removed = false;
        }
    }
    return removed;
}

}  // namespace

bool EmptyTmpPatchFolder() {
    const std::wstring folder = TmpPatchFolder();
    // A file of that name is not the tool's to remove: creating the folder then fails.
    if (IsAnyDirectory(folder)) {
        RemoveObsoleteBackups(nullptr);
        // A failed deletion leaves what it could not remove; the stages meet it themselves.
        RemoveAllButBackups(nullptr);
    }
    return MakeDirTree(folder.c_str()) && IsAnyDirectory(folder);
}

void RemoveMergedArchives() {
    for (const std::wstring& item : TmpPatchItems(true)) {
        if (item != RepairJournalPath()) {
            RemoveOwnItem(item);  // one that stays is emptied with TmpPatch later
        }
    }
}

bool RemoveObsoleteBackups(FileFailure* failure) {
    return !BackupObsolete(ReadRepairJournal()) || RemoveBackupsThenJournal(failure);
}

bool RemoveFinishedTmpPatch(FileFailure* failure) {
    const bool backupsGone = RemoveObsoleteBackups(failure);
    const bool restGone = RemoveAllButBackups(failure);
    const std::wstring folder = TmpPatchFolder();
    return backupsGone && restGone && RemoveDirectoryW(folder.c_str()) != FALSE;
}

bool MakeWayForNewBackup(FileFailure* failure) {
    const std::wstring backup = OrgPatchFolder();
    if (!PathExists(backup)) {
        return true;
    }
    // An obsolete backup, or one without patch folders, holds nothing a journal would have to
    // account for; any other must first give back what Documents lacks of it.
    const bool accountedFor = BackupObsolete(ReadRepairJournal()) || !BackupHoldsPatchFolders();
    if (accountedFor && RemoveOwnItem(backup)) {
        return true;
    }
    if (!accountedFor && !PutBackUnjournaledBackup(failure)) {
        return false;
    }
    // Set aside whole, never removed, so that it never blocks a later repair; it goes once a
    // journal says a later backup is obsolete.
    std::wstring aside;
    for (int n = 1; n <= kMaxStaleBackups; ++n) {
        aside = backup + kStaleSuffix + std::to_wstring(n);
        if (!PathExists(aside) && MoveFileExW(backup.c_str(), aside.c_str(), 0) != FALSE) {
            return true;
        }
    }
    NoteFailure(failure, L"MoveFileExW", backup, aside);
    return false;
}
