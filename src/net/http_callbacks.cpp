// The libcurl callbacks of the HTTP client: storing received bytes, refusing them before writing
// is enabled, and the speed sampling of the download progress (bytes per second over half-second
// windows).
#include "net/http_callbacks.h"

#include <chrono>
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

// Byte counts reach us as doubles; a count beyond the 64-bit counter saturates instead of
// overflowing (a conversion of an out-of-range double to an integer is undefined).
int64_t SaturatedInt64(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= static_cast<double>(INT64_MAX)) {  // 2^63 once converted
        return INT64_MAX;
    }
    return static_cast<int64_t>(value);
}

// The growth between two reports; the label's counter is 32 bits wide.
uint32_t SaturatedDelta(int64_t delta) {
    if (delta <= 0) {
        return 0;
    }
    return delta >= static_cast<int64_t>(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(delta);
}

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

int PercentOf(double now, double total) {
    double percent = now / total * 100.0;
    if (!(percent > 0.0)) {
        return 0;
    }
    if (percent >= 100.0) {
        return 100;
    }
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
    if (GetHttpClient()->writeEnabled && !IsSuccessStatus(CurrentStatus())) {
        return 0;
    }
    return WriteToFileIfEnabled(data, size, count, userData, L"downpatch callback quite!!!");
}

size_t ProbeWriteCallback(char* data, size_t size, size_t count, void* userData) {
    return WriteToFileIfEnabled(data, size, count, userData,
                                L"RemoteFileExistDCallBack callback quite!!!");
}

void SampleDownloadSpeed(int64_t bytesNow, int64_t milliseconds) {
    // The transfer's first report, or a count below the window's start (a new transfer that
    // nobody reset for): a new window. The figure stays as it is until the window has passed,
    // rather than showing a speed of 0 for a transfer that has just begun.
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
    g_speedBytes = SaturatedDelta(SaturatedInt64(perSecond));
    g_speedWindow = SpeedWindow{bytesNow, milliseconds};
}

int DownloadProgressCallback(void* /*userData*/, double totalDown, double nowDown,
                             double /*totalUp*/, double /*nowUp*/) {
    if (totalDown > -0.1 && totalDown < 0.1) {
        return 0;  // size not known yet
    }
    const int percent = PercentOf(nowDown, totalDown);
    SampleDownloadSpeed(SaturatedInt64(nowDown), SteadyMilliseconds());
    PostMessageW(g_hMainDlg, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(percent),
                 static_cast<LPARAM>(g_downloadDone));
    return 0;
}

int TransferInfoCallback(void* userData, curl_off_t totalDown, curl_off_t nowDown,
                         curl_off_t totalUp, curl_off_t nowUp) {
    return DownloadProgressCallback(userData, static_cast<double>(totalDown),
                                    static_cast<double>(nowDown), static_cast<double>(totalUp),
                                    static_cast<double>(nowUp));
}
