// The repair worker thread: download, extraction, merge, backup, removal of the old patch folders,
// installation and clean-up, in this order. It tells the observer what it reached, stops at the
// first failing stage with one box, and after a success the observer offers the game's launch.
#include "repair/worker.h"

#include <memory>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "layout/folders.h"
#include "repair/copy_tree.h"
#include "repair/download_stage.h"
#include "repair/extract_stage.h"
#include "repair/install_stages.h"
#include "repair/journal.h"
#include "repair/restore.h"
#include "repair/tmp_patch.h"
#include "state/log.h"

namespace {

void FailStage(RepairObserver& observer, const wchar_t* text, const wchar_t* step,
               const FileFailure& failure) {
    LogFailure(step, failure);
    observer.RepairFailed(text);
}

// Once the backup began, a failure must not leave the client without its patch folders: they go
// back before the box is shown. The journal is cleared only when they came back whole; otherwise
// the backup and the journal stay and the next start tries again.
void FailAndRestore(RepairObserver& observer, const wchar_t* text, const wchar_t* step,
                    const FileFailure& failure) {
    LogFailure(step, failure);
    FileFailure restore;
    PutBackupBack(&restore);
    observer.RepairFailed(text);
}

// The stages after the extraction; false when one failed (its box already shown).
bool InstallPatches(const RepairPlan& plan, RepairObserver& observer) {
    FileFailure failure;

    observer.StepReached(RepairStep::MergeBegun);
    if (!MergeTempPatches(plan, &failure)) {
        FailStage(observer, L"合并patch失败", L"merge", failure);
        return false;
    }
    observer.StepReached(RepairStep::MergeDone);
    // The archives are merged: removed now, the volume's first flush does not write them.
    RemoveMergedArchives();

    observer.StepReached(RepairStep::BackupBegun);
    // The journal records every move and the whole backup before anything is removed, so that a
    // start after a crash can put it back; without that record nothing may be removed.
    if (!BackupOriginalPatches(&failure) || !MarkRemovalBegun(&failure)) {
        FailAndRestore(observer, L"备份原patch失败", L"backup", failure);
        return false;
    }
    if (!RemoveLeftoverPatches(&failure)) {
        FailAndRestore(observer, L"删除残留patch失败", L"removal", failure);
        return false;
    }
    observer.StepReached(RepairStep::RemovalDone);

    observer.StepReached(RepairStep::InstallBegun);
    if (!MoveTree(AllFolder(), DocumentsFolder(), &failure)) {
        FailAndRestore(observer, L"拷贝patch失败", L"install", failure);
        return false;
    }
    // Recorded before the success is shown: from here on no start may put the backup back.
    if (!MarkInstallComplete(&failure)) {
        FailAndRestore(observer, L"拷贝patch失败", L"recording the install", failure);
        return false;
    }
    observer.StepReached(RepairStep::InstallDone);

    observer.StepReached(RepairStep::CleanUpBegun);
    // Whatever stays behind is emptied at the next start; the journal, if it stays, reads as
    // finished.
    FileFailure cleanUp;
    if (!RemoveFinishedTmpPatch(&cleanUp)) {
        LogFailure(L"clean-up", cleanUp);
    }
    observer.StepReached(RepairStep::Repaired);
    return true;
}

void RunRepair(const RepairInputs& inputs, RepairObserver& observer) {
    RepairPlan plan;
    if (!DownloadPatches(inputs, plan, observer)) {
        // The download stage has shown and logged its own reasons.
        LogWrite(g_log, L"download failed");
        observer.RepairFailed(L"下载patch失败");
        return;
    }
    observer.StepReached(RepairStep::DownloadsDone);

    FileFailure failure;
    if (!ExtractPatches(plan, observer, &failure)) {
        FailStage(observer, L"解压patch失败", L"extraction", failure);
        return;
    }
    observer.StepReached(RepairStep::ExtractionDone);
    InstallPatches(plan, observer);
}

}  // namespace

DWORD WINAPI RepairWorker(LPVOID parameter) {
    const std::unique_ptr<RepairJob> job(static_cast<RepairJob*>(parameter));
    RunRepair(job->inputs, *job->observer);
    return 0;
}
