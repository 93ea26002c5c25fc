// The stages after extraction: merging the unpacked trees into TmpPatch\All, backing up the
// client's four patch folders, removing them, and putting the backup back when an install fails.
#include "repair/install_stages.h"

#include "fsutil/dirtree.h"
#include "fsutil/paths.h"
#include "patchlist/patch_list.h"
#include "platform/win32.h"
#include "repair/copy_tree.h"
#include "repair/stage_folders.h"
#include "state/app_state.h"

namespace {

// The client's patch folders under "Documents", in the order every stage handles them.
const wchar_t* const kPatchSubFolders[] = {L"pkres", L"subver", L"patch_cache", L"qatools"};

std::wstring DocumentsFolder() {
    return JoinPath(g_exeDir, L"Documents");
}

std::wstring BackupFolder() {
    return JoinPath(TmpPatchFolder(), L"OrgPatch");
}

}  // namespace

bool MergeTempPatches(const std::vector<PatchEntry>& downloads) {
    const std::wstring tmp = TmpPatchFolder();
    const std::wstring all = JoinPath(tmp, L"All");
    int copies = 0;
    bool failed = false;
    // Oldest first, so that newer files overwrite older ones: the list holds the newest first.
    for (auto entry = downloads.rbegin(); entry != downloads.rend(); ++entry) {
        ++copies;
        // A version that is not one plain name would copy from outside the temporary folder.
        if (!IsPlainTmpName(entry->version) || !CopyTree(JoinPath(tmp, entry->version), all)) {
            failed = true;
        }
    }
    if (CumulativePatchExpected()) {
        const std::wstring name = CumulativeFolderName(g_patchList.back().version);
        ++copies;
        if (!IsPlainTmpName(name) || !CopyTree(JoinPath(tmp, name), all)) {
            failed = true;
        }
    }
    return copies > 0 && !failed;
}

bool BackupOriginalPatches() {
    const std::wstring documents = DocumentsFolder();
    const std::wstring backup = BackupFolder();
    bool failed = false;
    for (const wchar_t* sub : kPatchSubFolders) {
        if (!CopyTree(JoinPath(documents, sub), JoinPath(backup, sub))) {
            failed = true;
        }
    }
    return !failed;
}

int RemoveLeftoverPatches() {
    const std::wstring documents = DocumentsFolder();
    bool failed = false;
    for (const wchar_t* sub : kPatchSubFolders) {
        // A missing folder is normal; one that survives its deletion is not.
        if (!EnsureNoDirTree(JoinPath(documents, sub))) {
            failed = true;
        }
    }
    return failed ? 0 : 1;
}

bool RestoreOriginalPatches() {
    const std::wstring documents = DocumentsFolder();
    const std::wstring backup = BackupFolder();
    bool failed = false;
    for (const wchar_t* sub : kPatchSubFolders) {
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
