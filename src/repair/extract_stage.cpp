// The extraction stage: unpacks every downloaded archive, oldest first, into a folder of its own
// in the temporary folder, and reports the progress to the repair dialog.
#include "repair/extract_stage.h"

#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "layout/folders.h"
#include "layout/patch_names.h"
#include "patchlist/patch_list.h"
#include "repair/archive/zip_file.h"
#include "repair/cumulative_patch.h"
#include "state/progress_state.h"

namespace {

// Unpacks the archive of the temporary folder named archiveName into its freshly emptied
// extraction folder, named folderName in the temporary folder. Names that are not one plain name
// (they come from the network) are refused before any folder is touched. An archive that should
// be there but is missing, or a folder that cannot be made, fails the archive: a patch must never
// be dropped silently while the repair goes on.
bool ExtractOneArchive(const std::wstring& archiveName, const std::wstring& folderName,
                       const std::wstring& folder) {
    if (!IsPlainTmpName(archiveName) || !IsPlainTmpName(folderName)) {
        return false;
    }
    const std::wstring archive = TmpPatchPath(archiveName);
    if (!RecreateDir(folder)) {
        return false;
    }
    if (archive.empty() || !PathExists(archive)) {
        return false;
    }
    std::string narrowArchive;
    std::string narrowFolder;
    WideToAnsi(archive, narrowArchive);
    WideToAnsi(folder, narrowFolder);

    ++g_extractDone;
    PostMessageW(g_hMainDlg, WM_EXTRACT_COUNT, 0, 0);
    ProgressCallback progress;
    progress.callback = ExtractProgress;
    return ExtractArchive(narrowArchive, narrowFolder, progress);
}

}  // namespace

int ExtractProgress(int /*reserved*/, int filesWritten, int fileCount) {
    // The reader reports after a file was written, so fileCount is at least 1; 0 would divide.
    const WPARAM percent =
        static_cast<WPARAM>(fileCount > 0 ? filesWritten * 100 / fileCount : 100);
    return PostMessageW(g_hMainDlg, WM_EXTRACT_PROGRESS, percent, 0);
}

bool ExtractPatches(const std::vector<PatchEntry>& downloads) {
    g_extractTotal = static_cast<int32_t>(downloads.size()) + 1;
    g_extractScale = (1.0f / static_cast<float>(g_extractTotal)) * 0.2f;

    int attempted = 0;
    bool failed = false;
    // Oldest chosen release first: the list holds the newest first.
    for (auto entry = downloads.rbegin(); entry != downloads.rend(); ++entry) {
        ++attempted;
        if (!ExtractOneArchive(ArchiveFileName(entry->url), entry->version,
                               ExtractionFolder(entry->version))) {
            failed = true;
        }
    }
    if (CumulativePatchExpected()) {
        const std::wstring& newest = g_patchList.back().version;
        ++attempted;
        if (!ExtractOneArchive(CumulativePatchName(newest), CumulativeFolderName(newest),
                               CumulativeFolder(newest))) {
            failed = true;
        }
    }
    return attempted > 0 && !failed;
}
