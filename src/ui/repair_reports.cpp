// The one place that posts to the dialog. Every report of a repair becomes a private message with
// its numbers in wParam and lParam; only the speed is measured here, on the repair's own thread,
// where the transfer's byte counts arrive.
#include "ui/repair_reports.h"

#include <chrono>
#include <climits>
#include <functional>
#include <memory>

#include "platform/owners.h"
#include "ui/progress_state.h"
#include "ui/boxes.h"
#include "ui/transfer_boxes.h"

namespace {

// libcurl reports many times a second, often with nothing new since the last report, so the
// speed is measured over a window of at least this long: a true figure per second that the label
// can show for a moment.
const int64_t kSpeedWindowMs = 500;

// Where the current speed window started: the transfer's byte count and the time then.
struct SpeedWindow {
    int64_t bytes = 0;
    int64_t startMs = 0;
};
SpeedWindow g_speedWindow;

int64_t SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The growth between two reports; the label's counter is 32 bits wide.
uint32_t SaturatedDelta(double perSecond) {
    if (!(perSecond > 0.0)) {
        return 0;
    }
    return perSecond >= static_cast<double>(UINT32_MAX) ? UINT32_MAX
                                                        : static_cast<uint32_t>(perSecond);
}

// A box the dialog shows for the worker, and the event that tells the worker it was closed.
struct BoxRequest {
    std::function<void()> show;
    UniqueHandle shown;
};

void Post(UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageW(g_hMainDlg, message, wParam, lParam);
}

// Posts a step and waits until the dialog has handled it, after every report before it: what the
// dialog shows of a step is on the screen before the repair does that step's work. The event
// travels in lParam.
void PostAndWait(UINT message, WPARAM wParam) {
    const UniqueHandle handled(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!handled ||
        !PostMessageW(g_hMainDlg, message, wParam, reinterpret_cast<LPARAM>(handled.get()))) {
        return;
    }
    WaitForSingleObject(handled.get(), INFINITE);
}

// Shows the box in the dialog's turn and waits until it is closed; where no dialog takes the
// request, right here.
void ShowInTurn(std::function<void()> show) {
    auto request = std::make_unique<BoxRequest>();
    request->show = std::move(show);
    request->shown.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!request->shown ||
        !PostMessageW(g_hMainDlg, WM_REPAIR_BOX, 0, reinterpret_cast<LPARAM>(request.get()))) {
        request->show();
        return;
    }
    // The dialog owns nothing of the request: it stays here until the box has been shown. Were the
    // dialog closed first, the process ends with this thread.
    WaitForSingleObject(request->shown.get(), INFINITE);
}

class DialogObserver : public RepairObserver {
  public:
    void DownloadsAnnounced(int total) override {
        Post(WM_DOWNLOAD_STARTED, static_cast<WPARAM>(total), 0);
    }
    void DownloadStarted(int number) override {
        g_prevDlNow = 0;
        Post(WM_DOWNLOAD_COUNT, static_cast<WPARAM>(number), 0);
    }
    void DownloadProgress(int number, int64_t received, int64_t total) override {
        SampleDownloadSpeed(received, SteadyMilliseconds());
        Post(WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(PercentOf(received, total)),
             static_cast<LPARAM>(number));
    }
    void ExtractionsAnnounced(int total) override { extractions_ = total; }
    void ExtractionStarted(int number) override {
        Post(WM_EXTRACT_COUNT, static_cast<WPARAM>(number), static_cast<LPARAM>(extractions_));
    }
    void ExtractionProgress(int filesWritten, int fileCount) override {
        // The reader reports after a file was written, so fileCount is at least 1; 0 would divide.
        const int percent =
            fileCount > 0 ? static_cast<int>(static_cast<int64_t>(filesWritten) * 100 / fileCount)
                          : 100;
        Post(WM_EXTRACT_PROGRESS, static_cast<WPARAM>(percent), 0);
    }
    void StepReached(RepairStep step) override {
        PostAndWait(WM_REPAIR_STEP, static_cast<WPARAM>(step));
    }
    void DownloadFailed(const TransferOutcome& outcome) override {
        ShowInTurn([outcome] { ShowTransferFailure(TransferKind::Patch, outcome); });
    }
    void ProbeFailed(const TransferOutcome& outcome) override {
        ShowInTurn([outcome] { ShowTransferFailure(TransferKind::Probe, outcome); });
    }
    void RepairFailed(const wchar_t* text) override {
        const std::wstring copy(text);
        ShowInTurn([copy] { ShowNotice(copy); });
    }

  private:
    int extractions_ = 0;
};

}  // namespace

RepairObserver& DialogRepairObserver() {
    static DialogObserver observer;
    return observer;
}

void AcknowledgeStep(LPARAM lParam) {
    if (lParam != 0) {
        SetEvent(reinterpret_cast<HANDLE>(lParam));
    }
}

void ShowRequestedBox(LPARAM lParam) {
    auto* request = reinterpret_cast<BoxRequest*>(lParam);
    request->show();
    SetEvent(request->shown.get());
}

void SampleDownloadSpeed(int64_t bytesNow, int64_t milliseconds) {
    // The transfer's first report, or a count below the window's start (a transfer started again
    // from zero): a new window. The figure stays as it is until the window has passed, rather
    // than showing a speed of 0 for a transfer that has just begun.
    if (g_prevDlNow == 0 || bytesNow < g_speedWindow.bytes) {
        g_prevDlNow = bytesNow;
        g_speedWindow = SpeedWindow{bytesNow, milliseconds};
        return;
    }
    g_prevDlNow = bytesNow;
    const int64_t elapsed = milliseconds - g_speedWindow.startMs;
    if (elapsed < kSpeedWindowMs) {
        return;
    }
    const double perSecond =
        static_cast<double>(bytesNow - g_speedWindow.bytes) * 1000.0 / static_cast<double>(elapsed);
    g_speedBytes = SaturatedDelta(perSecond);
    g_speedWindow = SpeedWindow{bytesNow, milliseconds};
}

int PercentOf(int64_t received, int64_t total) {
    if (total <= 0 || received <= 0) {
        return 0;
    }
    if (received >= total) {
        return 100;
    }
    return static_cast<int>(static_cast<double>(received) / static_cast<double>(total) * 100.0);
}
