// The stages after extraction: merging the unpacked trees into TmpPatch\All, backing up the
// client's four patch folders and removing them before the install.
#include "repair/install_stages.h"

#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "layout/patch_names.h"
#include "patchlist/patch_list.h"
#include "repair/copy_tree.h"
#include "repair/cumulative_patch.h"

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
    return CopyTree(folder, all, failure) != 0;
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
    const std::wstring documents = DocumentsFolder();
    const std::wstring backup = OrgPatchFolder();
    // Whatever an earlier run left there would pass for part of this backup.
    if (!RemoveOwnItem(backup, failure)) {
        return false;
    }
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (!CopyTree(JoinPath(documents, sub), JoinPath(backup, sub), failure)) {
            failed = true;
        }
    }
    return !failed;
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
