// The extraction stage: unpacks every downloaded archive, oldest first, into a folder of its own
// in the temporary folder, and reports the progress to the repair dialog.
#include "repair/extract_stage.h"

#include <cerrno>
#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "layout/patch_names.h"
#include "patchlist/patch_list.h"
#include "repair/archive/zip_file.h"
#include "repair/cumulative_patch.h"
#include "state/progress_state.h"

namespace {

// Unpacks the archive of the temporary folder named archiveName into its extraction folder, named
// folderName in the temporary folder, which must first be emptied wholly. Names that are not one
// plain name (they come from the network) are refused before any folder is touched. An archive that
// should be there but is missing, or a folder that cannot be made, fails the archive: a patch must
// never be dropped silently while the repair goes on.
bool ExtractOneArchive(const std::wstring& archiveName, const std::wstring& folderName,
                       const std::wstring& folder, FileFailure* failure) {
    if (!IsPlainTmpName(archiveName) || !IsPlainTmpName(folderName)) {
        SetLastError(ERROR_INVALID_NAME);
        NoteFailure(failure, L"ExtractArchive", archiveName, folderName);
        return false;
    }
    const std::wstring archive = TmpPatchPath(archiveName);
    // What an earlier run left there would be merged as part of this patch.
    if (!RemoveOwnItem(folder, failure)) {
        return false;
    }
    if (!MakeDirTree(folder.c_str())) {
        NoteCrtFailure(failure, L"_wmkdir", folder, errno);
        return false;
    }
    if (GetFileAttributesW(archive.c_str()) == INVALID_FILE_ATTRIBUTES) {
        NoteFailure(failure, L"GetFileAttributesW", archive);
        return false;
    }
    ++g_extractDone;
    PostMessageW(g_hMainDlg, WM_EXTRACT_COUNT, 0, 0);
    ProgressCallback progress;
    progress.callback = ExtractProgress;
    return ExtractArchive(archive, folder, progress, failure);
}

}  // namespace

int ExtractProgress(int /*reserved*/, int filesWritten, int fileCount) {
    // The reader reports after a file was written, so fileCount is at least 1; 0 would divide.
    const WPARAM percent =
        static_cast<WPARAM>(fileCount > 0 ? filesWritten * 100 / fileCount : 100);
    return PostMessageW(g_hMainDlg, WM_EXTRACT_PROGRESS, percent, 0);
}

bool ExtractPatches(const std::vector<PatchEntry>& downloads, FileFailure* failure) {
    g_extractTotal = static_cast<int32_t>(downloads.size()) + 1;
    g_extractScale = (1.0f / static_cast<float>(g_extractTotal)) * 0.2f;

    int attempted = 0;
    bool failed = false;
    // Oldest chosen release first: the list holds the newest first.
    for (auto entry = downloads.rbegin(); entry != downloads.rend(); ++entry) {
        ++attempted;
        if (!ExtractOneArchive(ArchiveFileName(entry->url), entry->version,
                               ExtractionFolder(entry->version), failure)) {
            failed = true;
        }
    }
    if (CumulativePatchExpected()) {
        const std::wstring& newest = g_patchList.back().version;
        ++attempted;
        if (!ExtractOneArchive(CumulativePatchName(newest), CumulativeFolderName(newest),
                               CumulativeFolder(newest), failure)) {
            failed = true;
        }
    }
    return attempted > 0 && !failed;
}
