// The dialog's handlers of the five progress messages. The dialog thread alone turns per-file and
// per-archive percentages into bar positions; the counters and scales it reads were written by
// the worker before it posted the message.
#include "ui/progress_messages.h"

#include <cmath>
#include <cwchar>

#include "state/dialog_controls.h"
#include "state/progress_state.h"
#include "state/resource.h"

namespace {

const size_t kTextSize = 100;
const int kExtractionEnd = 90;

void SetBarPosition(HWND dialog, int position) {
    if (HWND bar = GetDlgItem(dialog, IDC_PROGRESS)) {
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
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
    const int position = static_cast<int>(lroundf(clamped * scale)) + g_progressBase;
    SetBarPosition(dialog, position);
    if (percent >= 100) {
        doneLatch = true;
        g_progressBase = position;
        return true;
    }
    return false;
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
    const uint32_t percent = PercentOf(wParam);
    StepProgress(dialog, percent, g_extractScale, g_extractDoneLatch);
    // Every finished archive pins the bar at the extraction phase's end, whatever the rounding
    // of the steps before, so that the worker's closing steps end at exactly 100.
    if (percent >= 100) {
        g_progressBase = kExtractionEnd;
        SetBarPosition(dialog, kExtractionEnd);
    }
}

void OnExtractCount(HWND dialog) {
    wchar_t text[kTextSize] = {};
    std::swprintf(text, kTextSize, L"正在解压补丁文件(%d/%d)", static_cast<int>(g_extractDone),
                  static_cast<int>(g_extractTotal));
    SetControlText(dialog, IDC_STATUS, text);
}

void OnDownloadCount(HWND dialog) {
    wchar_t text[kTextSize] = {};
    std::swprintf(text, kTextSize, L"(%d/%d)，速度：", static_cast<int>(g_downloadDone),
                  static_cast<int>(g_downloadTotal));
    SetControlText(dialog, IDC_DOWNLOAD_COUNT, text);
}

void OnDownloadStarted(HWND dialog) {
    SetControlText(dialog, IDC_STATUS, L"正在下载补丁文件");
}
