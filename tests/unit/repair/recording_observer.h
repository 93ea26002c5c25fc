// An observer that records what a repair reports, in the words the user would read, so that the
// stages can be run and checked without a dialog.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fsutil/text.h"
#include "repair/repair_observer.h"
#include "ui/transfer_boxes.h"

namespace qxtest {

class RecordingObserver : public RepairObserver {
  public:
    void DownloadsAnnounced(int total) override { downloadsAnnounced = total; }
    void DownloadStarted(int number) override { downloadsStarted.push_back(number); }
    void DownloadProgress(int number, int64_t received, int64_t total) override {
        lastProgress = {number, received == total};
    }
    void ExtractionsAnnounced(int total) override { extractionsAnnounced = total; }
    void ExtractionStarted(int number) override { extractionsStarted.push_back(number); }
    void ExtractionProgress(int filesWritten, int fileCount) override {
        extractionProgress.emplace_back(filesWritten, fileCount);
    }
    void StepReached(RepairStep step) override { steps.push_back(step); }
    void DownloadFailed(const TransferOutcome& outcome) override {
        boxes.push_back(Narrow(TransferFailureText(TransferKind::Patch, outcome)));
    }
    void ProbeFailed(const TransferOutcome& outcome) override {
        boxes.push_back(Narrow(TransferFailureText(TransferKind::Probe, outcome)));
    }
    void RepairFailed(const wchar_t* text) override { boxes.push_back(Narrow(text)); }

    int downloadsAnnounced = -1;
    std::vector<int> downloadsStarted;
    std::pair<int, bool> lastProgress{0, false};  // the transfer's number, and whether it was whole
    int extractionsAnnounced = -1;
    std::vector<int> extractionsStarted;
    std::vector<std::pair<int, int>> extractionProgress;
    std::vector<RepairStep> steps;
    std::vector<std::string> boxes;

  private:
    static std::string Narrow(const std::wstring& text) {
        std::string narrow;
        return WideToAnsi(text, narrow);
    }
};

}  // namespace qxtest
