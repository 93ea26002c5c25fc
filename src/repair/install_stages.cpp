// The stages after extraction: merging the unpacked trees into TmpPatch\All, backing up the
// client's four patch folders and removing them before the install. The unpacked trees and All
// are thrown away afterwards and the backup is the client's own folders, so all of them move
// rather than copy: on one volume a repair costs what the patch costs, not what the client holds.
#include "repair/install_stages.h"

#include <cerrno>
#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "layout/patch_names.h"
#include "patchlist/patch_list.h"
#include "repair/copy_tree.h"
#include "repair/cumulative_patch.h"
#include "repair/journal.h"
#include "repair/tmp_patch.h"

namespace {

// Copies one extraction folder, named `name` in TmpPatch, into All. A name from the patch list
// that is not one plain name would reach outside TmpPatch.
bool MergeFolder(const std::wstring& name, const std::wstring& folder, const std::wstring& all,
                 FileFailure* failure) {
    if (!IsPlainTmpName(name)) {
        SetLastError(ERROR_INVALID_NAME);
        NoteFailure(failure, L"CopyFileW", folder, all);
        return false;
    }
    return MoveTree(folder, all, failure) != 0;
}

// Moves the client's folder into the backup, announced in the journal first. Where the system
// refuses the move (another volume, a file in use) a backup still being taken copies the folder
// instead; a backup being completed cannot, since its journal already counts it whole.
bool BackUpFolder(const std::wstring& sub, bool mayCopy, FileFailure* failure) {
    const std::wstring original = JoinPath(DocumentsFolder(), sub);
    const std::wstring saved = JoinPath(OrgPatchFolder(), sub);
    // A copy of an earlier try that stopped half way would stand in the way.
    if (!RemoveOwnItem(saved, failure) || !MarkFolderMoving(sub, failure)) {
        return false;
    }
    if (MoveFileExW(original.c_str(), saved.c_str(), 0) != FALSE) {
        return true;
    }
    if (!mayCopy) {
        NoteFailure(failure, L"MoveFileExW", original, saved);
        return false;
    }
    return CopyTree(original, saved, failure) != 0;
}

// A new journal over an empty backup folder.
bool BeginBackup(FileFailure* failure) {
    const std::wstring backup = OrgPatchFolder();
    if (!MakeWayForNewBackup(failure)) {
        return false;
    }
    if (!MakeDirTree(backup.c_str())) {
        NoteCrtFailure(failure, L"_wmkdir", backup, errno);
        return false;
    }
    return MarkBackupBegun(failure);
}

}  // namespace

bool MergeTempPatches(const std::vector<PatchEntry>& downloads, FileFailure* failure) {
    const std::wstring all = AllFolder();
    int copies = 0;
    bool failed = false;
    // Oldest first, so that newer files overwrite older ones: the list holds the newest first.
    for (auto entry = downloads.rbegin(); entry != downloads.rend(); ++entry) {
        ++copies;
        if (!MergeFolder(entry->version, ExtractionFolder(entry->version), all, failure)) {
            failed = true;
        }
    }
    if (CumulativePatchExpected()) {
        ++copies;
        const std::wstring& newest = g_patchList.back().version;
        if (!MergeFolder(CumulativeFolderName(newest), CumulativeFolder(newest), all, failure)) {
            failed = true;
        }
    }
    return copies > 0 && !failed;
}

bool BackupOriginalPatches(FileFailure* failure) {
    RepairJournal journal = ReadRepairJournalWithMarks(failure);
    if (journal.state == RepairJournalState::Unreadable) {
        NoteCrtFailure(failure, L"_wfopen", RepairJournalPath(), EIO);
        return false;
    }
    // A backup still waiting to go back is the client's last whole state: what it holds stays
    // and only what is (again) in Documents joins it. Otherwise the backup starts afresh.
    if (!AsksForRestore(journal.state)) {
        if (!BeginBackup(failure)) {
            return false;
        }
        journal = ReadRepairJournalWithMarks();
    }
    const bool taking = journal.state == RepairJournalState::BackupBegun;
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (PlaceOfOriginal(journal, sub) == OriginalPlace::Documents &&
            !BackUpFolder(sub, taking, failure)) {
            failed = true;
        }
    }
    if (failed) {
        return false;
    }
    return !taking || MarkBackupComplete(failure);
}

int RemoveLeftoverPatches(FileFailure* failure) {
    const std::wstring documents = DocumentsFolder();
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        // A missing folder is normal; one that survives its deletion is not.
        if (!EnsureNoDirTree(JoinPath(documents, sub), failure)) {
            failed = true;
        }
    }
    return failed ? 0 : 1;
}
