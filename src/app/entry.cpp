// The program's entry: the single-instance guard, the choice between the repair and the plug-in
// removal, and the start-up checks in their fixed order up to the modal repair dialog. Every
// failure shows one box and ends the process; the exit code is 0 on every path.
#include <cstdint>
#include <string>
#include <vector>

#include "client/game_process.h"
#include "client/integrity.h"
#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "patchlist/fetch_patch_list.h"
#include "patchlist/patch_list.h"
#include "platform/win32.h"
#include "plugin/web_plugin.h"
#include "repair/download_stage.h"
#include "repair/restore.h"
#include "state/app_state.h"
#include "ui/progress_state.h"
#include "ui/resource.h"
#include "ui/boxes.h"
#include "ui/repair_dialog.h"
#include "ui/transfer_boxes.h"

namespace {

const wchar_t kMutexName[] = L"__QXWEB_HELPER_MUTEX_NAME__";
const wchar_t kPluginKeyword[] = L"__VOREZ_EREDID_IZAZUZEZOD_URIVID__";
const wchar_t kCaptionHint[] = L"提示";
const wchar_t kCaptionStartFailed[] = L"启动失败";

const size_t kTokenChars = 256;
const DWORD kCurrentDirChars = 260;

// True when another copy already holds the guard. The handle is kept open on purpose: the
// guard lasts as long as this process.
bool AnotherCopyIsRunning() {
    SetLastError(ERROR_SUCCESS);
    CreateMutexW(nullptr, FALSE, kMutexName);
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

// The plug-in removal is selected by the keyword followed by a number. The token is read with a
// bounded conversion: a longer word fills the buffer only in part, and since it is longer than
// the keyword it can never equal it.
bool IsPluginRemoval(const wchar_t* cmdLine, int& mode) {
    if (!cmdLine) {
        return false;
    }
    wchar_t token[kTokenChars] = {};
    int number = 0;
    if (swscanf(cmdLine, L"%255ls %d", token, &number) != 2) {
        return false;
    }
    if (wcscmp(token, kPluginKeyword) != 0) {
        return false;
    }
    mode = number;
    return true;
}

// The process's current directory, where the start-up checks the client's main files and looks
// for its running game clients (the tool may have been started from elsewhere).
std::wstring CurrentDirectory() {
    wchar_t currentDir[kCurrentDirChars] = {};
    GetCurrentDirectoryW(kCurrentDirChars, currentDir);
    return currentDir;
}

// Finds the game clients running from the folder and, after asking, ends them. Returns false when
// start-up has to stop here.
bool EndRunningGameClients(const std::wstring& folder) {
    std::vector<uint32_t> pids;
    if (!FindGameProcessesBySnapshot(folder, pids)) {
        FindGameProcessesByEnum(folder, pids);
    }
    if (pids.empty()) {
        return true;
    }

    if (MessageBoxW(
            GetForegroundWindow(),
            L"当前有游戏客户端进程正在运行中，需结束游戏进程才能使用本工具。是否立即结束进程？",
            kCaptionHint, MB_YESNO) != IDYES) {
        return false;
    }
    if (TerminateGameProcesses(pids) != pids.size()) {
        MessageBoxW(GetForegroundWindow(), L"非常抱歉，结束进程失败", kCaptionStartFailed, MB_OK);
        return false;
    }
    return true;
}

// The one box of a restore that could not finish: the item that did not come back and why. The
// start-up goes on; the next start tries again.
void ShowRestoreFailure(const FileFailure& failure) {
    // A failed copy names the item in Documents that did not come back, anything else its path.
    const std::wstring& item = failure.target.empty() ? failure.path : failure.target;
    ShowNotice(L"恢复原补丁失败：" + item + L"\n" + SystemErrorText(failure.error));
}

bool EnsureDocumentsFolder() {
    const std::wstring documents = DocumentsFolder();
    return IsDirectory(documents) || MakeDirTree(documents.c_str());
}

void RunRepairStartup(HINSTANCE hInstance) {
    g_exeDir = ExecutableFolder();
    const std::wstring currentDirectory = CurrentDirectory();
    if (!CheckResourceIntegrity(currentDirectory)) {
        ShowNotice(L"校验资源完整性失败，请重新安装客户端");
        return;
    }
    if (!EndRunningGameClients(currentDirectory)) {
        return;
    }
    // A repair cut short after it began removing the patch folders left its backup in TmpPatch:
    // it goes back once no game holds the client's files, and before anything that needs the
    // network, so an offline start recovers too.
    FileFailure failure;
    if (!RecoverInterruptedRepair(&failure)) {
        ShowRestoreFailure(failure);
    }
    if (!FetchPatchList(g_exeDir, PatchListBoxes())) {
        ShowNotice(L"获取patchList失败");
        return;
    }
    g_actionMode = ACTION_REPAIR;
    if (!g_patchList.empty()) {
        g_latestVersionText = g_patchList.back().version;
    }
    // A backup that could not go back stays in TmpPatch for the next start.
    if (!PrepareTmpPatchFolder()) {
        ShowNotice(L"创建Patch临时文件夹失败");
        return;
    }
    if (!EnsureDocumentsFolder()) {
        ShowNotice(L"创建Patch文件夹失败");
        return;
    }
    DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_REPAIR), nullptr, RepairDlgProc, 0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR lpCmdLine,
                    int /*nCmdShow*/) {
    if (AnotherCopyIsRunning()) {
        MessageBoxW(nullptr, L"当前已经有另一个修复工具正在运行", kCaptionStartFailed, MB_OK);
        return 0;
    }
    int pluginMode = 0;
    if (IsPluginRemoval(lpCmdLine, pluginMode)) {
        RemoveWebPlugin(pluginMode, MessageBoxW);
        return 0;
    }
    RunRepairStartup(hInstance);
    return 0;
}
