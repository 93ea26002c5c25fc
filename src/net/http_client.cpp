// The one process-wide HTTP client: one libcurl easy handle, created on first use and never freed.
// Each operation sets the options it relies on and hands its callbacks the transfer's own state.
#include "net/http_client.h"

#include <cerrno>

#include "fsutil/file_failure.h"
#include "net/connection_options.h"
#include "net/content_encoding.h"
#include "net/http_callbacks.h"
#include "net/resumable_download.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

HttpClient* g_httpClient = nullptr;

TransferOutcome Failure(TransferError error) {
    TransferOutcome outcome;
    outcome.error = error;
    return outcome;
}

// A local file that _wfopen could not open, with the runtime's reason in the system's words.
TransferOutcome LocalFileFailure(const std::wstring& path, int err) {
    TransferOutcome outcome = Failure(TransferError::LocalFile);
    outcome.path = path;
    outcome.description = SystemErrorText(Win32ErrorFromCrt(err));
    return outcome;
}

// The options of a transfer of a body, set again by every operation: the handle is shared, and
// an option one operation set must not change the next.
void SetBodyTransfer(CURL* handle, const std::string& url, TransferState& state,
                     curl_write_callback onWrite) {
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(handle, CURLOPT_HEADER, 0L);
    curl_easy_setopt(handle, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &state);
    SetStallLimit(handle);
}

}  // namespace

HttpClient* GetHttpClient() {
    if (!g_httpClient) {
        g_httpClient = new HttpClient();  // lives as long as the process
        curl_global_init(CURL_GLOBAL_ALL);
        g_httpClient->curlHandle = curl_easy_init();
        if (g_httpClient->curlHandle) {
            SetConnectionOptions(g_httpClient->curlHandle);
        }
    }
    return g_httpClient;
}

TransferOutcome HttpClient::FetchToMemory(const std::string& url, std::string& body, size_t limit) {
    if (!curlHandle) {
        return Failure(TransferError::NoHandle);
    }
    body.clear();
    TransferState state;
    state.client = this;
    state.body = &body;
    state.bodyLimit = limit;
    SetBodyTransfer(curlHandle, url, state, MemoryWriteCallback);
    curl_easy_setopt(curlHandle, CURLOPT_NOPROGRESS, 1L);
    CURLcode result = curl_easy_perform(curlHandle);
    if (state.bodyTooLong) {
        result = CURLE_FILESIZE_EXCEEDED;
    }
    TransferOutcome outcome = OutcomeOf(curlHandle, result);
    if (outcome.Succeeded() && !DecodeContentEncoding(curlHandle, body)) {
        outcome = OutcomeOf(curlHandle, CURLE_BAD_CONTENT_ENCODING);
    }
    return outcome;
}

TransferOutcome HttpClient::DownloadToFile(const std::string& url, const std::wstring& path,
                                           TransferListener* listener) {
    UniqueFile file(_wfopen(path.c_str(), L"ab+"));
    if (!file) {
        return LocalFileFailure(path, errno);
    }
    if (!curlHandle) {
        return Failure(TransferError::NoHandle);
    }
    writeEnabled = true;
    TransferState state;
    state.client = this;
    state.file = file.release();  // the download closes it, or reopens it to start afresh
    state.listener = listener;
    SetBodyTransfer(curlHandle, url, state, FileWriteCallback);
    curl_easy_setopt(curlHandle, CURLOPT_NOPROGRESS, 0L);
    // Retries and continues a failed body; only the last attempt's failure is reported.
    const CURLcode result = PerformResumableDownload(curlHandle, path, state);
    TransferOutcome outcome = OutcomeOf(curlHandle, result);
    outcome.writeRefused = state.writeRefused;
    return outcome;
}

bool HttpClient::ProbeRemoteFile(const std::string& url, const std::wstring& path,
                                 TransferOutcome* outcome) {
    TransferOutcome result;
    UniqueFile file(_wfopen(path.c_str(), L"ab+"));
    if (!file) {
        result = LocalFileFailure(path, errno);
    } else if (!curlHandle) {
        result = Failure(TransferError::NoHandle);
    } else {
        // The header lines are the only data of this request; they go into the file.
        TransferState state;
        state.client = this;
        state.file = file.get();
        curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curlHandle, CURLOPT_HEADER, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(curlHandle, CURLOPT_NOPROGRESS, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, ProbeWriteCallback);
        curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, &state);
        result = OutcomeOf(curlHandle, curl_easy_perform(curlHandle));
        result.writeRefused = state.writeRefused;
        // The options it changed need no undoing: every transfer of a body sets them again.
    }
    const bool present = result.Succeeded() && result.status == 200;
    if (outcome != nullptr) {
        *outcome = result;
    }
    return present;
}
