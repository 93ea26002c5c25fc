// The stages after extraction: merging the unpacked trees into TmpPatch\All, backing up the
// client's four patch folders, removing them, and putting the backup back when an install fails.
#include "repair/install_stages.h"

#include "fsutil/dirtree.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "layout/patch_names.h"
#include "patchlist/patch_list.h"
#include "repair/copy_tree.h"
#include "repair/cumulative_patch.h"

bool MergeTempPatches(const std::vector<PatchEntry>& downloads) {
    const std::wstring all = AllFolder();
    int copies = 0;
    bool failed = false;
    // Oldest first, so that newer files overwrite older ones: the list holds the newest first.
    for (auto entry = downloads.rbegin(); entry != downloads.rend(); ++entry) {
        ++copies;
        // A version that is not one plain name would copy from outside the temporary folder.
        if (!IsPlainTmpName(entry->version) || !CopyTree(ExtractionFolder(entry->version), all)) {
            failed = true;
        }
    }
    if (CumulativePatchExpected()) {
        const std::wstring& newest = g_patchList.back().version;
        ++copies;
        if (!IsPlainTmpName(CumulativeFolderName(newest)) ||
            !CopyTree(CumulativeFolder(newest), all)) {
            failed = true;
        }
    }
    return copies > 0 && !failed;
}

bool BackupOriginalPatches() {
    const std::wstring documents = DocumentsFolder();
    const std::wstring backup = OrgPatchFolder();
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (!CopyTree(JoinPath(documents, sub), JoinPath(backup, sub))) {
            failed = true;
        }
    }
    return !failed;
}

int RemoveLeftoverPatches() {
    const std::wstring documents = DocumentsFolder();
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        // A missing folder is normal; one that survives its deletion is not.
        if (!EnsureNoDirTree(JoinPath(documents, sub))) {
            failed = true;
        }
    }
    return failed ? 0 : 1;
}

bool RestoreOriginalPatches() {
    const std::wstring documents = DocumentsFolder();
    const std::wstring backup = OrgPatchFolder();
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        const std::wstring saved = JoinPath(backup, sub);
        if (!IsAnyDirectory(saved)) {
            continue;  // the client had no such folder, or there is no backup to trust
        }
        const std::wstring target = JoinPath(documents, sub);
        // Copy back even over what could not be removed, and past a file that cannot be
        // overwritten, so that as much as possible returns.
        if (!EnsureNoDirTree(target)) {
            failed = true;
        }
        if (!CopyTreeKeepGoing(saved, target)) {
            failed = true;
        }
    }
    return !failed;
}
