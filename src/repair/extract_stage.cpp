// The extraction stage: unpacks every downloaded archive, in the plan's order, into its own folder
// in the temporary folder, and reports the progress to the observer.
#include "repair/extract_stage.h"

#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "layout/folders.h"
#include "repair/archive/zip_file.h"
#include "state/log.h"

namespace {

const wchar_t kPlainNameRule[] = L"a plain name in TmpPatch";

// Unpacks one archive into its extraction folder, which must first be emptied wholly. Names that
// are not one plain name (they come from the network) are refused before any folder is touched.
// An archive that should be there but is missing, or a folder that cannot be made, fails the
// archive: a patch must never be dropped silently while the repair goes on.
bool ExtractOneArchive(const PlannedArchive& archive, int& started, RepairObserver& observer,
                       FileFailure* failure) {
    if (!IsPlainTmpName(archive.fileName)) {
        NoteRefusal(failure, kPlainNameRule, archive.fileName, ERROR_INVALID_NAME);
        return false;
    }
    if (!IsPlainTmpName(archive.folderName)) {
        NoteRefusal(failure, kPlainNameRule, archive.folderName, ERROR_INVALID_NAME);
        return false;
    }
    const std::wstring& folder = archive.extractionFolder;
    // What an earlier run left there would be merged as part of this patch.
    if (!RemoveOwnItem(folder, failure) || !MakeDirTree(folder.c_str(), failure)) {
        return false;
    }
    if (GetFileAttributesW(archive.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        NoteFailure(failure, L"GetFileAttributesW", archive.path);
        return false;
    }
    observer.ExtractionStarted(++started);
    ProgressCallback progress;
    progress.callback = ExtractProgress;
    progress.context = &observer;
    return ExtractArchive(archive.path, folder, progress, failure);
}

// The bytes the plan's archives unpack to; an archive that cannot be read counts nothing here and
// fails its own extraction.
uint64_t UnpackedSize(const RepairPlan& plan) {
    uint64_t total = 0;
    for (const PlannedArchive& archive : plan.archives) {
        uint64_t size = 0;
        if (ArchiveUnpackedSize(archive.path, &size)) {
            total += size;
        }
    }
    return total;
}

// True when the client's volume has room for every archive unpacked: a full disk found half way
// would leave a half-unpacked patch behind. A volume whose free space cannot be told is not held
// up (the unpacking itself then finds out).
bool RoomToUnpack(const RepairPlan& plan, FileFailure* failure) {
    const std::wstring folder = TmpPatchFolder();
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) {
        return true;
    }
    const uint64_t needed = UnpackedSize(plan);
    if (needed <= available.QuadPart) {
        return true;
    }
    LogWrite(g_log, L"the archives unpack to %ls bytes; the volume of %ls has %ls bytes free",
             std::to_wstring(needed).c_str(), folder.c_str(),
             std::to_wstring(available.QuadPart).c_str());
    NoteRefusal(failure, L"an unpacking the volume has room for", folder, ERROR_DISK_FULL);
    return false;
}

}  // namespace

int ExtractProgress(void* context, int filesWritten, int fileCount) {
    static_cast<RepairObserver*>(context)->ExtractionProgress(filesWritten, fileCount);
    return 0;
}

bool ExtractPatches(const RepairPlan& plan, RepairObserver& observer, FileFailure* failure) {
    // The extra one stands for the cumulative patch, whether or not the server had it.
    observer.ExtractionsAnnounced(static_cast<int>(plan.downloads.size()) + 1);
    if (!RoomToUnpack(plan, failure)) {
        return false;
    }
    int started = 0;
    bool failed = false;
    for (const PlannedArchive& archive : plan.archives) {
        if (!ExtractOneArchive(archive, started, observer, failure)) {
            failed = true;
        }
    }
    return !plan.archives.empty() && !failed;
}
