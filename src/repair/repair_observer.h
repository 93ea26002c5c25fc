// What a repair tells the one who shows it (the dialog): what happened, as it happens, and the
// boxes it needs. The stages never reach the dialog themselves.
#pragma once

#include <cstdint>

#include "net/transfer_outcome.h"

// The steps of a repair the dialog shows beyond its per-file progress.
enum class RepairStep {
    DownloadsDone,  // the download count and speed go
    ExtractionDone,
    MergeBegun,
    MergeDone,
    BackupBegun,
    RemovalDone,
    InstallBegun,
    InstallDone,
    CleanUpBegun,
    Repaired,  // the launch is offered
};

class RepairObserver {
  public:
    // The download stage announces how many transfers it counts (the cumulative patch always
    // among them), then each transfer as it starts (numbered from 1) and its progress.
    virtual void DownloadsAnnounced(int total) = 0;
    virtual void DownloadStarted(int number) = 0;
    virtual void DownloadProgress(int number, int64_t received, int64_t total) = 0;
    // The same for the extraction: archives, then files written of each archive.
    virtual void ExtractionsAnnounced(int total) = 0;
    virtual void ExtractionStarted(int number) = 0;
    virtual void ExtractionProgress(int filesWritten, int fileCount) = 0;
    virtual void StepReached(RepairStep step) = 0;

    // The boxes, each shown before the repair goes on: a patch download that failed, the probe
    // for the cumulative patch that could not even start, and the repair's own failure.
    virtual void DownloadFailed(const TransferOutcome& outcome) = 0;
    virtual void ProbeFailed(const TransferOutcome& outcome) = 0;
    virtual void RepairFailed(const wchar_t* text) = 0;

  protected:
    ~RepairObserver() = default;
};
