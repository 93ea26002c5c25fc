// Building the outcome of a transfer from what libcurl reports about it.
#include "net/transfer_outcome.h"

#include "fsutil/text.h"

bool IsSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

long ResponseStatus(CURL* handle) {
    long status = 0;
    if (handle == nullptr ||
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return 0;
    }
    return status;
}

TransferOutcome OutcomeOf(CURL* handle, CURLcode result) {
    TransferOutcome outcome;
    outcome.code = result;
    outcome.status = ResponseStatus(handle);
    const long status = outcome.status;
    if (status != 0 && !IsSuccessStatus(status) && (status >= 400 || result == CURLE_OK)) {
        outcome.error = TransferError::Transfer;
        outcome.description = L"HTTP " + std::to_wstring(status);
    } else if (result != CURLE_OK) {
        outcome.error = TransferError::Transfer;
        AnsiToWide(curl_easy_strerror(result), outcome.description);
    }
    return outcome;
}

TransferOutcome FailedTransfer(const std::wstring& description) {
    TransferOutcome outcome;
    outcome.error = TransferError::Transfer;
    outcome.description = description;
    return outcome;
}
