// The libcurl callbacks of the HTTP client: where received bytes go (memory, patch file, probe
// file) and the progress of a file transfer. Each transfer's state is their user data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <curl/curl.h>

class HttpClient;
class TransferListener;

// What the callbacks of one transfer work with, handed to libcurl as their user data.
struct TransferState {
    HttpClient* client = nullptr;
    std::string* body = nullptr;  // the patch list's body, for MemoryWriteCallback
    size_t bodyLimit = 0;         // the most bytes the body may hold
    bool bodyTooLong = false;
    FILE* file = nullptr;  // the patch or probe file, for the file callbacks
    TransferListener* listener = nullptr;
    int64_t progressOffset = 0;  // body bytes held before the part this answer sends
    bool writeRefused = false;   // a file callback refused data: writing was not enabled
};

// Appends everything to the transfer's body; refuses (libcurl then fails) what would make it
// longer than its limit.
size_t MemoryWriteCallback(char* data, size_t size, size_t count, void* state);
// Write to the transfer's file while the client's writeEnabled is set; otherwise refuse (libcurl
// then fails with CURLE_WRITE_ERROR) and note it in the state. FileWriteCallback also refuses the
// body of an answer whose status is not 2xx, so an error page never lands in a patch file.
size_t FileWriteCallback(char* data, size_t size, size_t count, void* state);
size_t ProbeWriteCallback(char* data, size_t size, size_t count, void* state);

// totalDown / nowDown in bytes; tells the transfer's listener once the size is known.
int DownloadProgressCallback(void* state, double totalDown, double nowDown, double totalUp,
                             double nowUp);
// The same, in the form libcurl's CURLOPT_XFERINFOFUNCTION calls, counting the body bytes held
// before the answer (progressOffset) into both numbers.
int TransferInfoCallback(void* state, curl_off_t totalDown, curl_off_t nowDown, curl_off_t totalUp,
                         curl_off_t nowUp);
