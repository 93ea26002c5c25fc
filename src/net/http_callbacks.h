// The libcurl callbacks of the HTTP client: where received bytes go (memory, patch file, probe
// file) and the download progress that feeds the dialog's percent and speed display.
#pragma once

#include <cstddef>
#include <cstdint>

#include <curl/curl.h>

// Appends everything to g_responseBuffer.
size_t MemoryWriteCallback(char* data, size_t size, size_t count, void* userData);
// Write to the FILE* in userData while the client's writeEnabled is set; otherwise log a line
// and refuse (libcurl then fails with CURLE_WRITE_ERROR). FileWriteCallback also refuses the
// body of an answer whose status is not 2xx, so an error page never lands in a patch file.
size_t FileWriteCallback(char* data, size_t size, size_t count, void* userData);
size_t ProbeWriteCallback(char* data, size_t size, size_t count, void* userData);

// totalDown / nowDown in bytes; posts WM_DOWNLOAD_PROGRESS and samples the speed.
int DownloadProgressCallback(void* userData, double totalDown, double nowDown, double totalUp,
                             double nowUp);
// The same, in the form libcurl's CURLOPT_XFERINFOFUNCTION calls.
int TransferInfoCallback(void* userData, curl_off_t totalDown, curl_off_t nowDown,
                         curl_off_t totalUp, curl_off_t nowUp);

// The speed behind the dialog's speed label, given the running transfer's byte count and the time
// of the report (milliseconds on a steady clock): g_prevDlNow keeps the latest count (0: no report
// of this transfer yet) and g_speedBytes becomes the bytes per second over the last window of at
// least half a second (unchanged until the transfer's first window has passed).
void SampleDownloadSpeed(int64_t bytesNow, int64_t milliseconds);

// True for a final status in 200..299.
bool IsSuccessStatus(long status);
