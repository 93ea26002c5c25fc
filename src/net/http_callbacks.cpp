// The libcurl callbacks of the HTTP client: storing received bytes, refusing them before writing
// is enabled, and the speed sampling of the download progress.
#include "net/http_callbacks.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "net/http_client.h"
#include "platform/win32.h"
#include "state/log.h"
#include "state/progress_state.h"

namespace {

// The status of the answer being received on the client's handle; 0 when not known.
long CurrentStatus() {
    long status = 0;
    HttpClient* client = GetHttpClient();
    if (!client->curlHandle ||
        curl_easy_getinfo(client->curlHandle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return 0;
    }
    return status;
}

size_t WriteToFileIfEnabled(char* data, size_t size, size_t count, void* userData,
                            const wchar_t* refusal) {
    if (!GetHttpClient()->writeEnabled) {
        LogWrite(g_log, refusal);
        return 0;
    }
    return fwrite(data, size, count, static_cast<FILE*>(userData));
}

// Byte counts reach us as doubles; anything beyond the 32-bit counters saturates instead of
// overflowing (a conversion of an out-of-range double to int is undefined).
int32_t SaturatedInt32(double value) {
    if (!(value > 0.0))
        return 0;
    if (value >= static_cast<double>(INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(value);
}

int PercentOf(double now, double total) {
    double percent = now / total * 100.0;
    if (!(percent > 0.0))
        return 0;
    if (percent >= 100.0)
        return 100;
    return static_cast<int>(percent);
}

}  // namespace

bool IsSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

size_t MemoryWriteCallback(char* data, size_t size, size_t count, void* /*userData*/) {
    g_responseBuffer.append(data, size * count);
    return size * count;
}

size_t FileWriteCallback(char* data, size_t size, size_t count, void* userData) {
    // An error page is not a patch archive: refuse it at its first bytes. DownloadToFile then
    // reports the status.
    if (GetHttpClient()->writeEnabled && !IsSuccessStatus(CurrentStatus()))
        return 0;
    return WriteToFileIfEnabled(data, size, count, userData, L"downpatch callback quite!!!");
}

size_t ProbeWriteCallback(char* data, size_t size, size_t count, void* userData) {
    return WriteToFileIfEnabled(data, size, count, userData,
                                L"RemoteFileExistDCallBack callback quite!!!");
}

int DownloadProgressCallback(void* /*userData*/, double totalDown, double nowDown,
                             double /*totalUp*/, double /*nowUp*/) {
    if (totalDown > -0.1 && totalDown < 0.1)
        return 0;  // size not known yet

    int percent = PercentOf(nowDown, totalDown);
    int32_t now = SaturatedInt32(nowDown);
    if (g_prevDlNow == 0) {
        g_prevDlNow = now;
        g_speedBytes = 0;
    } else if (now == g_prevDlNow) {
        g_speedBytes = 0;
    } else {
        // 64-bit difference: never negative, never overflowing.
        int64_t delta = static_cast<int64_t>(now) - static_cast<int64_t>(g_prevDlNow);
        g_speedBytes = delta > 0 ? static_cast<uint32_t>(delta) : 0u;
        g_prevDlNow = now;
    }
    PostMessageW(g_hMainDlg, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(percent), 0);
    return 0;
}

int TransferInfoCallback(void* userData, curl_off_t totalDown, curl_off_t nowDown,
                         curl_off_t totalUp, curl_off_t nowUp) {
    return DownloadProgressCallback(userData, static_cast<double>(totalDown),
                                    static_cast<double>(nowDown), static_cast<double>(totalUp),
                                    static_cast<double>(nowUp));
}
