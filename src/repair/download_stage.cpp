// The first repair stage: the plan of the archives the client lacks, their downloads into TmpPatch
// oldest first, then the cumulative patch of the newest release line when the server has it.
// Also prepares the empty TmpPatch folder at start-up.
#include "repair/download_stage.h"

#include "fsutil/dirtree.h"
#include "layout/folders.h"
#include "net/http_client.h"
#include "net/transfer_listener.h"
#include "platform/win32.h"
#include "repair/archive_hash.h"
#include "repair/tmp_patch.h"
#include "state/log.h"

namespace {

const wchar_t kMismatchText[] = L"SHA-256 mismatch";

// What became of one archive.
enum class Fetched { Ok, Failed, FailedItsHash };

// Hands the progress of one archive's transfer to the observer under the archive's number, and
// writes each retry to the log.
class ArchiveTransfer : public TransferListener {
  public:
    ArchiveTransfer(RepairObserver& observer, int number, const std::wstring& path)
        : observer_(observer), number_(number), path_(path) {}

    void OnProgress(int64_t received, int64_t total) override {
        observer_.DownloadProgress(number_, received, total);
    }
    void OnAttemptFailed(int attempt, const std::wstring& reason, int64_t held) override {
        LogWrite(g_log, L"download attempt %d of %ls failed (%ls); %ls bytes held", attempt,
                 path_.c_str(), reason.c_str(), std::to_wstring(held).c_str());
    }

  private:
    RepairObserver& observer_;
    int number_;
    const std::wstring& path_;
};

// One transfer of the archive into its file, its failure logged and shown.
bool Download(const PlannedArchive& archive, int number, RepairObserver& observer) {
    ArchiveTransfer listener(observer, number, archive.path);
    const TransferOutcome outcome =
        GetHttpClient()->DownloadToFile(archive.url, archive.path, &listener);
    if (outcome.writeRefused) {
        LogWrite(g_log, L"downpatch callback quite!!!");
    }
    if (outcome.Succeeded()) {
        return true;
    }
    LogWrite(g_log, L"download of %ls failed: %ls", archive.path.c_str(),
             outcome.description.c_str());
    observer.DownloadFailed(outcome);
    return false;
}

// Downloads the archive; when the list has a hash line for it, a mismatch deletes it and fetches
// it once more from zero, and a second mismatch deletes it too and fails it.
Fetched Fetch(const PlannedArchive& archive, int number, bool listHasHashes,
              RepairObserver& observer) {
    // The file name comes from the server's patch list and is joined to TmpPatch.
    if (!IsPlainTmpName(archive.fileName)) {
        LogWrite(g_log, L"archive %ls not fetched: not a plain name in TmpPatch",
                 archive.fileName.c_str());
        return Fetched::Failed;
    }
    if (!Download(archive, number, observer)) {
        return Fetched::Failed;
    }
    if (archive.sha256.empty()) {
        // A list without any hash line is an older publisher's: nothing to say, and a run that
        // has nothing to log leaves the log file alone.
        if (listHasHashes) {
            LogWrite(g_log, L"no SHA-256 line for %ls: not checked", archive.fileName.c_str());
        }
        return Fetched::Ok;
    }
    for (int round = 1; round <= 2; ++round) {
        if (MatchesDigest(archive.path, archive.sha256)) {
            return Fetched::Ok;
        }
        DeleteFileW(archive.path.c_str());
        if (round == 1 && !Download(archive, number, observer)) {
            return Fetched::Failed;
        }
    }
    observer.DownloadFailed(FailedTransfer(kMismatchText));
    return Fetched::FailedItsHash;
}

// Whether the server has the cumulative patch, asked with a header-only request whose header
// lines land beside it as "<name>_tmp". A probe that cannot even store them says so in a box;
// any other failure only means there is none.
bool ServerHasCumulativePatch(const PlannedArchive& cumulative, RepairObserver& observer) {
    if (!IsPlainTmpName(cumulative.fileName)) {
        return false;
    }
    TransferOutcome outcome;
    const bool present = GetHttpClient()->ProbeRemoteFile(
        cumulative.url, TmpPatchPath(cumulative.fileName + L"_tmp"), &outcome);
    if (outcome.writeRefused) {
        LogWrite(g_log, L"RemoteFileExistDCallBack callback quite!!!");
    }
    if (outcome.error == TransferError::LocalFile) {
        observer.ProbeFailed(outcome);
    }
    return present;
}

// With a signed list every archive needs its hash line: one without is refused, and logged.
bool VouchedFor(const PlannedArchive& archive, const RepairInputs& inputs) {
    if (!inputs.hashesRequired || !archive.sha256.empty()) {
        return true;
    }
    LogWrite(g_log, L"archive %ls refused: the signed patch list has no SHA-256 line for it",
             archive.fileName.c_str());
    return false;
}

bool AllVouchedFor(const RepairPlan& plan, const RepairInputs& inputs) {
    bool all = true;
    for (const PlannedArchive& archive : plan.archives) {
        all = VouchedFor(archive, inputs) && all;
    }
    return all;
}

}  // namespace

bool PrepareTmpPatchFolder() {
    return EmptyTmpPatchFolder() && MakeDirTree(AllFolder().c_str());
}

bool DownloadPatches(const RepairInputs& inputs, RepairPlan& plan, RepairObserver& observer) {
    plan = PlanDownloads(SelectDownloads(inputs.patchList, inputs.localVersion), inputs.hashes);
    // The extra one is the cumulative patch, counted whether or not the server has it.
    observer.DownloadsAnnounced(static_cast<int>(plan.downloads.size()) + 1);
    const bool listHasHashes = !inputs.hashes.empty();
    if (!AllVouchedFor(plan, inputs)) {
        return false;  // nothing of the set is fetched
    }

    int transfers = 0;
    bool failed = false;
    for (const PlannedArchive& archive : plan.archives) {
        observer.DownloadStarted(++transfers);
        const Fetched fetched = Fetch(archive, transfers, listHasHashes, observer);
        if (fetched == Fetched::FailedItsHash) {
            return false;  // the set is not what its publisher made: nothing more of it
        }
        failed = failed || fetched == Fetched::Failed;
    }

    if (!inputs.patchList.empty()) {
        const PlannedArchive cumulative =
            PlanCumulativePatch(inputs.patchList.back(), inputs.hashes);
        if (ServerHasCumulativePatch(cumulative, observer)) {
            if (!VouchedFor(cumulative, inputs)) {
                return false;
            }
            plan.cumulativePatchPresent = true;
            AppendToPlan(plan, cumulative);
            observer.DownloadStarted(++transfers);
            if (Fetch(plan.archives.back(), transfers, listHasHashes, observer) != Fetched::Ok) {
                failed = true;
            }
        }
    }
    return transfers > 0 && !failed;
}
