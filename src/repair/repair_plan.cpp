// Choosing the patch archives a client lacks and planning each one's names and folders, once,
// for every stage of the repair.
#include "repair/repair_plan.h"

#include "fsutil/text.h"
#include "layout/folders.h"
#include "layout/patch_names.h"
#include "patchlist/version.h"

namespace {

const size_t kMaxPatchesWithoutLocalVersion = 8;

// Without a local version: the eight newest ordinary entries, newest first.
std::vector<PatchEntry> NewestEntries(const std::vector<PatchEntry>& patchList) {
    std::vector<PatchEntry> chosen;
    for (auto it = patchList.rbegin(); it != patchList.rend(); ++it) {
        if (chosen.size() >= kMaxPatchesWithoutLocalVersion) {
            break;
        }
        if (it->packageVersion.empty()) {
            chosen.push_back(*it);
        }
    }
    return chosen;
}

// The newest full package of the next minor version; empty when the list has none.
std::vector<PatchEntry> NextMinorPackage(const std::vector<PatchEntry>& patchList,
                                         const std::wstring& localVersion) {
    for (auto it = patchList.rbegin(); it != patchList.rend(); ++it) {
        if (!it->packageVersion.empty() && IsNextMinorVersion(localVersion, it->packageVersion)) {
            return {*it};
        }
    }
    return {};
}

// Every ordinary entry newer than the local version, newest first.
std::vector<PatchEntry> NewerEntries(const std::vector<PatchEntry>& patchList,
                                     const std::wstring& localVersion) {
    std::vector<PatchEntry> chosen;
    for (auto it = patchList.rbegin(); it != patchList.rend(); ++it) {
        if (it->packageVersion.empty() && CompareVersions(it->version, localVersion) > 0) {
            chosen.push_back(*it);
        }
    }
    return chosen;
}

// `name`, or the first of "name (2)", "name (3)"... that no item of the plan uses yet. Windows
// file names ignore case, so names that differ only in case count as one.
std::wstring UnusedName(const std::wstring& name, const std::vector<std::wstring>& used) {
    std::wstring candidate = name;
    for (int n = 2;; ++n) {
        bool taken = false;
        for (const std::wstring& other : used) {
            taken = taken || EqualsIgnoringAsciiCase(other, candidate);
        }
        if (!taken) {
            return candidate;
        }
        candidate = name + L" (" + std::to_wstring(n) + L")";
    }
}

std::string DigestOf(const std::wstring& fileName, const ArchiveHashes& hashes) {
    const auto found = hashes.find(fileName);
    return found == hashes.end() ? std::string() : found->second;
}

PlannedArchive ArchiveOf(const std::wstring& url, const std::wstring& fileName,
                         const std::wstring& folderName, const ArchiveHashes& hashes) {
    PlannedArchive archive;
    WideToAnsi(url, archive.url);
    archive.fileName = fileName;
    archive.folderName = folderName;
    archive.sha256 = DigestOf(fileName, hashes);
    return archive;
}

}  // namespace

std::vector<PatchEntry> SelectDownloads(const std::vector<PatchEntry>& patchList,
                                        const std::wstring& localVersion) {
    if (localVersion.empty()) {
        return NewestEntries(patchList);
    }
    std::vector<PatchEntry> package = NextMinorPackage(patchList, localVersion);
    return package.empty() ? NewerEntries(patchList, localVersion) : package;
}

void AppendToPlan(RepairPlan& plan, PlannedArchive archive) {
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    for (const PlannedArchive& planned : plan.archives) {
        files.push_back(planned.fileName);
        folders.push_back(planned.folderName);
    }
    archive.fileName = UnusedName(archive.fileName, files);
    archive.folderName = UnusedName(archive.folderName, folders);
    archive.path = TmpPatchPath(archive.fileName);
    archive.extractionFolder = TmpPatchPath(archive.folderName);
    plan.archives.push_back(std::move(archive));
}

RepairPlan PlanDownloads(std::vector<PatchEntry> downloads, const ArchiveHashes& hashes) {
    RepairPlan plan;
    plan.downloads = std::move(downloads);
    for (auto entry = plan.downloads.rbegin(); entry != plan.downloads.rend(); ++entry) {
        AppendToPlan(plan,
                     ArchiveOf(entry->url, ArchiveFileName(entry->url), entry->version, hashes));
    }
    return plan;
}

PlannedArchive PlanCumulativePatch(const PatchEntry& newest, const ArchiveHashes& hashes) {
    const std::wstring name = CumulativePatchName(newest.version);
    PlannedArchive archive = ArchiveOf(BeforeLast(newest.url, L'/') + L"/" + name, name,
                                       CumulativeFolderName(newest.version), hashes);
    archive.cumulative = true;
    return archive;
}
