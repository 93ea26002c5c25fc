// The second mode: removing the browser plug-in (an ActiveX control in the system folder), its
// registration key and the browser's download record, reporting the outcome in message boxes.
#include "plugin/web_plugin.h"

#include <string>

#include "fsutil/paths.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

const wchar_t kControlFileName[] = L"ZURuzezuZ.ocx";
const wchar_t kProgIdKey[] = L"ZURUZEZUZ.ZURuzezuZCtrl.1";
const wchar_t kDownloadRecord[] = L"C:\\WINDOWS\\Downloaded Program Files\\ZURuzezuZ.inf";

const wchar_t kTextNotInstalled[] = L"您并未安装Zorvan手游网页版插件";
const wchar_t kTextInUseFirst[] = L"需卸载的文件正在被使用，请关闭浏览器后再点击重试";
const wchar_t kTextInUseLater[] = L"需卸载的文件正在被使用，请确保已结束浏览器进程后再点击重试";
const wchar_t kTextGaveUp[] = L"尝试卸载Zorvan手游网页版插件文件失败";
const wchar_t kTextUnregisterFailed[] = L"可能因为权限的问题，卸载Zorvan网页版插件失败";
const wchar_t kTextSuccess[] = L"卸载Zorvan手游网页版插件成功，请您重新打开浏览器更新插件";
const wchar_t kCaptionWarning[] = L"警告";
const wchar_t kCaptionInUse[] = L"文件正在使用";
const wchar_t kCaptionProduct[] = L"Zorvan手游网页版";

const int kMaxAttempts = 10000;
// The first five in-use boxes ask to close the browser; later ones insist on its process.
const int kPoliteAttempts = 5;
const DWORD kProbeRetryPauseMs = 500;
const DWORD kDeleteRetryPauseMs = 1000;

void ShowBox(MessageBoxFn box, const wchar_t* text, const wchar_t* caption) {
    box(nullptr, text, caption, MB_OK | MB_TOPMOST);
}

// Asks the user to free the file; true for Retry.
bool AskRetryInUse(MessageBoxFn box, int attempt) {
    const wchar_t* text = attempt < kPoliteAttempts ? kTextInUseFirst : kTextInUseLater;
    return box(nullptr, text, kCaptionInUse, MB_RETRYCANCEL | MB_TOPMOST) == IDRETRY;
}

std::wstring ControlFilePath() {
    wchar_t systemDir[MAX_PATH] = {};
    GetSystemDirectoryW(systemDir, MAX_PATH);
    systemDir[MAX_PATH - 1] = L'\0';
    return std::wstring(systemDir) + L"\\" + kControlFileName;
}

// An exclusive open succeeds only when no browser holds the file.
bool CanOpenExclusively(const std::wstring& path) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

enum class Outcome { GoOn, Stop };

// Waits, with the user's help, until the control file is free. Shows the gave-up box itself.
Outcome WaitUntilFileIsFree(const std::wstring& path, MessageBoxFn box) {
    for (int attempt = 0;; ++attempt) {
        if (CanOpenExclusively(path)) {
            return Outcome::GoOn;
        }
        if (attempt >= kMaxAttempts - 1) {
            ShowBox(box, kTextGaveUp, kCaptionWarning);
            return Outcome::Stop;
        }
        if (!AskRetryInUse(box, attempt)) {
            return Outcome::Stop;
        }
        Sleep(kProbeRetryPauseMs);
    }
}

// Runs "regsvr32 /u" on the control and waits for it (it shows its own result box).
Outcome Unregister(const std::wstring& path, MessageBoxFn box) {
    const std::wstring parameters = L"/u \"" + path + L"\"";
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = L"regsvr32";
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOW;
    if (!ShellExecuteExW(&info) || !info.hProcess) {
        ShowBox(box, kTextUnregisterFailed, kCaptionWarning);
        return Outcome::Stop;
    }
    const UniqueHandle regsvr32(info.hProcess);
    WaitForSingleObject(regsvr32.get(), INFINITE);
    return Outcome::GoOn;
}

// Shows the box that ends the removal when the file could not be deleted.
void ReportDeleteFailure(DeleteResult result, MessageBoxFn box) {
    if (result == DeleteResult::NotFound) {
        ShowBox(box, kTextNotInstalled, kCaptionWarning);
    }
    if (result == DeleteResult::GaveUp) {
        ShowBox(box, kTextGaveUp, kCaptionWarning);
    }
}

}  // namespace

DeleteResult DeleteControlFile(const std::wstring& path, DeleteFileFn deleteFile,
                               MessageBoxFn box) {
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        if (deleteFile(path.c_str())) {
            return DeleteResult::Deleted;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return DeleteResult::NotFound;
        }
        if (error != ERROR_ACCESS_DENIED) {
            continue;  // transient: try again at once
        }
        if (attempt >= kMaxAttempts - 1) {
            return DeleteResult::GaveUp;
        }
        if (!AskRetryInUse(box, attempt)) {
            return DeleteResult::Cancelled;
        }
        Sleep(kDeleteRetryPauseMs);
    }
    // Every attempt failed: the file is still there, so this is no success.
    return DeleteResult::GaveUp;
}

bool RemoveWebPlugin(int mode, MessageBoxFn box) {
    const std::wstring path = ControlFilePath();
    if (!PathExists(path)) {
        ShowBox(box, kTextNotInstalled, kCaptionWarning);
        return false;
    }
    if (WaitUntilFileIsFree(path, box) == Outcome::Stop) {
        return false;
    }
    if (mode == 1 && Unregister(path, box) == Outcome::Stop) {
        return false;
    }

    const DeleteResult deleted = DeleteControlFile(path, DeleteFileW, box);
    if (deleted != DeleteResult::Deleted) {
        ReportDeleteFailure(deleted, box);
        return false;
    }
    // regsvr32 removes the registration itself; otherwise the key is ours to delete.
    if (mode != 1 && SHDeleteKeyW(HKEY_CLASSES_ROOT, kProgIdKey) != ERROR_SUCCESS) {
        ShowBox(box, kTextGaveUp, kCaptionWarning);
        return false;
    }
    if (PathExists(kDownloadRecord)) {
        DeleteFileW(kDownloadRecord);
    }
    ShowBox(box, kTextSuccess, kCaptionProduct);
    return true;
}
