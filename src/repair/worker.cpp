// The repair worker thread: download, extraction, merge, backup, removal of the old patch folders,
// installation copy and clean-up, in this order. The first failing stage ends the run with one
// message box; a successful run turns the dialog's button into the game launch.
#include "repair/worker.h"

#include <string>
#include <vector>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "layout/folders.h"
#include "patchlist/patch_entry.h"
#include "repair/copy_tree.h"
#include "repair/download_stage.h"
#include "repair/extract_stage.h"
#include "repair/install_stages.h"
#include "repair/journal.h"
#include "repair/restore.h"
#include "repair/tmp_patch.h"
#include "state/dialog_controls.h"
#include "state/log.h"
#include "state/progress_state.h"
#include "state/resource.h"

namespace {

HWND Control(int id) {
    return GetDlgItem(g_hMainDlg, id);
}

void ShowFailure(const wchar_t* text) {
    MessageBoxW(GetForegroundWindow(), text, L"提示", MB_OK);
}

void SetStatus(HWND status, const wchar_t* text) {
    if (status) {
        SetWindowTextW(status, text);
    }
}

// Whole-step advance of the bar; the base moves only when the bar exists.
void AdvanceProgress(HWND progress, int increment) {
    if (!progress) {
        return;
    }
    g_progressBase += increment;
    SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(g_progressBase), 0);
}

void FailStage(const wchar_t* text, const wchar_t* step, const FileFailure& failure) {
    LogFailure(step, failure);
    ShowFailure(text);
}

// Once the backup began, a failure must not leave the client without its patch folders: they go
// back before the box is shown. The journal is cleared only when they came back whole; otherwise
// the backup and the journal stay and the next start tries again.
void FailAndRestore(const wchar_t* text, const wchar_t* step, const FileFailure& failure) {
    LogFailure(step, failure);
    FileFailure restore;
    PutBackupBack(&restore);
    ShowFailure(text);
}

// The repaired state: the button turns into the game launch, the hint replaces the progress panel.
void ShowRepaired(HWND progress, HWND status) {
    EnableControl(g_hMainDlg, IDC_ACTION, TRUE);
    SetControlText(g_hMainDlg, IDC_ACTION, L"启动游戏");
    if (progress && status) {
        ShowWindow(progress, SW_HIDE);
        ShowWindow(status, SW_HIDE);
    }
    ShowControl(g_hMainDlg, IDC_HINT, SW_SHOW);
    SetControlText(g_hMainDlg, IDC_HINT, L"修复成功！可启动游戏。");
}

// The stages after the extraction; false when one failed (its box already shown).
bool InstallPatches(const std::vector<PatchEntry>& downloads) {
    HWND progress = Control(IDC_PROGRESS);
    HWND status = Control(IDC_STATUS);
    FileFailure failure;

    SetStatus(status, L"正在合并临时补丁");
    if (!MergeTempPatches(downloads, &failure)) {
        FailStage(L"合并patch失败", L"merge", failure);
        return false;
    }
    AdvanceProgress(progress, 3);
    RemoveMergedArchives();

    SetStatus(status, L"正在备份原补丁");
    // The journal records every move and the whole backup before anything is removed, so that a
    // start after a crash can put it back; without that record nothing may be removed.
    if (!BackupOriginalPatches(&failure) || !MarkRemovalBegun(&failure)) {
        FailAndRestore(L"备份原patch失败", L"backup", failure);
        return false;
    }
    if (!RemoveLeftoverPatches(&failure)) {
        FailAndRestore(L"删除残留patch失败", L"removal", failure);
        return false;
    }
    AdvanceProgress(progress, 3);

    SetStatus(status, L"正在安装新补丁");
    if (!MoveTree(AllFolder(), DocumentsFolder(), &failure)) {
        FailAndRestore(L"拷贝patch失败", L"install", failure);
        return false;
    }
    // Recorded before the success is shown: from here on no start may put the backup back.
    if (!MarkInstallComplete(&failure)) {
        FailAndRestore(L"拷贝patch失败", L"recording the install", failure);
        return false;
    }
    AdvanceProgress(progress, 3);

    SetStatus(status, L"正在删除临时文件");
    // Whatever stays behind is emptied at the next start; the journal, if it stays, reads as
    // finished.
    FileFailure cleanUp;
    if (!RemoveFinishedTmpPatch(&cleanUp)) {
        LogFailure(L"clean-up", cleanUp);
    }

    g_actionMode = ACTION_LAUNCH;
    AdvanceProgress(progress, 1);
    ShowRepaired(progress, status);
    return true;
}

void RunRepair() {
    std::vector<PatchEntry> downloads;
    if (!DownloadPatches(downloads)) {
        // The transfer layer has shown and logged its own reason.
        LogWrite(g_log, L"download failed");
        ShowFailure(L"下载patch失败");
        return;
    }
    ShowControl(g_hMainDlg, IDC_DOWNLOAD_COUNT, SW_HIDE);
    ShowControl(g_hMainDlg, IDC_DOWNLOAD_SPEED, SW_HIDE);

    FileFailure failure;
    if (!ExtractPatches(downloads, &failure)) {
        FailStage(L"解压patch失败", L"extraction", failure);
        return;
    }
    InstallPatches(downloads);
}

}  // namespace

DWORD WINAPI RepairWorker(LPVOID /*parameter*/) {
    RunRepair();
    return 0;
}
