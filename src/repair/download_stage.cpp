// The first repair stage: choosing the patch archives the client lacks, downloading them into
// TmpPatch oldest first, then the cumulative patch of the newest release line when the server has
// it. Also prepares the empty TmpPatch folder at start-up.
#include "repair/download_stage.h"

#include "fsutil/dirtree.h"
#include "fsutil/text.h"
#include "layout/folders.h"
#include "layout/patch_names.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "patchlist/version.h"
#include "platform/win32.h"
#include "repair/archive_hash.h"
#include "repair/tmp_patch.h"
#include "state/app_state.h"
#include "state/progress_state.h"

namespace {

const size_t kMaxPatchesWithoutLocalVersion = 8;

// Without a local version: the eight newest ordinary entries, newest first.
void SelectNewestEntries(std::vector<PatchEntry>& downloads) {
    for (auto it = g_patchList.rbegin(); it != g_patchList.rend(); ++it) {
        if (downloads.size() >= kMaxPatchesWithoutLocalVersion) {
            break;
        }
        if (it->packageVersion.empty()) {
            downloads.push_back(*it);
        }
    }
}

// The newest full package of the next minor version; false when the list has none.
bool SelectNextMinorPackage(std::vector<PatchEntry>& downloads) {
    for (auto it = g_patchList.rbegin(); it != g_patchList.rend(); ++it) {
        if (!it->packageVersion.empty() && IsNextMinorVersion(g_localVersion, it->packageVersion)) {
            downloads.push_back(*it);
            return true;
        }
    }
    return false;
}

// Every ordinary entry newer than the local version, newest first.
void SelectNewerEntries(std::vector<PatchEntry>& downloads) {
    for (auto it = g_patchList.rbegin(); it != g_patchList.rend(); ++it) {
        if (it->packageVersion.empty() && CompareVersions(it->version, g_localVersion) > 0) {
            downloads.push_back(*it);
        }
    }
}

void SelectDownloads(std::vector<PatchEntry>& downloads) {
    if (g_localVersion.empty()) {
        SelectNewestEntries(downloads);
    } else if (!SelectNextMinorPackage(downloads)) {
        SelectNewerEntries(downloads);
    }
}

void AnnounceDownloads(const std::vector<PatchEntry>& downloads) {
    // The extra one is the cumulative patch, counted whether or not the server has it.
    g_downloadTotal = static_cast<int32_t>(downloads.size()) + 1;
    g_downloadScale = (1.0f / static_cast<float>(g_downloadTotal)) * 0.7f;
    PostMessageW(g_hMainDlg, WM_DOWNLOAD_STARTED, 0, 0);
}

// Announces one transfer to the dialog and performs it, checking the archive against its hash
// line when the list has one; false when it failed.
bool Transfer(const std::string& url, const std::wstring& fileName, const ArchiveHashes& hashes) {
    ++g_downloadDone;
    PostMessageW(g_hMainDlg, WM_DOWNLOAD_COUNT, 0, 0);
    // The file name comes from the server's patch list and is joined to TmpPatch.
    if (!IsPlainTmpName(fileName)) {
        return false;
    }
    return DownloadChecked(url, fileName, hashes);
}

}  // namespace

int PrepareTmpPatchFolder() {
    if (!EmptyTmpPatchFolder()) {
        return 0;
    }
    return MakeDirTree(AllFolder().c_str()) ? 1 : 0;
}

bool DownloadPatches(std::vector<PatchEntry>& downloads) {
    SelectDownloads(downloads);
    AnnounceDownloads(downloads);
    const ArchiveHashes hashes = ReadArchiveHashes();

    int transfers = 0;
    bool failed = false;
    std::string url;
    for (auto it = downloads.rbegin(); it != downloads.rend(); ++it) {
        WideToAnsi(it->url, url);
        ++transfers;
        if (!Transfer(url, ArchiveFileName(it->url), hashes)) {
            failed = true;
        }
    }

    if (!g_patchList.empty()) {
        const PatchEntry& newest = g_patchList.back();
        const std::wstring name = CumulativePatchName(newest.version);
        WideToAnsi(BeforeLast(newest.url, L'/') + L"/" + name, url);
        HttpClient* client = GetHttpClient();
        if (!IsPlainTmpName(name)) {
            client->cumulativePatchPresent = false;  // never probed: the later stages skip it
        } else if (client->ProbeRemoteFile(url, name)) {
            ++transfers;
            if (!Transfer(url, name, hashes)) {
                failed = true;
            }
        }
    }
    return transfers > 0 && !failed;
}
