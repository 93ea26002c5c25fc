// The one process-wide HTTP client: one libcurl easy handle, created on first use and never reset
// or freed, so options persist from one operation to the next. Each operation reports its own
// failures in a message box before it returns false.
#include "net/http_client.h"

#include <cstdio>

#include "fsutil/text.h"
#include "layout/folders.h"
#include "net/connection_options.h"
#include "net/content_encoding.h"
#include "net/http_callbacks.h"
#include "net/resumable_download.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "state/progress_state.h"

std::string g_responseBuffer;

namespace {

HttpClient* g_httpClient = nullptr;

const wchar_t kCaption[] = L"提示";
const wchar_t kNoHandleText[] = L"获取PatchList libcurl库初始化失败";
const wchar_t kNetworkErrorText[] = L"网络异常，错误信息：";
const wchar_t kFetchPrefix[] = L"获取PatchList";
const wchar_t kDownloadPrefix[] = L"下载Patch";
const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

void ShowBox(const std::wstring& text) {
    MessageBoxW(GetForegroundWindow(), text.c_str(), kCaption, MB_OK);
}

// The network error box for an answer whose status says it is not the requested content.
void ShowHttpStatusError(const std::wstring& prefix, long status) {
    ShowBox(prefix + kNetworkErrorText + L"HTTP " + std::to_wstring(status));
}

// The final status of the last transfer on the handle; 0 when there was none.
long ResponseStatus(CURL* handle) {
    long status = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return 0;
    }
    return status;
}

// A transfer that libcurl completed but whose status is not 2xx is a failure too; an error
// status also explains a write error (FileWriteCallback refuses error pages), so it goes first.
// A redirect whose target failed is told by libcurl's text.
bool ReportTransferOutcome(CURL* handle, CURLcode result, const std::wstring& prefix) {
    long status = ResponseStatus(handle);
    if (status != 0 && !IsSuccessStatus(status) && (status >= 400 || result == CURLE_OK)) {
        ShowHttpStatusError(prefix, status);
        return false;
    }
    if (result != CURLE_OK) {
        ShowNetworkError(prefix, result);
        return false;
    }
    return true;
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

void ShowNetworkError(const std::wstring& prefix, CURLcode code) {
    std::wstring description;
    AnsiToWide(curl_easy_strerror(code), description);
    ShowBox(prefix + kNetworkErrorText + description);
}

void ShowDownloadError(const std::wstring& description) {
    ShowBox(kDownloadPrefix + (kNetworkErrorText + description));
}

bool HttpClient::FetchToMemory(const std::string& url, std::wstring& out) {
    if (!curlHandle) {
        ShowBox(kNoHandleText);
        return false;
    }
    g_responseBuffer.clear();
    curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curlHandle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, MemoryWriteCallback);
    curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_TIME, LowSpeedSeconds());
    CURLcode result = curl_easy_perform(curlHandle);
    if (!ReportTransferOutcome(curlHandle, result, kFetchPrefix)) {
        return false;
    }
    if (!DecodeContentEncoding(curlHandle, g_responseBuffer)) {
        ShowNetworkError(kFetchPrefix, CURLE_BAD_CONTENT_ENCODING);
        return false;
    }
    // A text saved by Windows Notepad as UTF-8 starts with a byte-order mark, which is no part of
    // its first line.
    if (g_responseBuffer.compare(0, sizeof kUtf8ByteOrderMark - 1, kUtf8ByteOrderMark) == 0) {
        g_responseBuffer.erase(0, sizeof kUtf8ByteOrderMark - 1);
    }
    AnsiToWide(g_responseBuffer, out);
    return true;
}

bool HttpClient::DownloadToFile(const std::string& url, const std::wstring& fileName) {
    const std::wstring path = TmpPatchPath(fileName);
    UniqueFile file(_wfopen(path.c_str(), L"ab+"));
    if (!file) {
        ShowBox(L"can not create file " + path);
        return false;
    }
    if (!curlHandle) {
        file.reset();
        ShowBox(kNoHandleText);
        return false;
    }
    writeEnabled = true;
    g_prevDlNow = 0;

    curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curlHandle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_HEADER, 0L);
    curl_easy_setopt(curlHandle, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, file.get());
    curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, FileWriteCallback);
    // The progress function in its current form (the double-based CURLOPT_PROGRESSFUNCTION is
    // deprecated); it hands the same numbers to DownloadProgressCallback.
    curl_easy_setopt(curlHandle, CURLOPT_XFERINFOFUNCTION, TransferInfoCallback);
    curl_easy_setopt(curlHandle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_TIME, LowSpeedSeconds());
    // Retries and continues a failed body; only the last attempt's failure is reported.
    const CURLcode result = PerformResumableDownload(curlHandle, path, file.release());
    return ReportTransferOutcome(curlHandle, result, kDownloadPrefix);
}

bool HttpClient::ProbeRemoteFile(const std::string& url, const std::wstring& fileName) {
    const std::wstring path = TmpPatchPath(fileName + L"_tmp");
    UniqueFile file(_wfopen(path.c_str(), L"ab+"));
    if (!file) {
        ShowBox(L"can not create tmp file " + path);
        cumulativePatchPresent = false;
        return false;
    }
    g_prevDlNow = 0;
    if (!curlHandle) {
        cumulativePatchPresent = false;
        return false;
    }
    // The header lines are the only data of this request; they go into the "_tmp" file.
    curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curlHandle, CURLOPT_HEADER, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, file.get());
    curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, ProbeWriteCallback);
    CURLcode result = curl_easy_perform(curlHandle);
    cumulativePatchPresent = result == CURLE_OK && ResponseStatus(curlHandle) == 200;
    return cumulativePatchPresent;
}
