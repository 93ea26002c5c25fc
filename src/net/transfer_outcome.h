// What became of one transfer, for the code that asked for it to report: the network layer only
// transfers and never tells the user anything itself.
#pragma once

#include <string>

#include <curl/curl.h>

enum class TransferError {
    None,       // the transfer succeeded
    NoHandle,   // libcurl gave no easy handle: nothing can be transferred
    LocalFile,  // the file that was to receive the body could not be opened (`path`)
    Transfer,   // the transfer failed: `code`, `status` and `description` say how
};

struct TransferOutcome {
    TransferError error = TransferError::None;
    CURLcode code = CURLE_OK;
    long status = 0;            // the final HTTP status; 0 when no answer arrived
    std::wstring description;   // what failed, as a box shows it: libcurl's text or "HTTP 404"
    std::wstring path;          // the local file of a LocalFile failure
    bool writeRefused = false;  // a write callback refused data because writing was not enabled

    bool Succeeded() const { return error == TransferError::None; }
};

// True for a final status in 200..299.
bool IsSuccessStatus(long status);
// The final status of the last transfer on the handle; 0 when there was none.
long ResponseStatus(CURL* handle);

// The outcome of a transfer that libcurl ended with `result`. A completed transfer whose status is
// not 2xx failed too; an error status also explains a write error (error pages are refused), so
// it is named first. A redirect whose target failed is told by libcurl's text.
TransferOutcome OutcomeOf(CURL* handle, CURLcode result);
// A transfer that failed for a reason of the caller's own (an archive that fails its hash line).
TransferOutcome FailedTransfer(const std::wstring& description);
