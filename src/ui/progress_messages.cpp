// The dialog's handlers of a repair's messages. Each file adds its share of the download phase's
// 70 points, each archive its share of the extraction's 20; the extraction ends at exactly 90,
// the merge, the backup and the install add 3 each and the clean-up 1, so a repair ends at 100.
// The bar only moves forward: a file fetched again, or a phase whose rounded shares add up to more
// than its points, holds the bar where it is.
#include "ui/progress_messages.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "repair/repair_observer.h"
#include "ui/dialog_controls.h"
#include "ui/progress_state.h"
#include "ui/resource.h"

namespace {

const size_t kTextSize = 100;
// Where the extraction phase ends; the download and the extraction never pass it.
const int kExtractionEnd = 90;
const int kMergeStep = 3;
const int kBackupStep = 3;
const int kInstallStep = 3;
const int kCleanUpStep = 1;

// Moves the bar to the position, or leaves it where it is when it would move back.
void SetBarPosition(HWND dialog, int position) {
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    if (bar == nullptr) {
        return;
    }
    g_progressShown = std::max(g_progressShown, position);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(g_progressShown), 0);
}

// Moves the bar within the current file or archive. Its 100 % is folded into the base once;
// the first notification after that (the next file's start) only clears the latch. True when
// this notification folded the file in.
bool StepProgress(HWND dialog, uint32_t percent, float scale, bool& doneLatch) {
    if (doneLatch) {
        doneLatch = percent >= 100;
        return false;
    }
    // A percentage above 100 (an over-long body) would push the bar past the file's share.
    const float clamped = static_cast<float>(percent > 100 ? 100 : percent);
    const int position =
        std::min(static_cast<int>(lroundf(clamped * scale)) + g_progressBase, kExtractionEnd);
    SetBarPosition(dialog, position);
    if (percent >= 100) {
        doneLatch = true;
        g_progressBase = position;
        return true;
    }
    return false;
}

// A whole step of the repair's closing stages; the base moves only when the bar exists.
void AdvanceProgress(HWND dialog, int increment) {
    if (GetDlgItem(dialog, IDC_PROGRESS) == nullptr) {
        return;
    }
    g_progressBase += increment;
    SetBarPosition(dialog, g_progressBase);
}

void UpdateSpeedLabel(HWND dialog, uint32_t percent) {
    const uint32_t bytes = g_speedBytes;
    if (bytes == g_shownSpeedBytes) {
        return;
    }
    wchar_t text[kTextSize] = {};
    if (percent < 100) {
        FormatSpeedText(bytes, text, kTextSize);
    }
    SetControlText(dialog, IDC_DOWNLOAD_SPEED, text);
    g_shownSpeedBytes = bytes;
}

uint32_t PercentOf(WPARAM wParam) {
    return static_cast<uint32_t>(wParam);
}

// The repaired state: the launch is offered, the hint replaces the progress panel.
void ShowRepaired(HWND dialog) {
    g_actionMode = ACTION_LAUNCH;
    AdvanceProgress(dialog, kCleanUpStep);
    EnableControl(dialog, IDC_ACTION, TRUE);
    SetControlText(dialog, IDC_ACTION, L"启动游戏");
    ShowProgressPanel(dialog, SW_HIDE);
    ShowControl(dialog, IDC_HINT, SW_SHOW);
    SetControlText(dialog, IDC_HINT, L"修复成功！可启动游戏。");
}

}  // namespace

void FormatSpeedText(uint32_t bytesPerSecond, wchar_t* text, size_t size) {
    const float kb = static_cast<float>(bytesPerSecond) * 0.0009765625f;
    float value = kb;
    const wchar_t* unit = L"KB";
    if (kb >= 1024.0f) {
        value = kb * 0.0009765625f;
        unit = L"MB";
    }
    const float figure = static_cast<float>(static_cast<int>(value * 100.0f)) / 100.0f;
    std::swprintf(text, size, L"%.2f%ls/s", static_cast<double>(figure), unit);
}

void OnDownloadProgress(HWND dialog, WPARAM wParam, LPARAM lParam) {
    const uint32_t percent = PercentOf(wParam);
    const auto transfer = static_cast<int32_t>(lParam);
    // A transfer already folded in is being fetched once more (its archive failed the hash
    // check, or an attempt failed after the whole body had come): the bar stays at the file's
    // end instead of counting the file twice; the speed label still follows it.
    if (transfer != g_downloadFoldedTransfer &&
        StepProgress(dialog, percent, g_downloadScale, g_downloadDoneLatch)) {
        g_downloadFoldedTransfer = transfer;
    }
    UpdateSpeedLabel(dialog, percent);
}

void OnExtractProgress(HWND dialog, WPARAM wParam) {
    StepProgress(dialog, PercentOf(wParam), g_extractScale, g_extractDoneLatch);
}

void OnExtractCount(HWND dialog, WPARAM number, LPARAM total) {
    g_extractDone = static_cast<int32_t>(number);
    g_extractTotal = static_cast<int32_t>(total);
    g_extractScale = (1.0f / static_cast<float>(g_extractTotal)) * 0.2f;
    wchar_t text[kTextSize] = {};
    std::swprintf(text, kTextSize, L"正在解压补丁文件(%d/%d)", static_cast<int>(g_extractDone),
                  static_cast<int>(g_extractTotal));
    SetControlText(dialog, IDC_STATUS, text);
}

void OnDownloadCount(HWND dialog, WPARAM number) {
    g_downloadDone = static_cast<int32_t>(number);
    wchar_t text[kTextSize] = {};
    std::swprintf(text, kTextSize, L"(%d/%d)，速度：", static_cast<int>(g_downloadDone),
                  static_cast<int>(g_downloadTotal));
    SetControlText(dialog, IDC_DOWNLOAD_COUNT, text);
}

void OnDownloadStarted(HWND dialog, WPARAM total) {
    g_downloadTotal = static_cast<int32_t>(total);
    g_downloadScale = (1.0f / static_cast<float>(g_downloadTotal)) * 0.7f;
    SetControlText(dialog, IDC_STATUS, L"正在下载补丁文件");
}

void OnRepairStep(HWND dialog, WPARAM wParam) {
    switch (static_cast<RepairStep>(wParam)) {
        case RepairStep::DownloadsDone:
            ShowControl(dialog, IDC_DOWNLOAD_COUNT, SW_HIDE);
            ShowControl(dialog, IDC_DOWNLOAD_SPEED, SW_HIDE);
            break;
        case RepairStep::ExtractionDone:
            // Whatever the rounding of the archives' shares, the extraction ends here.
            g_progressBase = kExtractionEnd;
            SetBarPosition(dialog, kExtractionEnd);
            break;
        case RepairStep::MergeBegun:
            SetControlText(dialog, IDC_STATUS, L"正在合并临时补丁");
            break;
        case RepairStep::MergeDone:
            AdvanceProgress(dialog, kMergeStep);
            break;
        case RepairStep::BackupBegun:
            SetControlText(dialog, IDC_STATUS, L"正在备份原补丁");
            break;
        case RepairStep::RemovalDone:
            AdvanceProgress(dialog, kBackupStep);
            break;
        case RepairStep::InstallBegun:
            SetControlText(dialog, IDC_STATUS, L"正在安装新补丁");
            break;
        case RepairStep::InstallDone:
            AdvanceProgress(dialog, kInstallStep);
            break;
        case RepairStep::CleanUpBegun:
            SetControlText(dialog, IDC_STATUS, L"正在删除临时文件");
            break;
        case RepairStep::Repaired:
            ShowRepaired(dialog);
            break;
    }
}
