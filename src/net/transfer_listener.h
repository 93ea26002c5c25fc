// What the code that asked for a file transfer hears of it while it runs. The network layer
// knows nothing of the dialog or the log: its caller decides what progress and retries mean.
#pragma once

#include <cstdint>
#include <string>

class TransferListener {
  public:
    // The body's bytes received so far of its whole size, once the size is known; a continued
    // body counts the bytes it already held.
    virtual void OnProgress(int64_t received, int64_t total) = 0;
    // An attempt that failed and was to be retried (the last of them ends the transfer when the
    // attempts are spent): its number (from 1), why it failed and how many bytes the file holds.
    virtual void OnAttemptFailed(int attempt, const std::wstring& reason, int64_t held) = 0;

  protected:
    ~TransferListener() = default;
};
